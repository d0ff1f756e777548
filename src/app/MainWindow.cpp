#include "MainWindow.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <exception>

#include "AboutWindow.h"
#include "ColumnsDialog.h"
#include "CommandLine.h"
#include "DataModule.h"
#include "DecodedText.h"
#include "Exporter.h"
#include "LogData.h"
#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "PlatformSystem.h"
#include "PlatformText.h"
#include "ProgressDialog.h"
#include "QueryBar.h"
#include "QueryParser.h"
#include "QueryScan.h"
#include "SettingsKeys.h"
#include "Storage.h"
#include "SummaryView.h"
#include "ValueText.h"

namespace velloran {

namespace {

constexpr const char* kProgramTitle = "Velloran Viewer";
constexpr int64_t kProgressThreshold = 20971520;  // bigger logs load with the progress display
// The column that shows each record's file (a set of logs).
constexpr const char* kSourceColumn = "Source";

QIcon ActionIcon(const QString& AName) {
  QIcon icon;
  icon.addFile(QStringLiteral(":/velloran/icons/%1-16.png").arg(AName), QSize(16, 16));
  icon.addFile(QStringLiteral(":/velloran/icons/%1-24.png").arg(AName), QSize(24, 24));
  return icon;
}

// Refusals: a translucent red over the palette's own base reads in light and dark palettes.
QBrush RefusalBrush() { return QBrush(QColor(230, 40, 40, 56)); }
// The cells a find marks: amber, as a text editor marks what it found.
QBrush FindBrush() { return QBrush(QColor(255, 190, 0, 120)); }

// A cell's and a header's margins beside their text, in the font's own terms.
int CellMargin(const QFontMetrics& AMetrics) { return AMetrics.averageCharWidth() * 2 + 4; }

// A text of two or more characters in one pair of double or single quotes loses them.
QString WithoutQuotes(const QString& AText) {
  if (AText.size() >= 2 && ((AText.front() == '"' && AText.back() == '"') || (AText.front() == '\'' && AText.back() == '\''))) {
    return AText.mid(1, AText.size() - 2);
  }
  return AText;
}

// AText cut to at most AMaxBytes bytes, at a character's start, with "…" when it was cut.
void CutUtf8(std::string& AText, size_t AMaxBytes) {
  if (AText.size() <= AMaxBytes) return;
  size_t end = AMaxBytes;
  while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) --end;
  AText.resize(end);
  AText += "\u2026";
}

// The record list: Home and End go to the first and the last record (not the row's first and
// last cell), and typing goes to the find bar: the view's own type-ahead would parse records
// one by one from the current row, for seconds on a large log.
class TLogListView : public QTableView {
 public:
  using QTableView::QTableView;
  void keyboardSearch(const QString& AText) override {
    if (OnTypeAhead && !AText.trimmed().isEmpty()) OnTypeAhead(AText);
  }
  // Ctrl+C (ARaw false) and Ctrl+Shift+C (true): the view would copy one cell itself.
  std::function<void(bool ARaw)> OnCopy;
  std::function<void(const QString& AText)> OnTypeAhead;
  // End (with any modifiers), after the view has gone to the last record.
  std::function<void()> OnEnd;

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override {
    const bool raw = AEvent->keyCombination() == QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_C);
    if (OnCopy && (raw || AEvent->matches(QKeySequence::Copy))) {
      OnCopy(raw);
      AEvent->accept();
      return;
    }
    QTableView::keyPressEvent(AEvent);
    if (OnEnd && AEvent->key() == Qt::Key_End) OnEnd();
  }
  // Several records can be selected (for Copy), yet Ctrl with a movement key still goes and
  // selects, as in a list of one selection: Ctrl+End selects the last record.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& AIndex, const QEvent* AEvent) const override {
    if (AEvent != nullptr && AEvent->type() == QEvent::KeyPress) {
      const auto* key = static_cast<const QKeyEvent*>(AEvent);
      const bool movement = key->key() == Qt::Key_Home || key->key() == Qt::Key_End || key->key() == Qt::Key_Up ||
                            key->key() == Qt::Key_Down || key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
      if (movement && key->modifiers() == Qt::ControlModifier)
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return QTableView::selectionCommand(AIndex, AEvent);
  }

  QModelIndex moveCursor(CursorAction ACursorAction, Qt::KeyboardModifiers AModifiers) override {
    if ((ACursorAction != MoveHome && ACursorAction != MoveEnd) || model() == nullptr || model()->rowCount() == 0)
      return QTableView::moveCursor(ACursorAction, AModifiers);
    const int row = ACursorAction == MoveHome ? 0 : model()->rowCount() - 1;
    return model()->index(row, std::max(0, currentIndex().column()));
  }
};

// The first AChars characters of AText in lines of 100: a tooltip of bounded size.
QString WrappedStart(const QString& AText, qsizetype AChars) {
  constexpr qsizetype kLine = 100;
  QString text;
  for (qsizetype at = 0; at < std::min(AChars, AText.size()); at += kLine) {
    if (at > 0) text += '\n';
    text += AText.mid(at, kLine);
  }
  return text;
}

// A width field counts when it is a decimal integer.
std::optional<int> WidthField(const QString& AWidths, int AIndex) {
  bool ok = false;
  const int width = CommaField(AWidths, AIndex).toInt(&ok, 10);
  return ok ? std::optional<int>(width) : std::nullopt;
}

}  // namespace

QString DefaultViewCaptions() {
  return QStringLiteral("Timestamp\r\nComputer-Name\r\nUser-Name\r\nEvent-Source\r\nPacket-Type\r\nReason-Code");
}

int ContentWidth(const QFontMetrics& AMetrics, const QString& ACaption) {
  // What a column of this name usually holds, at its longest common form.
  static const std::pair<const char*, const char*> kSamples[] = {
      {"Timestamp", "12/01/2026 00:00:00.904"},
      {"Computer-Name", "NPS-BRANCH-02"},
      {"User-Name", "CORP\\administrator"},
      {"SAM-Account-Name", "CORP\\administrator"},
      {"Fully-Qualifed-User-Name", "corp.example.com/Users/Administrator"},
      {"Event-Source", "IAS"},
      {"Packet-Type", "Accounting-Response"},
      {"Reason-Code", "Credentials mismatch: unknown user name"},
      {"NAS-IP-Address", "255.255.255.255"},
      {"Client-IP-Address", "255.255.255.255"},
      {"Calling-Station-Id", "00-1A-1E-0E-8D-E2"},
      {"Called-Station-Id", "00-1A-1E-00-11-22:CORP-WIFI"},
      {"NAS-Port-Type", "Wireless - IEEE 802.11"},
      {"NP-Policy-Name", "Secure Wireless Connections"},
      {"Proxy-Policy-Name", "Secure Wireless Connections"},
      {"Class", "311 1 10.10.1.20 02/24/2026 17:49:34 1198"},
  };
  QString sample = QStringLiteral("0000000000");  // anything else: about ten characters
  for (const auto& [name, text] : kSamples) {
    if (ACaption.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) sample = QString::fromUtf8(text);
  }
  const int margin = CellMargin(AMetrics);
  return std::max(AMetrics.horizontalAdvance(sample), AMetrics.horizontalAdvance(ACaption)) + margin;
}

QString CommaField(const QString& AText, int AIndex) {
  if (AText.isEmpty() || AIndex < 0) return {};
  const QStringList fields = AText.split(',');
  return AIndex < fields.size() ? fields[AIndex] : QString();
}

int CommaFieldCount(const QString& AText) { return AText.isEmpty() ? 0 : static_cast<int>(AText.count(',')) + 1; }

QString FromUtf8(std::string_view AText) { return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size())); }

std::string ToUtf8(const QString& AText) { return AText.toUtf8().toStdString(); }

QString GroupedNumber(int64_t ACount) {
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(static_cast<qlonglong>(ACount));
}

TExportTarget ExportTargetFor(const std::string& AName, TExportChoice AChoice) {
  const size_t slash = AName.rfind('/');
  const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = AName.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > baseStart && dot + 1 < AName.size();
  const std::string extension = hasExtension ? AName.substr(dot + 1) : std::string();
  const auto named = [&](std::string_view AExtension) { return SameNameIgnoringAsciiCase(extension, AExtension); };
  if (AChoice == TExportChoice::ecAny || named("csv") || named("xml")) return {AName, ExportFormatOfFileName(AName)};
  const bool csv = AChoice == TExportChoice::ecCSV;
  std::string name = AName;
  if (!hasExtension) {
    if (!name.empty() && name.back() == '.') name.pop_back();
    name += csv ? ".csv" : ".xml";
  }
  return {name, csv ? TDataExportFormat::efCSV : TDataExportFormat::efXML};
}

// --- the list's model ---------------------------------------------------------------------------

TLogTableModel::TLogTableModel(TData& AData, QObject* AParent) : QAbstractTableModel(AParent), FData(AData), FFinder(AData) {}

int TLogTableModel::rowCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : FRowCount; }

int TLogTableModel::columnCount(const QModelIndex& AParent) const {
  if (AParent.isValid()) return 0;
  return FColumns.empty() ? 1 : static_cast<int>(FColumns.size());  // no columns: the row number
}

int64_t TLogTableModel::RecordOfRow(int ARow) const {
  if (ARow < 0 || ARow >= FRowCount) return -1;
  return FFiltered ? int64_t{FFilterRows[static_cast<size_t>(ARow)]} : int64_t{ARow};
}

int TLogTableModel::RowOfRecord(int64_t ARecord) const {
  if (ARecord < 0) return -1;
  if (!FFiltered) return ARecord < FRowCount ? static_cast<int>(ARecord) : -1;
  const auto found = std::lower_bound(FFilterRows.begin(), FFilterRows.end(), ARecord);
  return found != FFilterRows.end() && *found == ARecord ? static_cast<int>(found - FFilterRows.begin()) : -1;
}

void TLogTableModel::BeginFilter() {
  beginResetModel();
  FFiltered = true;
  FFilterRows.clear();
  FRowCount = 0;
  endResetModel();
}

void TLogTableModel::AppendFilterRows(const std::vector<uint32_t>& ARecords) {
  if (!FFiltered || ARecords.empty()) return;
  // A list holds at most INT_MAX rows; matches beyond stay off the list.
  const size_t room = static_cast<size_t>(INT_MAX) - FFilterRows.size();
  const size_t count = std::min(room, ARecords.size());
  if (count == 0) return;
  beginInsertRows(QModelIndex(), FRowCount, FRowCount + static_cast<int>(count) - 1);
  FFilterRows.insert(FFilterRows.end(), ARecords.begin(), ARecords.begin() + static_cast<std::ptrdiff_t>(count));
  FRowCount = static_cast<int>(FFilterRows.size());
  endInsertRows();
}

void TLogTableModel::AddRecords(int64_t ACount) {
  if (ACount <= FRecordCount) return;
  FRecordCount = ACount;
  const int rows = static_cast<int>(std::min<int64_t>(ACount, INT_MAX));
  if (FFiltered || rows <= FRowCount) return;
  beginInsertRows(QModelIndex(), FRowCount, rows - 1);
  FRowCount = rows;
  endInsertRows();
}

void TLogTableModel::Redraw() {
  ForgetRows();
  if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, columnCount() - 1));
}

void TLogTableModel::SetFindQuery(std::shared_ptr<const TCompiledQuery> AQuery) {
  FFindQuery = std::move(AQuery);
  FFindMatches.clear();
  FMarksRecord = -1;
  Redraw();
}

