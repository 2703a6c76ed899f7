// Test data: seeded byte streams of chosen redundancy, the same on every
// system and standard library, and the shared corpus when it is present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorka::test {

// A small seeded engine (splitmix64): every seed, 0 included, gives a good
// sequence, and the numbers do not depend on the standard library, as
// std::uniform_int_distribution's do.
class SeededRandom {
public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }
  template <typename T, std::size_t N>
  const T& Pick(const T (&table)[N]) {
    return table[Next() % N];
  }

private:
  std::uint64_t state_;
};

// Uniformly random bytes: incompressible.
std::string MakeRandom(std::size_t length, std::uint32_t seed);
// Words of a small vocabulary with blanks, punctuation and line ends:
// text-like and well compressible.
std::string MakeText(std::size_t length, std::uint32_t seed);
// Records of small integers between runs of one byte: mildly redundant
// binary data.
std::string MakeBinaryish(std::size_t length, std::uint32_t seed);
// A file of the checked-in corpus ("calgary/book1"), or an empty string when absent.
std::string CorpusFile(const std::string& relative);

}  // namespace vorka::test
