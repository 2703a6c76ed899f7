// The terminal's character set and conversion into it. The program's texts
// are UTF-8; a terminal in another codeset gets them converted.
#pragma once

#include <string>

namespace vorka::platform {

// The codeset of the user's LC_CTYPE locale (setlocale(LC_CTYPE, "") followed
// by nl_langinfo(CODESET)), e.g. "UTF-8", "ANSI_X3.4-1968" or "CP866".
// Only LC_CTYPE is touched: numbers keep printing with ".".
std::string LocaleCodeset();

// Converts UTF-8 text to the named codeset with iconv. A character the target
// cannot show, and a byte that is no valid UTF-8, becomes "?". Returns false
// (and leaves out untouched) when iconv knows no such codeset.
bool ConvertFromUtf8(const std::string& text, const std::string& codeset, std::string& out);

// A file name as the console should get it. Names are bytes the system gave,
// already in the user's own codeset, so on POSIX they pass as they are; on
// Windows they are in the ANSI code page and go through CharToOemBuffA only.
std::string NameForConsole(const std::string& name);

}  // namespace vorka::platform
