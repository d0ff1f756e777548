// TCMDLProcessor: the program's arguments, from the argument file beside the executable (the
// executable's path with the extension ".cmdl", one argument a line) followed by the command
// line. Switches are found by prefix, ignoring the case of ASCII letters, after one leading
// switch mark ("-" or "/"); the argument file's lines come first and so win.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velloran {

class TCMDLProcessor {
 public:
  // AArguments: the command-line arguments 1..n, as the platform split them.
  explicit TCMDLProcessor(std::vector<std::string> AArguments);

  const std::string& CMDLFileName() const { return FFileName; }
  void SetCMDLFileName(std::string AValue) { FFileName = std::move(AValue); }
  // Fills Items from the argument file (when it exists) and the command line; true when some
  // argument is not empty once its switch mark is removed.
  bool Parse();
  bool ParamExist(std::string_view AParamName) const;
  // The rest of the first argument that matches, after the name and one "-" or "="; empty
  // when none matches.
  std::string ParamValue(std::string_view AParamName) const;
  const std::vector<std::string>& Items() const { return FItems; }
  // Why the last Parse could not read an argument file that exists (empty when it could);
  // Parse then goes on with the command line alone.
  const std::string& ArgumentFileError() const { return FArgumentFileError; }

 private:
  const std::string* FindParam(std::string_view AParamName) const;

  std::vector<std::string> FArguments;
  std::vector<std::string> FItems;
  std::string FFileName;
  std::string FArgumentFileError;
};

// Whether the arguments ask for the usage text ("--help", "-h", "-?", "/?") or the version
// ("--version"): the viewer then prints it and exits without opening a window.
bool AsksForUsage(const std::vector<std::string>& AArguments);
bool AsksForVersion(const std::vector<std::string>& AArguments);
std::string ViewerUsage();
std::string ViewerVersionLine();  // "velloran-viewer 0.1.0"

// Whether AArgument is one of the viewer's switches ("nosplash", "i=FILE"), with or without
// its switch mark; anything else that is no existing file names a file to open.
bool IsViewerSwitch(std::string_view AArgument);

}  // namespace velloran
