// Packs a file, unpacks it again and checks that the result equals the source,
// through the installed library alone.
//
//   roundtrip SOURCE PACKED RESTORED [DICTIONARY [MAXFRAGMENT [BUFFER]]]
//
// Exit status 0 when the round trip is exact, 1 when a step fails (the error
// number and message are printed), 2 for a wrong command line.
#include <vorka/vorka.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Slurp(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One object for the whole program, as the library intends: its storage is
// obtained once and reused by every run.
vorka::TLZFile file;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 7) {
    std::fprintf(stderr, "usage: %s SOURCE PACKED RESTORED [DICTIONARY [MAXFRAGMENT [BUFFER]]]\n", argv[0]);
    return 2;
  }
  const auto number = [&](int i, unsigned long fallback) {
    return static_cast<std::uint32_t>(argc > i ? std::strtoul(argv[i], nullptr, 0) : fallback);
  };
  const std::uint32_t dictionary = number(4, 100000);
  const std::uint32_t maxFragment = number(5, 268435326);
  const std::uint32_t buffer = number(6, 100000);

  if (!file.Init(buffer, dictionary, maxFragment)) {
    std::fprintf(stderr, "init: error %u: %s\n", file.ErrorCode(), file.ErrorMessage().c_str());
    return 1;
  }
  file.SetFlag(vorka::lfOverwritePacked);
  file.SetFlag(vorka::lfOverwriteSource);

  file.PackFile(argv[1], argv[2]);
  if (file.ErrorCode() != 0) {
    std::fprintf(stderr, "pack: error %u: %s\n", file.ErrorCode(), file.ErrorMessage().c_str());
    return 1;
  }
  std::printf("packed %s: ratio %.4f, %u resets, longest phrase %u\n", argv[1], file.Ratio(),
              file.ResetCount(), file.LongestFragment());

  file.UnpackFile(argv[2], argv[3]);
  if (file.ErrorCode() != 0) {
    std::fprintf(stderr, "unpack: error %u: %s\n", file.ErrorCode(), file.ErrorMessage().c_str());
    return 1;
  }
  const bool same = Slurp(argv[1]) == Slurp(argv[3]);
  std::printf("round trip %s\n", same ? "exact" : "DIFFERS");
  file.Done();
  return same ? 0 : 1;
}
