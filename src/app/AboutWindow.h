// The About box: the product picture, the version with its build, and one line of text.
// A click on the picture or any key closes it.
#pragma once

#include <QDialog>

class QLabel;

namespace velloran {

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* AParent = nullptr);
  QLabel* img = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblText = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
};

}  // namespace velloran
