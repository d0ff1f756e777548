// A storage client that records every notification it hears.
#pragma once

#include <string>
#include <vector>

#include "Storage.h"

namespace velloran {

class TRecordingClient : public TrsStorageClient {
 public:
  explicit TRecordingClient(TrsClientNotifications AWanted = kAllClientNotifications) { SetNotifications(AWanted); }

  // "kind:text" per notification, the kind as its number.
  std::vector<std::string> Heard;
  std::vector<TrsClientNotification> Kinds;

 protected:
  void StorageNotification(TrsClientNotification AKind, const std::string& AWParam, intptr_t /*ALParam*/) override {
    Heard.push_back(std::to_string(static_cast<int>(AKind)) + ":" + AWParam);
    Kinds.push_back(AKind);
  }
};

}  // namespace velloran
