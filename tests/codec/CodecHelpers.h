// Drivers for the real codec used by the codec tests: whole-buffer packing
// and unpacking with chosen block sizes, over either child index.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Codec.h"

namespace vorka::test {


inline const std::uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Packs data with input blocks of inBlock bytes and output blocks of outBlock
// bytes (the encoder's own contract asks for output blocks of 1000 or more);
// stated: the length the stream is started with.
template <class TCodec>
std::vector<std::uint8_t> PackAll(TCodec& codec, const std::string& data, std::uint32_t inBlock,
                                  std::uint32_t outBlock, std::uint64_t stated = UnknownInput) {
  codec.StartPacking(stated);
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> out(outBlock);
  std::size_t pos = 0;
  while (pos < data.size()) {
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(inBlock, data.size() - pos));
    std::uint32_t taken = 0;
    while (taken < length) {
      std::uint32_t consumed = 0, written = 0;
      codec.EncodeBlock(Bytes(data) + pos + taken, length - taken, consumed, out.data(), outBlock, written);
      stream.insert(stream.end(), out.begin(), out.begin() + written);
      taken += consumed;
    }
    pos += length;
  }
  // Final calls until a call writes nothing more.
  for (int i = 0; i < 64; ++i) {
    std::uint32_t consumed = 0, written = 0;
    codec.EncodeBlock(nullptr, 0, consumed, out.data(), outBlock, written);
    stream.insert(stream.end(), out.begin(), out.begin() + written);
    if (written < outBlock) break;
  }
  return stream;
}

struct UnpackResult {
  std::string Data;
  bool Damaged = false;
  std::uint32_t Calls = 0;
};

// Unpacks until `owed` bytes are out, the input is used up, or the decoder
// rejects the stream. Each call offers at most outBlock bytes (fewer at the
// end, as the caller limits output to what is still owed).
template <class TCodec>
UnpackResult UnpackAll(TCodec& codec, const std::vector<std::uint8_t>& stream,
                              std::size_t owed, std::uint32_t inBlock, std::uint32_t outBlock) {
  codec.StartUnpacking();
  UnpackResult result;
  std::vector<std::uint8_t> out(outBlock);
  std::size_t pos = 0;
  int idle = 0;
  while (result.Data.size() < owed && idle < 3) {
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(inBlock, stream.size() - pos));
    const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(outBlock, owed - result.Data.size()));
    std::uint32_t consumed = 0, produced = 0;
    const bool ok = codec.DecodeBlock(stream.data() + pos, length, consumed, out.data(), room, produced);
    ++result.Calls;
    result.Data.append(reinterpret_cast<const char*>(out.data()), produced);
    if (!ok && codec.StreamDamaged()) {
      result.Damaged = true;
      break;
    }
    pos += consumed;
    idle = (consumed == 0 && produced == 0) ? idle + 1 : 0;
  }
  return result;
}

// The two child indexes, for typed tests: every build tests both.
using ChildIndexes = testing::Types<TChildTrees, THashIndex>;
struct IndexNames {
  template <class TIndex>
  static std::string GetName(int) {
    return TIndex::Name;
  }
};

}  // namespace vorka::test
