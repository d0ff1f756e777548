#include "AboutWindow.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include "SplashWindow.h"

namespace velloran {

TfrmAbout::TfrmAbout(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About"));
  // The picture sets the size; the box neither grows with fonts nor resizes. QDialog centres it
  // on its parent when it is shown.
  setFixedSize(348, 218);

  img = new QLabel(this);
  img->setGeometry(rect());
  img->setPixmap(ProductPicture());
  img->installEventFilter(this);

  lblVersion = new QLabel(this);
  lblVersion->setGeometry(145, 157, 150, 13);
  SetPictureLabelStyle(lblVersion, kPictureTextColor);
  lblVersion->setWordWrap(true);
  lblVersion->setText(FormatVersionText(0x34, QString(), QString()));

  lblText = new QLabel(this);
  lblText->setGeometry(8, 200, 332, 13);
  SetPictureLabelStyle(lblText, kPictureDimTextColor);
  lblText->setText(QStringLiteral("Reads network policy server accounting logs of any size"));
}

void TfrmAbout::keyPressEvent(QKeyEvent* AEvent) {
  // Any key closes the box, Esc included, and always as "OK".
  AEvent->accept();
  accept();
}

bool TfrmAbout::eventFilter(QObject* AWatched, QEvent* AEvent) {
  // A click, as on a button: the left button released over the picture (the labels on it pass
  // their clicks through).
  if (AWatched == img && AEvent->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(AEvent);
    if (mouse->button() == Qt::LeftButton && img->rect().contains(mouse->position().toPoint())) {
      accept();
      return true;
    }
  }
  return QDialog::eventFilter(AWatched, AEvent);
}

}  // namespace velloran
