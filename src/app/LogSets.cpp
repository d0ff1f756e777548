// The main window's sets of logs: Open folder and its check list of logs with their time
// zones, what recent entries and the title say of a set, the status bar's file of the
// selected record, and a newer log of the server joining an open set.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "LogData.h"
#include "LogFolder.h"
#include "MainWindow.h"
#include "SettingsKeys.h"
#include "Storage.h"

namespace velloran {

namespace {

// A set's entry: this mark, then its paths joined by "|" (a character Windows paths cannot
// hold). A path alone is a single log, as entries always were.
constexpr std::string_view kSetMark = "set|";

QString FileNameOnly(const std::string& APath) { return QFileInfo(FromUtf8(APath)).fileName(); }

std::vector<std::string> SplitAt(std::string_view AText, char ASeparator) {
  std::vector<std::string> parts;
  while (!AText.empty()) {
    const size_t end = AText.find(ASeparator);
    if (end != 0) parts.emplace_back(AText.substr(0, end));
    if (end == std::string_view::npos) break;
    AText.remove_prefix(end + 1);
  }
  return parts;
}

}  // namespace

std::string TfrmMain::EntryOfFiles(const std::vector<std::string>& AFiles) {
  if (AFiles.size() == 1) return AFiles.front();
  std::string entry(kSetMark);
  for (size_t i = 0; i < AFiles.size(); ++i) entry.append(i > 0 ? "|" : "").append(AFiles[i]);
  return entry;
}

std::vector<std::string> TfrmMain::FilesOfEntry(const std::string& AEntry) {
  if (AEntry.empty()) return {};
  if (AEntry.rfind(kSetMark, 0) != 0) return {AEntry};
  return SplitAt(std::string_view(AEntry).substr(kSetMark.size()), '|');
}

QString TfrmMain::EntryText(const std::string& AEntry) {
  const std::vector<std::string> files = FilesOfEntry(AEntry);
  if (files.size() <= 1) return FromUtf8(AEntry);
  const QString folder = QFileInfo(FromUtf8(files.front())).absolutePath();
  return QStringLiteral("%1 \u2026 %2 (%3 logs in %4)")
      .arg(FileNameOnly(files.front()), FileNameOnly(files.back()))
      .arg(files.size())
      .arg(folder);
}

QString TfrmMain::OpenLogsName() const {
  if (!FData.IsSet()) return FData.FileName().empty() ? QString() : FileNameOnly(FData.FileName());
  const int files = FData.FileCount();
  return QStringLiteral("%1 \u2026 %2 (%3 logs%4)")
      .arg(FileNameOnly(FData.FileNameOf(0)), FileNameOnly(FData.FileNameOf(files - 1)))
      .arg(files)
      .arg(FData.IsMerged() ? QStringLiteral(", merged by time") : QString());
}

QString TfrmMain::SelectedFileText() const {
  const int64_t record = SelectedRecord();
  const int file = record >= 0 ? FData.FileOfRecord(record) : -1;
  if (file < 0) return OpenLogsName();
  return QStringLiteral("%1 (log %2 of %3)").arg(FromUtf8(FData.FileNameOf(file))).arg(file + 1).arg(FData.FileCount());
}

// --- time zones ---------------------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> TfrmMain::StatedZones() const {
  std::vector<std::pair<std::string, std::string>> zones;
  for (const std::string& entry : SplitAt(FSettings.ReadString(SettingsKeys::LogTimeZones, ""), '|')) {
    const size_t equals = entry.rfind('=');
    if (equals != std::string::npos && equals + 1 < entry.size())
      zones.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
  }
  return zones;
}

void TfrmMain::SaveStatedZones(const std::vector<TSetFileChoice>& AFiles) {
  std::vector<std::pair<std::string, std::string>> zones = StatedZones();
  for (const TSetFileChoice& file : AFiles) {
    std::erase_if(zones, [&](const auto& AZone) { return AZone.first == file.Path; });
    if (!file.Zone.empty()) zones.emplace_back(file.Path, file.Zone);
  }
  std::string text;
  for (const auto& [path, zone] : zones) text.append(text.empty() ? "" : "|").append(path).append("=").append(zone);
  FSettings.WriteString(SettingsKeys::LogTimeZones, text);
}

// --- Open folder ----------------------------------------------------------------------------------------

bool TfrmMain::DefaultSelectLogFolder(std::string& AFolder) {
  const QString start = AFolder.empty() ? QString() : FromUtf8(AFolder);
  const QString chosen = QFileDialog::getExistingDirectory(this, "Open the logs of a folder", start);
  if (chosen.isEmpty()) return false;
  AFolder = ToUtf8(chosen);
  return true;
}

