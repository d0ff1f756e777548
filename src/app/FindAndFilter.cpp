// The main window's find and filter (declared in MainWindow.h): the two query bars, the
// scans behind them, and the list's rows they change.
//
// Threading: all on the GUI thread; the scans' matches come through TQueryScan's signals.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "DataModule.h"
#include "DecodedText.h"
#include "LogData.h"
#include "MainWindow.h"
#include "QueryBar.h"
#include "QueryParser.h"
#include "QueryScan.h"
#include "SettingsKeys.h"

namespace velloran {

namespace {

// "the field X" or "the fields X, Y".
QString FieldList(const std::vector<std::string>& AFields) {
  QStringList names;
  for (const std::string& field : AFields) names << FromUtf8(field);
  return (names.size() == 1 ? QStringLiteral("the field ") : QStringLiteral("the fields ")) + names.join(", ");
}

}  // namespace

// --- the bars ---------------------------------------------------------------------------------------

QStringList TfrmMain::CompletionFieldNames() const {
  QStringList names;
  const TrdlDataColumns& columns = FData.Columns();
  for (int i = 0; i < columns.Count(); ++i) names << FromUtf8(columns.Columns(i)->ColumnName());
  for (const std::string_view name : CodedAttributeNames()) names << FromUtf8(name);
  names << DefaultViewCaptions().split(QStringLiteral("\r\n"));
  names.removeDuplicates();
  std::sort(names.begin(), names.end(), [](const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) < 0; });
  return names;
}

std::shared_ptr<const TCompiledQuery> TfrmMain::CompileInto(TQueryBar* ABar, const QString& AText) {
  try {
    std::shared_ptr<const TCompiledQuery> query = TCompiledQuery::Compile(ToUtf8(AText));
    ABar->ClearMessage();
    return query;
  } catch (const EQuerySyntax& error) {
    ABar->ShowError(FromUtf8(error.what()), error.Column());
    return nullptr;
  }
}

void TfrmMain::RememberQuery(const QString& AText) {
  std::vector<std::string> list;
  for (const QString& query : FQueryHistory) list.push_back(ToUtf8(query));
  SaveMRUList(FSettings, SettingsKeys::QueryHistorySection, list, ToUtf8(AText), kQueryHistorySize);
  FQueryHistory.removeAll(AText);
  FQueryHistory.prepend(AText);
  while (FQueryHistory.size() > kQueryHistorySize) FQueryHistory.removeLast();
  FilterBar->SetHistory(FQueryHistory);
  FindBar->SetHistory(FQueryHistory);
}

// --- the filter --------------------------------------------------------------------------------------

QString TfrmMain::FilterText() const { return FFilterQuery != nullptr ? FromUtf8(FFilterQuery->Text()) : QString(); }

bool TfrmMain::FilterRunning() const { return FFilterScan != nullptr && !FFilterScan->Done(); }

void TfrmMain::ApplyFilter(const QString& AText) {
  const QString text = AText.trimmed();
  if (text.isEmpty()) {
    ClearFilter();
    return;
  }
  std::shared_ptr<const TCompiledQuery> query = CompileInto(FilterBar, text);
  if (query == nullptr) return;  // the bar says why; the list stays as it is
  RememberQuery(text);
  if (query->MatchesAll()) {
    ClearFilter();
    return;
  }
  // The record to come back to: the one selected now, else (a filter replacing a filter with
  // nothing selected) the one selected before the first.
  const int64_t selected = SelectedRecord();
  if (selected >= 0 || FFilterQuery == nullptr) FFilterAnchor = selected;
  StartFilterScan(std::move(query));
}

void TfrmMain::StartFilterScan(std::shared_ptr<const TCompiledQuery> AQuery) {
  // The target first: when the index cannot be read nothing has changed yet.
  TScanTarget target = TScanTarget::Of(FData, FData.WholeCount());
  FFilterScan.reset();  // cancels the running scan and waits for its threads
  FFilterQuery = AQuery;
  FFilterEnd = target.Records;
  FFilterAdding = false;
  FModel->BeginFilter();
  FSelectAnchor = FFilterAnchor >= 0;
  FFilterScan = std::make_unique<TQueryScan>(std::move(AQuery), std::move(target));
  connect(FFilterScan.get(), &TQueryScan::MatchesFound, this,
          [this](const std::vector<uint32_t>& AMatches) { FilterMatchesFound(AMatches); });
  connect(FFilterScan.get(), &TQueryScan::ProgressChanged, this, [this] { UpdateFilterStatus(); });
  connect(FFilterScan.get(), &TQueryScan::Finished, this, [this] { FilterFinished(); });
  FFilterScan->Start();
  UpdateStatusBar();
  UpdateActions();
}

