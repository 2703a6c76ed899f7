#include "Console.h"

#include <cerrno>

#include <unistd.h>

namespace vorka::platform {

bool WriteStdout(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(STDOUT_FILENO, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

bool ReadStdinLine(std::string& line) {
  line.clear();
  // One byte at a time: whatever follows the line stays unread for whoever
  // reads standard input next.
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0) {
      if (errno == EINTR) continue;
      return !line.empty();
    }
    if (got == 0) return !line.empty();
    line.push_back(c);
    if (c == '\n') return true;
  }
}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace vorka::platform
