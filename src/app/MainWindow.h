// The main window: one log at a time in a virtual list whose cells are parsed only when the
// list shows them, every attribute of the selected record in a details pane, a status bar,
// and the progress display of long loads and exports.
//
// Threading: everything runs on the GUI thread. Loading and exporting run inside the action
// that started them; while a progress display runs, each progress step lets pending events
// run, so the list then produces no data (the log store is being rebuilt) and every other
// window is disabled. Filters and finds scan the log on threads of their own (TQueryScan),
// whose matches reach the list on the GUI thread in chunks.
#pragma once

#include <QAbstractTableModel>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CodeNames.h"
#include "CompiledQuery.h"
#include "Exchange.h"
#include "Exporter.h"
#include "Rows.h"

class QAction;
class QDockWidget;
class QDragEnterEvent;
class QDropEvent;
class QFileSystemWatcher;
class QFontMetrics;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;
class QTreeWidget;
class QWidget;

namespace velloran {

class TData;
class TQueryBar;
class TQueryScan;
class TSummaryPanel;
class TfrmProgressDialog;
class TrsStorage;
class TTaskbarProgressIndicator;
class TDispatcher;

// What the main window works on, owned by whoever creates the window and outliving it: the
// program hands in its application-wide objects, a test its own.
struct TMainWindowContext {
  TData& Data;            // the open log: listed, shown in details, exported
  TrsStorage& Settings;   // the layout, the recent files and the last file names
  std::string StartFile;  // the log to open once the window has first shown; empty: none
};

// The virtual list's data: one reused row receives the record of every cell request, and
// each column finds its value in it by caption. A column is bound to the data column of its
// caption as soon as one has been discovered; the binding decides the alignment.
//
// Cells read as a person reads them: code names and decoded text, unless raw values are
// asked for. A reply carries no user, station or access point of its own; where its row
// lacks a column its request has, the cell shows the request's value, dimmed and in italics.
// Refusals are tinted.
class TLogTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct TViewColumn {
    QString Caption;
    std::string CaptionUtf8;  // what cell requests look values up by, converted once
    int Binding = -1;         // index in the data's columns, -1 while unbound
    bool RightAligned = false;
    TCodedAttribute Codes;  // the names of its values, when it is a coded attribute
  };

