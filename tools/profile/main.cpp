// vorka-profile FILE DIR [/l:N] [/z:N]: packs FILE in memory as `vorka c`
// would with the same settings and writes DIR/profile.csv, what the packer
// did for each 64 KiB of input. The bench's chart module draws it.
#include "Profile.h"

#include "codec/LZTypes.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace vorka;

int Usage() {
  std::fputs("usage: vorka-profile FILE DIR [/l:N] [/z:N]\n"
             "  packs FILE in memory and writes DIR/profile.csv;\n"
             "  /l: dictionary size (500..268435326, default 100000), /z: longest phrase\n"
             "  (4..268435326, at most the dictionary size; default the dictionary size)\n",
             stderr);
  return 2;
}

// A number as vorka takes it: decimal, or hexadecimal after "$" or "0x".
bool ParseNumber(const std::string& text, std::uint32_t& value) {
  int base = 10;
  std::size_t skip = 0;
  if (text.size() > 1 && text[0] == '$') base = 16, skip = 1;
  else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, skip = 2;
  if (skip == text.size()) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str() + skip, &end, base);
  if (*end != '\0' || text[skip] == '-' || text[skip] == '+' || v > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

std::uint32_t Clamp(std::uint32_t v, std::uint32_t lo, std::uint32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

bool WriteText(const std::filesystem::path& name, const std::string& text) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << text;
  return static_cast<bool>(f.flush());
}

int Run(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::uint32_t dicSize = 100000;
  std::uint32_t maxFrag = MaxDictionarySize;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    std::uint32_t* target = arg.rfind("/l:", 0) == 0 ? &dicSize : arg.rfind("/z:", 0) == 0 ? &maxFrag : nullptr;
    if (target == nullptr || !ParseNumber(arg.substr(3), *target)) return Usage();
  }
  dicSize = Clamp(dicSize, MinDictionarySize, MaxDictionarySize);
  maxFrag = Clamp(maxFrag, MinFragmentLength, MaxDictionarySize);

  const std::string fileName = argv[1];
  // Only a regular file counts, as for vorka: a directory, a FIFO or a device
  // such as /dev/zero (which would be read for ever) fails like a missing file.
  std::error_code statError;
  const bool regular = std::filesystem::is_regular_file(fileName, statError);
  std::ifstream in;
  if (regular) in.open(fileName, std::ios::binary);
  if (!regular || !in) {
    std::fprintf(stderr, "vorka-profile: cannot read %s\n", fileName.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "vorka-profile: cannot read %s\n", fileName.c_str());
    return 1;
  }

  profile::TProfile result;
  std::string error;
  if (!profile::ProfileData(data, dicSize, maxFrag, result, error)) {
    std::fprintf(stderr, "vorka-profile: %s\n", error.c_str());
    return 1;
  }
  const std::filesystem::path dir = argv[2];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string title = std::filesystem::path(fileName).filename().string();
  if (!WriteText(dir / "profile.csv", profile::ProfileCsv(result))) {
    std::fprintf(stderr, "vorka-profile: cannot write into %s\n", dir.string().c_str());
    return 1;
  }
  std::uint64_t resets = 0;
  for (const auto& r : result.Rows) resets += r.Resets;
  std::printf("%s: %llu bytes -> code stream %llu bytes (%.4f), dictionary %u, longest phrase %u of %u, resets %llu\n",
              title.c_str(), static_cast<unsigned long long>(result.InputBytes),
              static_cast<unsigned long long>(result.StreamBytes),
              result.InputBytes ? double(result.StreamBytes) / double(result.InputBytes) : 0.0, result.DictionarySize,
              result.Rows.empty() ? 0u : result.Rows.back().Longest, result.MaxFragment,
              static_cast<unsigned long long>(resets));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A file or dictionary larger than the memory the process may have ends
  // the run with one line, not with an uncaught exception.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  std::fputs("vorka-profile: out of memory\n", stderr);
  return 1;
}
