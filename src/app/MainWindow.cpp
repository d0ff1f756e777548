#include "MainWindow.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
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
#include "DataModule.h"
#include "Exporter.h"
#include "LogData.h"
#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "PlatformSystem.h"
#include "ProgressDialog.h"
#include "SettingsKeys.h"
#include "Storage.h"

namespace velloran {

namespace {

constexpr const char* kProgramTitle = "Velloran Viewer";
constexpr int64_t kProgressThreshold = 20971520;  // bigger logs load with the progress display

QString FromUtf8(const std::string& AText) { return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size())); }
std::string ToUtf8(const QString& AText) { return AText.toUtf8().toStdString(); }

QIcon ActionIcon(const QString& AName) {
  QIcon icon;
  icon.addFile(QStringLiteral(":/velloran/icons/%1-16.png").arg(AName), QSize(16, 16));
  icon.addFile(QStringLiteral(":/velloran/icons/%1-24.png").arg(AName), QSize(24, 24));
  return icon;
}

// A text of two or more characters in one pair of double or single quotes loses them.
QString WithoutQuotes(const QString& AText) {
  if (AText.size() >= 2 && ((AText.front() == '"' && AText.back() == '"') || (AText.front() == '\'' && AText.back() == '\''))) {
    return AText.mid(1, AText.size() - 2);
  }
  return AText;
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

QString DefaultViewWidths() { return QStringLiteral("145,180,100,90,80,90"); }

QString CommaField(const QString& AText, int AIndex) {
  if (AText.isEmpty() || AIndex < 0) return {};
  const QStringList fields = AText.split(',');
  return AIndex < fields.size() ? fields[AIndex] : QString();
}

int CommaFieldCount(const QString& AText) { return AText.isEmpty() ? 0 : static_cast<int>(AText.count(',')) + 1; }

// --- the list's model ---------------------------------------------------------------------------

TLogTableModel::TLogTableModel(TData& AData, QObject* AParent) : QAbstractTableModel(AParent), FData(AData) {}

int TLogTableModel::rowCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : FRowCount; }

int TLogTableModel::columnCount(const QModelIndex& AParent) const {
  if (AParent.isValid()) return 0;
  return FColumns.empty() ? 1 : static_cast<int>(FColumns.size());  // no columns: the row number
}

const TrdlDataRow* TLogTableModel::Row(int AIndex) const {
  if (AIndex != FListRowIndex) {
    FListRowIndex = AIndex;
    ++FRowFetches;
    try {
      FListRowValid = FData.GetRow(AIndex, FListRow);
    } catch (const ErdlLogMonitorError&) {
      // A line that can no longer be read (the log shrank under the list, or a line too long
      // to read) shows as an empty row: an error raised from inside a paint would come back
      // for every cell on screen.
      FListRowValid = false;
    }
  }
  return FListRowValid ? &FListRow : nullptr;
}

bool TLogTableModel::BindColumn(TViewColumn& AColumn) const {
  const int index = FData.Columns().IndexOfName(AColumn.CaptionUtf8);
  if (index < 0) return false;
  const TrdlDataType type = FData.Columns().Columns(index)->DataType();
  AColumn.Binding = index;
  AColumn.RightAligned = type == TrdlDataType::rdtInteger || type == TrdlDataType::rdtInt64;
  return true;
}

bool TLogTableModel::BindColumns() {
  bool changed = false;
  for (TViewColumn& column : FColumns) {
    if (column.Binding < 0 && BindColumn(column)) changed = true;
  }
  return changed;
}

