// Test-only model of the code stream: the packing rules written out plainly
// with a std::map dictionary keyed by (node, character) and the bit-at-a-time
// writer. Stream tests compare the real encoder with it byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorka::test {

struct RefItem {
  std::uint32_t Value;
  unsigned Width;
  bool operator==(const RefItem&) const = default;
};

struct RefStream {
  std::vector<RefItem> Items;
  std::vector<std::uint8_t> Bytes;  // the items packed and padded to a byte
  std::uint64_t Bits = 0;
  std::uint32_t Resets = 0;         // resets caused by a full dictionary
  std::uint32_t Longest = 0;        // longest phrase created
};

// dicSize and maxFrag are taken as given after the codec's own clamping
// (500..268435326 nodes; fragments of at least 4).
RefStream RefEncode(const std::uint8_t* data, std::size_t length, std::uint32_t dicSize,
                    std::uint32_t maxFrag);
RefStream RefEncode(const std::string& data, std::uint32_t dicSize, std::uint32_t maxFrag);

}  // namespace vorka::test
