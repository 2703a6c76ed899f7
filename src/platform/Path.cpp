// POSIX names: "/" is the only delimiter and there are no drive letters, so a
// ":" is an ordinary character.
#include "Path.h"

namespace vorka::platform {

char JoinDelimiter() { return '/'; }

std::size_t MaxNameLength() { return 4095; }

bool IsPathDelimiter(char c) { return c == '/'; }

bool HoldsPathPart(const std::string& name) { return name.find('/') != std::string::npos; }

std::size_t NameStart(const std::string& name) {
  const std::size_t last = name.rfind('/');
  return last == std::string::npos ? 0 : last + 1;
}

}  // namespace vorka::platform