void TLogTableModel::AppendFindMatches(const std::vector<uint32_t>& ARecords) {
  if (FFindQuery == nullptr || ARecords.empty()) return;
  FFindMatches.insert(FFindMatches.end(), ARecords.begin(), ARecords.end());
  FMarksRecord = -1;
  // The rows of these records are drawn again: one range from the first to the last.
  int first = RowOfRecord(ARecords.front());
  int last = RowOfRecord(ARecords.back());
  if (FFiltered) {
    first = static_cast<int>(std::lower_bound(FFilterRows.begin(), FFilterRows.end(), ARecords.front()) - FFilterRows.begin());
    last = static_cast<int>(std::upper_bound(FFilterRows.begin(), FFilterRows.end(), ARecords.back()) - FFilterRows.begin()) - 1;
  }
  if (first >= 0 && last >= first) emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

bool TLogTableModel::CellMarked(int ARow, int AColumn) const {
  if (FFindQuery == nullptr || AColumn < 0 || static_cast<size_t>(AColumn) >= FColumns.size()) return false;
  const int64_t record = RecordOfRow(ARow);
  if (record != FMarksRecord) {
    FMarksRecord = record;
    FMarks.assign(FColumns.size(), false);
    // Only the cells of a matching record: a cell that satisfies one term of a record that
    // fails the query is no find.
    if (record >= 0 && std::binary_search(FFindMatches.begin(), FFindMatches.end(), record)) {
      for (size_t column = 0; column < FColumns.size(); ++column) {
        const TCell cell = CellAt(record, FColumns[column]);
        FMarks[column] = cell.Item != nullptr && FFindQuery->CellMatches(FColumns[column].CaptionUtf8, cell.Item->RawText());
      }
    }
  }
  return FMarks[static_cast<size_t>(AColumn)];
}

bool TLogTableModel::RawCellValue(int64_t ARecord, int AColumn, std::string& AValue) const {
  AValue.clear();
  if (AColumn < 0 || static_cast<size_t>(AColumn) >= FColumns.size()) return false;
  const TCell cell = CellAt(ARecord, FColumns[static_cast<size_t>(AColumn)]);
  if (cell.Item == nullptr) return false;
  AValue = cell.Item->RawText();
  return true;
}

const TrdlDataRow* TLogTableModel::Row(int64_t ARecord) const {
  if (ARecord != FListRowIndex) {
    FListRowIndex = ARecord;
    ++FRowFetches;
    try {
      FListRowValid = ARecord >= 0 && FData.GetRow(ARecord, FListRow);
    } catch (const ErdlLogMonitorError&) {
      // A line that can no longer be read (the log shrank under the list, or a line too long
      // to read) shows as an empty row: an error raised from inside a paint would come back
      // for every cell on screen.
      FListRowValid = false;
    }
    FListRowPacketType = FListRowValid ? PacketTypeOf(FListRow) : 0;
  }
  return FListRowValid ? &FListRow : nullptr;
}

uint32_t TLogTableModel::PacketTypeOfRecord(int64_t ARecord) const {
  if (ARecord < 0 || ARecord >= FRecordCount || Row(ARecord) == nullptr) return 0;
  return FListRowPacketType;
}

int64_t TLogTableModel::RequestOfRecord(int64_t ARecord) const {
  if (!IsReplyPacketType(PacketTypeOfRecord(ARecord))) return -1;
  const auto known = FRequestOfReply.find(ARecord);
  if (known != FRequestOfReply.end()) return known->second;
  int64_t request = -1;
  try {
    request = FFinder.RequestOfReply(ARecord, FListRow);
  } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable neighbour pairs with nothing
  }
  FRequestOfReply.emplace(ARecord, request);
  return request;
}

const TrdlDataRow* TLogTableModel::RequestRow(int64_t ARecord) const {
  const int64_t request = RequestOfRecord(ARecord);
  if (request < 0) return nullptr;
  if (request != FRequestRowIndex) {
    FRequestRowIndex = request;
    try {
      FRequestRowValid = FData.ParseRecord(request, FRequestRow);
    } catch (const ErdlLogMonitorError&) {
      FRequestRowValid = false;
    }
  }
  return FRequestRowValid ? &FRequestRow : nullptr;
}

TLogTableModel::TCell TLogTableModel::CellAt(int64_t ARecord, const TViewColumn& AColumn) const {
  const TrdlDataRow* row = Row(ARecord);
  if (row == nullptr) return {};
  if (const TrdlDataRowItem* own = row->ItemByName(AColumn.CaptionUtf8)) return {own, false};
  if (!FRequestFields || FRawValues || !IsReplyPacketType(FListRowPacketType)) return {};
  const TrdlDataRow* request = RequestRow(ARecord);
  if (request == nullptr) return {};
  return {request->ItemByName(AColumn.CaptionUtf8), true};
}

QVariant TLogTableModel::DisplayText(const TCell& ACell, const TViewColumn& AColumn) const {
  if (ACell.Item == nullptr) return QString();
  const std::string& raw = ACell.Item->RawText();
  // Only the value's start is read: what a cell can show, and room for a reference cut there.
  const size_t readBytes = kMaxCellBytes + 64;
  const std::string_view shown = std::string_view(raw).substr(0, readBytes);
  FCellText.clear();
  if (FRawValues) {
    FCellText.assign(shown);
  } else {
    AppendCellText(AColumn.Codes, shown, FCellText);
  }
  if (FCellText.size() > kMaxCellBytes) {
    CutUtf8(FCellText, kMaxCellBytes);
  } else if (raw.size() > readBytes) {
    FCellText += "\u2026";
  }
  return FromUtf8(FCellText);
}

bool TLogTableModel::BindColumn(TViewColumn& AColumn) const {
  const int index = FData.Columns().IndexOfName(AColumn.CaptionUtf8);
  if (index < 0) return false;
  const TrdlDataType type = FData.Columns().Columns(index)->DataType();
  AColumn.Binding = index;
  // A coded column reads as names, left aligned like text; raw, it is a number again.
  AColumn.RightAligned =
      (type == TrdlDataType::rdtInteger || type == TrdlDataType::rdtInt64) && (FRawValues || !AColumn.Codes.HasNames());
  return true;
}

bool TLogTableModel::BindColumns() {
  bool changed = false;
  for (TViewColumn& column : FColumns) {
    if (column.Binding < 0 && BindColumn(column)) changed = true;
  }
  return changed;
}

// The Source column of a log that has no Source attribute: the record's file (its path as
// the tooltip).
QVariant TLogTableModel::SourceCell(int64_t ARecord, int ARole) const {
  if (ARole != Qt::DisplayRole && ARole != Qt::ToolTipRole) return {};
  const int file = FData.FileOfRecord(ARecord);
  if (file < 0) return QString();
  const QString path = FromUtf8(FData.FileNameOf(file));
  return ARole == Qt::ToolTipRole ? path : QFileInfo(path).fileName();
}

QVariant TLogTableModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid()) return {};
  const size_t column = static_cast<size_t>(AIndex.column());
  if (ARole == Qt::TextAlignmentRole) {
    const bool right = column < FColumns.size() && FColumns[column].RightAligned;
    return QVariant::fromValue(Qt::Alignment(right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  if (ARole != Qt::DisplayRole && ARole != Qt::BackgroundRole && ARole != Qt::ForegroundRole && ARole != Qt::FontRole &&
      ARole != Qt::ToolTipRole)
    return {};
  if (FSuspended && FSuspended()) return {};  // nothing is parsed while the store is rebuilt
  const int64_t record = RecordOfRow(AIndex.row());
  const TrdlDataRow* row = Row(record);
  if (row == nullptr) return ARole == Qt::DisplayRole ? QVariant(QString()) : QVariant();
  const bool marked = (ARole == Qt::BackgroundRole || ARole == Qt::FontRole) && CellMarked(AIndex.row(), AIndex.column());
  if (ARole == Qt::BackgroundRole) {
    if (marked) return QVariant(FindBrush());
    return FListRowPacketType == ptAccessReject ? QVariant(RefusalBrush()) : QVariant();
  }
  if (FColumns.empty()) return ARole == Qt::DisplayRole ? QVariant(QString::number(record)) : QVariant();
  TViewColumn& viewColumn = const_cast<TViewColumn&>(FColumns[column]);  // binding is a cache
  if (viewColumn.Binding < 0 && BindColumn(viewColumn)) {
    // The alignment of this column's cells changes with its first binding.
    auto* self = const_cast<TLogTableModel*>(this);
    QMetaObject::invokeMethod(
        self,
        [self, column] {
          if (self->FRowCount <= 0 || column >= self->FColumns.size()) return;
          emit self->dataChanged(self->index(0, static_cast<int>(column)),
                                 self->index(self->FRowCount - 1, static_cast<int>(column)));
        },
        Qt::QueuedConnection);
  }
  if (viewColumn.Binding < 0 && viewColumn.CaptionUtf8 == kSourceColumn) return SourceCell(record, ARole);
  const TCell cell = CellAt(record, viewColumn);
  switch (ARole) {
    case Qt::DisplayRole:
      return DisplayText(cell, viewColumn);
    case Qt::ForegroundRole:
      return cell.Inherited ? QVariant(QApplication::palette().brush(QPalette::PlaceholderText)) : QVariant();
    case Qt::FontRole: {
      if (!cell.Inherited && !marked) return {};
      QFont font;
      font.setItalic(cell.Inherited);
      font.setBold(marked);  // the mark shows also on a selected row, whose highlight hides the tint
      return font;
    }
    case Qt::ToolTipRole:
      return cell.Inherited && cell.Item != nullptr
                 ? QVariant(QStringLiteral("From the request, record %1").arg(RequestOfRecord(record) + 1))
                 : QVariant();
    default:
      return {};
  }
}

void TLogTableModel::SetRawValues(bool AValue) {
  if (AValue == FRawValues) return;
  FRawValues = AValue;
  for (TViewColumn& column : FColumns) {
    if (column.Binding >= 0) BindColumn(column);
  }
  AllChanged();
}

void TLogTableModel::SetRequestFields(bool AValue) {
  if (AValue == FRequestFields) return;
  FRequestFields = AValue;
  AllChanged();
}

void TLogTableModel::ForgetRows() {
  FListRowIndex = -1;
  FMarksRecord = -1;
  FRequestOfReply.clear();
  FRequestRowIndex = -1;
}

void TLogTableModel::AllChanged() {
  if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, columnCount() - 1));
  emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

QVariant TLogTableModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation != Qt::Horizontal) return {};
  const size_t section = static_cast<size_t>(ASection);
  if (ARole == Qt::DisplayRole) return section < FColumns.size() ? FColumns[section].Caption : QString();
  if (ARole == Qt::TextAlignmentRole && section < FColumns.size()) {
    return QVariant::fromValue(Qt::Alignment(FColumns[section].RightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  return {};
}

void TLogTableModel::ResetRows(int ACount) {
  ForgetRows();
  beginResetModel();
  FFiltered = false;
  FFilterRows.clear();
  FFilterRows.shrink_to_fit();
  FRowCount = ACount;
  FRecordCount = ACount;
  endResetModel();
}

void TLogTableModel::SetRowCount(int ACount) {
  ForgetRows();
  if (ACount == FRowCount && !FFiltered) {
    // The same number of rows (an export, or the same log again): keep the selection, redraw.
    if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, columnCount() - 1));
    return;
  }
  ResetRows(ACount);
}

void TLogTableModel::SetViewColumns(const QStringList& ACaptions) {
  beginResetModel();
  FColumns.clear();
  FMarksRecord = -1;
  for (const QString& caption : ACaptions) {
    std::string name = ToUtf8(caption);
    const TCodedAttribute codes = TCodedAttribute::Of(name);
    FColumns.push_back(TViewColumn{caption, std::move(name), -1, false, codes});
  }
  FListRowIndex = -1;
  endResetModel();
}

// --- the window ------------------------------------------------------------------------------------