void TfrmMain::FilterMatchesFound(const std::vector<uint32_t>& AMatches) {
  FModel->AppendFilterRows(AMatches);
  if (FSelectAnchor && !AMatches.empty() && AMatches.back() >= FFilterAnchor) {
    FSelectAnchor = false;
    if (SelectedIndex() < 0 && std::binary_search(AMatches.begin(), AMatches.end(), FFilterAnchor)) SelectRecord(FFilterAnchor);
  }
  if (FFindPending != 0) TryFindStep();
  ScrollToEndIfFollowing();
  UpdateFilterStatus();
}

void TfrmMain::FilterFinished() {
  const TScanOutcome outcome = FFilterScan->Outcome();
  if (FFilterAdding) {
    ScheduleSummaryRefresh();
  } else {
    RefreshSummary();
  }
  FSelectAnchor = false;
  UpdateFilterStatus();
  UpdateActions();
  // Records appended while it ran are searched next, once this signal has returned (the scan
  // that emits it is replaced).
  if (outcome.Error.empty() && FFilterEnd < FModel->RecordCount())
    QTimer::singleShot(0, this, [this] { Guarded([this] { ScanAddedRecords(); }); });
  if (!outcome.MissingFields.empty()) {
    const QString hint = "No record so far has " + FieldList(outcome.MissingFields);
    FilterBar->ShowHint(hint);
    statusBar()->showMessage(hint, 10000);
  }
  if (!outcome.Error.empty()) {
    const QString notice = QStringLiteral("The filter stopped early: %1.\nThe %2 matching records found until then stay on show.")
                               .arg(FromUtf8(outcome.Error), GroupedNumber(static_cast<int64_t>(FModel->FilterRows().size())));
    // After this signal has returned: a message box runs events, and one of them may end
    // the scan that is emitting.
    QTimer::singleShot(0, this, [this, notice] {
      if (ShowNotice) ShowNotice(notice);
    });
  }
}

void TfrmMain::UpdateFilterStatus() {
  if (!FModel->Filtered()) {
    sbrFilter->hide();
    pbScan->hide();
    return;
  }
  sbrFilter->setText(
      QStringLiteral("%1 of %2 records match")
          .arg(GroupedNumber(static_cast<int64_t>(FModel->FilterRows().size())), GroupedNumber(FModel->RecordCount())));
  sbrFilter->show();
  // A scan of appended records is brief: no bar flickers for it.
  const bool running = FilterRunning() && !FFilterAdding;
  if (running) pbScan->setValue(FFilterScan->Percent());
  pbScan->setVisible(running);
}

void TfrmMain::ClearFilter() {
  FilterBar->SetText(QString());
  FilterBar->ClearMessage();
  if (!FModel->Filtered()) {
    FFilterQuery.reset();
    FFilterAnchor = -1;
    return;
  }
  const int64_t selected = SelectedRecord();
  const int64_t target = selected >= 0 ? selected : FFilterAnchor;
  FFilterScan.reset();
  FFilterQuery.reset();
  FFilterAnchor = -1;
  FSelectAnchor = false;
  FModel->ResetRows(static_cast<int>(std::min<int64_t>(FData.WholeCount(), INT_MAX)));
  if (target >= 0) SelectRecord(target);
  lvData->setFocus();
  UpdateStatusBar();
  UpdateActions();
  RefreshSummary();
}

// Another log, or the same one read again: no scan may go on over the file, and nothing found
// in it stays marked. AKeepFilterText: the filter will be applied again (a reload).
void TfrmMain::DropScans(bool AKeepFilterText) {
  FFilterScan.reset();
  FFindScan.reset();
  FFilterQuery.reset();
  FFindPending = 0;
  FSelectAnchor = false;
  if (!AKeepFilterText) {
    FilterBar->SetText(QString());
    FFilterAnchor = -1;
  }
  FilterBar->ClearMessage();
  FModel->SetFindQuery(nullptr);
  UpdateFindState();
}

// --- filter on a cell's value ------------------------------------------------------------------------

QString TfrmMain::CellTerm(int ARow, int AColumn, bool AExclude) const {
  const int64_t record = FModel->RecordOfRow(ARow);
  const auto& columns = FModel->ViewColumns();
  if (record < 0 || AColumn < 0 || static_cast<size_t>(AColumn) >= columns.size()) return {};
  const TLogTableModel::TViewColumn& column = columns[static_cast<size_t>(AColumn)];
  const std::string field = QuotedQueryValue(column.CaptionUtf8);
  std::string raw;
  // An empty cell: the records that have no such value at all, or those that have one.
  if (!FModel->RawCellValue(record, AColumn, raw)) return FromUtf8(field + (AExclude ? " = *" : " != *"));
  // Queries compare decoded text, and a code by its name when the name stands for this value
  // alone.
  std::string value = DecodedText(raw);
  if (column.Codes.HasNames()) {
    const std::string_view name = column.Codes.NameOfText(value);
    if (!name.empty() && column.Codes.ValuesNamed(name).size() == 1) value = std::string(name);
  }
  return FromUtf8(field + (AExclude ? " != " : " = ") + QuotedQueryValue(value));
}

