// The decoder's end of stream: a whole stream ends with a whole phrase, so a
// caller that stops asking for bytes inside a phrase (a Size field smaller
// than the data) must be able to tell. PhraseUnfinished says so; it is checked
// here against phrase ends worked out by hand, for one call per stretch of
// output and for output delivered in small pieces.
#include "codec/CodecHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vorka {
namespace {

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::vector<std::uint8_t> Pack(test::TTreeCodec& codec, const std::string& data) {
  codec.StartPacking();
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> out(4096);
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::uint32_t consumed = 0, written = 0;
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(1000, data.size() - pos));
    codec.EncodeBlock(Bytes(data) + pos, length, consumed, out.data(), 4096, written);
    stream.insert(stream.end(), out.begin(), out.begin() + written);
    pos += consumed;
  }
  for (int i = 0; i < 8; ++i) {
    std::uint32_t consumed = 0, written = 0;
    codec.EncodeBlock(nullptr, 0, consumed, out.data(), 4096, written);
    stream.insert(stream.end(), out.begin(), out.begin() + written);
    if (written < 4096) break;
  }
  return stream;
}

// Decodes exactly `owed` bytes, offering at most `block` bytes per call, as
// the compressed-file layer does; the whole stream is offered as input.
std::string DecodeExactly(test::TTreeCodec& codec, const std::vector<std::uint8_t>& stream, std::size_t owed,
                          std::uint32_t block) {
  codec.StartUnpacking();
  std::string got;
  std::vector<std::uint8_t> out(block);
  std::size_t pos = 0;
  for (int idle = 0; got.size() < owed && idle < 3;) {
    const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(block, owed - got.size()));
    std::uint32_t consumed = 0, produced = 0;
    codec.DecodeBlock(stream.data() + pos, static_cast<std::uint32_t>(stream.size() - pos), consumed, out.data(),
                      room, produced);
    got.append(reinterpret_cast<const char*>(out.data()), produced);
    pos += consumed;
    idle = consumed == 0 && produced == 0 ? idle + 1 : 0;
  }
  return got;
}

// One byte repeated, with room for every phrase: the first byte is a literal,
// and each phrase after it is one byte longer than the one before until
// phrases reach maxFrag, after which every phrase has maxFrag bytes. So the
// phrases end after 1, 3, 6, 10, ... bytes.
std::set<std::size_t> RunPhraseEnds(std::size_t length, std::size_t maxFrag) {
  std::set<std::size_t> ends;
  std::size_t at = 0;
  for (std::size_t phrase = 1; at < length; ++phrase) {
    at += std::min(phrase, maxFrag);
    ends.insert(std::min(at, length));
  }
  return ends;
}

TEST(DecoderEndOfStream, PhraseUnfinishedExactlyInsideAPhrase) {
  struct Case {
    const char* What;
    std::size_t Length;
    std::uint32_t MaxFrag;
    std::uint32_t Block;  // output offered per call
  } cases[] = {
      {"growing phrases, one call", 3000, 100000, 100000},
      {"growing phrases, pieces of 7 bytes", 3000, 100000, 7},
      {"growing phrases, pieces of 1 byte", 600, 100000, 1},
      {"phrases of at most 4 bytes", 800, 4, 100000},
      {"phrases of at most 9 bytes, pieces of 2", 800, 9, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string data(c.Length, 'a');
    test::TTreeCodec codec{};
    ASSERT_TRUE(codec.Init(65536));
    codec.SetMaxFragment(c.MaxFrag);
    const std::vector<std::uint8_t> stream = Pack(codec, data);
    const std::set<std::size_t> ends = RunPhraseEnds(c.Length, std::min<std::size_t>(c.MaxFrag, 65536));
    for (std::size_t owed = 1; owed <= c.Length; ++owed) {
      SCOPED_TRACE(owed);
      ASSERT_EQ(DecodeExactly(codec, stream, owed, c.Block), data.substr(0, owed));
      ASSERT_FALSE(codec.StreamDamaged());
      ASSERT_EQ(codec.PhraseUnfinished(), ends.count(owed) == 0);
    }
    codec.Done();
  }
}

// Whatever the data, the whole stream ends on a phrase end, and nothing is
// unfinished before the first code is read.
TEST(DecoderEndOfStream, WholeStreamsEndWithAWholePhrase) {
  std::string text;
  for (int i = 0; text.size() < 50000; ++i) text += "word" + std::to_string(i % 97) + (i % 7 == 0 ? "\n" : " ");
  std::string noise(20000, '\0');
  std::uint32_t x = 12345;
  for (char& ch : noise) {
    x = x * 1103515245u + 12345u;
    ch = static_cast<char>(x >> 24);
  }
  const std::string inputs[] = {text, noise, std::string(1, 'z'), std::string(100000, 'b')};
  for (const std::string& data : inputs) {
    for (const std::uint32_t block : {1000u, 37u}) {
      SCOPED_TRACE(testing::Message() << data.size() << " bytes, blocks of " << block);
      test::TTreeCodec codec{};
      ASSERT_TRUE(codec.Init(5000));
      codec.SetMaxFragment(300);
      const std::vector<std::uint8_t> stream = Pack(codec, data);
      codec.StartUnpacking();
      EXPECT_FALSE(codec.PhraseUnfinished());
      ASSERT_EQ(DecodeExactly(codec, stream, data.size(), block), data);
      EXPECT_FALSE(codec.PhraseUnfinished());
      codec.Done();
    }
  }
}

}  // namespace
}  // namespace vorka