TfrmMain::TfrmMain(TMainWindowContext AContext, QWidget* AParent, std::function<void(const QString& AMessage)> AShowError)
    : QMainWindow(AParent),
      ShowError(std::move(AShowError)),
      FData(AContext.Data),
      FSettings(AContext.Settings),
      FStartFile(std::move(AContext.StartFile)) {
  setWindowTitle(kProgramTitle);
  setAcceptDrops(true);  // a log dropped onto the window opens
  if (!ShowError) ShowError = [this](const QString& AMessage) { QMessageBox::critical(this, kProgramTitle, AMessage); };
  ShowNotice = [this](const QString& AMessage) { QMessageBox::information(this, kProgramTitle, AMessage); };
  ConfirmOverwrite = [this](const QString& AFileName) {
    return QMessageBox::question(this, "Export records", QStringLiteral("%1 already exists.\nReplace it?").arg(AFileName),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  SelectLogFiles = [this](std::vector<std::string>& AFileNames) { return DefaultSelectLogFiles(AFileNames); };
  SelectLogFolder = [this](std::string& AFolder) { return DefaultSelectLogFolder(AFolder); };
  ChooseSetFiles = [this](std::vector<TSetFileChoice>& AFiles) { return DefaultChooseSetFiles(AFiles); };
  SelectExportFile = [this](std::string& AFileName, TDataExportFormat& AFormat) {
    return DefaultSelectExportFile(AFileName, AFormat);
  };
  ColumnsDialog = [this](const QString& AAll, const QString& ADefaults, QString& ACurrent) {
    return ExecuteColumnsDialog(AAll, ADefaults, ACurrent, &FSettings);
  };
  FExchangeFinder = std::make_unique<TExchangeFinder>(FData);
  CreateActions();
  CreateSummary();
  CreateMenus();
  CreateToolBar();
  CreateClient();
  CreateStatusBar();

  tmrItemDetails = new QTimer(this);
  tmrItemDetails->setSingleShot(true);
  tmrItemDetails->setInterval(50);
  connect(tmrItemDetails, &QTimer::timeout, this, [this] { Guarded([this] { tmrItemDetailsTimer(); }); });
  tmrItemDetails->start();
  tmrSplash = new QTimer(this);
  tmrSplash->setSingleShot(true);
  tmrSplash->setInterval(1000);
  connect(tmrSplash, &QTimer::timeout, this, [this] { tmrSplashTimer(); });

  // Actions are enabled by what holds when the application has nothing else to do.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmMain::UpdateActions);
  }
  ApplyDefaultGeometry();
  Guarded([this] { LoadLayout(); });
  UpdateStatusBar();
  UpdateActions();
}

TfrmMain::~TfrmMain() {
  // The scans and the growth steps first: no match and no record may reach the list while
  // the window goes.
  FFilterScan.reset();
  FFindScan.reset();
  StopWatchingLog();
  if (!FLayoutSaved) {
    try {
      SaveLayout();
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): nothing to show it in any more
    }
  }
  EndProgress();
  FModel->SetSuspended(nullptr);
  lvData->setModel(nullptr);
}

void TfrmMain::Guarded(const std::function<void()>& AWork) {
  try {
    AWork();
  } catch (const std::exception& error) {
    EndProgress();
    if (ShowError) ShowError(QString::fromUtf8(error.what()));
  }
}

void TfrmMain::CreateActions() {
  const auto make = [this](const char* ACaption, const char* AHint, const char* AIcon) {
    auto* action = new QAction(ActionIcon(AIcon), ACaption, this);
    if (AHint != nullptr) {
      action->setToolTip(AHint);
      action->setStatusTip(AHint);
    }
    return action;
  };
  actOpen = make("&Open...", "Open a log file, or several as one", "folder_open");
  actOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  actOpenFolder = make("Open &folder...", "Open the logs of a folder as one", nullptr);
  actOpenFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  actReload = new QAction("Re&load", this);
  actReload->setShortcut(QKeySequence(Qt::Key_F5));
  actReload->setStatusTip("Open the log again, with the lines written since");
  actExport = make("&Export...", "Export the records to a CSV or XML file", "Export");
  actExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  actExit = make("E&xit", "Exit", "door_exit");
  actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  actColumnsCustomize = make("&Customize columns...", "Choose the columns of the list and their order", "table_selection_column");
  actDetails = make("&Details", "Show or hide the details pane of the selected record", "notebook");
  actDetails->setCheckable(true);
  actDetails->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  actAbout = make("&About", "About Velloran Viewer", "about");
  actAbout->setShortcut(QKeySequence(Qt::Key_F1));
  actCopy = new QAction("&Copy", this);
  actCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  actCopy->setStatusTip("Copy the selected records as tab-separated text, with a header line");
  actCopyRaw = new QAction("Copy &raw lines", this);
  actCopyRaw->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  actCopyRaw->setStatusTip("Copy the log's own lines of the selected records");
  actReopenLast = new QAction("Re&open last log at start", this);
  actReopenLast->setCheckable(true);
  actReopenLast->setStatusTip("Open the log that was open last when the program starts");
  CreateLiveActions();
  actFollowEnd->setIcon(ActionIcon("follow_end"));
  actCopyValue = new QAction("Copy &value", this);
  actCopyDetails = new QAction("Copy &all", this);
  actRawValues = new QAction("Show &raw values", this);
  actRawValues->setCheckable(true);
  actRawValues->setStatusTip("Show every value exactly as the log holds it: numbers instead of names, text still escaped");
  actRequestFields = new QAction("Show re&quest fields on replies", this);
  actRequestFields->setCheckable(true);
  actRequestFields->setChecked(true);
  actRequestFields->setStatusTip("Where a reply has no user, station or access point, show its request's (dimmed)");
  actGoToPartner = new QAction("&Go to reply", this);
  actGoToPartner->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
  actGoToPartner->setStatusTip("Select the reply of the selected request, or the request of the selected record");
  connect(actRawValues, &QAction::toggled, this, [this](bool AChecked) {
    FModel->SetRawValues(AChecked);
    FSettings.WriteBoolean(SettingsKeys::ShowRawValues, AChecked);
    FDetailsIndex = -1;  // the pane shows values in the new form
    if (DetailsVisible()) tmrItemDetails->start();
  });
  connect(actRequestFields, &QAction::toggled, this, [this](bool AChecked) {
    FModel->SetRequestFields(AChecked);
    FSettings.WriteBoolean(SettingsKeys::ShowRequestFields, AChecked);
    FDetailsIndex = -1;
    if (DetailsVisible()) tmrItemDetails->start();
  });
  actFind = new QAction("&Find...", this);
  actFind->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  actFind->setStatusTip("Find records with a query; F3 and Shift+F3 go to the next and the previous one");
  actFindNext = new QAction("Find &next", this);
  actFindNext->setShortcut(QKeySequence(Qt::Key_F3));
  actFindNext->setStatusTip("Select the next record that matches the find query");
  actFindPrevious = new QAction("Find pre&vious", this);
  actFindPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
  actFindPrevious->setStatusTip("Select the previous record that matches the find query");
  actFilter = new QAction("F&ilter...", this);
  actFilter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  actFilter->setStatusTip("Show only the records that match a query");
  actClearFilter = new QAction("C&lear filter", this);
  actClearFilter->setStatusTip("Show every record again");
  actFilterOnValue = new QAction("Filter on this &value", this);
  actExcludeValue = new QAction("E&xclude this value", this);
  connect(actFind, &QAction::triggered, this, [this] { ShowFindBar(); });
  connect(actFindNext, &QAction::triggered, this, [this] { Guarded([this] { FindNext(false); }); });
  connect(actFindPrevious, &QAction::triggered, this, [this] { Guarded([this] { FindNext(true); }); });
  connect(actFilter, &QAction::triggered, this, [this] {
    FilterBar->cbQuery->setFocus(Qt::ShortcutFocusReason);
    FilterBar->Edit()->selectAll();
  });
  connect(actClearFilter, &QAction::triggered, this, [this] { Guarded([this] { ClearFilter(); }); });
  connect(actFilterOnValue, &QAction::triggered, this,
          [this] { Guarded([this] { FilterOnCell(FPopupRow, FPopupColumn, false); }); });
  connect(actExcludeValue, &QAction::triggered, this,
          [this] { Guarded([this] { FilterOnCell(FPopupRow, FPopupColumn, true); }); });
  connect(actGoToPartner, &QAction::triggered, this, [this] { Guarded([this] { GoToPartner(); }); });
  connect(actOpen, &QAction::triggered, this, [this] { Guarded([this] { actOpenExecute(); }); });
  connect(actOpenFolder, &QAction::triggered, this, [this] { Guarded([this] { actOpenFolderExecute(); }); });
  connect(actExport, &QAction::triggered, this, [this] { Guarded([this] { actExportExecute(); }); });
  connect(actExit, &QAction::triggered, this, &QWidget::close);
  connect(actColumnsCustomize, &QAction::triggered, this, [this] { Guarded([this] { actColumnsCustomizeExecute(); }); });
  connect(actDetails, &QAction::triggered, this, [this](bool AChecked) { SetDetailsVisible(AChecked); });
  connect(actAbout, &QAction::triggered, this, [this] { Guarded([this] { actAboutExecute(); }); });
  connect(actReload, &QAction::triggered, this, [this] { Guarded([this] { ReloadLog(); }); });
  connect(actCopy, &QAction::triggered, this, [this] { Guarded([this] { CopySelectedRecords(false); }); });
  connect(actCopyRaw, &QAction::triggered, this, [this] { Guarded([this] { CopySelectedRecords(true); }); });
  connect(actReopenLast, &QAction::toggled, this,
          [this](bool AChecked) { FSettings.WriteBoolean(SettingsKeys::ReopenLastLog, AChecked); });
  connect(actCopyValue, &QAction::triggered, this, [this] {
    if (const QTreeWidgetItem* line = lvDetails->currentItem())
      QGuiApplication::clipboard()->setText(line->data(1, Qt::UserRole).toString());
  });
  connect(actCopyDetails, &QAction::triggered, this, [this] {
    QString text;
    for (int i = 0; i < lvDetails->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* line = lvDetails->topLevelItem(i);
      text += line->text(0) + '\t' + line->data(1, Qt::UserRole).toString() + '\n';
    }
    QGuiApplication::clipboard()->setText(text);
  });
}

void TfrmMain::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(actOpen);
  file->addAction(actOpenFolder);
  miOpenRecent = file->addMenu("Open &Recent");
  file->addAction(actReload);
  file->addAction(actExport);
  file->addSeparator();
  file->addAction(actExit);
  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addAction(actCopy);
  edit->addAction(actCopyRaw);
  edit->addSeparator();
  edit->addAction(actFind);
  edit->addAction(actFindNext);
  edit->addAction(actFindPrevious);
  edit->addSeparator();
  edit->addAction(actFilter);
  edit->addAction(actClearFilter);
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction(actColumnsCustomize);
  view->addSeparator();
  view->addAction(actDetails);
  view->addAction(actSummary);
  view->addAction(actGoToPartner);
  view->addSeparator();
  view->addAction(actRawValues);
  view->addAction(actRequestFields);
  view->addSeparator();
  view->addAction(actFollowEnd);
  view->addAction(actFollowNewest);
  view->addSeparator();
  view->addAction(actReopenLast);
  view->addAction(actKeepLineIndexes);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(actAbout);
  pmData = new QMenu(this);
  pmData->addAction(actFilterOnValue);
  pmData->addAction(actExcludeValue);
  pmData->addSeparator();
  pmData->addAction(actCopy);
  pmData->addAction(actCopyRaw);
  pmData->addSeparator();
  pmData->addAction(actColumnsCustomize);
  pmData->addSeparator();
  pmData->addAction(actDetails);
  pmData->addAction(actGoToPartner);
  pmRecentLogs = new QMenu(this);
}

void TfrmMain::CreateToolBar() {
  QToolBar* toolbar = addToolBar("Main");
  toolbar->setObjectName("tbrMain");
  toolbar->setMovable(false);
  toolbar->setIconSize(QSize(24, 24));
  toolbar->addAction(actOpen);
  if (auto* openButton = qobject_cast<QToolButton*>(toolbar->widgetForAction(actOpen))) {
    openButton->setMenu(pmRecentLogs);
    openButton->setPopupMode(QToolButton::MenuButtonPopup);
  }
  toolbar->addAction(actExport);
  toolbar->addSeparator();
  toolbar->addAction(actFollowEnd);
  toolbar->addSeparator();
  toolbar->addAction(actExit);
}

