#include "Codeset.h"

#include <cerrno>
#include <clocale>
#include <cstddef>
#include <utility>

#include <iconv.h>
#include <langinfo.h>

namespace vorka::platform {

std::string LocaleCodeset() {
  std::setlocale(LC_CTYPE, "");
  const char* name = nl_langinfo(CODESET);
  return name != nullptr ? std::string(name) : std::string();
}

namespace {

// Length of the UTF-8 sequence that starts with lead, 1 for a byte that
// cannot start one: skipping that much after a failure moves past exactly
// one unshowable character.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

}  // namespace

bool ConvertFromUtf8(const std::string& text, const std::string& codeset, std::string& out) {
  iconv_t cd = iconv_open(codeset.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;

  std::string result;
  result.reserve(text.size() + 16);
  char chunk[256];
  std::size_t pos = 0;
  while (pos < text.size()) {
    char* in = const_cast<char*>(text.data()) + pos;  // iconv's interface is not const-correct
    std::size_t inLeft = text.size() - pos;
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    result.append(chunk, static_cast<std::size_t>(outPtr - chunk));
    pos = text.size() - inLeft;
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (err == E2BIG) continue;
    // EILSEQ (unshowable or invalid) or EINVAL (cut sequence at the end).
    result.push_back('?');
    std::size_t skip = SequenceLength(static_cast<unsigned char>(text[pos]));
    if (skip > text.size() - pos) skip = text.size() - pos;
    for (std::size_t i = 1; i < skip; ++i) {
      // A continuation byte missing inside the sequence: stop before it.
      if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
        skip = i;
        break;
      }
    }
    pos += skip;
  }
  // Return the converter to its initial shift state (matters for stateful
  // codesets only).
  char* outPtr = chunk;
  std::size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  result.append(chunk, static_cast<std::size_t>(outPtr - chunk));
  iconv_close(cd);
  out = std::move(result);
  return true;
}

std::string NameForConsole(const std::string& name) { return name; }

}  // namespace vorka::platform