void TfrmMain::FilterOnCell(int ARow, int AColumn, bool AExclude) {
  const QString term = CellTerm(ARow, AColumn, AExclude);
  if (!term.isEmpty()) AddFilterTerm(term);
}

void TfrmMain::AddFilterTerm(const QString& ATerm) {
  const QString& term = ATerm;
  QString text = FilterText();
  if (text.isEmpty()) {
    text = term;
  } else {
    // "a or b and c" reads as "a or (b and c)": an "or" at the top keeps its parentheses.
    if (FFilterQuery != nullptr && FFilterQuery->Tree().Kind == TQueryKind::qkOr) text = '(' + text + ')';
    text += " and " + term;
  }
  FilterBar->SetText(text);
  ApplyFilter(text);
}

void TfrmMain::ShowListMenu(const QPoint& APoint) {
  const QModelIndex cell = lvData->indexAt(APoint);
  FPopupRow = cell.isValid() ? cell.row() : -1;
  FPopupColumn = cell.isValid() ? cell.column() : -1;
  const QString keep = CellTerm(FPopupRow, FPopupColumn, false);
  actFilterOnValue->setEnabled(!keep.isEmpty());
  actExcludeValue->setEnabled(!keep.isEmpty());
  actFilterOnValue->setStatusTip(keep.isEmpty() ? QString() : "Filter on " + keep);
  actExcludeValue->setStatusTip(keep.isEmpty() ? QString() : "Filter on " + CellTerm(FPopupRow, FPopupColumn, true));
  pmData->popup(lvData->viewport()->mapToGlobal(APoint));
}

// --- find --------------------------------------------------------------------------------------------

bool TfrmMain::FindRunning() const { return FFindScan != nullptr && !FFindScan->Done(); }

void TfrmMain::ShowFindBar() {
  FindBar->show();
  FindBar->cbQuery->setFocus(Qt::ShortcutFocusReason);
  FindBar->Edit()->selectAll();
}

void TfrmMain::HideFindBar() {
  FFindScan.reset();
  FFindPending = 0;
  FModel->SetFindQuery(nullptr);
  FindBar->ClearMessage();
  FindBar->hide();
  UpdateFindState();
  lvData->setFocus();
}

namespace {

// The first of AMatches[AAt..] that is among ARows (both ascending); -1: none. Each step skips
// a run of one list with a binary search in the other.
int64_t FirstCommon(const std::vector<uint32_t>& AMatches, size_t AAt, const std::vector<uint32_t>& ARows) {
  auto match = AMatches.begin() + static_cast<std::ptrdiff_t>(std::min(AAt, AMatches.size()));
  auto row = ARows.begin();
  while (match != AMatches.end()) {
    row = std::lower_bound(row, ARows.end(), *match);
    if (row == ARows.end()) return -1;
    if (*row == *match) return *match;
    match = std::lower_bound(match, AMatches.end(), *row);
  }
  return -1;
}

// The last of AMatches[..AEnd) that is among ARows; -1: none.
int64_t LastCommon(const std::vector<uint32_t>& AMatches, size_t AEnd, const std::vector<uint32_t>& ARows) {
  size_t match = std::min(AEnd, AMatches.size());
  size_t row = ARows.size();
  while (match > 0) {
    const uint32_t record = AMatches[match - 1];
    row = static_cast<size_t>(std::upper_bound(ARows.begin(), ARows.begin() + static_cast<std::ptrdiff_t>(row), record) -
                              ARows.begin());
    if (row == 0) return -1;
    if (ARows[row - 1] == record) return record;
    match = static_cast<size_t>(
        std::upper_bound(AMatches.begin(), AMatches.begin() + static_cast<std::ptrdiff_t>(match), ARows[row - 1]) -
        AMatches.begin());
  }
  return -1;
}

}  // namespace

void TfrmMain::FindNext(bool ABackward) {
  const QString text = FindBar->Text().trimmed();
  if (FindBar->isHidden() || text.isEmpty()) {
    ShowFindBar();
    if (text.isEmpty()) return;
  }
  if (FFindScan == nullptr || FromUtf8(FFindScan->Query()->Text()) != text) {
    std::shared_ptr<const TCompiledQuery> query = CompileInto(FindBar, text);
    if (query == nullptr) return;
    RememberQuery(text);
    StartFindScan(std::move(query), 0);
  }
  FFindPending = ABackward ? -1 : 1;
  FFindFrom = SelectedRecord();
  TryFindStep();
  UpdateFindState();
}