void TfrmMain::CreateClient() {
  auto* pnlClient = new QWidget(this);
  auto* clientLayout = new QHBoxLayout(pnlClient);
  clientLayout->setContentsMargins(4, 4, 4, 4);
  spltDetails = new QSplitter(Qt::Horizontal, pnlClient);
  spltDetails->setHandleWidth(4);
  spltDetails->setChildrenCollapsible(false);
  clientLayout->addWidget(spltDetails);

  FModel = new TLogTableModel(FData, this);
  FModel->SetSuspended([this] { return ProgressActive(); });
  // The list's pane: the filter bar, the find bar when it is asked for, the list.
  auto* pnlList = new QWidget(spltDetails);
  auto* listLayout = new QVBoxLayout(pnlList);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(4);
  CreateQueryBars(pnlList);
  listLayout->addWidget(FilterBar);
  listLayout->addWidget(FindBar);
  auto* list = new TLogListView(pnlList);
  list->OnCopy = [this](bool ARaw) { Guarded([this, ARaw] { CopySelectedRecords(ARaw); }); };
  // The first key typed in the list starts a new find text; the box then has the focus and
  // takes the next keys itself.
  list->OnTypeAhead = [this](const QString& AText) {
    const bool fresh = FindBar->isHidden() || !FindBar->cbQuery->hasFocus();
    ShowFindBar();
    if (fresh) FindBar->SetText(QString());
    FindBar->Edit()->end(false);
    FindBar->Edit()->insert(AText);
  };
  list->OnEnd = [this] { SetFollowEnd(true); };
  listLayout->addWidget(list, 1);
  lvData = list;
  lvData->setModel(FModel);
  lvData->setShowGrid(true);
  lvData->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvData->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvData->setTabKeyNavigation(false);  // Tab goes on to the details pane
  lvData->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvData->setWordWrap(false);
  lvData->setContextMenuPolicy(Qt::CustomContextMenu);
  lvData->verticalHeader()->hide();
  // Every row has the same height: the view then never measures rows it does not show.
  lvData->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvData->verticalHeader()->setDefaultSectionSize(lvData->fontMetrics().height() + 6);
  // A dragged header moves its column; the list's column set then takes the new order.
  lvData->horizontalHeader()->setSectionsMovable(true);
  connect(lvData->horizontalHeader(), &QHeaderView::sectionMoved, this, [this] {
    QMetaObject::invokeMethod(
        this, [this] { ApplyHeaderOrder(); }, Qt::QueuedConnection);
  });
  lvData->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvData->horizontalHeader(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint& APoint) { ShowHeaderMenu(APoint); });
  lvData->horizontalHeader()->setHighlightSections(false);
  lvData->horizontalHeader()->setStretchLastSection(false);
  // A double-click on a divider fits the column to the rows on screen: the view's own fit
  // would parse a thousand records around them.
  disconnect(lvData->horizontalHeader(), &QHeaderView::sectionHandleDoubleClicked, lvData, nullptr);
  connect(lvData->horizontalHeader(), &QHeaderView::sectionHandleDoubleClicked, this,
          [this](int ASection) { FitColumnToScreenRows(ASection); });
  connect(lvData, &QWidget::customContextMenuRequested, this, [this](const QPoint& APoint) { ShowListMenu(APoint); });
  connect(lvData->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& ACurrent) {
    FSelectAnchor = false;  // the user chose: a record the filter finds later takes nothing away
    // An earlier record chosen: the view stays with it rather than following the end.
    if (FollowEnd() && ACurrent.isValid() && ACurrent.row() < FModel->rowCount() - 1) SetFollowEnd(false);
    UpdateStatusBar();
  });
  // Only the user's own scrolling triggers actions; the value changes after the signal.
  connect(lvData->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this] { QTimer::singleShot(0, this, [this] { ListScrolledByUser(); }); });
  connect(lvData->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateStatusBar(); });
  connect(lvData, &QAbstractItemView::doubleClicked, this, [this] {
    if (SelectedIndex() >= 0) SetDetailsVisible(true);
  });

  pnlDetails = new QWidget(spltDetails);
  auto* detailsLayout = new QVBoxLayout(pnlDetails);
  detailsLayout->setContentsMargins(0, 0, 0, 0);
  detailsLayout->setSpacing(0);
  auto* pnlInfoHeader = new QWidget(pnlDetails);
  pnlInfoHeader->setFixedHeight(18);
  auto* headerLayout = new QHBoxLayout(pnlInfoHeader);
  headerLayout->setContentsMargins(0, 0, 0, 0);
  headerLayout->addStretch();
  auto* sbInfoClose = new QToolButton(pnlInfoHeader);
  sbInfoClose->setObjectName("sbInfoClose");
  sbInfoClose->setAutoRaise(true);
  sbInfoClose->setFixedSize(16, 18);
  sbInfoClose->setText(QString(QChar(0x2715)));
  sbInfoClose->setToolTip("Close");
  connect(sbInfoClose, &QToolButton::clicked, this, [this] { SetDetailsVisible(false); });
  headerLayout->addWidget(sbInfoClose);
  detailsLayout->addWidget(pnlInfoHeader);
  lblAnswer = new QLabel(pnlDetails);
  lblAnswer->setObjectName("lblAnswer");
  lblAnswer->setWordWrap(true);
  lblAnswer->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblAnswer->setContentsMargins(4, 4, 4, 6);
  QFont answerFont = lblAnswer->font();
  answerFont.setBold(true);
  lblAnswer->setFont(answerFont);
  detailsLayout->addWidget(lblAnswer);
  lvDetails = new QTreeWidget(pnlDetails);
  lvDetails->setColumnCount(2);
  lvDetails->setHeaderLabels({"Name", "Value"});
  lvDetails->setRootIsDecorated(false);
  lvDetails->setUniformRowHeights(true);
  lvDetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvDetails->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvDetails->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvDetails, &QWidget::customContextMenuRequested, this, [this](const QPoint& APoint) { ShowDetailsMenu(APoint); });
  // Values take what the pane leaves them; names fit the usual attribute names.
  lvDetails->header()->setStretchLastSection(true);
  lvDetails->header()->resizeSection(0, lvDetails->fontMetrics().horizontalAdvance(QStringLiteral("Client-Friendly-Name")) + 12);
  detailsLayout->addWidget(lvDetails, 3);
  auto* pnlExchangeHeader = new QWidget(pnlDetails);
  auto* exchangeHeaderLayout = new QHBoxLayout(pnlExchangeHeader);
  exchangeHeaderLayout->setContentsMargins(4, 6, 0, 2);
  exchangeHeaderLayout->addWidget(new QLabel("Exchange (same Class and server)", pnlExchangeHeader), 1);
  auto* sbGoToPartner = new QToolButton(pnlExchangeHeader);
  sbGoToPartner->setObjectName("sbGoToPartner");
  sbGoToPartner->setDefaultAction(actGoToPartner);
  sbGoToPartner->setToolButtonStyle(Qt::ToolButtonTextOnly);
  exchangeHeaderLayout->addWidget(sbGoToPartner);
  detailsLayout->addWidget(pnlExchangeHeader);
  lvExchange = new QTreeWidget(pnlDetails);
  lvExchange->setObjectName("lvExchange");
  lvExchange->setColumnCount(4);
  lvExchange->setHeaderLabels({"Record", "Timestamp", "Packet-Type", "Reason"});
  lvExchange->setRootIsDecorated(false);
  lvExchange->setUniformRowHeights(true);
  lvExchange->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvExchange->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvExchange->header()->setStretchLastSection(true);
  connect(lvExchange, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* AItem) {
    if (AItem != nullptr) SelectRecord(AItem->data(0, Qt::UserRole).toLongLong());
  });
  detailsLayout->addWidget(lvExchange, 2);
  spltDetails->addWidget(pnlList);
  spltDetails->addWidget(pnlDetails);
  spltDetails->setStretchFactor(0, 1);
  spltDetails->setStretchFactor(1, 0);
  pnlDetails->hide();
  connect(spltDetails, &QSplitter::splitterMoved, this, [this] {
    if (DetailsVisible() && spltDetails->sizes().size() == 2) FDetailsWidth = spltDetails->sizes()[1];
  });
  setCentralWidget(pnlClient);

  // The design columns, replaced by the restored (or default) set.
  FModel->SetViewColumns({"Timestamp", "Computer-Name", "User-Name"});
  for (int i = 0; i < 3; ++i)
    lvData->horizontalHeader()->resizeSection(i, DefaultColumnWidth(FModel->ViewColumns()[static_cast<size_t>(i)].Caption));
}

void TfrmMain::CreateStatusBar() {
  sbrPanel0 = new QLabel(this);
  sbrPanel0->setMinimumWidth(100);  // and wider as a large log's numbers need
  sbrPanel1 = new QLabel(this);
  sbrPanel1->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(sbrPanel0);
  statusBar()->addWidget(sbrPanel1, 1);
  sbrFilter = new QLabel(this);
  sbrFilter->hide();
  pbScan = new QProgressBar(this);
  pbScan->setRange(0, 100);
  pbScan->setMaximumWidth(120);
  pbScan->setMaximumHeight(sbrPanel0->sizeHint().height());
  pbScan->setTextVisible(false);
  pbScan->hide();
  sbrNewerLog = new QLabel(this);
  sbrNewerLog->hide();
  connect(sbrNewerLog, &QLabel::linkActivated, this, [this] {
    const std::string newer = FNewerLog;
    if (newer.empty()) return;
    Guarded([this, newer] {
      if (FData.IsSet()) {
        AddNewerToSet(newer);
      } else {
        LoadLog(newer, true);
      }
    });
  });
  statusBar()->addPermanentWidget(sbrNewerLog);
  statusBar()->addPermanentWidget(sbrFilter);
  statusBar()->addPermanentWidget(pbScan);
}

void TfrmMain::CreateQueryBars(QWidget* AParent) {
  const auto fieldNames = [this] { return CompletionFieldNames(); };
  FilterBar = new TQueryBar("Filter:", "Show only the records that match, e.g. User-Name = alice and Packet-Type = Access-Reject",
                            AParent);
  FilterBar->setObjectName("FilterBar");
  FilterBar->FieldNames = fieldNames;
  FilterBar->sbClear->setToolTip("Show every record (Esc)");
  connect(FilterBar, &TQueryBar::Entered, this, [this] { Guarded([this] { ApplyFilter(FilterBar->Text()); }); });
  connect(FilterBar, &TQueryBar::Escaped, this, [this] { Guarded([this] { ClearFilter(); }); });
  connect(FilterBar, &TQueryBar::Cleared, this, [this] { Guarded([this] { ClearFilter(); }); });

  FindBar = new TQueryBar("Find:", "Select the next record that matches (Enter, F3; Shift for the previous one)", AParent);
  FindBar->setObjectName("FindBar");
  FindBar->FieldNames = fieldNames;
  FindBar->sbClear->setToolTip("Close the find bar (Esc)");
  const auto stepButton = [this](QAction* AAction, QChar AArrow) {
    auto* button = new QToolButton(FindBar);
    button->setAutoRaise(true);
    button->setText(QString(AArrow));
    button->setToolTip(AAction->text().remove('&') + " (" + AAction->shortcut().toString(QKeySequence::NativeText) + ")");
    connect(button, &QToolButton::clicked, AAction, &QAction::trigger);
    return button;
  };
  lblFindState = new QLabel(FindBar);
  lblFindState->setObjectName("lblFindState");
  FindBar->AddTrailingWidget(lblFindState);
  FindBar->AddTrailingWidget(stepButton(actFindPrevious, QChar(0x25B2)));
  FindBar->AddTrailingWidget(stepButton(actFindNext, QChar(0x25BC)));
  connect(FindBar, &TQueryBar::Entered, this, [this](bool ABackward) { Guarded([this, ABackward] { FindNext(ABackward); }); });
  connect(FindBar, &TQueryBar::Escaped, this, [this] { HideFindBar(); });
  connect(FindBar, &TQueryBar::Cleared, this, [this] { HideFindBar(); });
  FindBar->hide();
}

