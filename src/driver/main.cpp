#include "MainFlow.h"
#include "../platform/Process.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return vorka::RunBench(args, vorka::platform::ExecutablePath());
}
