// The log store's dispatcher on the Qt event loop: a growth step that the store's watcher
// thread hands over runs on the GUI thread, between other events, and the watcher waits for it.
//
// Threading: created on the GUI thread, which owns it. RunOnOwnerThread may be called from any
// thread; ProcessPending only on the GUI thread.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "FileWatch.h"

namespace velloran {

class TQtDispatcher : public QObject, public TDispatcher {
  Q_OBJECT
 public:
  // AOnError: what a handed-over piece of work threw, reported on the GUI thread (an event
  // handler must not throw into the event loop).
  explicit TQtDispatcher(std::function<void(const std::string& AMessage)> AOnError, QObject* AParent = nullptr);

  void RunOnOwnerThread(std::function<void()> AWork) override;
  void ProcessPending(std::chrono::milliseconds AMaxWait) override;

 private:
  void RunGuarded(const std::function<void()>& AWork);

  std::function<void(const std::string& AMessage)> FOnError;
  std::atomic<unsigned> FRuns{0};  // pieces of work run, so that ProcessPending knows when one came
};

}  // namespace velloran
