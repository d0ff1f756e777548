// The main window's live log (declared in MainWindow.h): the open log is watched while it is
// open. Records its writer appends join the list (and a filter's or a find's matches among
// them), Follow end keeps the last one in view, a log that shrank or was replaced is read
// again, a deleted one stays on show, and a newer log of the same naming scheme is offered or
// followed. The line index of every log is kept in the user's cache folder, so that opening
// it again walks only what was appended since.
//
// Threading: all on the GUI thread. The log store's watcher thread hands each growth step over
// through TQtDispatcher and waits for it; the scans of appended records run like any scan.
#include <QAction>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <filesystem>

#include "LogData.h"
#include "LogFolder.h"
#include "MainWindow.h"
#include "QtDispatcher.h"
#include "QueryScan.h"
#include "SettingsKeys.h"
#include "Storage.h"

namespace velloran {

namespace {

int RowsFor(int64_t ARecords) { return static_cast<int>(std::min<int64_t>(ARecords, INT_MAX)); }

// A growth step that reads more than this shows the progress display.
constexpr int64_t kGrowthProgressBytes = int64_t{64} << 20;

}  // namespace

// --- actions and settings ----------------------------------------------------------------------------

void TfrmMain::CreateLiveActions() {
  actFollowEnd = new QAction("&Follow end", this);  // its icon comes with the other action icons
  actFollowEnd->setCheckable(true);
  actFollowEnd->setShortcut(QKeySequence(Qt::Key_F));
  actFollowEnd->setToolTip("Follow the end of the log: keep the last record in view as records arrive (F)");
  actFollowEnd->setStatusTip("Keep the last record in view as records arrive; scrolling up turns it off, End on again");
  actFollowNewest = new QAction("Follow &newest file", this);
  actFollowNewest->setCheckable(true);
  actFollowNewest->setStatusTip("Switch to a newer log of the same naming scheme when it appears in the log's folder");
  actKeepLineIndexes = new QAction("&Keep line indexes", this);
  actKeepLineIndexes->setCheckable(true);
  actKeepLineIndexes->setChecked(true);
  actKeepLineIndexes->setStatusTip("Keep the line index of every opened log, so that opening it again is quick");
  connect(actFollowEnd, &QAction::toggled, this, [this](bool AChecked) {
    FSettings.WriteBoolean(SettingsKeys::FollowEnd, AChecked);
    ScrollToEndIfFollowing();
  });
  connect(actFollowNewest, &QAction::toggled, this, [this](bool AChecked) {
    FSettings.WriteBoolean(SettingsKeys::FollowNewest, AChecked);
    if (!AChecked) return;
    // Turned on by the user: the newest log now is the one to be on.
    FNewestAtOpen.clear();
    Guarded([this] { CheckForNewerLog(); });
  });
  connect(actKeepLineIndexes, &QAction::toggled, this,
          [this](bool AChecked) { FSettings.WriteBoolean(SettingsKeys::KeepLineIndexes, AChecked); });

  // Owned by the shared pointer (the log store's watcher threads keep it alive), not by the window.
  FDispatcher = std::make_shared<TQtDispatcher>([this](const std::string& AMessage) { ShowError(FromUtf8(AMessage)); });
  tmrWatch = new QTimer(this);
  tmrWatch->setSingleShot(true);
  tmrWatch->setInterval(0);
  connect(tmrWatch, &QTimer::timeout, this, [this] { Guarded([this] { WatchLog(); }); });
  FFolderWatcher = new QFileSystemWatcher(this);
  tmrFolder = new QTimer(this);
  tmrFolder->setSingleShot(true);
  tmrFolder->setInterval(300);  // a burst of changes in the folder is one look at it
  connect(FFolderWatcher, &QFileSystemWatcher::directoryChanged, tmrFolder, qOverload<>(&QTimer::start));
  connect(tmrFolder, &QTimer::timeout, this, [this] { Guarded([this] { CheckForNewerLog(); }); });
}

// The log outlives the window: nothing of the window may be called once it has gone.
void TfrmMain::StopWatchingLog() {
  tmrWatch->stop();
  FLiveNotice.clear();
  FNewerLog.clear();
  sbrNewerLog->hide();
  TrdlLogMonitor& monitor = FData.LogMonitor();
  monitor.SetMonitorChanges(false);
  monitor.SetOnLogGrow(nullptr);
  monitor.SetOnProgress(nullptr);
  monitor.SetDispatcher(nullptr);
}

bool TfrmMain::FollowEnd() const { return actFollowEnd->isChecked(); }

void TfrmMain::SetFollowEnd(bool AValue) { actFollowEnd->setChecked(AValue); }

void TfrmMain::ScrollToEndIfFollowing() {
  if (FollowEnd() && FModel->rowCount() > 0) lvData->scrollToBottom();
}

// Called after the user moved the list's scroll bar (never for the list's own scrolling).
void TfrmMain::ListScrolledByUser() {
  const QScrollBar* bar = lvData->verticalScrollBar();
  if (FollowEnd() && bar->value() < bar->maximum()) SetFollowEnd(false);
}

// --- the saved line index ------------------------------------------------------------------------------

// Before a log is opened: its line index is kept in the cache folder unless that is turned off
// or the folder cannot be made (then in memory, with one notice).
void TfrmMain::PrepareLineIndex() {
  TrdlLogMonitor& monitor = FData.LogMonitor();
  const std::string folder = IndexCacheFolder();
  bool keep = actKeepLineIndexes->isChecked() && !folder.empty();
  if (keep) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error && !FIndexNoticeShown && ShowNotice) {
      FIndexNoticeShown = true;
      ShowNotice(
          QStringLiteral("Line indexes cannot be kept in %1: %2.\nLogs are indexed in memory; opening one again walks it again.")
              .arg(FromUtf8(folder), FromUtf8(error.message())));
    }
    keep = !error;
  }
  monitor.SetUseFileIndex(keep);
  monitor.SetIndexDataFolder(keep ? folder : std::string());
}

