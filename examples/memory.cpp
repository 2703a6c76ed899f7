// Packs a buffer in memory and unpacks it again with the one-call functions:
// no file object, no names. Reads the file named on the command line (or uses
// a built-in text), packs it with the given dictionary size and fragment
// limit, and checks the round trip.
//
//   memory [FILE [DICTIONARY [MAXFRAGMENT]]]
//
// Exit status 0 when the round trip is exact, 1 when a step fails (the error
// number and its description are printed), 2 for a wrong command line.
#include <vorka/vorka.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc > 4) {
    std::fprintf(stderr, "usage: %s [FILE [DICTIONARY [MAXFRAGMENT]]]\n", argv[0]);
    return 2;
  }
  std::vector<std::uint8_t> plain;
  if (argc > 1) {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[1]);
      return 2;
    }
    plain.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    for (int i = 0; i < 200; ++i)
      for (const char* p = "a buffer in memory, packed and unpacked in one call each\n"; *p; ++p)
        plain.push_back(static_cast<std::uint8_t>(*p));
  }
  const auto dictionary = static_cast<std::uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 100000);
  const auto maxFragment = static_cast<std::uint32_t>(argc > 3 ? std::strtoul(argv[3], nullptr, 0) : 0);

  // The packed size never exceeds the bound, whatever the data.
  std::vector<std::uint8_t> packed;
  int code = vorka::PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed, dictionary,
                               maxFragment);
  if (code != 0) {
    std::fprintf(stderr, "pack: error %d: %s\n", code, vorka::ErrorDescription(code));
    return 1;
  }
  std::printf("%zu bytes packed into %zu (at most %zu)\n", plain.size(), packed.size(),
              vorka::PackedSizeBound(static_cast<std::uint32_t>(plain.size())));

  // The dictionary size and fragment limit travel in the packed header. The
  // last argument bounds what a hostile header can make the call hold.
  std::vector<std::uint8_t> restored;
  code = vorka::UnpackMemory(packed.data(), packed.size(), restored, plain.size());
  if (code != 0) {
    std::fprintf(stderr, "unpack: error %d: %s\n", code, vorka::ErrorDescription(code));
    return 1;
  }
  const bool same = restored == plain;
  std::printf("round trip %s\n", same ? "exact" : "DIFFERS");
  return same ? 0 : 1;
}
