// Packs arbitrary bytes and unpacks them again. The first bytes choose the
// dictionary size, the fragment limit and the block sizes. The input is packed
// twice, in one piece into large blocks and in small or random pieces into
// small or random blocks: the two code streams must be identical, since block
// edges leave no trace in the stream. The stream must then unpack, again in
// small blocks, to the input, consuming exactly its bytes and nothing more.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzCommon.h"
#include "support/Codec.h"

namespace {

using TCodec = vorka::test::TTreeCodec;
using vorka::fuzz::Settings;
using vorka::fuzz::Splitter;

constexpr std::uint32_t kDicSizes[] = {500, 501, 640, 1000, 4096, 65536};
constexpr std::uint32_t kMaxFrags[] = {4, 5, 7, 64, 1000, 0xFFFFFFFFu};
constexpr std::uint32_t kBlocks[] = {1, 2, 3, 4, 5, 8, 13, 100, 1000, 65536};
constexpr std::uint32_t kLarge = 1u << 20;

// Moves a window to the end of a heap block of its own, so that an access past
// the window is caught.
class Window {
public:
  explicit Window(std::size_t capacity)
      : capacity_(capacity), block_(std::make_unique<std::uint8_t[]>(capacity)) {}
  std::uint8_t* Place(const std::uint8_t* bytes, std::size_t n) {
    std::uint8_t* p = block_.get() + capacity_ - n;
    if (n != 0) std::memcpy(p, bytes, n);
    return p;
  }
  std::uint8_t* Room(std::size_t n) { return block_.get() + capacity_ - n; }

private:
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> block_;
};

template <class TAnyCodec>
std::vector<std::uint8_t> Pack(TAnyCodec& codec, const std::uint8_t* data, std::size_t size,
                               Splitter inSplit, Splitter outSplit) {
  codec.StartPacking();
  Window in(size + 1);
  Window out(2 * kLarge);
  std::vector<std::uint8_t> stream;
  std::size_t pos = 0;
  std::size_t avail = 0;
  while (pos < size) {
    avail = std::min<std::size_t>(size - pos, avail + inSplit.Next());
    const std::uint32_t room = outSplit.Next();
    const std::uint8_t* input = in.Place(data + pos, avail);
    std::uint8_t* output = out.Room(room);
    std::uint32_t consumed = 0xFFFFFFFFu;
    std::uint32_t written = 0xFFFFFFFFu;
    codec.EncodeBlock(input, static_cast<std::uint32_t>(avail), consumed, output, room, written);
    VORKA_FUZZ_CHECK(consumed <= avail);
    VORKA_FUZZ_CHECK(written <= room);
    VORKA_FUZZ_CHECK(consumed != 0 || written != 0);
    stream.insert(stream.end(), output, output + written);
    pos += consumed;
    avail -= consumed;
  }
  // The final call has to be repeated while it fills its whole block.
  for (unsigned calls = 0;; ++calls) {
    VORKA_FUZZ_CHECK(calls < 64);
    const std::uint32_t room = outSplit.Next();
    std::uint8_t* output = out.Room(room);
    std::uint32_t consumed = 0xFFFFFFFFu;
    std::uint32_t written = 0xFFFFFFFFu;
    codec.EncodeBlock(in.Room(0), 0, consumed, output, room, written);
    VORKA_FUZZ_CHECK(consumed == 0);
    VORKA_FUZZ_CHECK(written <= room);
    stream.insert(stream.end(), output, output + written);
    if (written < room) break;
  }
  VORKA_FUZZ_CHECK(codec.Encoder.InputBytes() == size);
  VORKA_FUZZ_CHECK(codec.Encoder.PackedBytes() == stream.size());
  VORKA_FUZZ_CHECK((size == 0) == stream.empty());
  return stream;
}

// Unpacks exactly `size` bytes, as the file layer does, and checks that the
// stream was consumed to its last byte.
std::vector<std::uint8_t> Unpack(TCodec& codec, const std::vector<std::uint8_t>& stream,
                                 std::size_t size, Splitter inSplit, Splitter outSplit) {
  codec.StartUnpacking();
  Window in(stream.size() + 1);
  Window out(2 * kLarge);
  std::vector<std::uint8_t> plain;
  std::size_t pos = 0;
  std::size_t avail = 0;
  while (plain.size() < size) {
    avail = std::min<std::size_t>(stream.size() - pos, avail + inSplit.Next());
    const std::uint32_t room = static_cast<std::uint32_t>(
        std::min<std::size_t>(outSplit.Next(), size - plain.size()));
    const std::uint8_t* input = in.Place(stream.data() + pos, avail);
    std::uint8_t* output = out.Room(room);
    std::uint32_t consumed = 0xFFFFFFFFu;
    std::uint32_t produced = 0xFFFFFFFFu;
    const bool ok = codec.DecodeBlock(input, static_cast<std::uint32_t>(avail), consumed, output,
                                      room, produced);
    VORKA_FUZZ_CHECK(ok);
    VORKA_FUZZ_CHECK(consumed <= avail);
    VORKA_FUZZ_CHECK(produced <= room);
    VORKA_FUZZ_CHECK(consumed != 0 || produced != 0);
    plain.insert(plain.end(), output, output + produced);
    pos += consumed;
    avail -= consumed;
  }
  // The end marker of a packed file follows the last consumed byte.
  VORKA_FUZZ_CHECK(pos == stream.size());
  VORKA_FUZZ_CHECK(!codec.StreamDamaged());
  return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Settings settings(data, size);
  const std::uint32_t dicSize = settings.Pick(kDicSizes);
  const std::uint32_t maxFrag = settings.Pick(kMaxFrags);
  const std::uint32_t inBlock = settings.Pick(kBlocks);
  const std::uint32_t outBlock = settings.Pick(kBlocks);
  const std::uint32_t unpackBlock = settings.Pick(kBlocks);
  const std::uint32_t seed = settings.Byte();
  const std::uint8_t* plain = settings.Rest();
  const std::size_t length = settings.RestSize();

  TCodec codec;
  VORKA_FUZZ_CHECK(codec.Init(dicSize));
  codec.SetMaxFragment(maxFrag);
  const std::uint32_t effective = codec.MaxFragment();

  const std::vector<std::uint8_t> whole =
      Pack(codec, plain, length, Splitter(kLarge, 0), Splitter(kLarge, 0));
  VORKA_FUZZ_CHECK(codec.Encoder.LongestFragment() <= effective);
  const std::vector<std::uint8_t> split =
      Pack(codec, plain, length, Splitter(inBlock, seed * 0x9E3779B9u),
           Splitter(outBlock, (seed >> 1) * 0x85EBCA6Bu));
  VORKA_FUZZ_CHECK(whole == split);
  // The hash index finds the same phrases, so it writes the same stream.
  vorka::test::TCodec<vorka::THashIndex> hashed;
  VORKA_FUZZ_CHECK(hashed.Init(dicSize));
  hashed.SetMaxFragment(maxFrag);
  VORKA_FUZZ_CHECK(Pack(hashed, plain, length, Splitter(outBlock, seed), Splitter(inBlock, seed)) == whole);

  // A separate object, as the unpacker is another run with the same settings.
  TCodec unpacker;
  VORKA_FUZZ_CHECK(unpacker.Init(dicSize));
  unpacker.SetMaxFragment(maxFrag);
  VORKA_FUZZ_CHECK(unpacker.MaxFragment() == effective);
  const std::vector<std::uint8_t> restored =
      Unpack(unpacker, whole, length, Splitter(inBlock, (seed >> 2) * 0xC2B2AE35u),
             Splitter(unpackBlock, (seed >> 3) * 0x27D4EB2Fu));
  VORKA_FUZZ_CHECK(restored.size() == length);
  VORKA_FUZZ_CHECK(length == 0 || std::memcmp(restored.data(), plain, length) == 0);

  unpacker.Done();
  codec.Done();
  return 0;
}
