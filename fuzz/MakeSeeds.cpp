// Writes the seed corpora of the fuzz targets, made with the project's own
// packer, into <folder>/<target>/. Each seed starts with the settings bytes
// that its target reads first, chosen to match how the stream was packed, so
// that mutations start from streams and files that decode to the end.
//
//   fuzz_make_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Vorka.h"
#include "support/Codec.h"
#include "lzfile/LZFile.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Inputs of different character: text, one long run, repeats, noise, binary.
std::vector<std::string> Plains() {
  std::vector<std::string> plains;
  plains.push_back(vorka::test::MakeText(3000, 2024));
  plains.push_back(std::string(2500, 'a'));
  plains.push_back("abcabcabcabcabcabcabcabcabcabcabcabcabcabcabc");
  plains.push_back(vorka::test::MakeRandom(2000, 2024));
  std::string binary;
  for (int i = 0; i < 1500; ++i) binary.push_back(static_cast<char>((i * i) % 7 == 0 ? i : 0));
  plains.push_back(binary);
  plains.push_back("a");
  return plains;
}

Bytes Encode(std::uint32_t dicSize, std::uint32_t maxFrag, const std::string& plain) {
  vorka::test::TTreeCodec codec;
  if (!codec.Init(dicSize)) return {};
  codec.SetMaxFragment(maxFrag);
  codec.StartPacking();
  Bytes stream(2 * plain.size() + 64);
  std::uint32_t consumed = 0, written = 0, used = 0;
  const auto* in = reinterpret_cast<const std::uint8_t*>(plain.data());
  std::uint32_t pos = 0;
  while (pos < plain.size()) {
    codec.EncodeBlock(in + pos, static_cast<std::uint32_t>(plain.size() - pos), consumed,
                      stream.data() + used, static_cast<std::uint32_t>(stream.size() - used), written);
    pos += consumed;
    used += written;
  }
  codec.EncodeBlock(in, 0, consumed, stream.data() + used,
                    static_cast<std::uint32_t>(stream.size() - used), written);
  used += written;
  stream.resize(used);
  codec.Done();
  return stream;
}

void Write(const fs::path& name, const Bytes& bytes) {
  vorka::test::WriteFile(name.string(), std::string(bytes.begin(), bytes.end()));
}

std::string Name(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "seed-%02d", i);
  return buf;
}

