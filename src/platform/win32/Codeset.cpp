// Console text on Windows. The console shows the OEM code page (866 on a
// Russian system); the program's texts are UTF-8 in the source and reach the
// console the way a Windows program hands over its ANSI texts: first into
// Windows-1251, then through CharToOemBuffA into the OEM code page.
//
// A text that is no valid UTF-8 is taken as already being in the ANSI code
// page. File names do not depend on that guess: NameForConsole takes them as
// ANSI always, since an ANSI name can happen to be valid UTF-8 as well.
#include "../Codeset.h"

#include <cstdlib>
#include <vector>

#include <windows.h>

namespace vorka::platform {

namespace {

constexpr UINT kTextCodePage = 1251;

std::string OemCodesetName() { return "CP" + std::to_string(GetOEMCP()); }

// Code page number of a codeset name as iconv spells it; 0 when unknown.
UINT CodePageOf(const std::string& codeset) {
  std::string upper;
  for (const char c : codeset) upper.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
  if (upper == "UTF-8" || upper == "UTF8") return CP_UTF8;
  if (upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII") return 20127;
  if (upper == "KOI8-R") return 20866;
  if (upper == "KOI8-U") return 21866;
  if (upper == "ISO-8859-5") return 28595;
  if (upper.size() > 2 && upper.compare(0, 2, "CP") == 0) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(upper.c_str() + 2, &end, 10);
    if (*end == '\0' && n > 0 && n < 65536 && IsValidCodePage(static_cast<UINT>(n))) return static_cast<UINT>(n);
  }
  return 0;
}

// UTF-8 (or, when it is not valid UTF-8, ANSI) text as UTF-16.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  UINT from = CP_UTF8;
  int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) {
    from = CP_ACP;
    n = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(from, 0, text.data(), size, wide.data(), n);
  return wide;
}

// UTF-16 into a code page; a character it cannot show becomes "?".
std::string Narrow(const std::wstring& wide, UINT codePage) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  // UTF-8 rejects both the flag and the default character.
  const bool simple = codePage != CP_UTF8;
  const DWORD flags = simple ? WC_NO_BEST_FIT_CHARS : 0;
  const char* fallback = simple ? "?" : nullptr;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, fallback, nullptr);
  return out;
}

bool IsValidUtf8(const std::string& text) {
  return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

// ANSI text through CharToOemBuffA, which keeps the length.
std::string AnsiToOemBytes(const std::string& ansi) {
  if (ansi.empty()) return ansi;
  std::vector<char> oem(ansi.size());
  if (!CharToOemBuffA(ansi.data(), oem.data(), static_cast<DWORD>(ansi.size()))) return ansi;
  return std::string(oem.data(), oem.size());
}

// The console's road for a program text: into the ANSI code page, then OEM.
std::string ToOem(const std::string& text) {
  return AnsiToOemBytes(IsValidUtf8(text) ? Narrow(Widen(text), kTextCodePage) : text);
}

}  // namespace

std::string LocaleCodeset() { return OemCodesetName(); }

bool ConvertFromUtf8(const std::string& text, const std::string& codeset, std::string& out) {
  if (codeset == OemCodesetName()) {
    out = ToOem(text);
    return true;
  }
  const UINT codePage = CodePageOf(codeset);
  if (codePage == 0) return false;
  out = Narrow(Widen(text), codePage);
  return true;
}

std::string NameForConsole(const std::string& name) { return AnsiToOemBytes(name); }

}  // namespace vorka::platform
