// Windows names: "\" separates folders and the ":" after a drive letter ends
// a path part as well, so "C:x.txt" (x.txt in the current folder of drive C)
// holds a path. "/" is an ordinary character here.
#include "../Path.h"

namespace vorka::platform {

char JoinDelimiter() { return '\\'; }

std::size_t MaxNameLength() { return 255; }

bool IsPathDelimiter(char c) { return c == '\\' || c == ':'; }

bool HoldsPathPart(const std::string& name) {
  return name.find_first_of("\\:") != std::string::npos;
}

std::size_t NameStart(const std::string& name) {
  const std::size_t last = name.find_last_of("\\:");
  return last == std::string::npos ? 0 : last + 1;
}

}  // namespace vorka::platform
