// Console text of the bench: the conversion of the program's UTF-8 texts to
// the terminal's codeset, and the one buffered writer on standard output.
//
// Everything the driver prints goes through Console(). The program's own
// texts are written with Text() (converted); file names with Name(), as the
// system gave them; ASCII pieces, numbers and the rejected arguments of the
// parser with Raw(). A name is no program text: converting it as UTF-8 would
// turn a name in the terminal's own codeset (KOI8-R, say) into question marks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../platform/Codeset.h"

namespace vorka {

// The text converted from UTF-8 to the terminal's codeset, which is taken
// once from the locale. UTF-8 and the C/POSIX locale pass the bytes
// unchanged; any other codeset goes through iconv with "?" for characters it
// cannot show. The argument is left unchanged.
std::string AnsiToOem(const std::string& text);

// The same conversion into a named codeset ("UTF-8", "ANSI_X3.4-1968",
// "CP866", ...). An unknown codeset leaves the text unchanged.
std::string ConvertToCodeset(const std::string& text, const std::string& codeset);

// Buffered writer on standard output. Output leaves when the buffer fills and
// at Flush(); a capture string, when set, takes the bytes instead (tests).
class TConsole {
public:
  TConsole& Raw(std::string_view bytes);
  TConsole& Text(const std::string& utf8) { return Raw(AnsiToOem(utf8)); }
  TConsole& Name(const std::string& name) { return Raw(platform::NameForConsole(name)); }
  TConsole& Char(char c);
  TConsole& Unsigned(std::uint64_t value);
  TConsole& Signed(std::int64_t value);
  TConsole& EndLine() { return Char('\n'); }
  void Flush();

  // Bytes from now on go to *sink (appended) instead of standard output;
  // nullptr returns to standard output. Pending bytes are flushed first.
  void CaptureInto(std::string* sink);

private:
  static constexpr std::size_t kCapacity = 4096;
  char Buffer[kCapacity] = {};
  std::size_t Used = 0;
  std::string* Sink = nullptr;
};

// The program's one writer.
TConsole& Console();

// Makes AnsiToOem convert into codeset instead of the terminal's; an empty
// codeset returns to the terminal's. For tests, which must not depend on the
// locale they happen to run in.
void OverrideConsoleCodeset(const std::string& codeset);

// Collects everything the program writes while it lives, converted into the
// given codeset, for tests.
class TConsoleCapture {
public:
  explicit TConsoleCapture(const std::string& codeset = "UTF-8") {
    Console().CaptureInto(&Bytes);
    OverrideConsoleCodeset(codeset);
  }
  ~TConsoleCapture() {
    Console().CaptureInto(nullptr);
    OverrideConsoleCodeset(std::string());
  }
  TConsoleCapture(const TConsoleCapture&) = delete;
  TConsoleCapture& operator=(const TConsoleCapture&) = delete;
  // Flushes the writer and returns all bytes so far.
  const std::string& Output() {
    Console().Flush();
    return Bytes;
  }

private:
  std::string Bytes;
};

// The BEL character that opens warnings and error lines.
inline constexpr char kBel = '\a';

}  // namespace vorka
