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

// Copies the built program into folder and returns the copy's path. The
// program's default names live in its own folder, so tests run a copy in a
// scratch folder rather than the original.
std::string CopyProgramInto(const std::string& folder);

}  // namespace vorka::test
