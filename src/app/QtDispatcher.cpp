#include "QtDispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <exception>

namespace velloran {

TQtDispatcher::TQtDispatcher(std::function<void(const std::string& AMessage)> AOnError, QObject* AParent)
    : QObject(AParent), FOnError(std::move(AOnError)) {}

void TQtDispatcher::RunGuarded(const std::function<void()>& AWork) {
  try {
    AWork();
  } catch (const std::exception& error) {
    if (FOnError) FOnError(error.what());
  }
  ++FRuns;
}

void TQtDispatcher::RunOnOwnerThread(std::function<void()> AWork) {
  if (QThread::currentThread() == thread()) {
    RunGuarded(AWork);
    return;
  }
  // The caller waits until the GUI thread has run it, as the watcher's hand-over requires.
  QMetaObject::invokeMethod(
      this, [this, &AWork] { RunGuarded(AWork); }, Qt::BlockingQueuedConnection);
}

void TQtDispatcher::ProcessPending(std::chrono::milliseconds AMaxWait) {
  const unsigned before = FRuns;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (FRuns != before || waited.elapsed() >= AMaxWait.count()) return;
    QThread::msleep(5);
  }
}

}  // namespace velloran
