// Runs a built program as a script would: its standard output and error, and its exit code.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "TestFiles.h"

namespace velloran::test {

struct TProgramResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// "'TEXT'": a path or argument for the shell (the tests' paths hold no single quote).
inline std::string ShellQuoted(const std::string& AText) { return "'" + AText + "'"; }

inline std::string ReadAll(const std::string& APath) {
  std::string content;
  std::FILE* file = std::fopen(APath.c_str(), "rb");
  std::array<char, 65536> buffer{};
  size_t got = 0;
  while (file != nullptr && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) content.append(buffer.data(), got);
  if (file != nullptr) std::fclose(file);
  return content;
}

// Runs "PROGRAM ARGUMENTS" through the shell; standard error goes through a file in ADir.
inline TProgramResult RunProgram(const std::string& AProgram, const std::string& AArguments, const TTempDir& ADir) {
  const std::string errFile = ADir.File("stderr.txt");
  std::string command = AProgram;
  command.append(" ").append(AArguments).append(" 2>").append(ShellQuoted(errFile));
  TProgramResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 65536> buffer{};
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.Out.append(buffer.data(), got);
  const int status = ::pclose(pipe);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.Err = ReadAll(errFile);
  return result;
}

}  // namespace velloran::test
