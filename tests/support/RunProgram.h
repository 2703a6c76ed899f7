// Runs a program as a child process and captures what it writes, byte for
// byte, for the program-level tests.
#pragma once

#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace vorka::test {

struct RunResult {
  std::string Stdout;
  std::string Stderr;
  int ExitStatus = -1;  // exit code, or 128 + signal number when killed
};

// Runs program with args (argv[1..]) in folder workDir, the environment of
// this process with LC_ALL set to locale, and stdinBytes on standard input
// (then end of input), under limits (its Stdout field is not used: the
// output is always captured). Throws std::runtime_error when the child cannot
// be started; a child that cannot take its limits exits with one of the
// kChildCannot* statuses.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& locale, const std::string& stdinBytes = std::string(),
                     const std::string& workDir = std::string(), const ChildLimits& limits = {});

// A program running in the background, for tests that stop, signal or race
// it: standard input from /dev/null, standard output and error together into
// a file. The destructor kills a child still running and removes the file.
struct BackgroundProgram {
  int Pid = -1;
  std::string OutName;

  // Exit status, or 128 + signal number; -1 when it cannot be had.
  int Wait();
  std::string Output() const;
  ~BackgroundProgram();
};

// Starts program with args in workDir (empty: this folder) under limits, with
// LC_ALL=C.UTF-8 and a PATH as its whole environment, every terminating
// signal at its default action and none blocked. The child holds no
// descriptor above 2 but passFd, when given, as its descriptor 3. Throws
// std::runtime_error when the child cannot be started.
void StartProgram(BackgroundProgram& child, const std::string& program, const std::vector<std::string>& args,
                  const std::string& workDir = std::string(), const ChildLimits& limits = {}, int passFd = -1);

// Copies the built program into folder and returns the copy's path. The
// program's default names live in its own folder, so tests run a copy in a
// scratch folder rather than the original.
std::string CopyProgramInto(const std::string& folder);

}  // namespace vorka::test
