// Helpers shared by the fuzz targets: settings drawn from the first bytes of an
// input, and a check that survives NDEBUG. A failed check prints what broke and
// aborts, which libFuzzer and the replay program both report as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vorka::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

#define VORKA_FUZZ_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::vorka::fuzz::Fail(#cond, __FILE__, __LINE__))

// Takes settings off the front of the input; once it runs dry every value is
// the first of its table, so short inputs still make a valid run.
class Settings {
public:
  Settings(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() {
    if (pos_ >= size_) return 0;
    return data_[pos_++];
  }
  template <std::size_t N>
  std::uint32_t Pick(const std::uint32_t (&table)[N]) {
    return table[Byte() % N];
  }

  const std::uint8_t* Rest() const { return data_ + pos_; }
  std::size_t RestSize() const { return size_ - pos_; }

private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Block sizes for a run: always `size`, or with a nonzero seed pseudo-random
// sizes of 1 to 2*size, so that block edges fall everywhere in the stream.
class Splitter {
public:
  Splitter(std::uint32_t size, std::uint32_t seed) : size_(size), state_(seed) {}
  std::uint32_t Next() {
    if (state_ == 0) return size_;
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return 1 + state_ % (2 * size_);
  }

private:
  std::uint32_t size_;
  std::uint32_t state_;
};

}  // namespace vorka::fuzz
