// Layout of a packed file, in one place. Little-endian throughout, no gaps:
//
//   0  51  signature (the same in every file)
//  51   2  Version, always 1
//  53   4  DicSize of the writer's dictionary
//  57   4  MaxFrag, the writer's effective maximum fragment length
//  61   2  InfoLen = 13 + n (bytes of the information part after this field)
//  63   4  Attr   (Windows attribute bits, 0 when unknown)
//  67   4  Time   (MS-DOS date-time, local time, 0 when unknown)
//  71   4  Size   (signed length of the plain file)
//  75   1  NameLen = n
//  76   n  Name   (without its folder, no terminator)
//  76+n D  code stream, least significant bit first, last byte zero-padded
//  76+n+D 4 end marker 23 01 CD AB
//
// A packed file is therefore 80 + n + D bytes long.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../buffers/Endian.h"
#include "../codec/LZTypes.h"
#include "LZErrors.h"

namespace vorka::lzformat {

inline constexpr std::uint32_t SignatureSize = 51;
inline constexpr std::uint32_t HeadFixedSize = 61;
inline constexpr std::uint32_t OffVersion = 51;
inline constexpr std::uint32_t OffDicSize = 53;
inline constexpr std::uint32_t OffMaxFrag = 57;
inline constexpr std::uint16_t FormatVersion = 1;

// Offsets inside the information part, counted from its InfoLen field.
inline constexpr std::uint32_t InfoLenSize = 2;
inline constexpr std::uint32_t InfoOffAttr = 2;
inline constexpr std::uint32_t InfoOffTime = 6;
inline constexpr std::uint32_t InfoOffSize = 10;
inline constexpr std::uint32_t InfoOffNameLen = 14;
inline constexpr std::uint32_t InfoOffName = 15;
// InfoLen without the name: Attr, Time, Size and NameLen.
inline constexpr std::uint32_t InfoFixedLen = 13;
inline constexpr std::uint32_t MaxNameLen = 255;

inline constexpr std::uint32_t EndMarkerSize = 4;
inline constexpr std::uint8_t EndMarker[EndMarkerSize] = {0x23, 0x01, 0xCD, 0xAB};

// The fixed header with zero in both parameter fields; a writer fills them in.
inline constexpr std::uint8_t HeadFixedTemplate[HeadFixedSize] = {
    // "Vorkasteln: LZ78 packed file (Fast1 dictionary)." CR LF EOF
    0x56, 0x6F, 0x72, 0x6B, 0x61, 0x73, 0x74, 0x65, 0x6C, 0x6E, 0x3A, 0x20, 0x4C,
    0x5A, 0x37, 0x38, 0x20, 0x70, 0x61, 0x63, 0x6B, 0x65, 0x64, 0x20, 0x66, 0x69,
    0x6C, 0x65, 0x20, 0x28, 0x46, 0x61, 0x73, 0x74, 0x31, 0x20, 0x64, 0x69, 0x63,
    0x74, 0x69, 0x6F, 0x6E, 0x61, 0x72, 0x79, 0x29, 0x2E, 0x0D, 0x0A, 0x1A,
    // Version 1
    0x01, 0x00,
    // DicSize, MaxFrag
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

inline std::uint16_t Get16(const std::uint8_t* p) { return le::Load16(p); }
inline std::uint32_t Get32(const std::uint8_t* p) { return le::Load32(p); }
inline void Put16(std::uint8_t* p, std::uint16_t v) { le::Store16(p, v); }
inline void Put32(std::uint8_t* p, std::uint32_t v) { le::Store32(p, v); }

// The fixed header's fields after the signature.
struct THeadParams {
  std::uint16_t Version{};
  std::uint32_t DicSize{};
  std::uint32_t MaxFrag{};
};

// The information part: Attr, Time, Size and the stored name (Name points into
// the bytes it was parsed from, or at the caller's name when writing).
struct TInfoFields {
  std::int32_t Attr{};
  std::int32_t Time{};
  std::int32_t Size{};
  std::uint8_t NameLen{};
  const std::uint8_t* Name{};
};

// The legal range of DicSize in a header: what a writer's dictionary can be.
inline constexpr std::uint32_t MinHeadDicSize = MinDictionarySize;
inline constexpr std::uint32_t MaxHeadDicSize = MaxDictionarySize;
inline constexpr std::uint32_t MinHeadMaxFrag = MinFragmentLength;

// Writes the 61 bytes of the fixed header.
void PutHeadFixed(std::uint8_t* head, std::uint32_t dicSize, std::uint32_t maxFrag);

// Reads 61 bytes of a fixed header: the signature (else 15), then the version
// (else 18). params gets Version even when it is refused.
std::uint8_t ParseHeadFixed(const std::uint8_t* head, THeadParams& params);

// A reader with fixed settings: the header must name exactly these (21 for
// the dictionary size, tested first, then 20 for the fragment limit).
std::uint8_t MatchHeadParams(const THeadParams& params, std::uint32_t dicSize, std::uint32_t maxFrag);

// The settings a writer takes from its caller, pulled into the command
// line's limits: maxFrag 0 means the dictionary size.
inline void PullPackSettings(std::uint32_t& dicSize, std::uint32_t& maxFrag) {
  dicSize = std::clamp(dicSize, MinHeadDicSize, MaxHeadDicSize);
  if (maxFrag == 0) maxFrag = dicSize;
  maxFrag = std::clamp(maxFrag, MinHeadMaxFrag, MaxHeadDicSize);
}

// A reader that adopts the header's settings: they must be ones a writer can
// have used (DicSize 500..268435326, else 21; MaxFrag 4..DicSize, else 20).
std::uint8_t CheckHeadParams(const THeadParams& params);

// Bytes of the information part including its InfoLen field.
inline constexpr std::uint32_t InfoPartSize(std::uint8_t nameLen) {
  return InfoLenSize + InfoFixedLen + nameLen;
}

// Writes InfoLen and the fields: InfoPartSize(fields.NameLen) bytes.
void PutHeadInfo(std::uint8_t* part, const TInfoFields& fields);

// Reads an information part: part holds the InfoLen field and the infoLen
// bytes that follow it. 15 when the name does not fit infoLen (or infoLen is
// below 13); otherwise 0 and the fields, Name pointing into part.
std::uint8_t ParseHeadInfo(const std::uint8_t* part, std::uint32_t infoLen, TInfoFields& fields);

}  // namespace vorka::lzformat
