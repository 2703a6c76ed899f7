// The frame around a code stream, shared by the file object and the memory
// functions: the header parts in their order, how the encoder is fed and the
// stream ended, how the decoder is driven until the header's Size is
// produced, and the end marker. The callers only bring the bytes in and take
// them out, through small interfaces that are template parameters, so the
// per-block path has no indirect calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../codec/Decoder.h"
#include "../codec/DicStore.h"
#include "LZErrors.h"
#include "LZFormat.h"

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

// ---------------------------------------------------------------------------
// Packing. The packed bytes go to a TOut:
//   std::uint8_t* Block(std::uint32_t keep, std::uint32_t& room)
//     storage for the next bytes, room of them, with keep bytes left free
//     behind it for what must still follow;
//   std::uint8_t Put(std::uint32_t n)
//     the block's first n bytes are written: 0, or the code of a failed write.
// The plain bytes come from a TIn:
//   std::uint8_t Next(const std::uint8_t*& p, std::uint32_t& n)
//     the next piece, n = 0 once the input has ended: 0, or the code of a
//     failed read (also of an input that does not end where it should).

// The fixed header and the information part, in one block.
template <class TOut>
std::uint8_t WriteHead(TOut& out, std::uint32_t dicSize, std::uint32_t maxFrag, const lzformat::TInfoFields& info) {
  const std::uint32_t size = lzformat::HeadFixedSize + lzformat::InfoPartSize(info.NameLen);
  std::uint32_t room = 0;
  std::uint8_t* block = out.Block(lzformat::EndMarkerSize, room);
  if (room < size) return lzeHeaderTooLarge;
  lzformat::PutHeadFixed(block, dicSize, maxFrag);
  lzformat::PutHeadInfo(block + lzformat::HeadFixedSize, info);
  return out.Put(size);
}

// Feeds all of in to the encoder, a block of output at a time.
template <class TEncoder, class TOut>
std::uint8_t FeedEncoder(TEncoder& encoder, const std::uint8_t* in, std::uint32_t length, TOut& out) {
  while (length != 0) {
    std::uint32_t room = 0;
    std::uint8_t* block = out.Block(lzformat::EndMarkerSize, room);
    std::uint32_t consumed = 0;
    std::uint32_t written = 0;
    encoder.EncodeBlock(in, length, consumed, block, room, written);
    if (const std::uint8_t code = out.Put(written); code != lzeNone) return code;
    // An encoder that neither takes input nor gives output would loop forever.
    if (consumed == 0 && written == 0) return lzeWritePacked;
    in += consumed;
    length -= consumed;
  }
  return lzeNone;
}

// Final calls end the code stream; one that leaves room in its block has
// ended it.
template <class TEncoder, class TOut>
std::uint8_t EndStream(TEncoder& encoder, TOut& out) {
  static constexpr std::uint8_t none = 0;
  for (;;) {
    std::uint32_t room = 0;
    std::uint8_t* block = out.Block(lzformat::EndMarkerSize, room);
    std::uint32_t consumed = 0;
    std::uint32_t written = 0;
    encoder.EncodeBlock(&none, 0, consumed, block, room, written);
    if (const std::uint8_t code = out.Put(written); code != lzeNone) return code;
    if (written < room) return lzeNone;
    if (room == 0) return lzeWritePacked;
  }
}

template <class TOut>
std::uint8_t WriteEndMarker(TOut& out) {
  std::uint32_t room = 0;
  std::uint8_t* block = out.Block(0, room);
  if (room < lzformat::EndMarkerSize) return lzeSuffixTooLarge;
  std::memcpy(block, lzformat::EndMarker, lzformat::EndMarkerSize);
  return out.Put(lzformat::EndMarkerSize);
}

// A whole packed stream: header, codes, end marker. The first failure ends
// it and is the result.
template <class TEncoder, class TIn, class TOut>
std::uint8_t Pack(TEncoder& encoder, TDicStore& store, const lzformat::TInfoFields& info, TIn& in, TOut& out) {
  std::uint8_t code = WriteHead(out, store.DictionarySize(), store.MaxFragment(), info);
  if (code != lzeNone) return code;
  // The source holds no more than its recorded size.
  encoder.Start(store, info.Size >= 0 ? static_cast<std::uint64_t>(info.Size) : UnknownInput);
  for (;;) {
    const std::uint8_t* piece = nullptr;
    std::uint32_t length = 0;
    code = in.Next(piece, length);
    if (code != lzeNone) return code;
    if (length == 0) break;
    code = FeedEncoder(encoder, piece, length, out);
    if (code != lzeNone) return code;
  }
  code = EndStream(encoder, out);
  if (code != lzeNone) return code;
  return WriteEndMarker(out);
}

// ---------------------------------------------------------------------------
// Reading the header. The packed bytes come from a THeadIn:
//   bool Read(std::uint32_t n, bool fresh)
//     n more bytes of the stream, held after those held before (none when
//     fresh); false when fewer are there;
//   bool Holds(std::uint32_t n): there is room to hold n more bytes;
//   const std::uint8_t* Held(): the bytes held.
// check tests the fixed header's parameters (a reader's own rule).

template <class THeadIn, class TCheck>
std::uint8_t ReadHead(THeadIn& in, TCheck check, lzformat::THeadParams& params, lzformat::TInfoFields& info) {
  namespace fmt = lzformat;
  if (!in.Read(fmt::HeadFixedSize, true)) return lzeReadHeader;
  std::uint8_t code = fmt::ParseHeadFixed(in.Held(), params);
  if (code == lzeNone) code = check(params);
  if (code != lzeNone) return code;
  if (!in.Read(fmt::InfoLenSize, true)) return lzeReadHeader;
  const std::uint32_t infoLen = fmt::Get16(in.Held());
  if (!in.Holds(infoLen)) return lzeHeaderBufferSmall;
  if (!in.Read(infoLen, false)) return lzeReadHeader;
  return fmt::ParseHeadInfo(in.Held(), infoLen, info);
}

}  // namespace vorka::frame