void TfrmMain::ApplyDefaultGeometry() {
  resize(800, 600);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.left() + (area.width() - 800) / 2, area.top() + (area.height() - 600) / 2);
  }
}

void TfrmMain::UpdateActions() {
  actExport->setEnabled(FData.Count() > 0);
  actColumnsCustomize->setEnabled(FData.Columns().Count() > 0);
  const bool selected = SelectedIndex() >= 0;
  actDetails->setEnabled(selected || DetailsVisible());
  actReload->setEnabled(!FData.FileName().empty() && !ProgressActive());
  actCopy->setEnabled(selected);
  actCopyRaw->setEnabled(selected);
  actClearFilter->setEnabled(FModel->Filtered());
  UpdatePartnerAction();
}

int64_t TfrmMain::SelectedRecord() const { return FModel->RecordOfRow(SelectedIndex()); }

// The record the details pane and Go to work on: the current row when it is selected, else
// the first selected one. Selections are read as ranges: Ctrl+A on a large log selects
// millions of rows, which selectedRows() would list one by one.
int TfrmMain::SelectedIndex() const {
  const QItemSelectionModel* selection = lvData->selectionModel();
  const QModelIndex current = selection->currentIndex();
  if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex())) return current.row();
  int first = -1;
  for (const QItemSelectionRange& range : selection->selection()) {
    if (first < 0 || range.top() < first) first = range.top();
  }
  return first;
}

void TfrmMain::Trace(const std::string& AText) const {
  if (!platform::DebugOutputEnabled()) return;
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  const QString stamp =
      locale.toString(now.date(), QLocale::ShortFormat) + ' ' + locale.toString(now.time(), QLocale::LongFormat);
  platform::DebugOutput(ToUtf8(stamp) + ' ' + AText);
}

// --- opening a log -------------------------------------------------------------------------------

bool TfrmMain::DefaultSelectLogFiles(std::vector<std::string>& AFileNames) {
  const QString proposal = AFileNames.empty() ? QString() : FromUtf8(AFileNames.front());
  const QString start = proposal.isEmpty() ? QFileInfo(FromUtf8(platform::ExecutablePath())).absolutePath() : proposal;
  const QStringList chosen = QFileDialog::getOpenFileNames(this, "Open log files", start,
                                                           "Any Log files (*.log *.txt);;NPS Log files  (*.log);;Any files (*)");
  if (chosen.isEmpty()) return false;
  AFileNames.clear();
  for (const QString& name : chosen) AFileNames.push_back(ToUtf8(name));
  return true;
}

void TfrmMain::actOpenExecute() {
  std::string name = FData.FileName();
  if (name.empty()) {
    const std::vector<std::string> last = FilesOfEntry(FSettings.ReadString(SettingsKeys::LogFileName, ""));
    if (!last.empty()) name = last.front();
  }
  if (name.empty()) {
    const std::string program = platform::ExecutablePath();
    name = program.substr(0, program.rfind('/') + 1) + "vellorandata.log";
  }
  std::vector<std::string> names{name};
  if (SelectLogFiles && SelectLogFiles(names) && !names.empty()) LoadLogs(names);
}

void TfrmMain::LoadLog(const std::string& AFileName, bool AKeepFilter) { LoadLogs({AFileName}, AKeepFilter); }

void TfrmMain::LoadLogs(const std::vector<std::string>& AFileNames, bool AKeepFilter) {
  if (AFileNames.empty()) return;
  const std::string entry = EntryOfFiles(AFileNames);
  Trace("Loading " + entry);
  AddRecentFile(entry);
  RebuildRecentMenus();
  // The same log again (Reload) keeps the selected record where it still exists; another log
  // starts at its first row, left edge, with nothing selected and an empty details pane.
  const bool sameLog = AFileNames == FOpenFiles && FData.Count() > 0;
  const int64_t keep = sameLog ? SelectedRecord() : -1;
  // The scans read the file that is opened anew. A filter comes back on the same log; another
  // log starts with all its records.
  std::shared_ptr<const TCompiledQuery> filter = sameLog || AKeepFilter ? FFilterQuery : nullptr;
  const int64_t anchor = keep >= 0 ? keep : sameLog ? FFilterAnchor : -1;
  DropScans(filter != nullptr);
  ClearDetails();
  int64_t bytes = 0;
  for (const std::string& name : AFileNames) bytes += std::max<int64_t>(0, platform::LookupFile(name).Size);
  if (bytes > kProgressThreshold) BeginProgress("Loading", "Loading data, please wait...");
  FSettings.WriteString(SettingsKeys::LogFileName, entry);
  FOpenFiles = AFileNames;
  const uint32_t start = platform::TickCount();
  if (ProgressActive()) {
    FData.SetOnProgress(
        [this](void* ASender, int APercents, bool& AIsCanceled) { HandleProgress(ASender, APercents, AIsCanceled); });
  } else {
    FData.SetOnProgress(nullptr);
  }
  FLoading = true;
  FLoadCancelled = false;
  FLoadOutcome = TLoadOutcome::loNone;
  StopWatchingLog();
  PrepareLineIndex();
  try {
    if (AFileNames.size() == 1) {
      FData.Open(AFileNames.front());
    } else {
      FData.OpenSet(AFileNames, TLogSetOptions{TLogSetMerge::lsmAuto, StatedZones()});
    }
  } catch (...) {
    FLoading = false;
    EndProgress();
    FModel->ResetRows(0);  // no rows of the previous log may stay on show
    RefreshList();
    FSummary->Clear();
    throw;
  }
  FLoading = false;
  FData.SetOnProgress(nullptr);
  Trace("Load ticks " + std::to_string(platform::TickCount() - start));
  if (ProgressActive()) EndProgress();
  const uint32_t refreshStart = platform::TickCount();
  const int64_t whole = FData.WholeCount();
  FModel->ResetRows(static_cast<int>(std::min<int64_t>(whole, INT_MAX)));
  lvData->horizontalScrollBar()->setValue(0);
  lvData->scrollToTop();
  RefreshList();
  if (filter != nullptr && whole > 0) {
    FFilterAnchor = std::min<int64_t>(anchor, whole - 1);
    StartFilterScan(filter);
  } else if (keep >= 0) {
    SelectRecord(std::min<int64_t>(keep, whole - 1));
  }
  FSummaryKey.clear();  // the same names may hold other records now (a reload)
  RefreshSummary();
  // The watching starts once the first rows are on screen; a growth step finds what was
  // written meanwhile.
  tmrWatch->start();
  NoteLineIndex();
  ScrollToEndIfFollowing();
  Trace("refresh ticks " + std::to_string(platform::TickCount() - refreshStart));
  UpdateTitle();
  NoteLoadOutcome();
  if (!FData.Notices().empty() && ShowNotice) {
    QStringList notices;
    for (const std::string& notice : FData.Notices()) notices << FromUtf8(notice);
    ShowNotice(notices.join('\n'));
  }
}

// What the user must be told of the load just ended: a file that could not be opened (an
// error), one that holds no accounting events (a notice, once per load; its rows stay), a
// cancelled load (the status bar).
void TfrmMain::NoteLoadOutcome() {
  const TrdlLogMonitor& monitor = FData.LogMonitor();
  if (FLoadCancelled) {
    FLoadOutcome = TLoadOutcome::loCancelled;
  } else if (FData.Count() > 0 && !FData.HoldsEvents()) {
    FLoadOutcome = TLoadOutcome::loNoEvents;
  } else {
    FLoadOutcome = TLoadOutcome::loOpened;
  }
  UpdateStatusBar();
  if (!monitor.Active() && !monitor.LastErrorText().empty()) {
    ShowError(FromUtf8(monitor.LastErrorText()));
  } else if (FLoadOutcome == TLoadOutcome::loNoEvents && ShowNotice) {
    ShowNotice(LogStateText());
  }
}

void TfrmMain::ReloadLog() {
  if (!FOpenFiles.empty()) LoadLogs(FOpenFiles);
}

void TfrmMain::UpdateTitle() {
  const QString name = OpenLogsName();
  setWindowTitle(name.isEmpty() ? QString(kProgramTitle) : name + QString::fromUtf8(" \u2014 ") + kProgramTitle);
}

void TfrmMain::RefreshList() {
  const int64_t count = FData.WholeCount();
  if (FModel->Filtered()) {
    FModel->Redraw();
  } else {
    FModel->SetRowCount(static_cast<int>(std::min<int64_t>(count, INT_MAX)));
  }
  BindColumns();
  lvData->viewport()->update();
  UpdateStatusBar();
  if (DetailsVisible()) tmrItemDetails->start();
  lvData->setFocus();
}

void TfrmMain::BindColumns() {
  if (FModel->BindColumns() && FModel->rowCount() > 0) {
    emit FModel->dataChanged(FModel->index(0, 0), FModel->index(FModel->rowCount() - 1, FModel->columnCount() - 1));
  }
  lvData->horizontalHeader()->viewport()->update();
}

// The selected record's number and the log's count (a filter's count is its own panel's).
void TfrmMain::UpdateStatusBar() {
  const int64_t selected = SelectedRecord();
  const int64_t count = FModel->RecordCount();
  QString position = selected >= 0 ? GroupedNumber(selected + 1) + ':' : QStringLiteral("-:");
  position += count <= 0 ? QStringLiteral("-") : GroupedNumber(count);
  sbrPanel0->setText(position);
  sbrPanel1->setText(LogStateText());
  UpdateFilterStatus();
  if (DetailsVisible()) tmrItemDetails->start();  // restarts: 50 ms after the last change
}

// The open log's name and what is special about it: why it could not be opened, that it
// holds no events, that its loading was cancelled, that its lines end in LF only.
QString TfrmMain::LogStateText() const {
  const QString file = FData.IsSet() ? SelectedFileText() : FromUtf8(FData.FileName());
  const TrdlLogMonitor& monitor = FData.LogMonitor();
  if (!monitor.LastErrorText().empty() && FModel->RecordCount() <= 0)
    return file + " (" + FromUtf8(monitor.LastErrorText()) + ")";
  switch (FLoadOutcome) {
    case TLoadOutcome::loCancelled:
      return "Loading cancelled: " + file;
    case TLoadOutcome::loNoEvents:
      return file + " holds no accounting events";
    default:
      break;
  }
  if (!FLiveNotice.isEmpty()) return file + " \u2014 " + FLiveNotice;
  if (monitor.Active() && monitor.LineBreak() == TrdlLineBreak::lbLF)
    return file + " (lines end in LF only: read with LF as the line break)";
  if (!file.isEmpty() && FModel->RecordCount() <= 0 && FLoadOutcome == TLoadOutcome::loOpened) return file + " is empty";
  return file;
}

// --- the details pane -------------------------------------------------------------------------------

bool TfrmMain::DetailsVisible() const { return !pnlDetails->isHidden(); }

void TfrmMain::SetDetailsVisible(bool AValue) {
  actDetails->setChecked(AValue);
  if (AValue == DetailsVisible()) return;
  pnlDetails->setVisible(AValue);
  if (!AValue) return;
  ApplyDetailsWidth();
  tmrItemDetails->start();
}

// Before the window is laid out the splitter has no width to share: the first show applies
// the pane's width again.
void TfrmMain::ApplyDetailsWidth() {
  const QList<int> sizes = spltDetails->sizes();
  const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
  if (total > FDetailsWidth) spltDetails->setSizes({total - FDetailsWidth, FDetailsWidth});
}

void TfrmMain::ClearDetails() {
  lvDetails->clear();
  FDetailsIndex = -1;
  ShowExchange(-1);
}

void TfrmMain::tmrItemDetailsTimer() {
  tmrItemDetails->stop();
  if (DetailsVisible()) ShowRecordDetails(SelectedRecord());
}

