#include "File.h"

#include <cstdio>
#include <cstdlib>

namespace vorka::platform {

void HaltRuntimeError(int code) {
  std::fflush(stdout);
  std::fprintf(stderr, "Runtime error %d\n", code);
  std::fflush(stderr);
  // No unwinding and no static destructors: the fault is in the program itself.
  std::_Exit(code);
}

}  // namespace vorka::platform
