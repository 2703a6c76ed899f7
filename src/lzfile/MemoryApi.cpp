// One-call packing and unpacking of a buffer in memory. Both go through the
// frame layer that the file object uses, with the whole buffer as one piece of
// input: the code stream does not depend on how its input is split into
// blocks.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "../Vorka.h"
#include "../codec/Decoder.h"
#include "../codec/Encoder.h"
#include "LZErrors.h"
#include "Frame.h"
#include "LZFormat.h"

namespace vorka {

namespace fmt = lzformat;

namespace {

// The codec's calls take 32-bit lengths; larger areas go in pieces.
constexpr std::uint64_t kMaxPiece = std::uint64_t{1} << 30;
// Output block of one packing call: the storage is filled in this far ahead
// of the codes.
constexpr std::uint64_t kOutputPiece = std::uint64_t{1} << 18;

// Header, information part with an empty name, and end marker.
constexpr std::uint64_t kFrame = fmt::HeadFixedSize + fmt::InfoPartSize(0) + fmt::EndMarkerSize;

std::uint32_t Piece(std::uint64_t n) { return static_cast<std::uint32_t>(std::min(n, kMaxPiece)); }

unsigned BitWidth(std::uint64_t v) {
  unsigned w = 0;
  while (v != 0) {
    ++w;
    v >>= 1;
  }
  return w;
}

// Gives the dictionary back however the call ends.
struct TStoreGuard {
  TDicStore& Store;
  ~TStoreGuard() { Store.Release(); }
};

// About the most bytes a code stream of `bytes` bytes can give, used to size
// the output before decoding instead of trusting the header's Size. Within an
// epoch each item can make the longest phrase only one character longer, and a
// phrase of length l is a node numbered l + 2 or more, so its code has at
// least bitwidth(l + 2) bits: the most productive stream lengthens its phrase
// by one with every code up to the fragment limit, then repeats that phrase.
// Should a stream ever give more, the output grows as it is decoded.
std::uint64_t YieldEstimate(std::uint64_t bytes, std::uint64_t maxFrag) {
  std::uint64_t bits = std::min<std::uint64_t>(bytes, std::uint64_t{1} << 40) * 8;
  std::uint64_t yield = 0;
  std::uint64_t next = 1;  // length of the next item
  for (unsigned w = 2; w <= 28 && next <= maxFrag; ++w) {
    const std::uint64_t top = std::min((std::uint64_t{1} << w) - 3, maxFrag);  // longest at width w
    if (next > top) continue;
    const std::uint64_t count = std::min(top - next + 1, bits / w);
    yield += (2 * next + count - 1) * count / 2;
    bits -= count * w;
    next += count;
    if (next <= top) return yield;  // out of bits
  }
  // The longest phrase, repeated at the width it needs.
  const std::uint64_t longest = next - 1;
  return yield + bits / std::max(2u, BitWidth(longest + 2)) * longest;
}

}  // namespace

std::size_t PackedSizeBound(std::uint32_t plainSize) {
  const std::uint64_t n = plainSize;
  if (n == 0) return kFrame;
  const unsigned nodeWidth = BitWidth(2 + std::min(2 * n, n + 256));
  std::uint64_t worst = 0;
  for (unsigned w = 9; w <= 28; ++w) {
    const std::uint64_t dic = std::max<std::uint64_t>(fmt::MinHeadDicSize, (std::uint64_t{1} << (w - 1)) + 1);
    const std::uint64_t width = std::max(2u, std::min(w, nodeWidth));
    const std::uint64_t epochBytes = std::max((dic - 2) / 2, dic - 259);
    const std::uint64_t epochs = 1 + n / epochBytes;
    const std::uint64_t phrases = std::min(n, (n + 65538 * epochs) / 2);
    const std::uint64_t literals = std::min(n, 256 * epochs);
    const std::uint64_t bits = width * phrases + 8 * literals + epochs * ((width - 2) * (width + 11) / 2);
    worst = std::max(worst, bits);
  }
  return static_cast<std::size_t>(kFrame + (worst + 7) / 8);
}

namespace {

// The frame's view of a packing in memory: the whole input as one piece, and
// the output in blocks of the reserved storage. Within the reserved capacity
// resize never moves the storage, so the size follows what is written and
// only that much is ever filled in. The bound leaves room for every code;
// should it ever fall short, the packing fails rather than cut the stream.
struct TMemoryPacking {
  std::vector<std::uint8_t>& Packed;
  const void* Plain;
  std::uint32_t PlainSize;
  std::size_t Capacity;
  std::size_t Used{};
  bool Given{};

  std::uint8_t Next(const std::uint8_t*& piece, std::uint32_t& length) {
    piece = static_cast<const std::uint8_t*>(Plain);
    length = Given ? 0 : PlainSize;
    Given = true;
    return lzeNone;
  }

  std::uint8_t* Block(std::uint32_t keep, std::uint32_t& room) {
    Used = Packed.size();
    const std::size_t free = Capacity - Used > keep ? Capacity - Used - keep : 0;
    room = static_cast<std::uint32_t>(std::min<std::uint64_t>(free, kOutputPiece));
    Packed.resize(Used + room);
    return Packed.data() + Used;
  }