QVariant TLogTableModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || (ARole != Qt::DisplayRole && ARole != Qt::TextAlignmentRole)) return {};
  if (FSuspended && FSuspended()) return {};  // nothing is parsed while the store is rebuilt
  const size_t column = static_cast<size_t>(AIndex.column());
  if (ARole == Qt::TextAlignmentRole) {
    const bool right = column < FColumns.size() && FColumns[column].RightAligned;
    return QVariant::fromValue(Qt::Alignment(right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  const TrdlDataRow* row = Row(AIndex.row());
  if (row == nullptr) return QString();
  if (FColumns.empty()) return QString::number(AIndex.row());
  TViewColumn& viewColumn = const_cast<TViewColumn&>(FColumns[column]);  // binding is a cache
  if (viewColumn.Binding < 0 && BindColumn(viewColumn)) {
    // The alignment of this column's cells changes with its first binding.
    auto* self = const_cast<TLogTableModel*>(this);
    QMetaObject::invokeMethod(
        self,
        [self, column] {
          emit self->dataChanged(self->index(0, static_cast<int>(column)),
                                 self->index(self->FRowCount - 1, static_cast<int>(column)));
        },
        Qt::QueuedConnection);
  }
  return FromUtf8(row->ValueByName(viewColumn.CaptionUtf8));
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

void TLogTableModel::SetRowCount(int ACount) {
  FListRowIndex = -1;
  if (ACount == FRowCount) {
    // The same number of rows (an export, or the same log again): keep the selection, redraw.
    if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, columnCount() - 1));
    return;
  }
  beginResetModel();
  FRowCount = ACount;
  endResetModel();
}

void TLogTableModel::SetViewColumns(const QStringList& ACaptions) {
  beginResetModel();
  FColumns.clear();
  for (const QString& caption : ACaptions) FColumns.push_back(TViewColumn{caption, ToUtf8(caption), -1, false});
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
  if (!ShowError) ShowError = [this](const QString& AMessage) { QMessageBox::critical(this, kProgramTitle, AMessage); };
  SelectLogFile = [this](std::string& AFileName) { return DefaultSelectLogFile(AFileName); };
  SelectExportFile = [this](std::string& AFileName) { return DefaultSelectExportFile(AFileName); };
  ColumnsDialog = [this](const QString& AAll, const QString& ADefaults, QString& ACurrent) {
    return ExecuteColumnsDialog(AAll, ADefaults, ACurrent, &FSettings);
  };
  CreateActions();
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
  actOpen = make("Open...", "Open file", "folder_open");
  actOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  actExport = make("&Export...", "Export data", "Export");
  actExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  actExit = make("E&xit", "Exit", "door_exit");
  actColumnsCustomize = make("Customize columns...", "Customize columns..", "table_selection_column");
  actDetails = make("Details...", nullptr, "notebook");
  actAbout = make("About", "About application", "about");
  connect(actOpen, &QAction::triggered, this, [this] { Guarded([this] { actOpenExecute(); }); });
  connect(actExport, &QAction::triggered, this, [this] { Guarded([this] { actExportExecute(); }); });
  connect(actExit, &QAction::triggered, this, &QWidget::close);
  connect(actColumnsCustomize, &QAction::triggered, this, [this] { Guarded([this] { actColumnsCustomizeExecute(); }); });
  connect(actDetails, &QAction::triggered, this, [this] { SetDetailsVisible(!DetailsVisible()); });
  connect(actAbout, &QAction::triggered, this, [this] { Guarded([this] { actAboutExecute(); }); });
}

void TfrmMain::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(actOpen);
  miOpenRecent = file->addMenu("Open &Recent");
  file->addAction(actExport);
  file->addSeparator();
  file->addAction(actExit);
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction(actColumnsCustomize);
  view->addSeparator();
  view->addAction(actDetails);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(actAbout);
  pmData = new QMenu(this);
  pmData->addAction(actColumnsCustomize);
  pmData->addSeparator();
  pmData->addAction(actDetails);
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
  lvData = new QTableView(spltDetails);
  lvData->setModel(FModel);
  lvData->setShowGrid(true);
  lvData->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvData->setSelectionMode(QAbstractItemView::SingleSelection);
  lvData->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvData->setWordWrap(false);
  lvData->setContextMenuPolicy(Qt::CustomContextMenu);
  lvData->verticalHeader()->hide();
  // Every row has the same height: the view then never measures rows it does not show.
  lvData->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvData->verticalHeader()->setDefaultSectionSize(lvData->fontMetrics().height() + 6);
  lvData->horizontalHeader()->setSectionsMovable(false);
  lvData->horizontalHeader()->setHighlightSections(false);
  lvData->horizontalHeader()->setStretchLastSection(false);
  connect(lvData, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& APoint) { pmData->popup(lvData->viewport()->mapToGlobal(APoint)); });
  connect(lvData->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateStatusBar(); });
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
  lvDetails = new QTreeWidget(pnlDetails);
  lvDetails->setColumnCount(2);
  lvDetails->setHeaderLabels({"Name", "Value"});
  lvDetails->setRootIsDecorated(false);
  lvDetails->setUniformRowHeights(true);
  lvDetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvDetails->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvDetails->header()->setStretchLastSection(false);
  lvDetails->header()->resizeSection(0, 80);
  lvDetails->header()->resizeSection(1, 80);
  detailsLayout->addWidget(lvDetails);
  spltDetails->addWidget(lvData);
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
  lvData->horizontalHeader()->resizeSection(0, 100);
  lvData->horizontalHeader()->resizeSection(1, 120);
  lvData->horizontalHeader()->resizeSection(2, 100);
}