void TfrmMain::ShowRecordDetails(int64_t ARecord) {
  if (ARecord == FDetailsIndex && ARecord >= 0) return;
  if (ARecord < 0 || ProgressActive() || !FData.GetRow(ARecord, FDetailsRow)) {
    ClearDetails();
    return;
  }
  const bool raw = FModel->RawValues();
  lvDetails->setUpdatesEnabled(false);
  int lines = 0;
  const auto addLine = [&](const TrdlDataRowItem* AItem, bool AFromRequest) {
    QTreeWidgetItem* line = lvDetails->topLevelItem(lines);
    if (line == nullptr) line = new QTreeWidgetItem(lvDetails);
    ++lines;
    const std::string name = AItem->Column() != nullptr ? AItem->Column()->ColumnName() : std::string();
    line->setText(0, FromUtf8(name));
    // The whole value stays with the line (Copy value); the pane shows its start: laying out
    // a megabyte of text would freeze the window.
    QString value = FromUtf8(raw ? AItem->RawText() : DetailText(name, AItem->RawText()));
    line->setData(1, Qt::UserRole, value);
    QString tip = AFromRequest ? QStringLiteral("From the request") : QString();
    if (value.size() > kMaxDetailChars) {
      tip = WrappedStart(value, kMaxDetailChars * 2) + QString::fromUtf8("\u2026\n\n") + GroupedNumber(value.size()) +
            " characters: Copy value copies them all";
      value = value.left(kMaxDetailChars) + QString::fromUtf8("\u2026 (") + GroupedNumber(value.size()) + " characters)";
    }
    line->setText(1, value);
    QFont font = lvDetails->font();
    font.setItalic(AFromRequest);
    const QBrush brush = AFromRequest ? lvDetails->palette().brush(QPalette::PlaceholderText) : QBrush();
    for (int column = 0; column < 2; ++column) {
      line->setFont(column, font);
      line->setForeground(column, brush);
      line->setToolTip(column, tip);
    }
  };
  for (int j = 0; j < FDetailsRow.Count(); ++j) addLine(FDetailsRow.Items(j), false);
  // A reply's user, station and access point are its request's: listed after its own, dimmed.
  const int64_t request = FModel->RequestFields() && !raw ? FModel->RequestOfRecord(ARecord) : -1;
  if (request >= 0 && FData.ParseRecord(request, FExchangeRow)) {
    for (int j = 0; j < FExchangeRow.Count(); ++j) {
      const TrdlDataRowItem* item = FExchangeRow.Items(j);
      if (item->Column() != nullptr && FDetailsRow.ItemByName(item->Column()->ColumnName()) == nullptr) addLine(item, true);
    }
  }
  while (lvDetails->topLevelItemCount() > lines) delete lvDetails->takeTopLevelItem(lvDetails->topLevelItemCount() - 1);
  lvDetails->setUpdatesEnabled(true);
  FDetailsIndex = ARecord;
  ++FDetailsFills;
  ShowExchange(ARecord);
}

void TfrmMain::ShowExchange(int64_t ARecord) {
  FDetailsExchange = ARecord >= 0 ? FExchangeFinder->Find(ARecord) : TExchange();
  lblAnswer->setText(FromUtf8(FDetailsExchange.Answer));
  lblAnswer->setVisible(!FDetailsExchange.Answer.empty());
  FillExchange();
  UpdatePartnerAction();
}

// One line per record of the exchange: number (from 1, as the status bar counts), time,
// packet type and, for a refusal, its reason; the shown record in bold.
void TfrmMain::FillExchange() {
  lvExchange->setUpdatesEnabled(false);
  lvExchange->clear();
  for (const TExchangeMember& member : FDetailsExchange.Members) {
    if (!FData.ParseRecord(member.Record, FExchangeRow)) continue;
    auto* line = new QTreeWidgetItem(lvExchange);
    line->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(member.Record));
    line->setText(0, QString::number(member.Record + 1));
    line->setText(1, FromUtf8(DecodedText(FExchangeRow.ValueByName("Timestamp"))));
    std::string type;
    AppendCellText(TCodedAttribute::Of("Packet-Type"), FExchangeRow.ValueByName("Packet-Type"), type);
    line->setText(2, FromUtf8(type));
    if (member.PacketType == ptAccessReject) {
      line->setText(3, FromUtf8(DetailText("Reason-Code", FExchangeRow.ValueByName("Reason-Code"))));
      for (int column = 0; column < 4; ++column) line->setBackground(column, RefusalBrush());
    }
    if (member.Record == FDetailsExchange.Origin) {
      QFont bold = lvExchange->font();
      bold.setBold(true);
      for (int column = 0; column < 4; ++column) line->setFont(column, bold);
    }
  }
  lvExchange->resizeColumnToContents(0);
  lvExchange->resizeColumnToContents(1);
  lvExchange->resizeColumnToContents(2);
  lvExchange->setUpdatesEnabled(true);
}

void TfrmMain::UpdatePartnerAction() {
  const int64_t selected = ProgressActive() ? -1 : SelectedRecord();
  actGoToPartner->setText(FModel->PacketTypeOfRecord(selected) == ptAccessRequest ? "&Go to reply" : "&Go to request");
  actGoToPartner->setEnabled(selected >= 0);
}

void TfrmMain::GoToPartner() {
  const int64_t selected = SelectedRecord();
  if (selected < 0) return;
  const TExchange exchange = selected == FDetailsExchange.Origin ? FDetailsExchange : FExchangeFinder->Find(selected);
  if (exchange.Partner < 0) {
    statusBar()->showMessage(FromUtf8(exchange.Answer.empty() ? std::string("No partner found") : exchange.Answer), 5000);
    return;
  }
  SelectRecord(exchange.Partner);
}

bool TfrmMain::SelectRecord(int64_t ARecord) {
  if (ARecord < 0 || ARecord >= FModel->RecordCount()) return false;
  const int row = FModel->RowOfRecord(ARecord);
  if (row < 0) {
    statusBar()->showMessage(
        QStringLiteral("Record %1 is not among the records the filter shows").arg(GroupedNumber(ARecord + 1)), 5000);
    return false;
  }
  const QModelIndex target = FModel->index(row, std::max(0, lvData->currentIndex().column()));
  // Through the selection model: the view's own calls would extend the selection while Shift
  // is held (Shift+F3).
  lvData->selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  lvData->scrollTo(target, QAbstractItemView::EnsureVisible);
  return true;
}

// --- the progress display ---------------------------------------------------------------------------

TfrmProgressDialog* TfrmMain::ProgressDialog() const { return FProgressDialog; }

bool TfrmMain::ProgressActive() const { return FTaskbarProgress != nullptr && FTaskbarProgress->ShowInTaskbar(); }

void TfrmMain::BeginProgress(const QString& ACaption, const QString& AMessage) {
  if (FTaskbarProgress == nullptr) {
    FTaskbarProgress = std::make_unique<TTaskbarProgressIndicator>();
    FTaskbarProgress->SetSmooth(true);
    FTaskbarProgress->SetShowInTaskbar(true);
  }
  TfrmProgressDialog* dialog = FProgressDialog;
  if (dialog == nullptr) {
    dialog = new TfrmProgressDialog(qApp);
    FProgressDialog = dialog;
  }
  dialog->SetCaption(ACaption);
  dialog->SetMessage(AMessage);
  dialog->SetVisible(true);
}

void TfrmMain::SetProgress(int APercents) {
  if (FTaskbarProgress != nullptr) {
    FTaskbarProgress->SetShowInTaskbar(true);
    FTaskbarProgress->SetPosition(APercents);
  }
  setWindowTitle(QStringLiteral("%1% %2").arg(APercents).arg(kProgramTitle));
  if (TfrmProgressDialog* dialog = FProgressDialog) dialog->SetPosition(APercents);
}

void TfrmMain::HandleProgress(void*, int APercents, bool& AIsCanceled) {
  AIsCanceled = false;
  SetProgress(APercents);  // lets events run: the dialog may be gone afterwards
  const TfrmProgressDialog* dialog = FProgressDialog;
  if (ProgressActive() && dialog != nullptr && dialog->Canceled()) {
    EndProgress();
    AIsCanceled = true;
    FLoadCancelled = FLoading;
  }
}

void TfrmMain::EndProgress() {
  if (TfrmProgressDialog* dialog = FProgressDialog) {
    FProgressDialog = nullptr;
    dialog->SetVisible(false);
    delete dialog;
  }
  if (FTaskbarProgress != nullptr) {
    FTaskbarProgress.reset();
    UpdateTitle();
  }
}

// --- recent files -------------------------------------------------------------------------------------

void TfrmMain::AddRecentFile(const std::string& AFileName) {
  std::vector<std::string> list;
  LoadMRUList(FSettings, SettingsKeys::RecentSection, list);
  SaveMRUList(FSettings, SettingsKeys::RecentSection, list, AFileName);
}

void TfrmMain::RebuildRecentMenus() {
  std::vector<std::string> list;
  LoadMRUList(FSettings, SettingsKeys::RecentSection, list);
  for (QMenu* menu : {miOpenRecent, pmRecentLogs}) {
    menu->clear();
    for (size_t i = 0; i < list.size() && i <= 9; ++i) {
      const std::string path = list[i];
      QString text = EntryText(path);
      text.replace('&', "&&");  // a "&" in a path is a character, not an accelerator mark
      QAction* entry = menu->addAction(text);
      entry->setData(static_cast<int>(i));
      connect(entry, &QAction::triggered, this, [this, path] { OpenRecentEntry(path); });
    }
  }
}

void TfrmMain::OpenRecentEntry(const std::string& AFileName) {
  FRecentFile = AFileName;
  if (FRecentTimer == nullptr) {
    FRecentTimer = new QTimer(this);
    FRecentTimer->setSingleShot(true);
    FRecentTimer->setInterval(100);
    connect(FRecentTimer, &QTimer::timeout, this, [this] { Guarded([this] { OpenPendingRecent(); }); });
  }
  FRecentTimer->start();  // restarts: of clicks less than 100 ms apart only the last loads
}

void TfrmMain::OpenPendingRecent() {
  FRecentTimer->stop();
  LoadLogs(FilesOfEntry(FRecentFile));
}

// --- layout ---------------------------------------------------------------------------------------

int TfrmMain::DefaultColumnWidth(const QString& ACaption) const { return ContentWidth(lvData->fontMetrics(), ACaption); }

QString TfrmMain::DefaultWidths(const QString& ACaptions) const {
  QStringList widths;
  for (const QString& caption : ACaptions.split(QStringLiteral("\r\n"))) widths << QString::number(DefaultColumnWidth(caption));
  return widths.join(',');
}

void TfrmMain::FitColumnToScreenRows(int AColumn) {
  if (AColumn < 0 || AColumn >= FModel->columnCount()) return;
  const int first = std::max(0, lvData->rowAt(0));
  int last = lvData->rowAt(lvData->viewport()->height() - 1);
  if (last < 0) last = FModel->rowCount() - 1;
  const int margin = CellMargin(lvData->fontMetrics());
  int width = lvData->horizontalHeader()->sectionSizeHint(AColumn);
  for (int row = first; row <= last; ++row) {
    const QModelIndex cell = FModel->index(row, AColumn);
    const QVariant font = FModel->data(cell, Qt::FontRole);
    const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : lvData->font());
    width = std::max(width, metrics.horizontalAdvance(FModel->data(cell, Qt::DisplayRole).toString()) + margin);
  }
  lvData->horizontalHeader()->resizeSection(AColumn, width);
}