  // AData must outlive the model.
  explicit TLogTableModel(TData& AData, QObject* AParent = nullptr);

  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole = Qt::DisplayRole) const override;

  // Every record on show, ACount of them; the reused row is refetched on the next request.
  // The same count unfiltered keeps the view's selection (the same log redrawn); ResetRows
  // always starts afresh (another log: nothing of the previous one's selection may stay).
  void SetRowCount(int ACount);
  void ResetRows(int ACount);

 public:  // the rows on show
  // Row i shows record i, or with a filter the i-th of the filter's matches, which come in
  // record order. Every conversion between rows and records goes through these two.
  bool Filtered() const { return FFiltered; }
  int64_t RecordOfRow(int ARow) const;
  // -1: the record is not on show.
  int RowOfRecord(int64_t ARecord) const;
  // The records a filter shows (empty without one).
  const std::vector<uint32_t>& FilterRows() const { return FFilterRows; }
  // The records of the open log, filtered or not.
  int64_t RecordCount() const { return FRecordCount; }
  // A filter starts: no rows until its matches come.
  void BeginFilter();
  // The next matches of the filter, after every earlier one: rows inserted at the end.
  void AppendFilterRows(const std::vector<uint32_t>& ARecords);
  // Draws every row again (the same rows, the same selection).
  void Redraw();
  // The log grew to ACount records: rows for them at the end, or with a filter only the count
  // (the filter's scan of the new records brings the rows).
  void AddRecords(int64_t ACount);

 public:  // the cells a find marks
  // The find whose matching records have their matching cells marked; null: none.
  void SetFindQuery(std::shared_ptr<const TCompiledQuery> AQuery);
  const TCompiledQuery* FindQuery() const { return FFindQuery.get(); }
  // The next matches of the find (all records, not only those on show), ascending.
  void AppendFindMatches(const std::vector<uint32_t>& ARecords);
  const std::vector<uint32_t>& FindMatches() const { return FFindMatches; }
  bool CellMarked(int ARow, int AColumn) const;

 public:
  const std::vector<TViewColumn>& ViewColumns() const { return FColumns; }
  void SetViewColumns(const QStringList& ACaptions);
  // Binds every column whose data column exists by now; true when a binding changed.
  bool BindColumns();
  // While it answers true no record is parsed: the log store may be mid-rebuild.
  void SetSuspended(std::function<bool()> AValue) { FSuspended = std::move(AValue); }
  // Record requests since creation (for tests of the one reused row).
  int RowFetches() const { return FRowFetches; }

  // A cell shows at most this many characters of its value: laying out a megabyte-long
  // value would freeze the list (the details pane offers the whole of it).
  static constexpr size_t kMaxCellBytes = 1024;

  // Values exactly as the log holds them (no names, no decoding).
  bool RawValues() const { return FRawValues; }
  void SetRawValues(bool AValue);
  // A reply's empty cells show its request's values.
  bool RequestFields() const { return FRequestFields; }
  void SetRequestFields(bool AValue);
  // The Packet-Type of record ARecord; 0 when it has none or cannot be read.
  uint32_t PacketTypeOfRecord(int64_t ARecord) const;
  // The request whose values a reply shows, or -1.
  int64_t RequestOfRecord(int64_t ARecord) const;
  // The value of record ARecord that the cell of view column AColumn shows, as the log holds
  // it (its request's on a reply that lacks it); false when the cell is empty.
  bool RawCellValue(int64_t ARecord, int AColumn, std::string& AValue) const;
  // Forgets what was learned of the rows (a new log, or the same one grown).
  void ForgetRows();

 private:
  // The value a cell shows: the row's own item, or its request's (Inherited).
  struct TCell {
    const TrdlDataRowItem* Item = nullptr;
    bool Inherited = false;
  };
  bool BindColumn(TViewColumn& AColumn) const;
  const TrdlDataRow* Row(int64_t ARecord) const;
  const TrdlDataRow* RequestRow(int64_t ARecord) const;
  TCell CellAt(int64_t ARecord, const TViewColumn& AColumn) const;
  QVariant DisplayText(const TCell& ACell, const TViewColumn& AColumn) const;
  QVariant SourceCell(int64_t ARecord, int ARole) const;
  void AllChanged();

  TData& FData;
  std::vector<TViewColumn> FColumns;
  int FRowCount = 0;
  int64_t FRecordCount = 0;
  bool FFiltered = false;
  std::vector<uint32_t> FFilterRows;
  std::shared_ptr<const TCompiledQuery> FFindQuery;
  std::vector<uint32_t> FFindMatches;
  // The marked columns of one record, computed once for all its cells (-1: none yet).
  mutable int64_t FMarksRecord = -1;
  mutable std::vector<bool> FMarks;
  std::function<bool()> FSuspended;
  // The reused row, and which record it holds (-1: none). Mutable: a request fills it.
  mutable TrdlDataRow FListRow;
  mutable int64_t FListRowIndex = -1;
  mutable bool FListRowValid = false;
  mutable uint32_t FListRowPacketType = 0;
  mutable int FRowFetches = 0;
  bool FRawValues = false;
  bool FRequestFields = true;
  // Replies' requests found so far (-1: none), and the parsed row of the last one used.
  mutable TExchangeFinder FFinder;
  mutable std::unordered_map<int64_t, int64_t> FRequestOfReply;
  mutable TrdlDataRow FRequestRow;
  mutable int64_t FRequestRowIndex = -1;
  mutable bool FRequestRowValid = false;
  mutable std::string FCellText;
};

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  // AShowError: how errors reach the user (a message box when not given); tests record them,
  // also those of the window's own creation. The layout is read from AContext.Settings here
  // and written back when the window closes or goes.
  explicit TfrmMain(TMainWindowContext AContext, QWidget* AParent = nullptr,
                    std::function<void(const QString& AMessage)> AShowError = {});
  ~TfrmMain() override;

 public:  // loading and the list
  // AKeepFilter: the filter on show applies to the new log too (a switch to the newer log of
  // the same scheme); the same log again always keeps it.
  void LoadLog(const std::string& AFileName, bool AKeepFilter = false);
  // Opens several logs as one (one file: as LoadLog). The set's notices (files skipped, times
  // merged without zones) are shown once.
  void LoadLogs(const std::vector<std::string>& AFileNames, bool AKeepFilter = false);
  // The files on show, as they were opened (one for a single log).
  const std::vector<std::string>& OpenFiles() const { return FOpenFiles; }
  void RefreshList();
  void BindColumns();
  void UpdateStatusBar();
  // ARecord: a record number (not a row of a filtered list).
  void ShowRecordDetails(int64_t ARecord);
  bool DetailsVisible() const;
  void SetDetailsVisible(bool AValue);
  // The splash window to close one second after this window first shows.
  void SetSplash(QWidget* ASplash) { FSplash = ASplash; }

 public:  // progress display
  void BeginProgress(const QString& ACaption, const QString& AMessage);
  void SetProgress(int APercents);
  void EndProgress();
  bool ProgressActive() const;
  void HandleProgress(void* ASender, int APercents, bool& AIsCanceled);

 public:  // recent files and layout
  void AddRecentFile(const std::string& AFileName);
  void RebuildRecentMenus();
  void LoadLayout();
  void SaveLayout();

 public:  // parts, for tests and benchmarks
  QTableView* lvData = nullptr;
  QTreeWidget* lvDetails = nullptr;
  QWidget* pnlDetails = nullptr;
  QSplitter* spltDetails = nullptr;
  QLabel* sbrPanel0 = nullptr;
  QLabel* sbrPanel1 = nullptr;
  QTimer* tmrItemDetails = nullptr;
  QTimer* tmrSplash = nullptr;
  QAction* actOpenFolder = nullptr;
  QAction *actOpen = nullptr, *actExport = nullptr, *actExit = nullptr, *actColumnsCustomize = nullptr, *actDetails = nullptr,
          *actAbout = nullptr, *actRawValues = nullptr, *actRequestFields = nullptr, *actGoToPartner = nullptr;
  QAction *actReload = nullptr, *actCopy = nullptr, *actCopyRaw = nullptr, *actReopenLast = nullptr;
  QAction *actCopyValue = nullptr, *actCopyDetails = nullptr;  // the details pane's context menu
  // The details pane's exchange: the one-line answer and the records of the selected one's
  // session (double-click or Enter selects one in the list).
  QLabel* lblAnswer = nullptr;
  QTreeWidget* lvExchange = nullptr;
  // The exchange of the record in the details pane (its Origin is -1 when none is shown).
  const TExchange& DetailsExchange() const { return FDetailsExchange; }
  // Fits column AColumn to its cells in the rows on screen (a double-click on its divider).
  void FitColumnToScreenRows(int AColumn);
  // Selects the selected record's partner: its reply when it is a request, else its request.
  void GoToPartner();
  // Selects record ARecord and scrolls it into view; false (and a word in the status bar) when
  // a filter hides it.
  bool SelectRecord(int64_t ARecord);
  // The record the details pane and Go to work on; -1: none selected.
  int64_t SelectedRecord() const;

 public:  // find and filter
  // The filter bar above the list and the find bar under it (shown by Find).
  TQueryBar* FilterBar = nullptr;
  TQueryBar* FindBar = nullptr;
  QLabel* lblFindState = nullptr;  // "12 matches", beside the find bar's buttons
  QLabel* sbrFilter = nullptr;     // "12,345 of 952,830 records match"
  QProgressBar* pbScan = nullptr;  // the filter's scan, while it runs
  QAction *actFind = nullptr, *actFindNext = nullptr, *actFindPrevious = nullptr, *actFilter = nullptr, *actClearFilter = nullptr,
          *actFilterOnValue = nullptr, *actExcludeValue = nullptr;
  // Shows only the records that match AText (as they are found); a blank text shows all. A
  // bad query marks the bar and changes nothing else. The selected record stays selected
  // when it matches.
  void ApplyFilter(const QString& AText);
  // Every record again, the selected one (or the one selected before the filter) still
  // selected and in view.
  void ClearFilter();
  // The query of the filter on show; empty: none.
  QString FilterText() const;
  bool FilterRunning() const;
  // Moves the selection to the next (or previous) record on show that matches the find
  // bar's query, wrapping at the ends; the matching cells are marked. A new query starts a
  // find over the log, whose first match after the selection is then selected.
  void FindNext(bool ABackward);
  bool FindRunning() const;
  void ShowFindBar();
  void HideFindBar();
  // The filter with the term that keeps (or with AExclude drops) the records whose column
  // AColumn holds the value of row ARow: Field = "value" (Field != * for an empty cell).
  void FilterOnCell(int ARow, int AColumn, bool AExclude);
  // The term FilterOnCell adds.
  QString CellTerm(int ARow, int AColumn, bool AExclude) const;
  // The last queries of filter and find, most recent first, kept in the settings.
  const QStringList& QueryHistory() const { return FQueryHistory; }
  static constexpr int kQueryHistorySize = 20;
  // With a filter on show: whether Export writes the records on show (the export dialog's
  // choice) or all.
  bool ExportRecordsOnShow = true;
  // Whether the export writes code names instead of numbers (the save dialog's check box).
  bool ExportCodeNames = false;
  // --- the live log ---
  // The log is watched while it is open: records its writer appends join the list, a log that
  // shrank or was replaced is read again, a deleted one stays on show.
  QAction *actFollowEnd = nullptr, *actFollowNewest = nullptr, *actKeepLineIndexes = nullptr;

  // The Summary (View > Summary): statistics of the records on show, beside the list.
  QAction* actSummary = nullptr;
  QDockWidget* dckSummary = nullptr;
  TSummaryPanel* Summary() const { return FSummary; }
  bool SummaryVisible() const;
  void SetSummaryVisible(bool AValue);
  // Counts the records on show anew (all, or the filter's once its scan is done).
  void RefreshSummary();
  // Adds ATerm to the filter on show with "and" (or makes it the filter) and applies it.
  void AddFilterTerm(const QString& ATerm);
  // Offers the newer log of the open one's naming scheme ("Switch to IN261210.log").
  QLabel* sbrNewerLog = nullptr;
  // Keeps the last record in view as records arrive; scrolling up or selecting an earlier
  // record turns it off, End on again.
  bool FollowEnd() const;
  void SetFollowEnd(bool AValue);
  // The newer log that continues the open one, as the status bar offers it; empty: none.
  const std::string& NewerLog() const { return FNewerLog; }
  // Looks for a newer log of the open one's naming scheme: switches to one that appeared since
  // the open log was loaded when Follow newest file is on, else offers it in the status bar.
  void CheckForNewerLog();
  // What the growth watching last said of the log ("The log was replaced; reloaded"); empty: nothing.
  const QString& LiveNotice() const { return FLiveNotice; }
  // Records the filter and the find have searched (the rest were appended since).
  int64_t FilterEnd() const { return FFilterEnd; }
  QMenu* miOpenRecent = nullptr;
  QMenu* pmRecentLogs = nullptr;
  QMenu* pmData = nullptr;
  TLogTableModel* Model() const { return FModel; }
  // The dialog of the running progress display; null when none runs.
  TfrmProgressDialog* ProgressDialog() const;
  // The record the details pane shows; -1: none.
  int DetailsIndex() const { return static_cast<int>(FDetailsIndex); }
  int DetailsWidth() const { return FDetailsWidth; }
  // How often the details pane was filled (for tests of the 50 ms burst rule).
  int DetailsFills() const { return FDetailsFills; }
  // The open dialog (one file or several); tests and scripted runs replace it. Returns false
  // on cancel.
  std::function<bool(std::vector<std::string>& AFileNames)> SelectLogFiles;
  // Open folder: the folder's dialog, then the check list of its logs (each with the time
  // zone its server writes in, empty when not stated); tests replace both. False on cancel.
  struct TSetFileChoice {
    std::string Path;
    bool Chosen = true;
    std::string Zone;
  };
  std::function<bool(std::string& AFolder)> SelectLogFolder;
  std::function<bool(std::vector<TSetFileChoice>& AFiles)> ChooseSetFiles;
  // The save dialog of the export: the file name (proposal in, choice out) and the format its
  // file type decides; tests and scripted runs replace it. False on cancel.
  std::function<bool(std::string& AFileName, TDataExportFormat& AFormat)> SelectExportFile;
  // Asks whether an existing export file may be replaced; tests replace it.
  std::function<bool(const QString& AFileName)> ConfirmOverwrite;
  // A notice that is no error (a file that holds no accounting events); tests replace it.
  std::function<void(const QString& AMessage)> ShowNotice;
  // The column dialog (all, defaults, current in and out); tests replace it.
  std::function<bool(const QString& AAll, const QString& ADefaults, QString& ACurrent)> ColumnsDialog;
  // Shows an error to the user (a message box); tests replace it.
  std::function<void(const QString& AMessage)> ShowError;
  // Re-evaluates every action's enabled state (also run whenever the application is idle).
  void UpdateActions();
  // The selected records as the clipboard gets them: tab-separated cells under a header line
  // of the captions, or (ARaw) the log's own lines. At most kMaxCopiedRecords records.
  QString SelectedRecordsText(bool ARaw);
  static constexpr int64_t kMaxCopiedRecords = 100000;
  void CopySelectedRecords(bool ARaw);
  // Opens the open log again, keeping the selected record where it still exists.
  void ReloadLog();
  // Takes column AColumn out of the list (the header's context menu).
  void HideColumn(int AColumn);
  // The details pane shows at most this many characters of a value; the rest is copied.
  static constexpr int kMaxDetailChars = 2000;
  // Runs AWork; an error ends a running progress display and is shown, the window stays usable.
  void Guarded(const std::function<void()>& AWork);

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateClient();
  void CreateStatusBar();
  void actOpenExecute();
  void actExportExecute();
  void actColumnsCustomizeExecute();
  void actAboutExecute();
  QString JoinCaptions(const QString& ASeparator) const;
  bool DefaultSelectLogFiles(std::vector<std::string>& AFileNames);
  bool DefaultSelectLogFolder(std::string& AFolder);
  bool DefaultChooseSetFiles(std::vector<TSetFileChoice>& AFiles);
  void actOpenFolderExecute();
  // A recent entry or a saved "last log": one path, or a set's paths.
  static std::string EntryOfFiles(const std::vector<std::string>& AFiles);
  static std::vector<std::string> FilesOfEntry(const std::string& AEntry);
  static QString EntryText(const std::string& AEntry);
  // The time zones stated for logs (path -> zone), kept in the settings.
  std::vector<std::pair<std::string, std::string>> StatedZones() const;
  void SaveStatedZones(const std::vector<TSetFileChoice>& AFiles);
  // The set's name for the title: "IN261201.log … IN261231.log (31 logs)".
  QString OpenLogsName() const;
  // The file of the selected record for the status bar ("IN261202.log, 2 of 31 logs").
  QString SelectedFileText() const;
  void AddNewerToSet(const std::string& ANewer);
  bool DefaultSelectExportFile(std::string& AFileName, TDataExportFormat& AFormat);
  void TextToPlacement(const QString& AText);
  QString PlacementToText() const;
  void OpenRecentEntry(const std::string& AFileName);
  void OpenPendingRecent();
  void tmrItemDetailsTimer();
  void tmrSplashTimer();
  int SelectedIndex() const;
  void Trace(const std::string& AText) const;
  void ApplyDefaultGeometry();
  void ApplyColumnSet(const QString& ACaptions, const QString& AWidths);
  int DefaultColumnWidth(const QString& ACaption) const;
  QString DefaultWidths(const QString& ACaptions) const;
  void ShowExchange(int64_t ARecord);
  void FillExchange();
  void UpdatePartnerAction();
  void ClearDetails();
  void CreateQueryBars(QWidget* AParent);
  void StartFilterScan(std::shared_ptr<const TCompiledQuery> AQuery);
  void FilterMatchesFound(const std::vector<uint32_t>& AMatches);
  void FilterFinished();
  void DropScans(bool AKeepFilterText);
  bool TryFindStep();
  void UpdateFilterStatus();
  void UpdateFindState();
  void RememberQuery(const QString& AText);
  void ShowListMenu(const QPoint& APoint);
  std::shared_ptr<const TCompiledQuery> CompileInto(TQueryBar* ABar, const QString& AText);
  QStringList CompletionFieldNames() const;
  void ApplyDetailsWidth();
  void ApplyColumnChoice(const QString& ACaptions);
  void UpdateTitle();
  void NoteLoadOutcome();
  QString LogStateText() const;
  void ApplyHeaderOrder();
  void ShowHeaderMenu(const QPoint& APoint);
  void ShowDetailsMenu(const QPoint& APoint);
  void ReadSetting(std::string_view AKey, const std::function<void()>& ARead);
  void CreateLiveActions();
  void PrepareLineIndex();
  void NoteLineIndex();
  void WatchLog();
  void StopWatchingLog();
  void LogGrew();
  void RecordsAdded(int64_t AWhole);
  void OfferNewerLog(std::string ANewer);
  void LogReplaced();
  void ScanAddedRecords();
  void StartFindScan(std::shared_ptr<const TCompiledQuery> AQuery, int64_t AFirstRecord);
  void ScrollToEndIfFollowing();
  void ListScrolledByUser();
  void GrowthProgress(int APercents, bool& AIsCanceled);
  void FitIntoScreen();
  void CreateSummary();
  // A growing log: the Summary is counted again once growth pauses for a moment.
  void ScheduleSummaryRefresh();
  TData& FData;
  TrsStorage& FSettings;
  std::string FStartFile;
  TLogTableModel* FModel = nullptr;
  // Created by BeginProgress, freed by EndProgress; parented to the application, so also gone
  // when it ends first.
  QPointer<TfrmProgressDialog> FProgressDialog;
  TrdlDataRow FDetailsRow;
  TrdlDataRow FExchangeRow;
  std::unique_ptr<TExchangeFinder> FExchangeFinder;
  TExchange FDetailsExchange;
  std::string FRecentFile;
  std::vector<std::string> FOpenFiles;
  QTimer* FRecentTimer = nullptr;
  int64_t FDetailsIndex = -1;
  int FDetailsFills = 0;
  int FDetailsWidth = 185;  // the pane's width, kept while it is hidden
  std::unique_ptr<TTaskbarProgressIndicator> FTaskbarProgress;
  QPointer<QWidget> FSplash;
  bool FShownOnce = false;
  bool FLayoutSaved = false;
  // What the last load found, for the status bar.
  enum class TLoadOutcome { loNone, loOpened, loCancelled, loNoEvents };
  TLoadOutcome FLoadOutcome = TLoadOutcome::loNone;
  bool FLoading = false;        // LoadLog runs: a cancel in the progress display cancels a load
  bool FLoadCancelled = false;  // the progress display's Cancel ended the running load
  // The filter on show (null: none), its scan, and the record to select when it clears with
  // nothing selected (the one selected when it was applied).
  std::shared_ptr<const TCompiledQuery> FFilterQuery;
  std::unique_ptr<TQueryScan> FFilterScan;
  int64_t FFilterAnchor = -1;
  // The anchor is selected when it comes among the matches, unless the user chose another.
  bool FSelectAnchor = false;
  // The find: its scan (over every record) and the step waiting for matches (0: none,
  // 1: next, -1: previous) from record FFindFrom.
  std::unique_ptr<TQueryScan> FFindScan;
  int FFindPending = 0;
  int64_t FFindFrom = -1;
  QStringList FQueryHistory;
  // The live log: the dispatcher of its growth steps, the watch of its folder for a newer log
  // of its scheme, and what the status bar says of it.
  std::shared_ptr<TDispatcher> FDispatcher;
  QFileSystemWatcher* FFolderWatcher = nullptr;
  QTimer* tmrFolder = nullptr;
  QTimer* tmrWatch = nullptr;  // starts the watching of a log just loaded
  std::string FNewerLog;
  std::string FNewestAtOpen;  // the newest log of the scheme when the open log was loaded
  QString FLiveNotice;
  int64_t FFilterEnd = 0;        // the filter scans have covered the records before this
  bool FFilterAdding = false;    // the running filter scan searches appended records only
  int64_t FFindEnd = 0;          // the same for the find
  int64_t FGrowthStartSize = 0;  // the log's size before the running growth step
  bool FIndexNoticeShown = false;
  int FPopupRow = -1;  // the cell the list's context menu was opened on
  int FPopupColumn = -1;
  TSummaryPanel* FSummary = nullptr;
  QTimer* tmrSummary = nullptr;
  QString FSummaryKey;  // what the Summary counted last (or counts)
};

