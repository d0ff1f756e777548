// The data module: what every window shares. It reads the command line, keeps the settings
// storage with its INI back end on the settings file in the data folder, loads the settings
// when it is created and saves them when it goes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "IniFile.h"
#include "Storage.h"

namespace velloran {

class Tdm {
 public:
  // Reports what goes wrong with the settings file (a message box in the program); the
  // program goes on with what could be read.
  using TReportEvent = std::function<void(const std::string& AMessage)>;

  // AArguments: the command-line arguments 1..n. ADataFolder: where the settings file lies;
  // empty: GetDataFolder().
  explicit Tdm(std::vector<std::string> AArguments, TReportEvent AReport = {}, std::string ADataFolder = {});
  // Saves the settings (creating their folder); a failure is reported, never thrown.
  ~Tdm();
  Tdm(const Tdm&) = delete;
  Tdm& operator=(const Tdm&) = delete;

  TrsStorage rsStorage;
  TrsIniData rsIni;
  bool ShowSplash = true;
  std::string StartFile;  // the log to open when the main window is first shown

 private:
  void ProcessCommandLine(std::vector<std::string> AArguments);
  void Report(const std::string& AMessage) const;

  TReportEvent FReport;
};

// The data module and its storage while it exists (null otherwise). The windows do not reach
// for them: they are handed the storage and the start file by whoever creates them.
extern TrsStorage* GlobalStorage;
extern Tdm* dm;

// The folder of the settings file: the program's own folder (with a trailing "/") when the
// program is not installed under /usr and its folder is writable; otherwise the user's
// configuration folder followed by "Velloran Viewer". AProgramPath: the executable's path.
std::string GetDataFolder();
std::string GetDataFolder(const std::string& AProgramPath);

// The recent-file list of ASection in AStorage: the values of all its keys, in key-name order
// ignoring case.
void LoadMRUList(TrsStorage& AStorage, std::string_view ASection, std::vector<std::string>& AList);
// Rewrites ASection of AStorage from AList with AItem at its head (moved there, or inserted;
// exact comparison), at most ACapacity entries, under the keys Item01, Item02, ... Nothing for
// an empty AItem.
void SaveMRUList(TrsStorage& AStorage, std::string_view ASection, const std::vector<std::string>& AList, const std::string& AItem,
                 size_t ACapacity = 10);

}  // namespace velloran
