#include "../Process.h"

#include <vector>

#include <windows.h>

namespace vorka::platform {

std::string ExecutablePath() {
  // GetModuleFileNameA cuts a long path and says so only by filling the whole
  // buffer: grow until the result leaves room to spare.
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    const DWORD got = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (got == 0) return std::string();
    if (got < buf.size()) return std::string(buf.data(), got);
    if (buf.size() >= 32768) return std::string();
    buf.resize(buf.size() * 2);
  }
}

}  // namespace vorka::platform