// The decode target's tables (DecodeBlockFuzz.cpp), and index pairs into them.
constexpr std::uint32_t kDecodeDicSizes[] = {500, 501, 777, 1000, 4096, 65536};
constexpr std::uint32_t kDecodeMaxFrags[] = {4, 5, 16, 255, 1000, 0xFFFFFFFFu};
constexpr std::uint8_t kDecodeSeeds[][2] = {{0, 0}, {0, 5}, {3, 4}, {4, 2}, {5, 5}, {1, 1}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds <corpus folder>\n");
    return 2;
  }
  const fs::path root = argv[1];
  const std::vector<std::string> plains = Plains();

  // decode_block: dic, frag, in block, out block, seed byte; then the stream.
  const fs::path decode = root / "decode_block";
  fs::create_directories(decode);
  int n = 0;
  for (std::size_t p = 0; p < plains.size(); ++p) {
    const std::uint8_t dic = kDecodeSeeds[p % std::size(kDecodeSeeds)][0];
    const std::uint8_t frag = kDecodeSeeds[p % std::size(kDecodeSeeds)][1];
    Bytes seed = {dic, frag, static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p + 3),
                  static_cast<std::uint8_t>(p * 37)};
    const Bytes stream = Encode(kDecodeDicSizes[dic], kDecodeMaxFrags[frag], plains[p]);
    seed.insert(seed.end(), stream.begin(), stream.end());
    Write(decode / Name(n++), seed);
  }

  // round_trip: dic, frag, in block, out block, unpack block, seed byte; then
  // the plain bytes. Its tables: dic {500,501,640,1000,4096,65536},
  // frag {4,5,7,64,1000,max}, blocks {1,2,3,4,5,8,13,100,1000,65536}.
  const fs::path round = root / "round_trip";
  fs::create_directories(round);
  n = 0;
  for (std::size_t p = 0; p < plains.size(); ++p) {
    Bytes seed = {static_cast<std::uint8_t>(p % 6), static_cast<std::uint8_t>((p * 5) % 6),
                  static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(9 - p),
                  static_cast<std::uint8_t>(p + 2), static_cast<std::uint8_t>(p * 53)};
    seed.insert(seed.end(), plains[p].begin(), plains[p].end());
    Write(round / Name(n++), seed);
  }

  // unpack_file: the index of the object's settings, then a packed file made
  // by an object with those settings (see kConfigs of UnpackFileFuzz.cpp).
  struct Config {
    std::uint32_t BufSize, DicSize, MaxFrag;
  };
  const Config configs[] = {{1000, 500, 100000}, {1000, 1000, 4},      {1000, 4096, 2000},
                            {4000, 65536, 255},  {1000, 65536, 65536}, {100000, 100000, 100000}};
  const fs::path unpack = root / "unpack_file";
  fs::create_directories(unpack);
  const vorka::test::ScratchDir scratch;
  n = 0;
  for (std::size_t c = 0; c < std::size(configs); ++c) {
    vorka::TLZFile* file =
        vorka::TLZFile::Create(configs[c].BufSize, configs[c].DicSize, configs[c].MaxFrag);
    if (file == nullptr) return 1;
    file->SetFlag(vorka::lfOverwritePacked);
    for (std::size_t p = c % 2; p < plains.size(); p += 2) {
      const std::string source = scratch / "seed.txt";
      const std::string packed = scratch / "seed.lz";
      vorka::test::WriteFile(source, plains[p]);
      file->PackFile(source, packed);
      if (file->ErrorCode() != 0) return 1;
      const std::string bytes = vorka::test::ReadFile(packed);
      Bytes seed = {static_cast<std::uint8_t>(c)};
      seed.insert(seed.end(), bytes.begin(), bytes.end());
      Write(unpack / Name(n++), seed);
    }
    vorka::TLZFile::Destroy(file);
  }
  // An empty source gives a file of header and end marker only.
  {
    vorka::TLZFile* file = vorka::TLZFile::Create(1000, 500, 100000);
    if (file == nullptr) return 1;
    const std::string source = scratch / "empty";
    const std::string packed = scratch / "empty.lz";
    vorka::test::WriteFile(source, "");
    file->SetFlag(vorka::lfOverwritePacked);
    file->PackFile(source, packed);
    if (file->ErrorCode() != 0) return 1;
    const std::string bytes = vorka::test::ReadFile(packed);
    Bytes seed = {0};
    seed.insert(seed.end(), bytes.begin(), bytes.end());
    Write(unpack / Name(n++), seed);
    vorka::TLZFile::Destroy(file);
  }
  // unpack_memory: packed files as PackMemory writes them, with settings from
  // the smallest dictionary and fragment limit to the largest dictionary.
  struct MemoryConfig {
    std::uint32_t DicSize, MaxFrag;
  };
  const MemoryConfig memoryConfigs[] = {{500, 4}, {100000, 0}, {1000, 50}, {65536, 255}, {268435326, 0}, {4096, 0}};
  const fs::path memory = root / "unpack_memory";
  fs::create_directories(memory);
  n = 0;
  for (std::size_t p = 0; p < plains.size(); ++p) {
    const MemoryConfig& c = memoryConfigs[p % std::size(memoryConfigs)];
    Bytes seed;
    if (vorka::PackMemory(plains[p].data(), static_cast<std::uint32_t>(plains[p].size()), seed, c.DicSize,
                          c.MaxFrag) != 0)
      return 1;
    Write(memory / Name(n++), seed);
  }
  Bytes empty;
  if (vorka::PackMemory(nullptr, 0, empty) != 0) return 1;
  Write(memory / Name(n++), empty);
  return 0;
}
