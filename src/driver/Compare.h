// Byte-for-byte comparison of the source with the restored file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorka {

// Compares the two files in blocks of bufSize bytes, printing the header,
// its own errors, the first mismatch with its neighbours and " завершено.".
// True only when both files open, are two files (not one by two names), and
// have the same length and the same bytes.
// A bufSize below 1 is treated like buffers that cannot be had.
bool CompareFiles(const std::string& name1, const std::string& name2, std::int32_t bufSize);

// 0 when the first n bytes of a and b are equal, otherwise the position,
// counted from 1, of the first byte where they differ. n must be at least 1.
std::size_t FirstDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

}  // namespace vorka
