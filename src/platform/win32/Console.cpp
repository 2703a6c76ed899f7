// Standard output is switched to binary mode before the first write, so that
// the C runtime never turns a line end into CR LF: the console gets exactly
// the bytes the driver composed.
#include "../Console.h"

#include <climits>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace vorka::platform {

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;

bool BinaryStdout() {
  static const bool done = _setmode(kStdout, _O_BINARY) != -1;
  return done;
}

}  // namespace

bool WriteStdout(const char* data, std::size_t size) {
  BinaryStdout();
  while (size > 0) {
    const unsigned chunk = size > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(size);
    const int done = _write(kStdout, data, chunk);
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

bool ReadStdinLine(std::string& line) {
  line.clear();
  // One byte at a time: whatever follows the line stays unread.
  for (;;) {
    char c = 0;
    const int got = _read(kStdin, &c, 1);
    if (got <= 0) return !line.empty();
    line.push_back(c);
    if (c == '\n') return true;
  }
}

// _isatty would also call the NUL device a terminal; only a console answers
// GetConsoleMode.
bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace vorka::platform
