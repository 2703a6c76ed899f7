// Error codes of the compressed-file layer and their fixed texts (UTF-8).
// 0 is no error; 1 to 25 are defined; every other value has the default text.
#pragma once

#include <cstdint>
#include <string>

namespace vorka {

enum : std::uint8_t {
  lzeNone = 0,
  lzeNoBufferMemory = 1,
  lzeNoBuffers = 2,
  lzeOpenSourceRead = 3,
  lzeOverwriteSource = 4,
  lzeOverwritePacked = 5,
  lzeOpenSourceWrite = 6,
  lzeOpenPackedWrite = 7,
  lzeOpenPackedRead = 8,
  lzeNoHeader = 9,
  lzeWritePacked = 10,
  lzeReadPacked = 11,
  lzeDataBufferSmall = 12,  // UnpackMemory: Size above the caller's limit
  lzeHeaderBufferSmall = 13,
  lzeReadHeader = 14,
  lzeBadHeader = 15,
  lzeHeaderTooLarge = 16,
  lzeReadSource = 17,
  lzeBadVersion = 18,
  lzeWriteSource = 19,
  lzeBadMaxFragment = 20,
  lzeBadDictionarySize = 21,
  lzeNoDictionaryMemory = 22,
  lzeSuffixTooLarge = 23,
  lzeBadEndMarker = 24,
  lzeReadSuffix = 25,
};

// The message of any code, as a new string.
std::string ErrorText(int code);

// A short English description of any code (never null).
const char* ErrorDescription(int code) noexcept;

}  // namespace vorka
