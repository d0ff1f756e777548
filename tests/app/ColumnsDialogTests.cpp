#include <QtTest>
class TColumnsDialogTests : public QObject {
  Q_OBJECT
 private slots:
  void placeholder() {}
};
QTEST_MAIN(TColumnsDialogTests)
#include "ColumnsDialogTests.moc"
