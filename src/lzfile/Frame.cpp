#include "Frame.h"

#include <cstring>

#include "LZErrors.h"
#include "LZFormat.h"

namespace vorka::frame {

TStep TUnpacking::Step(const std::uint8_t* in, std::uint32_t inLength, std::uint32_t& consumed, std::uint8_t* out,
                       std::uint32_t outCapacity, std::uint32_t& produced) {
  consumed = 0;
  produced = 0;
  if (Left <= 0) return TStep::Done;
  const std::uint32_t room = Left < outCapacity ? static_cast<std::uint32_t>(Left) : outCapacity;
  Decoder.DecodeBlock(in, inLength, consumed, out, room, produced);
  Left -= produced;
  if (Decoder.StreamDamaged()) return TStep::Damaged;
  // A stream from the packer ends with a whole phrase: reaching Size inside
  // one means the Size field is smaller than the data.
  if (Left == 0) return Decoder.PhraseUnfinished() ? TStep::Damaged : TStep::Done;
  // Nothing taken and nothing given: with input held the stream cannot go on
  // (another call would do the same); without, it ended while bytes were
  // owed, which shows as a missing end marker.
  if (consumed == 0 && produced == 0) return inLength != 0 ? TStep::Damaged : TStep::Ended;
  return TStep::More;
}

std::uint8_t CheckEndMarker(const std::uint8_t* p, std::size_t available) {
  if (available < lzformat::EndMarkerSize) return lzeReadSuffix;
  if (std::memcmp(p, lzformat::EndMarker, lzformat::EndMarkerSize) != 0) return lzeBadEndMarker;
  return lzeNone;
}

}  // namespace vorka::frame
