#include <QtTest>
class TStartupTests : public QObject {
  Q_OBJECT
 private slots:
  void placeholder() {}
};
QTEST_MAIN(TStartupTests)
#include "StartupTests.moc"
