// Test data for the compressed-file tests: seeded byte streams of chosen
// redundancy, and the checked-in corpus when it is present.
#pragma once

#include <cstdint>
#include <string>

namespace vorka::test {

// Uniformly random bytes from a fixed seed.
std::string RandomBytes(std::size_t n, std::uint32_t seed);
// Words of a small vocabulary separated by blanks and line ends: text-like,
// well compressible.
std::string TextLike(std::size_t n, std::uint32_t seed);
// One byte repeated: phrases grow by one byte each, so fragments get long.
std::string Run(std::size_t n, char c);
// A corpus file under the shared folder, or an empty string when absent.
std::string CorpusFile(const std::string& relative);

}  // namespace vorka::test