void TfrmMain::CreateStatusBar() {
  sbrPanel0 = new QLabel(this);
  sbrPanel0->setFixedWidth(100);
  sbrPanel1 = new QLabel(this);
  sbrPanel1->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(sbrPanel0);
  statusBar()->addWidget(sbrPanel1, 1);
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
  actDetails->setEnabled(SelectedIndex() >= 0);
}

int TfrmMain::SelectedIndex() const {
  const QModelIndexList rows = lvData->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
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

bool TfrmMain::DefaultSelectLogFile(std::string& AFileName) {
  const QString proposal = FromUtf8(AFileName);
  const QString start = proposal.isEmpty() ? QFileInfo(FromUtf8(platform::ExecutablePath())).absolutePath() : proposal;
  const QString chosen = QFileDialog::getOpenFileName(this, "Open log file", start,
                                                      "Any Log files (*.log *.txt);;NPS Log files  (*.log);;Any files (*)");
  if (chosen.isEmpty()) return false;
  AFileName = ToUtf8(chosen);
  return true;
}

void TfrmMain::actOpenExecute() {
  std::string name = FData.FileName();
  if (name.empty()) name = FSettings.ReadString(SettingsKeys::LogFileName, "");
  if (name.empty()) {
    const std::string program = platform::ExecutablePath();
    name = program.substr(0, program.rfind('/') + 1) + "vellorandata.log";
  }
  if (SelectLogFile && SelectLogFile(name)) LoadLog(name);
}

void TfrmMain::LoadLog(const std::string& AFileName) {
  Trace("Loading " + AFileName);
  AddRecentFile(AFileName);
  RebuildRecentMenus();
  if (platform::LookupFile(AFileName).Size > kProgressThreshold) BeginProgress("Loading", "Loading data, please wait...");
  FSettings.WriteString(SettingsKeys::LogFileName, AFileName);
  const uint32_t start = platform::TickCount();
  if (ProgressActive()) {
    FData.SetOnProgress(
        [this](void* ASender, int APercents, bool& AIsCanceled) { HandleProgress(ASender, APercents, AIsCanceled); });
  } else {
    FData.SetOnProgress(nullptr);
  }
  FDetailsIndex = -1;  // the pane's record belongs to the previous log
  try {
    FData.Open(AFileName);
  } catch (...) {
    EndProgress();
    RefreshList();  // no rows of the previous log may stay on show
    throw;
  }
  FData.SetOnProgress(nullptr);
  Trace("Load ticks " + std::to_string(platform::TickCount() - start));
  if (ProgressActive()) EndProgress();
  const uint32_t refreshStart = platform::TickCount();
  RefreshList();
  Trace("refresh ticks " + std::to_string(platform::TickCount() - refreshStart));
}

void TfrmMain::RefreshList() {
  const int64_t count = FData.Count();
  FModel->SetRowCount(static_cast<int>(std::min<int64_t>(count, INT_MAX)));
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

void TfrmMain::UpdateStatusBar() {
  const int selected = SelectedIndex();
  const int count = FModel->rowCount();
  QString position = selected >= 0 ? QStringLiteral("%1:").arg(selected + 1) : QStringLiteral("-:");
  position += count <= 0 ? QStringLiteral("-") : QString::number(count);
  sbrPanel0->setText(position);
  QString file = FromUtf8(FData.FileName());
  // A log that could not be opened says why beside its name.
  if (!FData.LogMonitor().LastErrorText().empty() && count <= 0) {
    file += " (" + FromUtf8(FData.LogMonitor().LastErrorText()) + ")";
  }
  sbrPanel1->setText(file);
  if (DetailsVisible()) tmrItemDetails->start();  // restarts: 50 ms after the last change
}

// --- the details pane -------------------------------------------------------------------------------

bool TfrmMain::DetailsVisible() const { return !pnlDetails->isHidden(); }

void TfrmMain::SetDetailsVisible(bool AValue) {
  if (AValue == DetailsVisible()) return;
  pnlDetails->setVisible(AValue);
  if (!AValue) return;
  const QList<int> sizes = spltDetails->sizes();
  const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
  if (total > FDetailsWidth) spltDetails->setSizes({total - FDetailsWidth, FDetailsWidth});
  tmrItemDetails->start();
}

void TfrmMain::tmrItemDetailsTimer() {
  tmrItemDetails->stop();
  if (DetailsVisible()) ShowRecordDetails(SelectedIndex());
}

void TfrmMain::ShowRecordDetails(int AIndex) {
  if (AIndex == FDetailsIndex) return;
  if (AIndex < 0 || ProgressActive() || !FData.GetRow(AIndex, FDetailsRow)) {
    lvDetails->clear();
    FDetailsIndex = -1;
    return;
  }
  const int count = FDetailsRow.Count();
  lvDetails->setUpdatesEnabled(false);
  for (int j = 0; j < count; ++j) {
    const TrdlDataRowItem* item = FDetailsRow.Items(j);
    QTreeWidgetItem* line = lvDetails->topLevelItem(j);
    if (line == nullptr) line = new QTreeWidgetItem(lvDetails);
    line->setText(0, item->Column() != nullptr ? FromUtf8(item->Column()->ColumnName()) : QString());
    line->setText(1, FromUtf8(item->RawText()));
  }
  while (lvDetails->topLevelItemCount() > count) delete lvDetails->takeTopLevelItem(lvDetails->topLevelItemCount() - 1);
  lvDetails->setUpdatesEnabled(true);
  FDetailsIndex = AIndex;
  ++FDetailsFills;
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
  }
}

void TfrmMain::EndProgress() {
  if (TfrmProgressDialog* dialog = FProgressDialog) {
    FProgressDialog = nullptr;
    dialog->SetVisible(false);
    delete dialog;
  }
  if (FTaskbarProgress != nullptr) {
    setWindowTitle(kProgramTitle);
    FTaskbarProgress.reset();
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
      QString text = FromUtf8(path);
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
  LoadLog(FRecentFile);
}

// --- layout ---------------------------------------------------------------------------------------

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
      for (int i = 0; i < CommaFieldCount(captions); ++i) header->resizeSection(i, WidthField(widths, i).value_or(50));
    } else if (!widths.isEmpty()) {
      for (int i = 0; i < CommaFieldCount(captions); ++i) {
        if (const std::optional<int> width = WidthField(widths, i)) header->resizeSection(i, *width);
      }
    }
    return;
  }
  // Columns that stay keep their widths (by caption, ignoring case); new ones get 80.
  std::vector<std::pair<QString, int>> remembered;
  for (size_t i = 0; i < current.size(); ++i)
    remembered.emplace_back(current[i].Caption, header->sectionSize(static_cast<int>(i)));
  const QStringList fields = captions.split(';');
  FModel->SetViewColumns(fields);
  for (int i = 0; i < fields.size(); ++i) {
    const auto found = std::find_if(remembered.begin(), remembered.end(), [&](const auto& AEntry) {
      return AEntry.first.compare(fields[i], Qt::CaseInsensitive) == 0;
    });
    header->resizeSection(i, found != remembered.end() ? found->second : 80);
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
  if (fields[6] < fields[8] && fields[7] < fields[9])
    setGeometry(fields[6], fields[7], fields[8] - fields[6], fields[9] - fields[7]);
  const int show = fields[1] == 2 ? 1 : fields[1];
  if (show == 3) {
    setWindowState(Qt::WindowMaximized);
  } else if (show == 6 || show == 7) {
    setWindowState(Qt::WindowMinimized);
  } else {
    setWindowState(Qt::WindowNoState);
  }
}