// After a log was opened: a cache folder that refused the index (read-only, full) is said
// once per session; the folder is kept within its bound.
void TfrmMain::NoteLineIndex() {
  const TrdlLogMonitor& monitor = FData.LogMonitor();
  if (!monitor.IndexWarningText().empty() && !FIndexNoticeShown && ShowNotice) {
    FIndexNoticeShown = true;
    ShowNotice(QStringLiteral("%1.\nLogs are indexed in memory; opening one again walks it again.")
                   .arg(FromUtf8(monitor.IndexWarningText())));
  }
  if (monitor.UseFileIndex() && monitor.Active())
    TrimIndexCache(monitor.IndexDataFolder(), kIndexCacheMaxBytes, monitor.IndexFileName());
}

// --- growth ----------------------------------------------------------------------------------------------

// After a load: growth steps reach LogGrew on this thread, and the log's folder is watched for
// a newer log of its scheme.
void TfrmMain::WatchLog() {
  TrdlLogMonitor& monitor = FData.LogMonitor();
  // A set merged by time is read as it was merged: records its servers add would belong
  // between those on show. Reload reads them.
  if (!monitor.Active() || FData.IsMerged()) {
    if (!FFolderWatcher->directories().isEmpty()) FFolderWatcher->removePaths(FFolderWatcher->directories());
    return;
  }
  monitor.SetDispatcher(FDispatcher);
#ifdef _WIN32
  // Windows publishes a writer's new size only when the file is opened: open it every second.
  monitor.SetFlushFileChangesDelayMS(1000);
#endif
  monitor.SetOnLogGrow([this](TrdlLogMonitor*, int, int) { Guarded([this] { LogGrew(); }); });
  monitor.SetOnProgress([this](void*, int APercents, bool& AIsCanceled) { GrowthProgress(APercents, AIsCanceled); });
  FGrowthStartSize = monitor.FileSize();
  monitor.SetMonitorChanges(true);
  // Watching a folder costs the system a walk of what it knows of the folder: a log of the
  // same folder keeps the watch.
  const QString folder = QFileInfo(FromUtf8(monitor.FileName())).absolutePath();
  if (FFolderWatcher->directories() != QStringList{folder}) {
    if (!FFolderWatcher->directories().isEmpty()) FFolderWatcher->removePaths(FFolderWatcher->directories());
    FFolderWatcher->addPath(folder);
  }
  // A log opened on purpose stays open: only a newer log that appears from now on is followed.
  FNewestAtOpen = NewestLogAfter(monitor.FileName());
  OfferNewerLog(FNewestAtOpen);
}

// A long growth step (a log that grew by a gigabyte while open) shows the progress display; the
// list reads no rows meanwhile. It cannot be cancelled: the step must end for the list to match.
void TfrmMain::GrowthProgress(int APercents, bool& AIsCanceled) {
  AIsCanceled = false;
  if (FLoading) return;
  const int64_t size = FData.LogMonitor().FileSize();
  if (!ProgressActive() && APercents < 100 && size - FGrowthStartSize > kGrowthProgressBytes)
    BeginProgress("Reading", "Reading the records written since, please wait...");
  if (ProgressActive()) SetProgress(APercents);
}

