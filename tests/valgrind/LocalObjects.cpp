// Every library object used as a plain local variable, the way a user writes
// it: a TLZFile, and a dictionary store with its encoder and decoder, on the
// stack through Init, a round trip and Done, and the memory functions. Run under valgrind memcheck by CTest, so
// that a member left uninitialised shows as a conditional jump on it.
//
//   vorka_local_objects FOLDER   (a writable scratch folder)
// Exit status 0 when both round trips are exact.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Vorka.h"
#include "lzfile/LZFile.h"
#include "support/Codec.h"

namespace {

std::string Sample() {
  std::string s;
  std::uint32_t x = 7;
  while (s.size() < 30000) {
    x = x * 1103515245u + 12345u;
    static const char* const words[] = {"local ", "object ", "stack ", "aaaaaaaa", "\n"};
    s += words[(x >> 16) % 5];
  }
  return s;
}

std::string Slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Nothing else lives in this function's frame: a file stream before the
// object could share its stack slot and leave defined bytes there.
__attribute__((noinline)) int FileRoundTrip(const std::string& source, const std::string& packed,
                                            const std::string& restored) {
  vorka::TLZFile file;
  if (!file.Init(4096, 5000, 0)) return 10 + file.ErrorCode();
  file.SetFlag(vorka::lfOverwritePacked);
  file.SetFlag(vorka::lfOverwriteSource);
  file.PackFile(source, packed);
  if (file.ErrorCode() != 0) return 40 + file.ErrorCode();
  file.UnpackFile(packed, restored);
  if (file.ErrorCode() != 0) return 70 + file.ErrorCode();
  file.Done();
  return 0;
}

int CodecRoundTrip(const std::string& plain) {
  vorka::test::TTreeCodec codec;
  if (!codec.Init(1000)) return 3;
  codec.SetMaxFragment(50);
  codec.StartPacking();
  std::vector<std::uint8_t> stream(2 * plain.size() + 64);
  const auto* in = reinterpret_cast<const std::uint8_t*>(plain.data());
  std::uint32_t consumed = 0, written = 0, used = 0, pos = 0;
  while (pos < plain.size()) {
    codec.EncodeBlock(in + pos, static_cast<std::uint32_t>(plain.size() - pos), consumed, stream.data() + used,
                      static_cast<std::uint32_t>(stream.size() - used), written);
    pos += consumed;
    used += written;
  }
  codec.EncodeBlock(in, 0, consumed, stream.data() + used, static_cast<std::uint32_t>(stream.size() - used),
                    written);
  used += written;

  codec.StartUnpacking();
  std::vector<std::uint8_t> out(plain.size());
  std::uint32_t produced = 0;
  codec.DecodeBlock(stream.data(), used, consumed, out.data(), static_cast<std::uint32_t>(out.size()), produced);
  const bool same = produced == plain.size() && std::memcmp(out.data(), plain.data(), produced) == 0 &&
                    !codec.StreamDamaged();
  codec.Done();
  return same ? 0 : 4;
}

int MemoryRoundTrip(const std::string& plain) {
  std::vector<std::uint8_t> packed;
  std::vector<std::uint8_t> back;
  if (vorka::PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed, 700, 9) != 0) return 5;
  if (vorka::UnpackMemory(packed.data(), packed.size(), back) != 0) return 6;
  return std::string(back.begin(), back.end()) == plain ? 0 : 7;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 1;
  }
  const std::string plain = Sample();
  const std::string folder = argv[1];
  std::ofstream(folder + "/plain.txt", std::ios::binary) << plain;
  int rc = FileRoundTrip(folder + "/plain.txt", folder + "/plain.pk", folder + "/plain.out");
  if (rc == 0 && Slurp(folder + "/plain.out") != plain) rc = 2;
  if (rc == 0) rc = CodecRoundTrip(plain);
  if (rc == 0) rc = MemoryRoundTrip(plain);
  if (rc != 0) std::fprintf(stderr, "local objects: step failed with %d\n", rc);
  return rc;
}
