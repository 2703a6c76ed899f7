// Test-only bit writer and reader that move one bit at a time, least
// significant bit first: slow on purpose, so that it shares nothing with the
// accumulator of the real bit buffer.
#pragma once

#include <cstdint>
#include <vector>

namespace vorka::test {

class RefBitWriter {
public:
  void Put(std::uint32_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << (bits_ % 8)));
      ++bits_;
    }
  }
  std::uint64_t Bits() const { return bits_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t bits_ = 0;
};

class RefBitReader {
public:
  explicit RefBitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  // False when fewer than width bits are left.
  bool Get(std::uint32_t& value, unsigned width) {
    if (pos_ + width > bytes_.size() * 8) return false;
    value = 0;
    for (unsigned i = 0; i < width; ++i, ++pos_)
      if ((bytes_[pos_ / 8] >> (pos_ % 8)) & 1u) value |= 1u << i;
    return true;
  }

private:
  const std::vector<std::uint8_t>& bytes_;
  std::uint64_t pos_ = 0;
};

}  // namespace vorka::test