void TfrmMain::LoadLayout() {
  RebuildRecentMenus();
  const QString placement = FromUtf8(FSettings.ReadString(SettingsKeys::FormPlacement, ""));
  if (!placement.isEmpty()) TextToPlacement(placement);
  QString captions = FromUtf8(FSettings.ReadString(SettingsKeys::ViewCaptions, ""));
  QString widths = FromUtf8(FSettings.ReadString(SettingsKeys::ViewWidths, ""));
  if (captions.isEmpty()) {
    captions = DefaultViewCaptions();
    widths = DefaultViewWidths();
  }
  ApplyColumnSet(captions, widths);
  FDetailsWidth = FSettings.ReadInteger(SettingsKeys::DetailsWidth, FDetailsWidth);
  const QString detailsWidths = FromUtf8(FSettings.ReadString(SettingsKeys::DetailsColumnsWidths, ""));
  for (int i = 0; i < 2 && !detailsWidths.isEmpty(); ++i) {
    if (const std::optional<int> width = WidthField(WithoutQuotes(detailsWidths), i))
      lvDetails->header()->resizeSection(i, *width);
  }
  SetDetailsVisible(FSettings.ReadBoolean(SettingsKeys::DetailsVisible, false));
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
  FSettings.WriteString(
      SettingsKeys::DetailsColumnsWidths,
      ToUtf8(QStringLiteral("%1,%2").arg(lvDetails->header()->sectionSize(0)).arg(lvDetails->header()->sectionSize(1))));
}