// A find over the records from AFirstRecord on (0: a new find; later: the records appended
// since the last scan, whose matches join those found).
void TfrmMain::StartFindScan(std::shared_ptr<const TCompiledQuery> AQuery, int64_t AFirstRecord) {
  TScanTarget target = TScanTarget::Of(FData, FModel->RecordCount(), AFirstRecord);
  FFindScan.reset();
  if (AFirstRecord == 0) FModel->SetFindQuery(AQuery);
  FFindEnd = target.Records;
  FFindScan = std::make_unique<TQueryScan>(std::move(AQuery), std::move(target));
  connect(FFindScan.get(), &TQueryScan::MatchesFound, this, [this](const std::vector<uint32_t>& AMatches) {
    FModel->AppendFindMatches(AMatches);
    if (FFindPending != 0) TryFindStep();
    UpdateFindState();
  });
  connect(FFindScan.get(), &TQueryScan::ProgressChanged, this, [this] { UpdateFindState(); });
  connect(FFindScan.get(), &TQueryScan::Finished, this, [this] {
    const TScanOutcome& outcome = FFindScan->Outcome();
    if (!outcome.MissingFields.empty()) FindBar->ShowHint("No record so far has " + FieldList(outcome.MissingFields));
    if (!outcome.Error.empty()) FindBar->ShowHint(QStringLiteral("The search stopped early: %1").arg(FromUtf8(outcome.Error)));
    if (outcome.Error.empty() && FFindEnd < FModel->RecordCount())
      QTimer::singleShot(0, this, [this] { Guarded([this] { ScanAddedRecords(); }); });
    TryFindStep();
    UpdateFindState();
  });
  FFindScan->Start();
}

// The step FFindPending asks for, once the matches it needs are known: true when it is done
// (a record selected, or none found).
bool TfrmMain::TryFindStep() {
  if (FFindPending == 0 || FFindScan == nullptr) return true;
  const std::vector<uint32_t>& matches = FModel->FindMatches();
  const std::vector<uint32_t> none;
  const std::vector<uint32_t>& rows = FModel->Filtered() ? FModel->FilterRows() : none;
  const auto first = [&](size_t AAt) {
    if (FModel->Filtered()) return FirstCommon(matches, AAt, rows);
    return AAt < matches.size() ? static_cast<int64_t>(matches[AAt]) : int64_t{-1};
  };
  const auto last = [&](size_t AEnd) {
    if (FModel->Filtered()) return LastCommon(matches, AEnd, rows);
    return AEnd > 0 && !matches.empty() ? static_cast<int64_t>(matches[std::min(AEnd, matches.size()) - 1]) : int64_t{-1};
  };
  const bool done = FFindScan->Done();
  const int64_t from = FFindFrom;
  int64_t found = -1;
  bool wrapped = false;
  if (FFindPending > 0) {
    const size_t after =
        from < 0 ? 0 : static_cast<size_t>(std::upper_bound(matches.begin(), matches.end(), from) - matches.begin());
    found = first(after);
    if (found < 0) {
      if (!done) return false;  // later matches may still come
      found = first(0);
      wrapped = found >= 0;
    }
  } else {
    // Chunks come in record order: every match before FFindFrom is known once one at or
    // after it has come.
    const bool known = done || (from >= 0 && !matches.empty() && matches.back() >= from);
    if (!known) return false;
    if (from >= 0) {
      found = last(static_cast<size_t>(std::lower_bound(matches.begin(), matches.end(), from) - matches.begin()));
    }
    if (found < 0) {
      if (!done) return false;  // the last match is not known yet
      found = last(matches.size());
      wrapped = found >= 0 && from >= 0;
    }
  }
  const bool forward = FFindPending > 0;
  FFindPending = 0;
  if (found < 0) {
    statusBar()->showMessage(FModel->Filtered() ? "No record on show matches the find query" : "No record matches the find query",
                             5000);
    return true;
  }
  SelectRecord(found);
  if (wrapped)
    statusBar()->showMessage(forward ? "Find went on from the first record" : "Find went on from the last record", 3000);
  return true;
}

void TfrmMain::UpdateFindState() {
  if (FFindScan == nullptr) {
    lblFindState->clear();
    return;
  }
  const int64_t count = static_cast<int64_t>(FModel->FindMatches().size());
  // A find searches every record, not only those a filter shows.
  QString matches = count == 1 ? QStringLiteral("1 match") : GroupedNumber(count) + " matches";
  if (FModel->Filtered()) matches += " in the log";
  lblFindState->setText(FindRunning() ? QStringLiteral("%1 so far (%2%)").arg(matches).arg(FFindScan->Percent())
                        : count == 0  ? QStringLiteral("No match")
                                      : matches);
}

}  // namespace velloran
