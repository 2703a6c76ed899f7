// Packs a file, unpacks it again and checks that the result equals the source,
// through the installed library alone.
//
//   roundtrip SOURCE PACKED RESTORED [DICTIONARY [MAXFRAGMENT]]
//
// Exit status 0 when the round trip is exact, 1 when a step fails (the error
// number and its description are printed), 2 for a wrong command line.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: %s SOURCE PACKED RESTORED [DICTIONARY [MAXFRAGMENT]]\n", argv[0]);
    return 2;
  }
  const auto number = [&](int i, unsigned long fallback) {
    return static_cast<std::uint32_t>(argc > i ? std::strtoul(argv[i], nullptr, 0) : fallback);
  };
  std::printf("vorka library %s\n", vorka::VersionString());

  // The settings go into the packed file's header; unpacking takes them from there.
  int code = vorka::PackFile(argv[1], argv[2], number(4, 100000), number(5, 0));
  if (code != 0) {
    std::fprintf(stderr, "pack: error %d: %s\n", code, vorka::ErrorDescription(code));
    return 1;
  }
  code = vorka::UnpackFile(argv[2], argv[3]);
  if (code != 0) {
    std::fprintf(stderr, "unpack: error %d: %s\n", code, vorka::ErrorDescription(code));
    return 1;
  }
  const bool same = Slurp(argv[1]) == Slurp(argv[3]);
  std::printf("round trip %s\n", same ? "exact" : "DIFFERS");
  return same ? 0 : 1;
}
