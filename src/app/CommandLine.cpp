#include "CommandLine.h"

#include <system_error>

#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "Rows.h"
#include "StorageUtils.h"

namespace velloran {

namespace {

// ChangeFileExt: the extension is what follows the last dot of the file name itself; an
// executable without one (the rule on Linux) gets the new extension appended.
std::string ChangeExtension(const std::string& APath, std::string_view AExtension) {
  const size_t slash = APath.rfind('/');
  const size_t dot = APath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? APath.substr(0, dot) : APath) + std::string(AExtension);
}

// The file's bytes as UTF-8: a byte-order mark says UTF-8 or UTF-16 of either byte order,
// anything else is in the locale's narrow encoding.
std::string DecodeArgumentFile(std::string_view ABytes) {
  if (ABytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(ABytes.substr(3));
  const bool littleEndian = ABytes.substr(0, 2) == "\xFF\xFE";
  if (littleEndian || ABytes.substr(0, 2) == "\xFE\xFF") {
    ABytes.remove_prefix(2);
    std::u16string units;
    units.reserve(ABytes.size() / 2);
    for (size_t i = 0; i + 1 < ABytes.size(); i += 2) {
      const auto first = static_cast<unsigned char>(ABytes[i]);
      const auto second = static_cast<unsigned char>(ABytes[i + 1]);
      units.push_back(static_cast<char16_t>(littleEndian ? (second << 8 | first) : (first << 8 | second)));
    }
    // A byte left over is half a character: it stands for one, as ill-formed input does.
    if (ABytes.size() % 2 != 0) units.push_back(u'\uFFFD');
    return Utf16ToUtf8(units);
  }
  return AnsiToUtf8(ABytes);
}

// One argument a line, as it stands: only the line breaks (CR LF or LF) go. Text after the
// last break is a line; nothing after it is none.
void AppendLines(std::string_view AText, std::vector<std::string>& AItems) {
  while (!AText.empty()) {
    const size_t lf = AText.find('\n');
    std::string_view line = AText.substr(0, lf);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    AItems.emplace_back(line);
    if (lf == std::string_view::npos) break;
    AText.remove_prefix(lf + 1);
  }
}

// The argument without its switch mark: one leading "-" or "/".
std::string_view WithoutSwitchMark(std::string_view AArgument) {
  if (!AArgument.empty() && (AArgument.front() == '-' || AArgument.front() == '/')) AArgument.remove_prefix(1);
  return AArgument;
}

}  // namespace

TCMDLProcessor::TCMDLProcessor(std::vector<std::string> AArguments) : FArguments(std::move(AArguments)) {}

bool TCMDLProcessor::Parse() {
  FItems.clear();
  FArgumentFileError.clear();
  if (FFileName.empty()) FFileName = ChangeExtension(platform::ExecutablePath(), ".cmdl");
  if (platform::FileExists(FFileName)) {
    // An argument file that cannot be read costs its lines only: the command line still counts.
    try {
      AppendLines(DecodeArgumentFile(platform::ReadWholeFile(FFileName)), FItems);
    } catch (const std::system_error& error) {
      FArgumentFileError = error.what();
    }
  }
  FItems.insert(FItems.end(), FArguments.begin(), FArguments.end());
  for (const std::string& item : FItems) {
    if (!WithoutSwitchMark(item).empty()) return true;
  }
  return false;
}

// The first argument that begins with AParamName once its switch mark is gone decides, so
// the argument file's lines win over the command line.
const std::string* TCMDLProcessor::FindParam(std::string_view AParamName) const {
  for (const std::string& item : FItems) {
    if (item.empty()) continue;
    const std::string_view argument = WithoutSwitchMark(item);
    if (argument.size() >= AParamName.size() && SameNameIgnoringAsciiCase(argument.substr(0, AParamName.size()), AParamName)) {
      return &item;
    }
  }
  return nullptr;
}

bool TCMDLProcessor::ParamExist(std::string_view AParamName) const { return FindParam(AParamName) != nullptr; }

std::string TCMDLProcessor::ParamValue(std::string_view AParamName) const {
  const std::string* item = FindParam(AParamName);
  if (item == nullptr) return {};
  std::string_view rest = WithoutSwitchMark(*item).substr(AParamName.size());
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '=')) rest.remove_prefix(1);
  return std::string(rest);
}

bool AsksForUsage(const std::vector<std::string>& AArguments) {
  for (const std::string& argument : AArguments) {
    if (argument == "--help" || argument == "-help" || argument == "-h" || argument == "-?" || argument == "/?") return true;
  }
  return false;
}

bool AsksForVersion(const std::vector<std::string>& AArguments) {
  for (const std::string& argument : AArguments) {
    if (argument == "--version") return true;
  }
  return false;
}

std::string ViewerVersionLine() {
  return "velloran-viewer " + std::to_string(VELLORAN_VERSION_MAJOR) + '.' + std::to_string(VELLORAN_VERSION_MINOR) + '.' +
         std::to_string(VELLORAN_VERSION_RELEASE);
}

std::string ViewerUsage() {
  return "Usage: velloran-viewer [LOG] [-nosplash] [-i=LOG]\n"
         "\n"
         "Opens an accounting log of a network policy server in the viewer.\n"
         "\n"
         "  LOG          the log to open (a file named here wins over -i)\n"
         "  -nosplash    start without the splash window\n"
         "  -i=LOG       open LOG\n"
         "  --help       print this text and exit\n"
         "  --version    print the version and exit\n"
         "\n"
         "Switches also start with \"/\". Further arguments may stand one a line in\n"
         "velloran-viewer.cmdl beside the program. The command-line companion \"velloran\"\n"
         "counts, shows and exports records without a window (velloran --help).\n";
}

bool IsViewerSwitch(std::string_view AArgument) {
  const std::string_view name = WithoutSwitchMark(AArgument);
  if (name.size() >= 8 && SameNameIgnoringAsciiCase(name.substr(0, 8), "nosplash")) return true;
  // "i" takes its value after "=", "-" or directly as a path ("/i/logs/a.log").
  return !name.empty() && (name[0] == 'i' || name[0] == 'I') &&
         (name.size() == 1 || name[1] == '=' || name[1] == '-' || name[1] == '/');
}

}  // namespace velloran
