// The bench from start to end: banner, command line, one command with its
// timed runs and comparison, verdict, closing line and the wait for Enter.
#pragma once

#include <string>
#include <vector>

namespace vorka {

// Runs the whole program. args are the words after the program's own name,
// exactly as the system passed them; exePath is the running executable's
// full path (its folder is the default work folder). Returns the exit status.
int RunBench(const std::vector<std::string>& args, const std::string& exePath);

}  // namespace vorka
