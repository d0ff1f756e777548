#include <QtTest>
class TProgressTests : public QObject {
  Q_OBJECT
 private slots:
  void placeholder() {}
};
QTEST_MAIN(TProgressTests)
#include "ProgressTests.moc"
