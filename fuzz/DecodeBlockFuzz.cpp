// Arbitrary bytes as a code stream. The first bytes choose the dictionary size,
// the fragment limit and the block sizes; the rest is decoded twice, once in
// large blocks and once in small or random ones, and both runs must give the
// same bytes and the same verdict. Windows are placed at the end of their heap
// blocks, so that a read past the input or a write past the room offered hits
// the sanitizer's red zone.
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

constexpr std::uint32_t kDicSizes[] = {500, 501, 777, 1000, 4096, 65536};
constexpr std::uint32_t kMaxFrags[] = {4, 5, 16, 255, 1000, 0xFFFFFFFFu};
constexpr std::uint32_t kBlocks[] = {1, 2, 3, 4, 7, 16, 100, 1000, 65536};
// Output of one run is capped: a short damaged stream can claim long phrases.
constexpr std::uint32_t kCap = 1u << 18;

struct Decoded {
  std::vector<std::uint8_t> Out;
  bool Damaged = false;
};

Decoded Decode(std::uint32_t dicSize, std::uint32_t maxFrag, const std::uint8_t* data,
               std::size_t size, Splitter inSplit, Splitter outSplit) {
  TCodec codec;
  VORKA_FUZZ_CHECK(codec.Init(dicSize));
  codec.SetMaxFragment(maxFrag);
  codec.StartUnpacking();

  const std::size_t inScratch = size + 1;
  auto in = std::make_unique<std::uint8_t[]>(inScratch);
  auto out = std::make_unique<std::uint8_t[]>(kCap);
  Decoded result;
  std::size_t pos = 0;    // input consumed so far
  std::size_t avail = 0;  // input offered beyond pos, as a caller holds unconsumed bytes
  for (;;) {
    avail = std::min<std::size_t>(size - pos, avail + inSplit.Next());
    const std::uint32_t room =
        std::min<std::uint32_t>(outSplit.Next(), kCap - static_cast<std::uint32_t>(result.Out.size()));
    if (room == 0) break;
    std::uint8_t* input = in.get() + inScratch - avail;
    if (avail != 0) std::memcpy(input, data + pos, avail);
    std::uint8_t* output = out.get() + kCap - room;
    std::uint32_t consumed = 0xFFFFFFFFu;
    std::uint32_t produced = 0xFFFFFFFFu;
    const bool ok = codec.DecodeBlock(input, static_cast<std::uint32_t>(avail), consumed, output,
                                      room, produced);
    VORKA_FUZZ_CHECK(ok == !codec.StreamDamaged());
    VORKA_FUZZ_CHECK(consumed <= avail);
    VORKA_FUZZ_CHECK(produced <= room);
    result.Out.insert(result.Out.end(), output, output + produced);
    pos += consumed;
    avail -= consumed;
    if (!ok) {
      result.Damaged = true;
      // A rejected stream stays rejected and takes nothing more.
      consumed = produced = 1;
      VORKA_FUZZ_CHECK(!codec.DecodeBlock(input, static_cast<std::uint32_t>(avail), consumed,
                                          output, room, produced));
      VORKA_FUZZ_CHECK(consumed == 0 && produced == 0);
      break;
    }
    // With room offered, a healthy decoder always takes input or gives output;
    // a call doing neither while input is left would stall the unpacker.
    if (consumed == 0 && produced == 0) {
      VORKA_FUZZ_CHECK(pos == size);
      break;
    }
  }
  codec.Done();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Settings settings(data, size);
  const std::uint32_t dicSize = settings.Pick(kDicSizes);
  const std::uint32_t maxFrag = settings.Pick(kMaxFrags);
  const std::uint32_t inBlock = settings.Pick(kBlocks);
  const std::uint32_t outBlock = settings.Pick(kBlocks);
  const std::uint32_t seed = settings.Byte();
  const std::uint8_t* stream = settings.Rest();
  const std::size_t length = settings.RestSize();

  const Decoded whole = Decode(dicSize, maxFrag, stream, length, Splitter(0x7FFFFFFF, 0),
                               Splitter(kCap, 0));
  const Decoded split = Decode(dicSize, maxFrag, stream, length, Splitter(inBlock, seed * 0x9E3779B9u),
                               Splitter(outBlock, (seed >> 1) * 0x85EBCA6Bu));
  VORKA_FUZZ_CHECK(whole.Damaged == split.Damaged);
  VORKA_FUZZ_CHECK(whole.Out == split.Out);
  return 0;
}
