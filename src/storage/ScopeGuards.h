// Scope guards of the storage's own code: whatever a handler throws, muted notifications are
// switched on again and state flags are cleared. Internal to the storage library.
#pragma once

#include "Storage.h"

namespace velloran {

// Mutes a client list for a scope, restoring its switch afterwards.
class TrsMutedClients {
 public:
  explicit TrsMutedClients(TrsClientList& AList) : FList(AList), FWasActive(AList.Active()) { FList.SetActive(false); }
  ~TrsMutedClients() { FList.SetActive(FWasActive); }
  TrsMutedClients(const TrsMutedClients&) = delete;
  TrsMutedClients& operator=(const TrsMutedClients&) = delete;

 private:
  TrsClientList& FList;
  bool FWasActive;
};

// Sets a state flag for a scope (when ASet).
class TrsStateFlag {
 public:
  TrsStateFlag(TrsStorageStates& AStates, TrsStorageState AFlag, bool ASet = true) : FStates(AStates), FFlag(AFlag), FSet(ASet) {
    if (FSet) FStates |= FFlag;
  }
  ~TrsStateFlag() {
    if (FSet) FStates &= ~static_cast<unsigned>(FFlag);
  }
  TrsStateFlag(const TrsStateFlag&) = delete;
  TrsStateFlag& operator=(const TrsStateFlag&) = delete;

 private:
  TrsStorageStates& FStates;
  TrsStorageState FFlag;
  bool FSet;
};

}  // namespace velloran
