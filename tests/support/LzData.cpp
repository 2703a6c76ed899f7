#include "support/LzData.h"

#include <filesystem>

#include "support/ScratchDir.h"

namespace vorka::test {

namespace {

std::uint32_t Next(std::uint32_t& s) {
  // xorshift32: small, fast and the same everywhere.
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

}  // namespace

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
  std::uint32_t s = seed == 0 ? 1 : seed;
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(Next(s) >> 24);
  return out;
}

std::string TextLike(std::size_t n, std::uint32_t seed) {
  static const char* const words[] = {"the", "packed", "file", "holds", "one", "plain",
                                      "dictionary", "phrase", "code", "stream", "of", "a"};
  std::uint32_t s = seed == 0 ? 1 : seed;
  std::string out;
  out.reserve(n + 16);
  while (out.size() < n) {
    out += words[Next(s) % 12];
    out += (Next(s) % 9 == 0) ? '\n' : ' ';
  }
  out.resize(n);
  return out;
}

std::string Run(std::size_t n, char c) { return std::string(n, c); }

std::string CorpusFile(const std::string& relative) {
  const std::filesystem::path p = std::filesystem::path(VORKA_SHARED_DIR) / "corpus" / relative;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec)) return std::string();
  return ReadFile(p.string());
}

}  // namespace vorka::test