void TfrmMain::LogGrew() {
  TrdlLogMonitor& monitor = FData.LogMonitor();
  if (ProgressActive() && !FLoading) EndProgress();
  FGrowthStartSize = monitor.FileSize();
  if (monitor.FileGone()) {
    FLiveNotice = QStringLiteral("The log was deleted");
    UpdateStatusBar();
    return;
  }
  if (FLiveNotice == QStringLiteral("The log was deleted")) FLiveNotice.clear();
  const int64_t whole = FData.WholeCount();
  if (monitor.IndexedAnew() || whole < FModel->RecordCount()) {
    LogReplaced();
    return;
  }
  RecordsAdded(whole);
}

// The lines after the old end are new records: rows for them (or a scan of them under a
// filter), the find's matches among them, and the view at the end when following.
void TfrmMain::RecordsAdded(int64_t AWhole) {
  if (AWhole == FModel->RecordCount()) {
    // The last line was read again (its writer finished it): the same records, redrawn.
    FModel->Redraw();
    return;
  }
  FModel->AddRecords(AWhole);
  BindColumns();
  if (!FModel->Filtered()) ScheduleSummaryRefresh();  // a filter's is, once its scan of the added records ends
  ScanAddedRecords();
  ScrollToEndIfFollowing();
  UpdateStatusBar();
}

// Filter and find search what was appended once their running scan has ended; what arrives
// meanwhile waits for the next one.
void TfrmMain::ScanAddedRecords() {
  const int64_t whole = FModel->RecordCount();
  if (FFilterQuery != nullptr && !FilterRunning() && FFilterEnd < whole) {
    TScanTarget target = TScanTarget::Of(FData, whole, FFilterEnd);
    FFilterEnd = target.Records;
    FFilterAdding = true;
    FFilterScan = std::make_unique<TQueryScan>(FFilterQuery, std::move(target));
    connect(FFilterScan.get(), &TQueryScan::MatchesFound, this,
            [this](const std::vector<uint32_t>& AMatches) { FilterMatchesFound(AMatches); });
    connect(FFilterScan.get(), &TQueryScan::Finished, this, [this] { FilterFinished(); });
    FFilterScan->Start();
  }
  if (FFindScan != nullptr && !FindRunning() && FFindEnd < whole) StartFindScan(FFindScan->Query(), FFindEnd);
}

// Shrunk or replaced under the same name: everything is read again from the first record, the
// filter applied again; the selection and the find go (they were of the other file).
void TfrmMain::LogReplaced() {
  std::shared_ptr<const TCompiledQuery> filter = FFilterQuery;
  DropScans(true);
  ClearDetails();
  FModel->ResetRows(RowsFor(FData.WholeCount()));
  if (filter != nullptr) {
    FFilterAnchor = -1;
    StartFilterScan(filter);
  }
  FLiveNotice = QStringLiteral("The log was replaced; reloaded");
  RefreshList();
  ScrollToEndIfFollowing();
}

// --- a newer log of the scheme ---------------------------------------------------------------------------

void TfrmMain::CheckForNewerLog() {
  // A set's newest file is its last; merged sets are not followed.
  const std::string& current = FData.IsMerged() ? std::string() : FData.LogMonitor().FileName();
  OfferNewerLog(current.empty() || !FData.LogMonitor().Active() ? std::string() : NewestLogAfter(current));
}

// ANewer: the newest log of the open one's scheme now (empty: none).
void TfrmMain::OfferNewerLog(std::string ANewer) {
  if (ANewer.empty()) {
    FNewerLog.clear();
    sbrNewerLog->hide();
    return;
  }
  if (actFollowNewest->isChecked() && ANewer != FNewestAtOpen) {
    // A set takes the server's new file in; a single log gives way to it.
    if (FData.IsSet()) {
      AddNewerToSet(ANewer);
    } else {
      LoadLog(ANewer, true);
    }
    return;
  }
  if (ANewer == FNewerLog) return;
  FNewerLog = ANewer;
  const QString name = QFileInfo(FromUtf8(ANewer)).fileName().toHtmlEscaped();
  sbrNewerLog->setText(FData.IsSet() ? QStringLiteral("A newer log appeared: <a href=\"switch\">Add %1 to the set</a>").arg(name)
                                     : QStringLiteral("A newer log appeared: <a href=\"switch\">Switch to %1</a>").arg(name));
  sbrNewerLog->show();
}

}  // namespace velloran
