#include "Process.h"

#include <vector>

#include <unistd.h>

namespace vorka::platform {

std::string ExecutablePath() {
  // readlink gives no hint of the length; grow until the result fits with room
  // to spare, which proves it was not cut.
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t got = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (got < 0) return std::string();
    if (static_cast<std::size_t>(got) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(got));
    if (buf.size() >= (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

}  // namespace vorka::platform
