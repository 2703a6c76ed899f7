// Arbitrary bytes as a packed file for UnpackFile. The first byte chooses one
// of a few object settings (buffer size, dictionary size, fragment limit; some
// with buffers shorter than the longest phrase); the rest is written to a file
// and unpacked over an existing output. Checked on every run:
//   - only the codes that unpacking can give are reported;
//   - a header that is refused leaves the existing output untouched;
//   - success means exactly Size bytes, damage at most Size bytes;
//   - the same object then still unpacks a good file correctly, so nothing of
//     a damaged run leaks into the next one.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "FuzzCommon.h"
#include "lzfile/LZFile.h"
#include "lzfile/LZFormat.h"

namespace {

using vorka::TLZFile;
using vorka::fuzz::Settings;
namespace fs = std::filesystem;
namespace fmt = vorka::lzformat;

struct Config {
  std::uint32_t BufSize, DicSize, MaxFrag;
};
constexpr Config kConfigs[] = {
    {1000, 500, 100000},  // fragment limit capped by the dictionary
    {1000, 1000, 4},
    {1000, 4096, 2000},   // phrases longer than the output buffer
    {4000, 65536, 255},
    {1000, 65536, 65536},
    {100000, 100000, 100000},  // the program's defaults
};
constexpr std::size_t kConfigCount = std::size(kConfigs);

const std::string kSentinel = "existing output that a refused header must not touch\n";

std::string ReadAll(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Removes the file first: a header may have made the last output read-only.
void WriteAll(const std::string& name, const void* bytes, std::size_t n) {
  std::error_code ec;
  fs::remove(name, ec);
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(n));
  VORKA_FUZZ_CHECK(f.good());
}

// Text-like bytes with long repeats, so that the good file has long phrases.
std::string GoodPlain() {
  std::string s;
  std::uint32_t x = 12345;
  while (s.size() < 5000) {
    x = x * 1103515245u + 12345u;
    static const char* const words[] = {"alpha ", "beta ", "gamma\n", "aaaaaaaaaaaaaaaa", "delta "};
    s += words[(x >> 16) % 5];
  }
  return s;
}

struct World {
  fs::path Dir;
  TLZFile* Files[kConfigCount] = {};
  std::string GoodPacked[kConfigCount];
  std::string Plain = GoodPlain();

  World() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/vorka-fuzz-XXXXXX";
    VORKA_FUZZ_CHECK(mkdtemp(templ.data()) != nullptr);
    Dir = templ;
    WriteAll(Name("plain"), Plain.data(), Plain.size());
    for (std::size_t i = 0; i < kConfigCount; ++i) {
      Files[i] = TLZFile::Create(kConfigs[i].BufSize, kConfigs[i].DicSize, kConfigs[i].MaxFrag);
      VORKA_FUZZ_CHECK(Files[i] != nullptr);
      Files[i]->SetFlag(vorka::lfOverwritePacked);
      Files[i]->SetFlag(vorka::lfOverwriteSource);
      Files[i]->PackFile(Name("plain"), Name("good.lz"));
      VORKA_FUZZ_CHECK(Files[i]->ErrorCode() == 0);
      GoodPacked[i] = ReadAll(Name("good.lz"));
    }
  }
  ~World() {
    for (TLZFile* f : Files) TLZFile::Destroy(f);
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  std::string Name(const char* leaf) const { return (Dir / leaf).string(); }
};

World& TheWorld() {
  static World world;
  return world;
}

bool HeaderRefused(std::uint8_t code) {
  return code == 13 || code == 14 || code == 15 || code == 18 || code == 20 || code == 21;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& w = TheWorld();
  Settings settings(data, size);
  const std::size_t which = settings.Byte() % kConfigCount;
  TLZFile& file = *w.Files[which];
  const std::uint8_t* packed = settings.Rest();
  const std::size_t length = settings.RestSize();

  const std::string in = w.Name("in.lz");
  const std::string out = w.Name("out");
  WriteAll(in, packed, length);
  WriteAll(out, kSentinel.data(), kSentinel.size());

  file.UnpackFile(in, out);
  const std::uint8_t code = file.ErrorCode();
  VORKA_FUZZ_CHECK(code == 0 || code == 11 || code == 24 || code == 25 || HeaderRefused(code));
  // The packed file is only read.
  VORKA_FUZZ_CHECK(ReadAll(in) == std::string(reinterpret_cast<const char*>(packed), length));

  const std::string restored = ReadAll(out);
  if (HeaderRefused(code)) {
    VORKA_FUZZ_CHECK(restored == kSentinel);
  } else {
    // Past the header, so the Size field was there to be read.
    VORKA_FUZZ_CHECK(length >= fmt::HeadFixedSize + fmt::InfoLenSize + fmt::InfoFixedLen);
    const auto claimed = static_cast<std::int32_t>(fmt::Get32(packed + fmt::HeadFixedSize + fmt::InfoOffSize));
    const std::size_t owed = claimed > 0 ? static_cast<std::size_t>(claimed) : 0;
    if (code == 0) {
      VORKA_FUZZ_CHECK(restored.size() == owed);
    } else {
      VORKA_FUZZ_CHECK(restored.size() <= owed);
    }
  }

  // The object must come out of any run fit for the next one.
  WriteAll(in, w.GoodPacked[which].data(), w.GoodPacked[which].size());
  file.UnpackFile(in, out);
  VORKA_FUZZ_CHECK(file.ErrorCode() == 0);
  VORKA_FUZZ_CHECK(ReadAll(out) == w.Plain);
  return 0;
}