void TfrmMain::ApplyColumnSet(const QString& ACaptions, const QString& AWidths) {
  if (ACaptions.isEmpty()) return;
  QString captions = ACaptions;
  captions.replace("\r\n", ";").replace(',', ';').replace('|', ';');
  QHeaderView* header = lvData->horizontalHeader();
  const auto& current = FModel->ViewColumns();
  QStringList currentCaptions;
  QStringList currentWidths;
  for (size_t i = 0; i < current.size(); ++i) {
    currentCaptions << current[i].Caption;
    currentWidths << QString::number(header->sectionSize(static_cast<int>(i)));
  }
  if (!AWidths.isEmpty()) {
    captions.replace(';', ',');
    const QString c0 = currentCaptions.join(',');
    const QString w0 = currentWidths.join(',');
    if (captions == c0 && AWidths == w0) return;
    const QString widths = WithoutQuotes(AWidths);
    if (captions != c0) {
      captions = WithoutQuotes(captions);
      if (captions.isEmpty() || widths.isEmpty()) return;
      FModel->SetViewColumns(captions.split(','));
      for (int i = 0; i < CommaFieldCount(captions); ++i)
        header->resizeSection(i, WidthField(widths, i).value_or(DefaultColumnWidth(CommaField(captions, i))));
    } else if (!widths.isEmpty()) {
      for (int i = 0; i < CommaFieldCount(captions); ++i) {
        if (const std::optional<int> width = WidthField(widths, i)) header->resizeSection(i, *width);
      }
    }
    return;
  }
  // Columns that stay keep their widths (by caption, ignoring case); new ones fit their usual
  // content.
  std::vector<std::pair<QString, int>> remembered;
  for (size_t i = 0; i < current.size(); ++i)
    remembered.emplace_back(current[i].Caption, header->sectionSize(static_cast<int>(i)));
  const QStringList fields = captions.split(';');
  FModel->SetViewColumns(fields);
  for (int i = 0; i < fields.size(); ++i) {
    const auto found = std::find_if(remembered.begin(), remembered.end(), [&](const auto& AEntry) {
      return AEntry.first.compare(fields[i], Qt::CaseInsensitive) == 0;
    });
    header->resizeSection(i, found != remembered.end() ? found->second : DefaultColumnWidth(fields[i]));
  }
}

// Ten integers: flags, show state (1 normal, 2 minimised, 3 maximised), the minimised and the
// maximised position (x, y; -1 when the system chooses), and the normal bounds (left, top,
// right, bottom).
QString TfrmMain::PlacementToText() const {
  const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
  const int showCmd = isMinimized() ? 2 : isMaximized() ? 3 : 1;
  return QStringLiteral("0,%1,-1,-1,-1,-1,%2,%3,%4,%5")
      .arg(showCmd)
      .arg(normal.left())
      .arg(normal.top())
      .arg(normal.left() + normal.width())
      .arg(normal.top() + normal.height());
}

// A text of other than ten fields changes nothing; a field that is no integer is an error
// (reported by the caller, with what was applied before it kept).
void TfrmMain::TextToPlacement(const QString& AText) {
  if (CommaFieldCount(AText) != 10) return;
  int fields[10] = {};
  for (int i = 0; i < 10; ++i) {
    bool ok = false;
    fields[i] = CommaField(AText, i).toInt(&ok, 10);
    if (!ok) throw std::runtime_error("The stored window placement \"" + ToUtf8(AText) + "\" is not ten integers.");
  }
  if (fields[6] < fields[8] && fields[7] < fields[9]) {
    setGeometry(fields[6], fields[7], fields[8] - fields[6], fields[9] - fields[7]);
    FitIntoScreen();
  }
  const int show = fields[1] == 2 ? 1 : fields[1];
  if (show == 3) {
    setWindowState(Qt::WindowMaximized);
  } else if (show == 6 || show == 7) {
    setWindowState(Qt::WindowMinimized);
  } else {
    setWindowState(Qt::WindowNoState);
  }
}

// A restored placement made on another screen, or at another scaling (3200 x 2000 saved at 1x,
// read at 2x on 1600 x 1000), is shrunk to the available area of the screen it lands on and
// moved inside it.
void TfrmMain::FitIntoScreen() {
  const QScreen* target = QGuiApplication::screenAt(geometry().center());
  if (target == nullptr) target = QGuiApplication::primaryScreen();
  if (target == nullptr) return;
  const QRect area = target->availableGeometry();
  const QRect frame = frameGeometry();
  const QSize decoration = frame.size() - geometry().size();
  const QSize size = geometry().size().boundedTo(area.size() - decoration);
  const QRect fitted = FitInside(area, QRect(frame.topLeft(), size + decoration));
  setGeometry(QRect(fitted.topLeft() + (geometry().topLeft() - frame.topLeft()), size));
}

// One value of the layout that cannot be read costs that value only: it is reported with its
// key, and the rest of the layout is still read.
void TfrmMain::ReadSetting(std::string_view AKey, const std::function<void()>& ARead) {
  try {
    ARead();
  } catch (const std::exception& error) {
    if (ShowError) {
      ShowError(QStringLiteral("The setting %1 could not be read and keeps its default: %2")
                    .arg(FromUtf8(std::string(AKey)), QString::fromUtf8(error.what())));
    }
  }
}

void TfrmMain::LoadLayout() {
  RebuildRecentMenus();
  ReadSetting(SettingsKeys::FormPlacement, [this] {
    const QString placement = FromUtf8(FSettings.ReadString(SettingsKeys::FormPlacement, ""));
    if (!placement.isEmpty()) TextToPlacement(placement);
  });
  ReadSetting(SettingsKeys::ViewCaptions, [this] {
    QString captions = FromUtf8(FSettings.ReadString(SettingsKeys::ViewCaptions, ""));
    QString widths = FromUtf8(FSettings.ReadString(SettingsKeys::ViewWidths, ""));
    if (captions.isEmpty()) {
      captions = DefaultViewCaptions();
      widths = DefaultWidths(captions);
    }
    ApplyColumnSet(captions, widths);
  });
  ReadSetting(SettingsKeys::DetailsWidth,
              [this] { FDetailsWidth = FSettings.ReadInteger(SettingsKeys::DetailsWidth, FDetailsWidth); });
  ReadSetting(SettingsKeys::ShowRawValues,
              [this] { actRawValues->setChecked(FSettings.ReadBoolean(SettingsKeys::ShowRawValues, false)); });
  ReadSetting(SettingsKeys::ShowRequestFields,
              [this] { actRequestFields->setChecked(FSettings.ReadBoolean(SettingsKeys::ShowRequestFields, true)); });
  ReadSetting(SettingsKeys::ExportCodeNames,
              [this] { ExportCodeNames = FSettings.ReadBoolean(SettingsKeys::ExportCodeNames, false); });
  ReadSetting(SettingsKeys::ReopenLastLog,
              [this] { actReopenLast->setChecked(FSettings.ReadBoolean(SettingsKeys::ReopenLastLog, false)); });
  ReadSetting(SettingsKeys::FollowEnd,
              [this] { actFollowEnd->setChecked(FSettings.ReadBoolean(SettingsKeys::FollowEnd, false)); });
  ReadSetting(SettingsKeys::FollowNewest,
              [this] { actFollowNewest->setChecked(FSettings.ReadBoolean(SettingsKeys::FollowNewest, false)); });
  ReadSetting(SettingsKeys::KeepLineIndexes,
              [this] { actKeepLineIndexes->setChecked(FSettings.ReadBoolean(SettingsKeys::KeepLineIndexes, true)); });
  ReadSetting(SettingsKeys::DetailsColumnsWidths, [this] {
    const QString detailsWidths = FromUtf8(FSettings.ReadString(SettingsKeys::DetailsColumnsWidths, ""));
    for (int i = 0; i < 2 && !detailsWidths.isEmpty(); ++i) {
      if (const std::optional<int> width = WidthField(WithoutQuotes(detailsWidths), i))
        lvDetails->header()->resizeSection(i, *width);
    }
  });
  ReadSetting(SettingsKeys::DetailsVisible,
              [this] { SetDetailsVisible(FSettings.ReadBoolean(SettingsKeys::DetailsVisible, false)); });
  ReadSetting(SettingsKeys::SummaryVisible,
              [this] { SetSummaryVisible(FSettings.ReadBoolean(SettingsKeys::SummaryVisible, false)); });
  ReadSetting(SettingsKeys::QueryHistorySection, [this] {
    std::vector<std::string> queries;
    LoadMRUList(FSettings, SettingsKeys::QueryHistorySection, queries);
    FQueryHistory.clear();
    for (const std::string& query : queries) {
      if (FQueryHistory.size() < kQueryHistorySize && !query.empty()) FQueryHistory << FromUtf8(query);
    }
    FilterBar->SetHistory(FQueryHistory);
    FindBar->SetHistory(FQueryHistory);
  });
}

void TfrmMain::SaveLayout() {
  FLayoutSaved = true;
  FSettings.WriteString(SettingsKeys::FormPlacement, ToUtf8(PlacementToText()));
  QStringList captions;
  QStringList widths;
  const auto& columns = FModel->ViewColumns();
  for (size_t i = 0; i < columns.size(); ++i) {
    captions << columns[i].Caption;
    widths << QString::number(lvData->horizontalHeader()->sectionSize(static_cast<int>(i)));
  }
  FSettings.WriteString(SettingsKeys::ViewCaptions, ToUtf8(captions.join(',')));
  FSettings.WriteString(SettingsKeys::ViewWidths, ToUtf8(widths.join(',')));
  FSettings.WriteInteger(SettingsKeys::DetailsWidth, FDetailsWidth);
  FSettings.WriteBoolean(SettingsKeys::DetailsVisible, DetailsVisible());
  FSettings.WriteBoolean(SettingsKeys::SummaryVisible, SummaryVisible());
  FSettings.WriteString(
      SettingsKeys::DetailsColumnsWidths,
      ToUtf8(QStringLiteral("%1,%2").arg(lvDetails->header()->sectionSize(0)).arg(lvDetails->header()->sectionSize(1))));
}

// --- the other actions -------------------------------------------------------------------------------

bool TfrmMain::DefaultSelectExportFile(std::string& AFileName, TDataExportFormat& AFormat) {
  const QFileInfo proposal(FromUtf8(AFileName));
  const QString csvFilter = "CSV file (*.csv)";
  const QString xmlFilter = "XML file (*.xml)";
  const QString anyFilter = "Any files (*)";
  const bool proposesXml = proposal.suffix().compare("xml", Qt::CaseInsensitive) == 0;
  // The proposal's folder when it exists (a Documents folder may not), else the home folder:
  // the dialog then shows where the file will go, and the name field holds a bare name.
  QString folder = AFileName.empty() ? QFileInfo(FromUtf8(platform::ExecutablePath())).absolutePath() : proposal.absolutePath();
  if (!QFileInfo(folder).isDir()) folder = QDir::homePath();
  // Qt's own dialog, so that it can hold the code-names check box under the file list. The
  // window asks before it replaces a file, once the file type has given the name its extension.
  QFileDialog dialog(this, "Export records", folder, QStringList{csvFilter, xmlFilter, anyFilter}.join(";;"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
  dialog.selectNameFilter(proposesXml ? xmlFilter : csvFilter);
  if (!AFileName.empty()) dialog.selectFile(proposal.fileName());
  // Another file type renames the proposal, so that name and type never disagree.
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, csvFilter, xmlFilter](const QString& AFilter) {
    const QString extension = AFilter == csvFilter ? "csv" : AFilter == xmlFilter ? "xml" : QString();
    if (extension.isEmpty() || dialog.selectedFiles().isEmpty()) return;
    const QFileInfo chosen(dialog.selectedFiles().front());
    const QString suffix = chosen.suffix().toLower();
    if (suffix == "csv" || suffix == "xml") dialog.selectFile(chosen.completeBaseName() + '.' + extension);
  });
  auto* names = new QCheckBox("Write code names instead of numbers (Access-Reject, not 3)", &dialog);
  names->setObjectName("cbCodeNames");
  names->setChecked(ExportCodeNames);
  // With a filter on show: all records or those on show.
  QRadioButton* onShow = nullptr;
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (FModel->Filtered() && grid != nullptr) {
    auto* which = new QWidget(&dialog);
    auto* whichLayout = new QHBoxLayout(which);
    whichLayout->setContentsMargins(0, 0, 0, 0);
    auto* all = new QRadioButton(QStringLiteral("&All records (%1)").arg(GroupedNumber(FData.Count())), which);
    all->setObjectName("rbAllRecords");
    onShow = new QRadioButton(QStringLiteral("&Records on show (%1%2)")
                                  .arg(GroupedNumber(static_cast<int64_t>(FModel->FilterRows().size())),
                                       FilterRunning() ? QStringLiteral(" found so far") : QString()),
                              which);
    onShow->setObjectName("rbRecordsOnShow");
    (ExportRecordsOnShow ? onShow : all)->setChecked(true);
    whichLayout->addWidget(all);
    whichLayout->addWidget(onShow);
    whichLayout->addStretch();
    grid->addWidget(which, grid->rowCount(), 0, 1, grid->columnCount());
  }
  if (grid != nullptr) grid->addWidget(names, grid->rowCount(), 0, 1, grid->columnCount());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  if (onShow != nullptr) ExportRecordsOnShow = onShow->isChecked();
  ExportCodeNames = names->isChecked();
  FSettings.WriteBoolean(SettingsKeys::ExportCodeNames, ExportCodeNames);
  const QString filter = dialog.selectedNameFilter();
  const TExportChoice choice = filter == csvFilter   ? TExportChoice::ecCSV
                               : filter == xmlFilter ? TExportChoice::ecXML
                                                     : TExportChoice::ecAny;
  const TExportTarget target = ExportTargetFor(ToUtf8(dialog.selectedFiles().front()), choice);
  AFileName = target.FileName;
  AFormat = target.Format;
  return true;
}