// The file types of the export dialog.
enum class TExportChoice { ecCSV, ecXML, ecAny };
// What an export writes: the file and its format.
struct TExportTarget {
  std::string FileName;
  TDataExportFormat Format = TDataExportFormat::efCSV;
};
// The file and format for the name typed and the type chosen: a name ending in ".csv" or
// ".xml" (any letter case) is written in that format whatever the type, as the command line
// decides; another name takes the chosen type's format, and its extension when it has none.
// "Any files" decides by the name alone.
TExportTarget ExportTargetFor(const std::string& AName, TExportChoice AChoice);
// ACount with the locale's thousands separators (English ones where the locale is C).
QString GroupedNumber(int64_t ACount);
// Text of the log and the core (UTF-8) as Qt shows it.
QString FromUtf8(std::string_view AText);
std::string ToUtf8(const QString& AText);

// Column sets as comma lists: the captions and the widths of a list's columns.
QString DefaultViewCaptions();
// The width a column needs for its usual content (a whole Timestamp, a typical user name) in
// the font AMetrics measures, and never less than its caption.
int ContentWidth(const QFontMetrics& AMetrics, const QString& ACaption);
// Field i of a comma list (nothing trimmed); empty beyond the last.
QString CommaField(const QString& AText, int AIndex);
int CommaFieldCount(const QString& AText);

}  // namespace velloran