  std::uint8_t Put(std::uint32_t n) {
    Packed.resize(Used + n);
    return lzeNone;
  }
};

template <class TIndex>
int PackWith(const void* plain, std::uint32_t plainSize, std::vector<std::uint8_t>& packed, std::uint32_t dicSize,
             std::uint32_t maxFrag) {
  packed.clear();
  if ((plain == nullptr && plainSize != 0) ||
      plainSize > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    return lzeOpenSourceRead;
  // The command line's limits.
  fmt::PullPackSettings(dicSize, maxFrag);

  TDicStore store;
  if (!store.Allocate(dicSize)) return lzeNoDictionaryMemory;
  const TStoreGuard guard{store};
  store.SetMaxFragment(maxFrag);
  TEncoderOf<TIndex> encoder;
  // One byte more than the bound: a final call that leaves room in its block
  // has ended the stream.
  const std::size_t capacity = PackedSizeBound(plainSize) + 1;
  try {
    packed.reserve(capacity);
  } catch (const std::bad_alloc&) {
    return lzeNoBufferMemory;
  } catch (const std::length_error&) {
    return lzeNoBufferMemory;
  }
  fmt::TInfoFields fields;
  fields.Size = static_cast<std::int32_t>(plainSize);
  TMemoryPacking io{packed, plain, plainSize, capacity};
  const std::uint8_t code = frame::Pack(encoder, store, fields, io, io);
  if (code != lzeNone) packed.clear();
  return code;
}

// The frame's view of a packed buffer when reading the header.
struct TMemoryHeadIn {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos{};
  std::size_t Start{};

  bool Read(std::uint32_t n, bool fresh) {
    if (fresh) Start = Pos;
    if (Size - Pos < n) return false;
    Pos += n;
    return true;
  }
  static bool Holds(std::uint32_t /*n*/) { return true; }
  const std::uint8_t* Held() const { return Data + Start; }
};

}  // namespace

int PackMemory(const void* plain, std::uint32_t plainSize, std::vector<std::uint8_t>& packed,
               std::uint32_t dicSize, std::uint32_t maxFrag, TChildIndex index) {
  if (index == TChildIndex::Hash) return PackWith<THashIndex>(plain, plainSize, packed, dicSize, maxFrag);
  return PackWith<TChildTrees>(plain, plainSize, packed, dicSize, maxFrag);
}

int UnpackMemory(const void* packed, std::size_t packedSize, std::vector<std::uint8_t>& plain, std::size_t maxPlain) {
  plain.clear();
  if (packed == nullptr && packedSize != 0) return lzeOpenPackedRead;
  const auto* p = static_cast<const std::uint8_t*>(packed);

  // The header adopts whatever settings a writer can have used.
  TMemoryHeadIn in{p, packedSize};
  fmt::THeadParams params;
  fmt::TInfoFields fields;
  std::uint8_t code = frame::ReadHead(in, fmt::CheckHeadParams, params, fields);
  if (code != lzeNone) return code;
  std::size_t pos = in.Pos;

  std::int64_t left = fields.Size;  // a negative Size means nothing to decode
  // The output never grows past Size, so refusing a larger Size here bounds it.
  if (left > 0 && static_cast<std::uint64_t>(left) > maxPlain) return lzeDataBufferSmall;
  if (left > 0) {
    const std::uint64_t codeBytes = packedSize - pos;
    // A stream of k bytes has at most 4k items of 2 bits or more, each making
    // at most two nodes, so a dictionary beyond 8k + 16 entries is never
    // filled; numbering, resets and the fragment limit (never reached by a
    // phrase that short) come out the same. A header's huge DicSize thus
    // costs no more memory than its stream could use.
    const std::uint64_t useful = 8 * std::min<std::uint64_t>(codeBytes, fmt::MaxHeadDicSize) + 16;
    const auto dicSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(params.DicSize, useful));
    TDicStore store;
    if (!store.Allocate(dicSize)) return lzeNoDictionaryMemory;
    const TStoreGuard guard{store};
    store.SetMaxFragment(params.MaxFrag);
    TDecoder decoder;
    decoder.Start(store);

    frame::TUnpacking unpacking{decoder, left};
    std::size_t produced = 0;
    try {
      plain.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(static_cast<std::uint64_t>(left), YieldEstimate(codeBytes, params.MaxFrag))));
      for (;;) {
        if (produced == plain.size()) {
          const std::uint64_t want = std::max<std::uint64_t>(2 * plain.size(), 1 << 16);
          plain.resize(static_cast<std::size_t>(std::min<std::uint64_t>(want, produced + unpacking.Left)));
        }
        const auto room = static_cast<std::uint32_t>(std::min<std::uint64_t>(plain.size() - produced, kMaxPiece));
        std::uint32_t consumed = 0;
        std::uint32_t got = 0;
        const frame::TStep step =
            unpacking.Step(p + pos, Piece(packedSize - pos), consumed, plain.data() + produced, room, got);
        pos += consumed;
        produced += got;
        if (step == frame::TStep::Damaged) code = lzeReadPacked;
        if (step != frame::TStep::More) break;
      }
    } catch (const std::bad_alloc&) {
      code = lzeNoBufferMemory;
    } catch (const std::length_error&) {
      code = lzeNoBufferMemory;
    }
    plain.resize(produced);
    if (code != lzeNone) return code;
  }

  // The end marker follows the consumed code bytes.
  return frame::CheckEndMarker(p + pos, packedSize - pos);
}

}  // namespace vorka