// --- the other actions -------------------------------------------------------------------------------

bool TfrmMain::DefaultSelectExportFile(std::string& AFileName) {
  const QFileInfo proposal(FromUtf8(AFileName));
  const QString filter = "CSV file (*.csv);;XML file  (*.xml);;Any files (*)";
  QString selected = proposal.suffix().compare("csv", Qt::CaseInsensitive) == 0 ? "CSV file (*.csv)" : "XML file  (*.xml)";
  const QString start =
      AFileName.empty() ? QFileInfo(FromUtf8(platform::ExecutablePath())).absolutePath() : proposal.absoluteFilePath();
  const QString chosen =
      QFileDialog::getSaveFileName(this, "Select file", start, filter, &selected, QFileDialog::DontConfirmOverwrite);
  if (chosen.isEmpty()) return false;
  AFileName = ToUtf8(chosen);
  return true;
}

void TfrmMain::actExportExecute() {
  std::string name = FSettings.ReadString(SettingsKeys::ExportFileName, "");
  if (name.empty()) {
    QString documents = FromUtf8(platform::SpecialFolderPath(platform::kCsidlPersonal)).trimmed();
    if (!documents.isEmpty() && !documents.endsWith('/')) documents += '/';
    name = ToUtf8(documents) + "velloran_export.xml";
  }
  if (!SelectExportFile || !SelectExportFile(name)) return;
  FSettings.WriteString(SettingsKeys::ExportFileName, name);
  TDataExportParams params;
  params.FileName = name;
  params.Format = ExportFormatOfFileName(name);
  TDataExporter exporter(FData);
  if (platform::LookupFile(FData.FileName()).Size > kProgressThreshold) BeginProgress("Export", "Export data, please wait...");
  if (ProgressActive()) {
    exporter.SetOnProgress(
        [this](void* ASender, int APercents, bool& AIsCanceled) { HandleProgress(ASender, APercents, AIsCanceled); });
  }
  // Ended, cancelled or failed: the display ends and the list is drawn again; an error then
  // goes on to the message box.
  try {
    exporter.Execute(params);
  } catch (...) {
    if (ProgressActive()) EndProgress();
    RefreshList();
    throw;
  }
  if (ProgressActive()) EndProgress();
  RefreshList();
}

QString TfrmMain::JoinCaptions(const QString& ASeparator) const {
  QStringList captions;
  for (const auto& column : FModel->ViewColumns()) captions << column.Caption;
  return captions.join(ASeparator);
}

void TfrmMain::actColumnsCustomizeExecute() {
  QString current = JoinCaptions("|");
  const QString all = FromUtf8(FData.Columns().GetAsString());
  QString defaults = DefaultViewCaptions();
  defaults.replace("\r\n", "|");
  if (!ColumnsDialog || !ColumnsDialog(all, defaults, current)) return;
  // Columns that stay keep their widths; new ones get 80 pixels.
  ApplyColumnSet(current, QString());
  BindColumns();
  lvData->viewport()->update();
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
  if (!FStartFile.empty()) {
    const std::string file = FStartFile;
    // After this first paint: the window is on the screen while the log loads.
    QTimer::singleShot(0, this, [this, file] { Guarded([this, file] { LoadLog(file); }); });
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

void TfrmMain::closeEvent(QCloseEvent* AEvent) {
  if (FRecentTimer != nullptr) FRecentTimer->stop();
  Guarded([this] { SaveLayout(); });
  QMainWindow::closeEvent(AEvent);
}

}  // namespace velloran
