#include "Console.h"

#include "../platform/Codeset.h"
#include "../platform/Console.h"

#include <cstring>

namespace vorka {

namespace {

bool PassesUnchanged(const std::string& codeset) {
  return codeset.empty() || codeset == "UTF-8" || codeset == "utf8" || codeset == "UTF8" ||
         codeset == "ANSI_X3.4-1968";
}

bool IsAscii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string OverrideCodeset;

// Taken once: the terminal does not change while the program runs.
const std::string& TerminalCodeset() {
  if (!OverrideCodeset.empty()) return OverrideCodeset;
  static const std::string codeset = platform::LocaleCodeset();
  return codeset;
}

}  // namespace

std::string ConvertToCodeset(const std::string& text, const std::string& codeset) {
  // ASCII is the same in every codeset the bench can meet; spare iconv.
  if (PassesUnchanged(codeset) || IsAscii(text)) return text;
  std::string out;
  if (!platform::ConvertFromUtf8(text, codeset, out)) return text;
  return out;
}

std::string AnsiToOem(const std::string& text) { return ConvertToCodeset(text, TerminalCodeset()); }

void OverrideConsoleCodeset(const std::string& codeset) { OverrideCodeset = codeset; }

TConsole& TConsole::Raw(std::string_view bytes) {
  while (!bytes.empty()) {
    if (Used == kCapacity) Flush();
    std::size_t n = kCapacity - Used;
    if (n > bytes.size()) n = bytes.size();
    std::memcpy(Buffer + Used, bytes.data(), n);
    Used += n;
    bytes.remove_prefix(n);
  }
  return *this;
}

TConsole& TConsole::Char(char c) { return Raw(std::string_view(&c, 1)); }

TConsole& TConsole::Unsigned(std::uint64_t value) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[sizeof digits - 1 - n] = static_cast<char>('0' + value % 10);
    ++n;
    value /= 10;
  } while (value != 0);
  return Raw(std::string_view(digits + sizeof digits - n, n));
}

TConsole& TConsole::Signed(std::int64_t value) {
  if (value >= 0) return Unsigned(static_cast<std::uint64_t>(value));
  Char('-');
  // Negate in unsigned arithmetic: the most negative value has no positive twin.
  return Unsigned(0u - static_cast<std::uint64_t>(value));
}

void TConsole::Flush() {
  if (Used == 0) return;
  if (Sink != nullptr)
    Sink->append(Buffer, Used);
  else
    platform::WriteStdout(Buffer, Used);
  Used = 0;
}

void TConsole::CaptureInto(std::string* sink) {
  Flush();
  Sink = sink;
}

TConsole& Console() {
  static TConsole console;
  return console;
}

}  // namespace vorka
