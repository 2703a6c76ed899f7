#include "support/TestData.h"

#include <filesystem>
#include <system_error>

#include "support/ScratchDir.h"

namespace vorka::test {

std::string MakeRandom(std::size_t length, std::uint32_t seed) {
  SeededRandom random(seed);
  std::string out(length, '\0');
  for (char& c : out) c = static_cast<char>(random.Next() >> 24);
  return out;
}

std::string MakeText(std::size_t length, std::uint32_t seed) {
  static const char* const kWords[] = {"the ", "of ", "and ", "dictionary ", "phrase ", "code ",
                                       "a ", "to ", "in ", "compressor ", "is ", "that ",
                                       "bit ", "stream ", "node ", "tree, ", "reset. ", "\n"};
  SeededRandom random(seed);
  std::string out;
  out.reserve(length + 16);
  while (out.size() < length) out += random.Pick(kWords);
  out.resize(length);
  return out;
}

std::string MakeBinaryish(std::size_t length, std::uint32_t seed) {
  SeededRandom random(seed);
  std::string out;
  out.reserve(length + 48);
  while (out.size() < length) {
    const std::uint32_t v = random.Next();
    if ((v & 7) == 0) {
      out.append(1 + (v >> 8) % 40, static_cast<char>(v >> 24));
    } else {
      out.push_back(static_cast<char>(v & 0x0F));
      out.push_back(static_cast<char>((v >> 8) & 0x3));
      out.push_back('\0');
      out.push_back(static_cast<char>(v >> 28));
    }
  }
  out.resize(length);
  return out;
}

std::string CorpusFile(const std::string& relative) {
  const std::filesystem::path p = std::filesystem::path(VORKA_CORPUS_DIR) / relative;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec)) return std::string();
  return ReadFile(p.string());
}

}  // namespace vorka::test
