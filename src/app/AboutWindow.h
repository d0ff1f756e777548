// The About box: the product picture with the program's version and one line of text on it,
// and below it a strip naming the licence, with a Close button. A click on the picture or any
// key closes it.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velloran {

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* AParent = nullptr);
  QLabel* img = nullptr;
  QLabel* lblVersion = nullptr;  // "Version " and ProgramVersionText()
  QLabel* lblText = nullptr;
  QLabel* lblLicense = nullptr;  // the copyright holder and the licence's name
  QPushButton* btnClose = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
};

}  // namespace velloran
