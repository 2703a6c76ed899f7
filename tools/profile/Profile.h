// What the packer does along a file: the input is packed in pieces of 64 KiB
// through the codec's public calls, and after each piece the codec's counters
// are read. Codes are counted by walking the code stream itself, which needs
// no dictionary: widths change only where the stream says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorka::profile {

inline constexpr std::uint32_t kPieceSize = 64 * 1024;

// One piece of input and what packing it cost.
struct TPieceRow {
  std::uint64_t Offset = 0;      // first input byte of the piece
  std::uint32_t Bytes = 0;       // input bytes in the piece
  std::uint64_t Bits = 0;        // code stream bits emitted for it (the last piece
                                 // also carries the end of the stream and its padding)
  std::uint64_t Codes = 0;       // phrase codes and literals sent
  std::uint64_t NewEntries = 0;  // dictionary entries created
  std::uint32_t Resets = 0;      // dictionary resets while packing it
  std::uint32_t Width = 0;       // code width at its end, bits
  std::uint32_t Longest = 0;     // longest phrase created so far in the file
};

struct TProfile {
  std::uint32_t DictionarySize = 0;
  std::uint32_t MaxFragment = 0;
  std::uint64_t InputBytes = 0;
  std::uint64_t StreamBytes = 0;  // length of the code stream, as a packed file holds it
  std::vector<TPieceRow> Rows;
};

// Packs data with a dictionary of dicSize entries and the longest phrase
// maxFrag (0: the dictionary size), as `vorka c /l: /z:` would. Returns false
// with a message in error when the dictionary cannot be had or the stream the
// codec wrote does not walk as a valid stream.
bool ProfileData(const std::vector<std::uint8_t>& data, std::uint32_t dicSize, std::uint32_t maxFrag,
                 TProfile& profile, std::string& error);

// The rows as CSV, one line per piece after a header line.
std::string ProfileCsv(const TProfile& profile);

}  // namespace vorka::profile
