// What the command-line tests share: the built velloran run with arguments as a shell splits
// them, in a test's folder.
#pragma once

#include <string>

#include "RunProgram.h"
#include "TestFiles.h"

namespace velloran::test {

using TCliResult = TProgramResult;

inline std::string Quote(const std::string& AText) { return ShellQuoted(AText); }

inline TCliResult RunCli(const std::string& AArguments, const TTempDir& ADir) {
  return RunProgram(VELLORAN_CLI, AArguments, ADir);
}

}  // namespace velloran::test
