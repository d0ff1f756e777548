#include <QtTest>
class TMainWindowTests : public QObject {
  Q_OBJECT
 private slots:
  void placeholder() {}
};
QTEST_MAIN(TMainWindowTests)
#include "MainWindowTests.moc"
