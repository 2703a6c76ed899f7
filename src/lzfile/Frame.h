// The frame around a code stream, shared by the file object and the memory
// functions: how the decoder is driven over the stream until the header's
// Size is produced, how that ends, and the end marker after it. The callers
// only bring the bytes in and take them out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../codec/Decoder.h"

namespace vorka::frame {

enum class TStep : std::uint8_t {
  More,     // call again with the input that was not consumed, and more
  Done,     // Size bytes produced, ending with a whole phrase
  Ended,    // no input left and nothing more to give: the marker check decides
  Damaged,  // error 11: the stream is damaged, or it stalls with input held
};

// Unpacking of one stream: Left plain bytes still owed (a Size of 0 or less
// owes none).
struct TUnpacking {
  TDecoder& Decoder;
  std::int64_t Left;

  // Decodes the input held (inLength bytes; 0 once the input has ended) into
  // out, producing no more than outCapacity and Left bytes.
  TStep Step(const std::uint8_t* in, std::uint32_t inLength, std::uint32_t& consumed, std::uint8_t* out,
             std::uint32_t outCapacity, std::uint32_t& produced);
};

// The end marker at p, where available bytes follow the code stream: 0, 25
// when fewer than the marker's 4 bytes are there, 24 when they are others.
std::uint8_t CheckEndMarker(const std::uint8_t* p, std::size_t available);

}  // namespace vorka::frame