// The logs of the folder, each with a check box and the time zone of its server.
bool TfrmMain::DefaultChooseSetFiles(std::vector<TSetFileChoice>& AFiles) {
  QDialog dialog(this);
  dialog.setWindowTitle("Open folder");
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(
      "The logs to open as one. A time zone (UTC+1, -05:00, Europe/Berlin) puts servers of different zones in true order.",
      &dialog));
  auto* list = new QTreeWidget(&dialog);
  list->setColumnCount(2);
  list->setHeaderLabels({"Log", "Time zone"});
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  for (const TSetFileChoice& file : AFiles) {
    auto* item = new QTreeWidgetItem(list, {FileNameOnly(file.Path), FromUtf8(file.Zone)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    item->setCheckState(0, file.Chosen ? Qt::Checked : Qt::Unchecked);
    item->setToolTip(0, FromUtf8(file.Path));
  }
  list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QPushButton* none = buttons->addButton("Check none", QDialogButtonBox::ResetRole);
  QPushButton* all = buttons->addButton("Check all", QDialogButtonBox::ResetRole);
  const auto checkAll = [list](Qt::CheckState AState) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setCheckState(0, AState);
  };
  connect(none, &QPushButton::clicked, &dialog, [checkAll] { checkAll(Qt::Unchecked); });
  connect(all, &QPushButton::clicked, &dialog, [checkAll] { checkAll(Qt::Checked); });
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(560, 420);
  if (dialog.exec() != QDialog::Accepted) return false;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    AFiles[static_cast<size_t>(i)].Chosen = list->topLevelItem(i)->checkState(0) == Qt::Checked;
    AFiles[static_cast<size_t>(i)].Zone = ToUtf8(list->topLevelItem(i)->text(1).trimmed());
  }
  return true;
}

void TfrmMain::actOpenFolderExecute() {
  std::string folder = FData.FileName().empty() ? std::string() : std::filesystem::path(FData.FileName()).parent_path().string();
  if (!SelectLogFolder || !SelectLogFolder(folder)) return;
  std::vector<std::string> logs;
  try {
    logs = LogsInFolder(folder);
  } catch (const std::filesystem::filesystem_error& AError) {
    if (ShowError)
      ShowError(QStringLiteral("Cannot read the folder %1: %2").arg(FromUtf8(folder), FromUtf8(AError.code().message())));
    return;
  }
  if (logs.empty()) {
    if (ShowNotice) ShowNotice(QStringLiteral("%1 holds no logs (*.log)").arg(FromUtf8(folder)));
    return;
  }
  std::vector<TSetFileChoice> choices;
  const auto zones = StatedZones();
  for (const std::string& log : logs) {
    TSetFileChoice choice{log, true, {}};
    for (const auto& [path, zone] : zones) {
      if (path == log) choice.Zone = zone;
    }
    choices.push_back(std::move(choice));
  }
  if (!ChooseSetFiles || !ChooseSetFiles(choices)) return;
  for (const TSetFileChoice& choice : choices) {
    if (!choice.Zone.empty() && !TTimeZone::Parse(choice.Zone)) {
      if (ShowError)
        ShowError(QStringLiteral("Unknown time zone \"%1\" for %2").arg(FromUtf8(choice.Zone), FromUtf8(choice.Path)));
      return;
    }
  }
  SaveStatedZones(choices);
  std::vector<std::string> chosen;
  for (const TSetFileChoice& choice : choices) {
    if (choice.Chosen) chosen.push_back(choice.Path);
  }
  if (!chosen.empty()) LoadLogs(chosen);
}

// --- a newer log of an open set ----------------------------------------------------------------------------

// The server's newer log joins the set's end: its records follow as rows, and it is the one
// watched from now on.
void TfrmMain::AddNewerToSet(const std::string& ANewer) {
  StopWatchingLog();
  if (!FData.AppendFile(ANewer)) return;
  FOpenFiles.push_back(ANewer);
  const std::string entry = EntryOfFiles(FOpenFiles);
  AddRecentFile(entry);
  RebuildRecentMenus();
  FSettings.WriteString(SettingsKeys::LogFileName, entry);
  FNewerLog.clear();
  sbrNewerLog->hide();
  RecordsAdded(FData.WholeCount());
  UpdateTitle();
  WatchLog();
}

}  // namespace velloran
