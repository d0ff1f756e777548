#include "AboutWindow.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>

#include "SplashWindow.h"

namespace velloran {

namespace {

// The picture is drawn at its own size; the strip below it takes the desktop's font, so its
// height follows the font while the width stays the picture's.
constexpr int kPictureWidth = 348, kPictureHeight = 218;
constexpr int kMargin = 8, kButtonWidth = 75, kButtonHeight = 25;

}  // namespace

TfrmAbout::TfrmAbout(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About"));

  img = new QLabel(this);
  img->setGeometry(0, 0, kPictureWidth, kPictureHeight);
  img->setPixmap(ProductPicture());
  img->installEventFilter(this);

  lblVersion = new QLabel(this);
  lblVersion->setGeometry(145, 157, 150, 13);
  SetPictureLabelStyle(lblVersion, kPictureTextColor);
  lblVersion->setWordWrap(true);
  // The same version as `velloran --version` prints.
  if (const QString version = ProgramVersionText(); !version.isEmpty()) lblVersion->setText(QStringLiteral("Version ") + version);

  lblText = new QLabel(this);
  lblText->setGeometry(8, 200, 332, 13);
  SetPictureLabelStyle(lblText, kPictureDimTextColor);
  lblText->setText(QStringLiteral("Reads network policy server accounting logs of any size"));

  btnClose = new QPushButton(QStringLiteral("Close"), this);
  btnClose->setDefault(true);
  // Closing is always "OK", as for a key or a click on the picture.
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  const QSize button = QSize(kButtonWidth, kButtonHeight).expandedTo(btnClose->sizeHint());

  lblLicense = new QLabel(this);
  lblLicense->setText(QStringLiteral("\u00a9 2026 The Velloran Viewer authors\nFree software under the MIT License"));
  lblLicense->setWordWrap(true);
  lblLicense->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  const int licenseWidth = kPictureWidth - 3 * kMargin - button.width();
  const int licenseHeight = lblLicense->heightForWidth(licenseWidth);

  const int stripHeight = std::max(button.height(), licenseHeight) + 2 * kMargin;
  const int stripTop = kPictureHeight;
  lblLicense->setGeometry(kMargin, stripTop + (stripHeight - licenseHeight) / 2, licenseWidth, licenseHeight);
  btnClose->setGeometry(kPictureWidth - kMargin - button.width(), stripTop + (stripHeight - button.height()) / 2, button.width(),
                        button.height());
  // The box neither grows with the window manager nor resizes; QDialog centres it on its
  // parent when it is shown.
  setFixedSize(kPictureWidth, stripTop + stripHeight);
  btnClose->setFocus();
}

void TfrmAbout::keyPressEvent(QKeyEvent* AEvent) {
  // Any key closes the box, Esc included, and always as "OK"; keys the Close button takes
  // (Space, Enter) click it, which closes the box the same way.
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
