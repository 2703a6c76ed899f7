// Unpacking copies most phrases from where they were last written, in a
// history buffer that holds the current call's output after the last
// WindowSize bytes of earlier calls and slides when full. These cases reach
// every source (this call, earlier calls, output slid away or too old) by
// streams larger than the buffer and by calls whose sizes change from call to
// call, or exceed the buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "platform/Memory.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

// Far more than the window, with text that repeats at long distances (so
// that phrases are found in wrapped and stale window parts) and runs.
const std::string& LongInput() {
  static const std::string input = [] {
    const std::string text = test::MakeText(300000, 11);
    std::string s = text + test::MakeBinaryish(200000, 12) + std::string(5000, 'z') + text +
                    test::MakeRandom(100000, 13) + text.substr(1000, 250000);
    return s;
  }();
  return input;
}

struct TUnpacked {
  std::string Data;
  std::size_t Consumed = 0;
  bool Damaged = false;
};

// Each call offers the next output size of the cycle and the next input
// length of its cycle. startAt stands for the output of earlier streams
// unpacked by the same decoder.
TUnpacked UnpackCycling(test::TTreeCodec& codec, const std::vector<std::uint8_t>& stream, std::size_t owed,
                        const std::vector<std::uint32_t>& outSizes, const std::vector<std::uint32_t>& inSizes,
                        std::uint64_t startAt = 0) {
  codec.StartUnpacking();
  codec.Decoder.State.OutPos = startAt;
  TUnpacked r;
  std::vector<std::uint8_t> out(*std::max_element(outSizes.begin(), outSizes.end()));
  int idle = 0;
  for (std::size_t call = 0; r.Data.size() < owed && idle < 3; ++call) {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(inSizes[call % inSizes.size()], stream.size() - r.Consumed));
    const auto room = static_cast<std::uint32_t>(
        std::min<std::size_t>(outSizes[call % outSizes.size()], owed - r.Data.size()));
    std::uint32_t consumed = 0, produced = 0;
    const bool ok = codec.DecodeBlock(stream.data() + r.Consumed, length, consumed, out.data(), room, produced);
    EXPECT_LE(consumed, length);
    EXPECT_LE(produced, room);
    // With the rest of the stream at hand a call fills its room.
    if (ok && length == stream.size() - r.Consumed) {
      EXPECT_EQ(produced, room);
    }
    r.Data.append(reinterpret_cast<const char*>(out.data()), produced);
    r.Consumed += consumed;
    if (!ok && codec.StreamDamaged()) {
      r.Damaged = true;
      break;
    }
    idle = (consumed == 0 && produced == 0) ? idle + 1 : 0;
  }
  return r;
}

struct TCycle {
  const char* name;
  std::vector<std::uint32_t> out;
  std::vector<std::uint32_t> in;
  std::uint64_t startAt = 0;
};

TEST(DecodeWindow, LongStreamsUnpackExactlyWhateverTheCallSizes) {
  const std::string& input = LongInput();
  const TCycle cycles[] = {
      {"default blocks", {100000}, {100000}},
      {"larger than the window", {300000}, {1u << 20}},
      {"larger than the history", {2000000}, {1u << 20}},
      {"tiny output", {16, 17, 15}, {100000}},
      {"changing", {1000, 70000, 17, 262144, 4099, 1}, {7, 100000, 3, 65536}},
      {"one input byte", {65536}, {1}},
      // Output positions pass 2^32 in the middle of the stream.
      {"past 4 GiB", {100000}, {100000}, (std::uint64_t{1} << 32) - 777777},
      {"past 4 GiB, changing", {1000, 70000, 17, 262144, 4099, 1}, {7, 100000, 3, 65536}, (std::uint64_t{1} << 32) - 3},
  };
  for (const std::uint32_t dic : {100000u, 1u << 20}) {
    test::TTreeCodec codec;
    ASSERT_TRUE(codec.Init(dic));
    const std::vector<std::uint8_t> stream = test::PackAll(codec, input, 65536, 100000);
    for (const TCycle& c : cycles) {
      SCOPED_TRACE(testing::Message() << "dictionary " << dic << ", " << c.name);
      const TUnpacked r = UnpackCycling(codec, stream, input.size(), c.out, c.in, c.startAt);
      ASSERT_FALSE(r.Damaged);
      ASSERT_EQ(r.Data.size(), input.size());
      EXPECT_TRUE(r.Data == input) << "first difference at "
                                   << std::mismatch(r.Data.begin(), r.Data.end(), input.begin()).first -
                                          r.Data.begin();
      // The code stream ends in its last byte: nothing of it may be left.
      EXPECT_EQ(r.Consumed, stream.size());
    }
    codec.Done();
  }
}

// Phrases that grow beyond the call size are handed out in pieces; the
// positions they leave behind must still let later codes be copied.
TEST(DecodeWindow, PiecesLeaveTheDictionaryUsable) {
  std::string input;
  for (int round = 0; round < 4; ++round) input += std::string(300000, 'a') + test::MakeText(50000, 20 + round);
  input += input.substr(0, 400000);
  test::TTreeCodec codec;
  ASSERT_TRUE(codec.Init(1u << 20));
  codec.SetMaxFragment(0xFFFFFFFF);
  const std::vector<std::uint8_t> stream = test::PackAll(codec, input, 100000, 100000);
  for (const std::uint32_t out : {1000u, 4099u, 100000u}) {
    SCOPED_TRACE(testing::Message() << "output " << out);
    const TUnpacked r = UnpackCycling(codec, stream, input.size(), {out}, {100000});
    ASSERT_FALSE(r.Damaged);
    EXPECT_TRUE(r.Data == input);
  }
  // Without the history phrases are copied only from the call's own output.
  codec.Store.History = nullptr;
  EXPECT_TRUE(UnpackCycling(codec, stream, input.size(), {4099}, {100000}).Data == input);
  codec.Done();
}

// A code-by-code reader takes only the bytes each code needs; the decoder
// reads ahead but must report the same consumption, call by call.
TEST(DecodeWindow, ConsumptionIsThatOfACodeByCodeReader) {
  const std::string input = test::MakeText(200000, 30);
  test::TTreeCodec codec;
  ASSERT_TRUE(codec.Init(100000));
  const std::vector<std::uint8_t> stream = test::PackAll(codec, input, 100000, 100000);
  // Output calls of 999 bytes stop in the middle of the input again and
  // again; the total is then checked against a single pass.
  const TUnpacked small = UnpackCycling(codec, stream, input.size(), {999}, {1u << 20});
  const TUnpacked whole = UnpackCycling(codec, stream, input.size(), {1u << 20}, {1u << 20});
  EXPECT_TRUE(small.Data == input);
  EXPECT_TRUE(whole.Data == input);
  EXPECT_EQ(small.Consumed, stream.size());
  EXPECT_EQ(whole.Consumed, stream.size());
  // Stop after a first call and restart from the consumed offset with a new
  // input block: the bits held over must be just those of a partial byte.
  codec.StartUnpacking();
  std::vector<std::uint8_t> out(5000);
  std::uint32_t consumed = 0, produced = 0;
  ASSERT_TRUE(codec.DecodeBlock(stream.data(), static_cast<std::uint32_t>(stream.size()), consumed, out.data(),
                                5000, produced));
  EXPECT_LT(codec.Decoder.Bits.AccBits, 8u);
  EXPECT_LT(consumed, stream.size());
  codec.Done();
}

}  // namespace
}  // namespace vorka
