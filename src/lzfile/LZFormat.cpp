// Encoding and testing of the two header parts, shared by the file object and
// the one-call memory functions so that both write the same bytes and refuse
// a header with the same code.
#include "LZFormat.h"

namespace vorka::lzformat {

void PutHeadFixed(std::uint8_t* head, std::uint32_t dicSize, std::uint32_t maxFrag) {
  std::memcpy(head, HeadFixedTemplate, HeadFixedSize);
  Put32(head + OffDicSize, dicSize);
  Put32(head + OffMaxFrag, maxFrag);
}

std::uint8_t ParseHeadFixed(const std::uint8_t* head, THeadParams& params) {
  if (std::memcmp(head, HeadFixedTemplate, SignatureSize) != 0) return lzeBadHeader;
  params.Version = Get16(head + OffVersion);
  params.DicSize = Get32(head + OffDicSize);
  params.MaxFrag = Get32(head + OffMaxFrag);
  return params.Version == FormatVersion ? lzeNone : lzeBadVersion;
}

std::uint8_t MatchHeadParams(const THeadParams& params, std::uint32_t dicSize, std::uint32_t maxFrag) {
  if (params.DicSize != dicSize) return lzeBadDictionarySize;
  if (params.MaxFrag != maxFrag) return lzeBadMaxFragment;
  return lzeNone;
}

std::uint8_t CheckHeadParams(const THeadParams& params) {
  if (params.DicSize < MinHeadDicSize || params.DicSize > MaxHeadDicSize) return lzeBadDictionarySize;
  if (params.MaxFrag < MinHeadMaxFrag || params.MaxFrag > params.DicSize) return lzeBadMaxFragment;
  return lzeNone;
}

void PutHeadInfo(std::uint8_t* part, const TInfoFields& fields) {
  const std::uint8_t n = fields.NameLen;
  Put16(part, static_cast<std::uint16_t>(InfoFixedLen + n));
  Put32(part + InfoOffAttr, static_cast<std::uint32_t>(fields.Attr));
  Put32(part + InfoOffTime, static_cast<std::uint32_t>(fields.Time));
  Put32(part + InfoOffSize, static_cast<std::uint32_t>(fields.Size));
  part[InfoOffNameLen] = n;
  if (n != 0) std::memcpy(part + InfoOffName, fields.Name, n);
}

std::uint8_t ParseHeadInfo(const std::uint8_t* part, std::uint32_t infoLen, TInfoFields& fields) {
  // Below 13 the name length lies outside what was read; the test fails anyway.
  if (infoLen < InfoFixedLen || InfoFixedLen + part[InfoOffNameLen] > infoLen) return lzeBadHeader;
  fields.Attr = static_cast<std::int32_t>(Get32(part + InfoOffAttr));
  fields.Time = static_cast<std::int32_t>(Get32(part + InfoOffTime));
  fields.Size = static_cast<std::int32_t>(Get32(part + InfoOffSize));
  fields.NameLen = part[InfoOffNameLen];
  fields.Name = part + InfoOffName;
  return lzeNone;
}

}  // namespace vorka::lzformat
