#include "DataModule.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "CommandLine.h"
#include "FileHelpers.h"
#include "PlatformFile.h"
#include "PlatformFolders.h"

namespace velloran {

TrsStorage* GlobalStorage = nullptr;
Tdm* dm = nullptr;

namespace {

constexpr std::string_view kSettingsFileName = "velloranviewer.ini";
constexpr std::string_view kUserDataFolderName = "Velloran Viewer";

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringAsciiCase(std::string_view AText, std::string_view APrefix) {
  if (AText.size() < APrefix.size()) return false;
  return std::equal(APrefix.begin(), APrefix.end(), AText.begin(), [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

bool LessIgnoringAsciiCase(const std::string& A, const std::string& B) {
  return std::lexicographical_compare(A.begin(), A.end(), B.begin(), B.end(),
                                      [](char a, char b) { return AsciiLower(a) < AsciiLower(b); });
}

// The folder part of APath with its trailing "/"; empty when APath has no folder.
std::string FolderOf(const std::string& APath) {
  const size_t slash = APath.rfind('/');
  return slash == std::string::npos ? std::string() : APath.substr(0, slash + 1);
}

// A shell hands a file to open as a plain argument, and an absolute Linux path begins with
// the switch mark "/": such an argument must not reach the switch rules.
bool IsExistingRegularFile(const std::string& AArgument) {
  std::error_code ignored;
  return !AArgument.empty() && std::filesystem::is_regular_file(AArgument, ignored);
}

// Makes ASection the storage's current section and returns to the top however the work ends.
class TCurrentSectionScope {
 public:
  TCurrentSectionScope(TrsStorage& AStorage, std::string_view ASection) : FStorage(AStorage) {
    FStorage.SetRootSection(ASection);
  }
  ~TCurrentSectionScope() { FStorage.SetRootSection({}); }
  TCurrentSectionScope(const TCurrentSectionScope&) = delete;
  TCurrentSectionScope& operator=(const TCurrentSectionScope&) = delete;

 private:
  TrsStorage& FStorage;
};

}  // namespace

// --- Tdm --------------------------------------------------------------------------------------

Tdm::Tdm(std::vector<std::string> AArguments, TReportEvent AReport, std::string ADataFolder) : FReport(std::move(AReport)) {
  ProcessCommandLine(std::move(AArguments));
  GlobalStorage = &rsStorage;
  dm = this;

  // doAutoName keeps the executable's base name for the file: only the folder and the
  // extension are taken from the name given here.
  rsIni.SetOptions(doAutoName | doAutoCreateDir);
  rsIni.SetCodePage(cpAnsi);
  rsIni.SetFileDir(fdCustom);
  std::string folder = ADataFolder.empty() ? GetDataFolder() : std::move(ADataFolder);
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  rsIni.SetFileName(folder + std::string(kSettingsFileName));
  rsStorage.SetStorageData(&rsIni);
  // No save on close: the destructor saves once, after the windows have written theirs.
  rsStorage.SetOptions(0);
  try {
    rsStorage.Load();
  } catch (const std::exception& error) {
    // A damaged or unreadable settings file must not keep the viewer from starting; the keys
    // read before the fault stay, and the next save writes a sound file.
    Report(fmt::format("Cannot load the settings file {}: {}", rsIni.FullFileName(), error.what()));
  }
}

Tdm::~Tdm() {
  // A destructor must not throw: a failed save is reported, and a report that fails in turn
  // is dropped.
  try {
    const std::string fileName = rsIni.FullFileName();
    std::string folder = FolderOf(fileName);
    if (folder.size() > 1) folder.pop_back();
    if (!folder.empty() && !platform::FolderExists(folder)) platform::ForceFolders(folder);
    try {
      rsStorage.Save();
    } catch (const std::exception& error) {
      Report(fmt::format("Cannot save the settings file {}: {}", fileName, error.what()));
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): a report that fails has nowhere else to go
  }
  if (GlobalStorage == &rsStorage) GlobalStorage = nullptr;
  if (dm == this) dm = nullptr;
}

void Tdm::ProcessCommandLine(std::vector<std::string> AArguments) {
  // The first argument that names an existing file is the log to open. An argument that is no
  // switch (nor begins with "-") names a file too: when it does not exist and no existing file
  // was named, it is still the one to open, so that the window says why it cannot be opened
  // instead of staying silent. The rest are switches.
  std::string fileToOpen;
  std::string missingFile;
  std::vector<std::string> switches;
  switches.reserve(AArguments.size());
  for (std::string& argument : AArguments) {
    // Absolute: the name goes into the recent list, read later from any working folder.
    std::error_code ignored;
    if (IsExistingRegularFile(argument)) {
      if (fileToOpen.empty()) fileToOpen = std::filesystem::absolute(argument, ignored).string();
    } else if (!argument.empty() && argument.front() != '-' && !IsViewerSwitch(argument)) {
      if (missingFile.empty()) missingFile = std::filesystem::absolute(argument, ignored).string();
    } else {
      switches.push_back(std::move(argument));
    }
  }
  if (fileToOpen.empty()) fileToOpen = std::move(missingFile);

  TCMDLProcessor processor(std::move(switches));
  if (processor.Parse()) {
    if (processor.ParamExist("nosplash")) ShowSplash = false;
    if (processor.ParamExist("i")) StartFile = processor.ParamValue("i");
  }
  if (!processor.ArgumentFileError().empty()) Report(processor.ArgumentFileError());
  // A file named on the command line is what the user asked for now: it wins over "i".
  if (!fileToOpen.empty()) StartFile = std::move(fileToOpen);
}

void Tdm::Report(const std::string& AMessage) const {
  if (FReport) {
    FReport(AMessage);
  } else {
    std::cerr << AMessage << '\n';
  }
}

// --- the unit's operations ------------------------------------------------------------------------

std::string GetDataFolder() { return GetDataFolder(platform::ExecutablePath()); }

std::string GetDataFolder(const std::string& AProgramPath) {
  // A program under /usr belongs to the system, not the user; an empty folder matches all.
  const std::string programFiles = FolderFromToken("programfiles");
  const bool installed = programFiles.empty() || StartsWithIgnoringAsciiCase(AProgramPath, programFiles);
  const std::string programFolder = FolderOf(AProgramPath);
  if (installed || !FolderIsWritable(programFolder)) {
    return PathWithDelimiter(FolderFromToken("{userappdata}")) + std::string(kUserDataFolderName);
  }
  return programFolder;
}

void LoadMRUList(TrsStorage& AStorage, std::string_view ASection, std::vector<std::string>& AList) {
  AList.clear();
  const TCurrentSectionScope section(AStorage, ASection);
  std::vector<std::string> keys;
  AStorage.KeyList(keys);
  // Item01 .. Item10 sort in list order; keys of other names take their place among them.
  std::stable_sort(keys.begin(), keys.end(), LessIgnoringAsciiCase);
  AList.reserve(keys.size());
  for (const std::string& key : keys) AList.push_back(AStorage.ReadText(key, {}));
}

void SaveMRUList(TrsStorage& AStorage, std::string_view ASection, const std::vector<std::string>& AList, const std::string& AItem,
                 size_t ACapacity) {
  if (AItem.empty()) return;
  // AItem at the head, then the list without AItem's first place: so an item already at the
  // head keeps the order, one further down moves up and a new one is inserted. Exact
  // comparison: file names are case-sensitive, /logs/A.log and /logs/a.log are two files.
  std::vector<std::string> list{AItem};
  list.reserve(AList.size() + 1);
  bool skipped = false;
  for (const std::string& entry : AList) {
    if (!skipped && entry == AItem) {
      skipped = true;
    } else {
      list.push_back(entry);
    }
  }
  if (list.size() > ACapacity) list.resize(ACapacity);

  const TCurrentSectionScope section(AStorage, ASection);
  AStorage.Clear();
  for (size_t k = 0; k < list.size(); ++k) AStorage.WriteText(fmt::format("Item{:02d}", k + 1), list[k]);
}

}  // namespace velloran