void TfrmMain::actExportExecute() {
  std::string name = FSettings.ReadString(SettingsKeys::ExportFileName, "");
  if (name.empty()) {
    QString documents = FromUtf8(platform::SpecialFolderPath(platform::kCsidlPersonal)).trimmed();
    if (!documents.isEmpty() && !documents.endsWith('/')) documents += '/';
    name = ToUtf8(documents) + "velloran_export.csv";
  }
  TDataExportFormat format = ExportFormatOfFileName(name);
  if (!SelectExportFile || !SelectExportFile(name, format)) return;
  if (platform::FileExists(name) && ConfirmOverwrite && !ConfirmOverwrite(FromUtf8(name))) return;
  FSettings.WriteString(SettingsKeys::ExportFileName, name);
  TDataExportParams params;
  params.FileName = name;
  params.Format = format;
  params.Names = ExportCodeNames;
  // A copy: matches that a running filter finds while the export lets events run must not
  // move the vector the exporter reads.
  std::vector<uint32_t> onShow;
  const bool filtered = FModel->Filtered() && ExportRecordsOnShow;
  if (filtered) {
    onShow = FModel->FilterRows();
    params.Records = &onShow;
  }
  const bool partial = filtered && FilterRunning();
  const int64_t records = filtered ? static_cast<int64_t>(onShow.size()) : FData.Count();
  TDataExporter exporter(FData);
  if (platform::LookupFile(FData.FileName()).Size > kProgressThreshold) BeginProgress("Export", "Export data, please wait...");
  if (ProgressActive()) {
    exporter.SetOnProgress(
        [this](void* ASender, int APercents, bool& AIsCanceled) { HandleProgress(ASender, APercents, AIsCanceled); });
  }
  // Ended, cancelled or failed: the display ends and the list is drawn again; an error then
  // goes on to the message box.
  QElapsedTimer clock;
  clock.start();
  bool whole = false;
  try {
    whole = exporter.Execute(params);
  } catch (...) {
    if (ProgressActive()) EndProgress();
    RefreshList();
    throw;
  }
  if (ProgressActive()) EndProgress();
  RefreshList();
  const QString file = FromUtf8(name);
  QString message =
      whole ? QStringLiteral("Exported %1 records to %2 in %3 s")
                  .arg(GroupedNumber(records), file, QString::number(static_cast<double>(clock.elapsed()) / 1000.0, 'f', 1))
            : QStringLiteral("Export cancelled: %1 holds the records written until then").arg(file);
  if (whole && partial) message += " (the records the filter had found by then)";
  statusBar()->showMessage(message, 15000);
}

QString TfrmMain::JoinCaptions(const QString& ASeparator) const {
  QStringList captions;
  for (const auto& column : FModel->ViewColumns()) captions << column.Caption;
  return captions.join(ASeparator);
}

void TfrmMain::actColumnsCustomizeExecute() {
  QString current = JoinCaptions("|");
  QString all = FromUtf8(FData.Columns().GetAsString());
  // The file of each record, for a set of logs (a log that has a Source attribute shows it).
  if (FData.Columns().IndexOfName(kSourceColumn) < 0) all += (all.isEmpty() ? "" : "|") + QString::fromUtf8(kSourceColumn);
  QString defaults = DefaultViewCaptions();
  defaults.replace("\r\n", "|");
  if (!ColumnsDialog || !ColumnsDialog(all, defaults, current)) return;
  ApplyColumnChoice(current);
}

// A new column set (the dialog's, or one column hidden): columns that stay keep their
// widths, new ones fit their usual content, and the selected record stays selected.
void TfrmMain::ApplyColumnChoice(const QString& ACaptions) {
  const int64_t selected = SelectedRecord();
  ApplyColumnSet(ACaptions, QString());
  BindColumns();
  lvData->viewport()->update();
  SelectRecord(selected);
}

void TfrmMain::HideColumn(int AColumn) {
  const auto& columns = FModel->ViewColumns();
  if (AColumn < 0 || static_cast<size_t>(AColumn) >= columns.size() || columns.size() < 2) return;
  QStringList captions;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (static_cast<int>(i) != AColumn) captions << columns[i].Caption;
  }
  ApplyColumnChoice(captions.join('|'));
}

// A header dragged to another place: the column set takes the order on screen, so that what
// is saved, exported and offered by the column dialog is what the user sees. The header's
// own order goes back to identity with it.
void TfrmMain::ApplyHeaderOrder() {
  QHeaderView* header = lvData->horizontalHeader();
  const auto& columns = FModel->ViewColumns();
  if (static_cast<size_t>(header->count()) != columns.size()) return;
  QStringList captions;
  QList<int> widths;
  bool moved = false;
  for (int visual = 0; visual < header->count(); ++visual) {
    const int logical = header->logicalIndex(visual);
    moved = moved || logical != visual;
    captions << columns[static_cast<size_t>(logical)].Caption;
    widths << header->sectionSize(logical);
  }
  if (!moved) return;
  const int64_t selected = SelectedRecord();
  {
    const QSignalBlocker blocker(header);
    for (int logical = 0; logical < header->count(); ++logical) header->moveSection(header->visualIndex(logical), logical);
  }
  FModel->SetViewColumns(captions);
  for (int i = 0; i < widths.size(); ++i) header->resizeSection(i, widths[i]);
  BindColumns();
  SelectRecord(selected);
}

void TfrmMain::ShowHeaderMenu(const QPoint& APoint) {
  QHeaderView* header = lvData->horizontalHeader();
  const int column = header->logicalIndexAt(APoint);
  QMenu menu(this);
  if (column >= 0 && static_cast<size_t>(column) < FModel->ViewColumns().size()) {
    QAction* hide =
        menu.addAction(QStringLiteral("&Hide \"%1\"").arg(FModel->ViewColumns()[static_cast<size_t>(column)].Caption));
    hide->setEnabled(FModel->ViewColumns().size() > 1);
    connect(hide, &QAction::triggered, this, [this, column] { HideColumn(column); });
  }
  menu.addAction(actColumnsCustomize);
  menu.exec(header->viewport()->mapToGlobal(APoint));
}

void TfrmMain::ShowDetailsMenu(const QPoint& APoint) {
  actCopyValue->setEnabled(lvDetails->itemAt(APoint) != nullptr);
  actCopyDetails->setEnabled(lvDetails->topLevelItemCount() > 0);
  if (QTreeWidgetItem* line = lvDetails->itemAt(APoint)) lvDetails->setCurrentItem(line);
  QMenu menu(this);
  menu.addAction(actCopyValue);
  menu.addAction(actCopyDetails);
  menu.exec(lvDetails->viewport()->mapToGlobal(APoint));
}

// --- copying -------------------------------------------------------------------------------------

QString TfrmMain::SelectedRecordsText(bool ARaw) {
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange& range : lvData->selectionModel()->selection()) ranges.emplace_back(range.top(), range.bottom());
  std::sort(ranges.begin(), ranges.end());
  QString text;
  if (!ARaw) {
    text = JoinCaptions("\t") + '\n';
  }
  int64_t copied = 0;
  int last = -1;  // ranges of one selection may overlap
  for (const auto& [top, bottom] : ranges) {
    for (int row = std::max(top, last + 1); row <= bottom && copied < kMaxCopiedRecords; ++row, ++copied) {
      last = row;
      if (ARaw) {
        text += FromUtf8(std::string(FData.RawRecord(FModel->RecordOfRow(row)))) + '\n';
        continue;
      }
      for (int column = 0; column < FModel->columnCount(); ++column) {
        if (column > 0) text += '\t';
        // A tab or a line break inside a value would break the table apart.
        QString cell = FModel->index(row, column).data().toString();
        cell.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
        text += cell;
      }
      text += '\n';
    }
  }
  return text;
}

void TfrmMain::CopySelectedRecords(bool ARaw) {
  if (SelectedIndex() < 0) return;
  QGuiApplication::clipboard()->setText(SelectedRecordsText(ARaw));
  int64_t selected = 0;
  for (const QItemSelectionRange& range : lvData->selectionModel()->selection()) selected += range.height();
  const int64_t copied = std::min(selected, kMaxCopiedRecords);
  QString message = QStringLiteral("Copied %1 %2").arg(GroupedNumber(copied), copied == 1 ? "record" : "records");
  if (copied < selected) message += QStringLiteral(" of %1 selected (export writes any number)").arg(GroupedNumber(selected));
  statusBar()->showMessage(message, 5000);
}

void TfrmMain::actAboutExecute() {
  TfrmAbout about(this);
  about.exec();
}

// --- showing and closing -------------------------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* AEvent) {
  QMainWindow::showEvent(AEvent);
  if (FShownOnce) return;
  FShownOnce = true;
  if (FSplash != nullptr) tmrSplash->start();
  if (DetailsVisible()) ApplyDetailsWidth();
  if (FStartFile.empty() && actReopenLast->isChecked()) FStartFile = FSettings.ReadString(SettingsKeys::LogFileName, "");
  if (!FStartFile.empty()) {
    const std::vector<std::string> files = FilesOfEntry(FStartFile);
    // After this first paint: the window is on the screen while the log loads.
    QTimer::singleShot(0, this, [this, files] { Guarded([this, files] { LoadLogs(files); }); });
  }
}

void TfrmMain::tmrSplashTimer() {
  tmrSplash->stop();
  if (FSplash != nullptr) {
    FSplash->hide();
    FSplash->deleteLater();
    FSplash = nullptr;
  }
}

// A log file dropped onto the window opens (the first one, when several are dropped).
void TfrmMain::dragEnterEvent(QDragEnterEvent* AEvent) {
  const QMimeData* dropped = AEvent->mimeData();
  if (dropped != nullptr && dropped->hasUrls() && !dropped->urls().isEmpty() && dropped->urls().front().isLocalFile())
    AEvent->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* AEvent) {
  const QMimeData* dropped = AEvent->mimeData();
  if (dropped == nullptr || !dropped->hasUrls() || dropped->urls().isEmpty() || !dropped->urls().front().isLocalFile()) return;
  AEvent->acceptProposedAction();
  const std::string file = ToUtf8(dropped->urls().front().toLocalFile());
  // After the drop has ended: the source application is not kept waiting while the log loads.
  QTimer::singleShot(0, this, [this, file] { Guarded([this, file] { LoadLog(file); }); });
}

void TfrmMain::closeEvent(QCloseEvent* AEvent) {
  if (FRecentTimer != nullptr) FRecentTimer->stop();
  Guarded([this] { SaveLayout(); });
  QMainWindow::closeEvent(AEvent);
}

}  // namespace velloran
