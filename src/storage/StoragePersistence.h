// The back-end contract of the persistence cycle: TrsStorageData, which moves the content of
// the storages it serves to and from a medium, and the events a load or save fires.
#pragma once

#include <functional>
#include <vector>

namespace velloran {

class TrsStorage;
class TrsStorageData;

using TrsNotifyEvent = std::function<void(void* Sender)>;
using TrsStorageDataProgressEvent = std::function<void(TrsStorageData* Sender, int APercent)>;

// A back end: moves the content of the storages it serves to and from a medium. Concrete
// back ends override LoadData and SaveData; they read and write the current storage through
// its public operations and report progress through DoProgress.
class TrsStorageData {
 public:
  TrsStorageData() = default;
  virtual ~TrsStorageData();
  TrsStorageData(const TrsStorageData&) = delete;
  TrsStorageData& operator=(const TrsStorageData&) = delete;

  // The storage being loaded or saved, or null.
  TrsStorage* Storage() const;
  // Adds AStorage to the served storages (once) and makes it current; null: no current one.
  void AttachStorage(TrsStorage* AStorage);
  // Unlinks AStorage and drops it from the served storages.
  void DetachStorage(TrsStorage* AStorage);
  void PerformLoad();
  void PerformSave();

  void SetOnBeforeLoad(TrsNotifyEvent AValue) { FOnBeforeLoad = std::move(AValue); }
  void SetOnAfterLoad(TrsNotifyEvent AValue) { FOnAfterLoad = std::move(AValue); }
  void SetOnBeforeSave(TrsNotifyEvent AValue) { FOnBeforeSave = std::move(AValue); }
  void SetOnAfterSave(TrsNotifyEvent AValue) { FOnAfterSave = std::move(AValue); }
  void SetOnProgress(TrsStorageDataProgressEvent AValue) { FOnProgress = std::move(AValue); }

  int ProgressItemCount = 0;
  int ProgressItemCurrent = 0;

 protected:
  // Reports ProgressItemCurrent / ProgressItemCount in whole percent, only when it grew.
  virtual void DoProgress();
  virtual void LoadData() {}
  virtual void SaveData() {}

 private:
  friend class TrsStorage;
  void ResetProgress();

  std::vector<TrsStorage*> FStorageList;
  int FCurrentStorageIdx = -1;
  TrsNotifyEvent FOnBeforeSave, FOnAfterLoad, FOnAfterSave, FOnBeforeLoad;
  TrsStorageDataProgressEvent FOnProgress;
  int FPreviousPercent = -1;
};

}  // namespace velloran
