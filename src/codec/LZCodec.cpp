// Dictionary control, encoder and decoder of the LZ78 codec.
//
// Packing and unpacking rebuild the same dictionary node for node; the
// unpacker runs one phrase behind, since the node created at a boundary ends
// with the first character of what follows. The unpacker checks every item
// against what the packer can have written before it touches the store.
#include "LZCodec.h"

#include <cassert>
#include <cstring>
#include <new>

namespace vorka {

// ---------------------------------------------------------------- storage

bool TLZCodec::Init(std::uint32_t dicSize) {
  if (!AllocateDictionary(dicSize)) return false;
  MaxFrag = dicSize;
  BitStream.Init();
  StartPacking();
  return true;
}

void TLZCodec::Done() { ReleaseDictionary(); }

bool TLZCodec::AllocateDictionary(std::uint32_t n) {
  ReleaseDictionary();
  if (n == 0) return false;
  if (n < MinDictionarySize) n = MinDictionarySize;
  if (n > MaxDictionarySize) n = MaxDictionarySize;
  const std::size_t count = n;
  // Links and roots in one block: the hash index uses both as one table.
  auto* links = new (std::nothrow) std::uint32_t[3 * count];
  auto* chars = links != nullptr ? new (std::nothrow) std::uint8_t[count] : nullptr;
  auto* bits = chars != nullptr ? new (std::nothrow) std::uint8_t[count] : nullptr;
  if (bits == nullptr) {
    delete[] chars;
    delete[] links;
    Nodes = TDicNodes{};
    return false;
  }
  Nodes.NodeLinks = links;
  Nodes.NodeRoot = links + 2 * count;
  Nodes.NodePrefix = Nodes.NodeRoot;
  Nodes.NodeChar = chars;
  Nodes.NodeBit = bits;
  Nodes.Packing = true;
  // The unpacker's window is a help, not a need: without it every code is
  // unwound node by node. Pages a packer never touches cost no memory.
  Window = new (std::nothrow) std::uint8_t[WindowSize + CopySlack + 1];
  if (Window != nullptr) std::memset(Window + WindowSize, 0, CopySlack + 1);
  DicSize = n;
  DicSizeCheck = ~n;
  ResetDictionary();
  return true;
}

void TLZCodec::ReleaseDictionary() {
  if (DictionarySize() != 0) {
    delete[] Nodes.NodeLinks;
    delete[] Nodes.NodeChar;
    delete[] Nodes.NodeBit;
    delete[] Window;
  }
  Window = nullptr;
  DicSize = 0;
  DicSizeCheck = 0;
  Nodes.NodeLinks = nullptr;
  Nodes.NodeRoot = nullptr;
  Nodes.NodePrefix = nullptr;
  Nodes.NodeChar = nullptr;
  Nodes.NodeBit = nullptr;
}

std::uint32_t TLZCodec::DictionarySize() const { return DicSize == ~DicSizeCheck ? DicSize : 0; }

void TLZCodec::SetMaxFragment(std::uint32_t n) { MaxFrag = n < MinFragmentLength ? MinFragmentLength : n; }

std::uint32_t TLZCodec::MaxFragment() const {
  const std::uint32_t size = DictionarySize();
  return MaxFrag < size ? MaxFrag : size;
}

// ----------------------------------------------------------------- resets

void TLZCodec::RestartPhrase() {
  Current = RootNode;
  FragLen = 0;
}

void TLZCodec::ResetDictionary() {
  const std::uint32_t size = DictionarySize();
  if (size == 0) RaiseRunError(reNoDictionary);
  Nodes.InitNodes(size);
  Width = 2;
  Mask = 3;
  if (LongestNow > Longest) Longest = LongestNow;
  LongestNow = 0;
  RestartPhrase();
  State = static_cast<std::uint8_t>(State & ~csLiteral);
  EpochStart = OutPos;
  ++Resets;
}

void TLZCodec::ResetStream() {
  ResetDictionary();
  Longest = 0;
  Resets = 0;
  OutBytes = 0;
  OutBits = 0;
  InBytes = 0;
}

// ------------------------------------------------------ width, statistics

std::uint8_t TLZCodec::WidenFor(std::uint32_t code) {
  std::uint8_t steps = 0;
  for (std::uint32_t m = Mask; m < code; m = 2 * m + 1) ++steps;
  WidenBy(steps);
  return steps;
}

void TLZCodec::WidenBy(std::uint8_t steps) {
  Width = static_cast<std::uint8_t>(Width + steps);
  assert(Width <= 31);
  Mask = static_cast<std::uint32_t>((std::uint64_t{1} << Width) - 1);
}

std::uint8_t TLZCodec::ReadWidth() const {
  if ((State & csLiteral) != 0) return LiteralWidth;
  if ((State & csWiden) != 0) return StepCountWidth;
  return Width;
}

void TLZCodec::AddBits(std::uint32_t n) {
  const std::uint64_t t = std::uint64_t{OutBits} + n;
  OutBits = static_cast<std::uint8_t>(t % 8);
  OutBytes += t / 8;
}

std::uint32_t TLZCodec::LongestFragment() {
  if (LongestNow > Longest) Longest = LongestNow;
  return Longest;
}

double TLZCodec::Ratio() const {
  if (InBytes == 0) return 0.0;
  const long double packed = static_cast<long double>(static_cast<std::int64_t>(PackedBytes()));
  const long double input = static_cast<long double>(static_cast<std::int64_t>(InBytes));
  return static_cast<double>(packed / input);
}

// ---------------------------------------------------------------- encoder

void TLZCodec::StartPacking() {
  QueueCount = 0;
  QueueNext = 0;
  State = 0;
  PieceNode = 0;
  Damaged = false;
  Nodes.Packing = true;
  BitStream.Clear();
  ResetStream();
}

void TLZCodec::Emit(unsigned& count, std::uint32_t value, std::uint8_t width) {
  assert(count < 6);
  QueueValue[count] = value;
  QueueWidth[count] = width;
  ++count;
  AddBits(width);
}

std::uint32_t TLZCodec::ScanBlock(const std::uint8_t* bytes, std::uint32_t length) {
  const std::uint32_t n = Nodes.ScanPhrase(bytes, length, Current);
  FragLen += n;
  InBytes += n;
  return n;
}

unsigned TLZCodec::EncodeByte(std::uint8_t c) {
  ++InBytes;
  const std::uint32_t n = Nodes.FindChildOf(Current, c);
  if (n != NilNode) {
    Current = n;
    ++FragLen;
    return 0;
  }
  return EncodeMiss(c);
}

// The rest of EncodeByte, once c is known not to extend the current phrase.
unsigned TLZCodec::EncodeMiss(std::uint8_t c) {
  unsigned count = 0;
  std::uint32_t n;
  if (Current == RootNode) {
    Current = Nodes.AddChild(c, RootNode);
    Emit(count, codeReset, Width);
    Emit(count, c, LiteralWidth);
    State = static_cast<std::uint8_t>(State | csLiteral);
    FragLen = 1;
    return count;
  }
  if ((State & csLiteral) != 0) {
    State = static_cast<std::uint8_t>(State & ~csLiteral);
  } else {
    if (Current > Mask) {
      Emit(count, codeWiden, Width);
      const std::uint8_t k = WidenFor(Current);
      Emit(count, k, StepCountWidth);
    }
    Emit(count, Current, Width);
  }
  if (FragLen < MaxFrag) {
    n = Nodes.AddChild(c, Current);
    if (n == NilNode) {
      Emit(count, codeReset, Width);
      ResetDictionary();
      Current = Nodes.AddChild(c, RootNode);
      Emit(count, c, LiteralWidth);
      State = static_cast<std::uint8_t>(State | csLiteral);
      FragLen = 1;
      return count;
    }
    ++FragLen;
    if (FragLen > LongestNow) LongestNow = FragLen;
  }
  RestartPhrase();
  n = Nodes.RootChild[c];
  if (n != NilNode) {
    Current = n;
    FragLen = 1;
    return count;
  }
  n = Nodes.AddChild(c, RootNode);
  if (n != NilNode) {
    Emit(count, codeLiteral, Width);
  } else {
    Emit(count, codeReset, Width);
    ResetDictionary();
    n = Nodes.AddChild(c, RootNode);
  }
  Current = n;
  Emit(count, c, LiteralWidth);
  State = static_cast<std::uint8_t>(State | csLiteral);
  FragLen = 1;
  return count;
}

unsigned TLZCodec::EncodeEnd() {
  unsigned count = 0;
  if (Current == RootNode) return 0;
  if ((State & csLiteral) != 0) {
    State = static_cast<std::uint8_t>(State & ~csLiteral);
    Current = RootNode;
    return 0;
  }
  if (Current > Mask) {
    Emit(count, codeWiden, Width);
    const std::uint8_t k = WidenFor(Current);
    Emit(count, k, StepCountWidth);
  }
  Emit(count, Current, Width);
  Current = RootNode;
  return count;
}

// Puts pairs [0, count) of a new batch; remembers where a refusal stopped it.
bool TLZCodec::PutQueue(unsigned count) {
  unsigned next = 0;
  while (next < count && BitStream.PutCode(QueueValue[next], QueueWidth[next])) ++next;
  QueueCount = static_cast<std::uint8_t>(count);
  QueueNext = static_cast<std::uint8_t>(next);
  return next == count;
}

bool TLZCodec::EncodeBlock(const std::uint8_t* input, std::uint32_t inputLength,
                           std::uint32_t& consumed, std::uint8_t* output,
                           std::uint32_t outputCapacity, std::uint32_t& written) {
  if (outputCapacity == 0) return false;
  // After unpacking the store holds the unpacker's data, not a packer's
  // index: packing on without StartPacking begins a new stream.
  if (!Nodes.Packing) StartPacking();
  BitStream.AttachForWrite(output, outputCapacity);
  while (QueueNext < QueueCount && BitStream.PutCode(QueueValue[QueueNext], QueueWidth[QueueNext]))
    ++QueueNext;

  if (inputLength == 0) {
    consumed = 0;
    if (!BitStream.AtBlockEnd()) {
      PutQueue(EncodeEnd());
      BitStream.FlushBits();
    }
    written = BitStream.BytesUsed();
    return written != 0;
  }

  // A stream opens with codeReset, after which the unpacker starts from an
  // empty dictionary. Input packed on after a final call without StartPacking
  // must not match nodes that the unpacker has dropped: drop them here too.
  if (Current == RootNode && Nodes.NodeCount != FirstPhraseNode) ResetDictionary();
  std::uint32_t p = 0;
  while (p < inputLength && !BitStream.AtBlockEnd()) {
    if ((State & csLiteral) == 0) p = PackPhrases(input, inputLength, p);
    if (p >= inputLength) break;
    p += ScanBlock(input + p, inputLength - p);
    if (p < inputLength) {
      // The scan stopped because input[p] does not extend the phrase, so the
      // search at the start of EncodeByte would only repeat that miss.
      const std::uint8_t c = input[p];
      ++InBytes;
      ++p;
      // Most phrases end the plain way: one code at the current width, a new
      // node, and c starts the next phrase from an existing root child. That
      // is EncodeMiss's usual path; the queue only takes the code when the
      // bit buffer refuses it (after output blocks too short to drain it).
      if ((State & csLiteral) == 0 && Current != RootNode && Current <= Mask && FragLen < MaxFrag &&
          !Nodes.Full()) {
        const std::uint32_t next = Nodes.RootChild[c];
        if (next != NilNode) {
          const bool refused = !BitStream.PutCode(Current, Width);
          if (refused) {
            QueueValue[0] = Current;
            QueueWidth[0] = Width;
            QueueCount = 1;
            QueueNext = 0;
          }
          AddBits(Width);
          Nodes.AddChild(c, Current);
          if (++FragLen > LongestNow) LongestNow = FragLen;
          Current = next;
          FragLen = 1;
          if (refused) break;  // nothing may overtake the queued code
          continue;
        }
      }
      PutQueue(EncodeMiss(c));
    }
  }
  consumed = p;
  written = BitStream.BytesUsed();
  return p != 0;
}

// Most phrases end the plain way (see EncodeBlock): this runs them one after
// another with the encoder's state in locals, since a store of the bit buffer
// may alias any member. It stops before the first byte that needs anything
// else, leaving the scan's state as EncodeBlock's loop expects it, and
// returns the input position reached.
std::uint32_t TLZCodec::PackPhrases(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t p) {
  if (BitStream.BytesLeft < 8 || BitStream.AccBits > 32) return p;
  std::uint32_t current = Current;
  std::uint32_t fragLen = FragLen;
  std::uint32_t longest = LongestNow;
  std::uint64_t acc = BitStream.Acc;
  unsigned accBits = BitStream.AccBits;
  std::uint8_t* const writeStart = BitStream.WriteCursor;
  std::uint8_t* cursor = writeStart;
  std::uint8_t* const writeEnd = cursor + BitStream.BytesLeft;
  const unsigned width = Width;
  const std::uint32_t mask = Mask;
  const std::uint32_t maxFrag = MaxFrag;
  const std::uint32_t start = p;
  std::uint64_t bits = 0;
  for (;;) {
    const std::uint32_t n = Nodes.ScanPhrase(input + p, inputLength - p, current);
    fragLen += n;
    p += n;
    if (p == inputLength) break;
    if (current == RootNode || current > mask || fragLen >= maxFrag || Nodes.Full()) break;
    const std::uint8_t c = input[p];
    const std::uint32_t next = Nodes.RootChild[c];
    if (next == NilNode || writeEnd - cursor < 8) break;
    const std::uint64_t v = acc | static_cast<std::uint64_t>(current) << accBits;
    const unsigned total = accBits + width;
    bitio::Store64(cursor, v);
    cursor += total / 8;
    acc = v >> (8 * (total / 8));
    accBits = total % 8;
    bits += width;
    ++p;
    Nodes.AddChild(c, current);
    if (++fragLen > longest) longest = fragLen;
    current = next;
    fragLen = 1;
  }
  // The bytes scanned and the ones that ended phrases.
  InBytes += p - start;
  const std::uint64_t t = OutBits + bits;
  OutBits = static_cast<std::uint8_t>(t % 8);
  OutBytes += t / 8;
  const auto written = static_cast<std::uint32_t>(cursor - writeStart);
  BitStream.WriteCursor = cursor;
  BitStream.Cursor += written;
  BitStream.BytesLeft -= written;
  BitStream.Acc = acc;
  BitStream.AccBits = static_cast<std::uint8_t>(accBits);
  Current = current;
  FragLen = fragLen;
  LongestNow = longest;
  return p;
}

// ---------------------------------------------------------------- decoder

void TLZCodec::StartUnpacking() {
  QueueValue[0] = 0;
  QueueCount = 0;
  QueueNext = 0;
  State = 0;
  PieceNode = 0;
  OutPos = 0;
  WindowEnd = 0;
  WindowFill = 0;
  Damaged = false;
  Nodes.Packing = false;
  BitStream.Clear();
  ResetStream();
}

std::int64_t TLZCodec::DecodeCode(std::uint32_t v, std::uint8_t* out, std::uint32_t room) {
  auto reject = [this]() -> std::int64_t {
    Damaged = true;
    return 0;
  };
  // Nodes made here are the previous phrase (just before at) plus one byte.
  const auto at = static_cast<std::uint32_t>(OutPos);
  if ((State & csLiteral) != 0) {
    // The literal also completes the node that the packer created when the
    // previous phrase ended, unless that phrase was already MaxFrag long.
    const bool completes = Current != RootNode && FragLen < MaxFrag;
    if (Nodes.NodeCount + (completes ? 2u : 1u) > Nodes.NodeLimit) return reject();
    const auto c = static_cast<std::uint8_t>(v);
    out[0] = c;
    State = static_cast<std::uint8_t>(State & ~csLiteral);
    if (completes) Nodes.AppendNode(c, Current, at - FragLen);
    Current = Nodes.AppendNode(c, RootNode, at);
    LastChar = c;
    FragLen = 1;
    ++OutPos;
    return 1;
  }
  if ((State & csWiden) != 0) {
    if (Width + v > MaxCodeWidth) return reject();
    WidenBy(static_cast<std::uint8_t>(v));
    State = static_cast<std::uint8_t>(State & ~csWiden);
    return 0;
  }
  // Every stream opens with codeReset; before it, nothing is valid.
  if (Resets == 0 && v != codeReset) return reject();
  switch (v) {
    case codeReset:
      ResetDictionary();
      State = static_cast<std::uint8_t>(State | csLiteral);
      return 0;
    case codeWiden:
      State = static_cast<std::uint8_t>(State | csWiden);
      return 0;
    case codeLiteral:
      State = static_cast<std::uint8_t>(State | csLiteral);
      return 0;
    default:
      break;
  }
  if (v > Nodes.NodeCount) return reject();
  if (v == Nodes.NodeCount) {
    // The node the packer made just before sending this code: the previous
    // phrase followed by its own first character. It exists only if there was
    // a previous phrase short enough to be extended and a free slot.
    if (Current == RootNode || FragLen >= MaxFrag || Nodes.Full()) return reject();
    if (FragLen >= room) return static_cast<std::int64_t>(room) - (std::int64_t{FragLen} + 1);
    Nodes.AppendNode(LastChar, Current, at - FragLen);
    const std::int64_t r = Nodes.Unwind(v, out, room);
    assert(r == std::int64_t{FragLen} + 1);
    Nodes.PhraseAt(v) = at;
    Current = v;
    ++FragLen;
    OutPos += static_cast<std::uint64_t>(r);
    return r;
  }
  if (FragLen < MaxFrag && Nodes.Full()) return reject();
  const std::int64_t r = Nodes.Unwind(v, out, room);
  if (r < 0) return r;
  LastChar = out[0];
  if (FragLen < MaxFrag) Nodes.AppendNode(out[0], Current, at - FragLen);
  Nodes.PhraseAt(v) = at;
  Current = v;
  FragLen = static_cast<std::uint32_t>(r);
  OutPos += static_cast<std::uint64_t>(r);
  return r;
}

// Applies the dictionary update of phrase code v as DecodeCode would on
// delivery, and threads the phrase first-to-last through the nodes' position
// links so that it can be handed out over several calls; delivery puts the
// positions back, since every node of the chain is a prefix written at PieceAt.
void TLZCodec::StartPieces(std::uint32_t v) {
  const auto at = static_cast<std::uint32_t>(OutPos);
  const bool isNew = v == Nodes.NodeCount;
  if (isNew) Nodes.AppendNode(LastChar, Current, at - FragLen);
  std::uint32_t next = NilNode;
  std::uint32_t length = 0;
  for (std::uint32_t n = v; n != RootNode; n = Nodes.NodePrefix[n]) {
    assert(Nodes.NodePrefix[n] < n);
    Nodes.PhraseAt(n) = next;
    next = n;
    ++length;
  }
  PieceNode = next;
  PieceAt = at;
  if (isNew) {
    ++FragLen;
  } else {
    LastChar = Nodes.NodeChar[next];
    if (FragLen < MaxFrag) Nodes.AppendNode(LastChar, Current, at - FragLen);
    FragLen = length;
  }
  Current = v;
}

std::uint32_t TLZCodec::DeliverPieces(std::uint8_t* out, std::uint32_t room) {
  std::uint32_t n = PieceNode;
  std::uint32_t k = 0;
  while (n != NilNode && k < room) {
    out[k++] = Nodes.NodeChar[n];
    const std::uint32_t next = Nodes.PhraseAt(n);
    Nodes.PhraseAt(n) = PieceAt;
    n = next;
  }
  PieceNode = n;
  OutPos += k;
  return k;
}

namespace {

// Copies a phrase of length n (1 or more) 16 bytes at a time, writing up to
// 15 bytes past its end. The source ends at or before dst, so every byte it
// needs is read before a store can reach it.
inline void Move16(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t chunk[16];
  std::memcpy(chunk, src, 16);
  std::memcpy(dst, chunk, 16);
}
inline void CopyPhrase(std::uint8_t* dst, const std::uint8_t* src, std::uint32_t n) {
  Move16(dst, src);
  if (n > 16) [[unlikely]] {
    for (std::uint32_t i = 16; i < n; i += 16) Move16(dst + i, src + i);
  }
}

}  // namespace

// The common case in one tight loop over locals: a code of an existing
// phrase that is still in this call's output or in the window, copied from
// there, and the node it completes. Stores to the output may alias any
// member, so nothing here lives in one. True when it stops with a code taken
// that needs anything else; false when the input ran short first.
bool TLZCodec::CopyCodes(std::uint8_t* output, std::uint32_t& doneRef, std::uint32_t& roomRef,
                         std::uint32_t windowBack, std::uint32_t callStart, std::uint32_t& codeOut) {
  if (roomRef <= CopySlack || FragLen >= MaxFrag || Nodes.Full()) return false;
  bool haveCode = false;
  std::uint8_t* dst = output + doneRef;
  // A phrase fits when it ends at or before here (the slack stays free).
  const std::uint8_t* const fitEnd = dst + (roomRef - CopySlack);
  std::uint64_t acc = BitStream.Acc;
  unsigned bits = BitStream.AccBits;
  const std::uint8_t* cursor = BitStream.Cursor;
  const std::uint8_t* const cursorEnd = cursor + BitStream.BytesLeft;
  const unsigned width = Width;
  const std::uint32_t mask = Mask;
  const std::uint32_t limit = Nodes.NodeLimit;
  const std::uint32_t maxFrag = MaxFrag;
  std::uint32_t* const links = Nodes.NodeLinks;
  std::uint32_t* const prefix = Nodes.NodePrefix;
  std::uint8_t* const chars = Nodes.NodeChar;
  const std::uint8_t* const window = Window;
  const std::uint32_t startCount = Nodes.NodeCount;
  std::uint32_t count = startCount;
  std::uint32_t current = Current;
  std::uint32_t fragLen = FragLen;
  std::uint32_t code = 0;
  std::uint32_t at = callStart + doneRef;
  for (;;) {
    if (bits < width) {
      if (cursorEnd - cursor < 8) break;
      // Whole bytes up to 56 or more bits; the bits above them are the
      // stream's next ones as well, so OR-ing them in again is harmless.
      acc |= bitio::Load64(cursor) << bits;
      const unsigned k = (63 - bits) >> 3;
      cursor += k;
      bits += 8 * k;
    }
    code = static_cast<std::uint32_t>(acc) & mask;
    acc >>= width;
    bits -= width;
    haveCode = true;
    // One unsigned compare for both ends: control codes and unbuilt nodes.
    if (code - FirstPhraseNode >= count - FirstPhraseNode) break;
    assert(links[2 * std::size_t{current} + 1] == fragLen);
    const std::uint32_t length = links[2 * std::size_t{code} + 1];
    const std::uint32_t was = links[2 * std::size_t{code}];
    const std::uint32_t back = at - was;
    const std::uint8_t* from;
    const auto done = static_cast<std::uint32_t>(dst - output);
    if (back <= done) {
      from = dst - back;
    } else if (back - done <= windowBack && back - done >= length &&
               (was & (WindowSize - 1)) + length <= WindowSize) {
      from = window + (was & (WindowSize - 1));
    } else {
      break;
    }
    if (length > static_cast<std::uint32_t>(fitEnd - dst)) break;
    const std::uint8_t first = *from;
    CopyPhrase(dst, from, length);
    std::uint32_t n = count++;
#if defined(__GNUC__)
    // Keeps the compiler from turning the three node addresses into pointers
    // of their own that it then has no registers for (-7 % instructions).
    __asm__("" : "+r"(n));
#endif
    prefix[n] = current;
    chars[n] = first;
    links[2 * std::size_t{n}] = at - fragLen;
    links[2 * std::size_t{n} + 1] = fragLen + 1;
    links[2 * std::size_t{code}] = at;
    current = code;
    fragLen = length;
    dst += length;
    at += length;
    haveCode = false;
    // A phrase of MaxFrag makes no node, nor does a full store: those
    // cases are the general path's.
    if ((length >= maxFrag) | (count >= limit)) break;
  }
  // Hand back the whole bytes read ahead, so that the accumulator holds
  // what a code-by-code reader would: consumed counts stay exact.
  unsigned back = bits >> 3;
  const auto readHere = static_cast<std::uint32_t>(cursor - BitStream.Block);
  if (back > readHere) back = readHere;
  cursor -= back;
  bits -= 8 * back;
  acc &= (std::uint64_t{1} << bits) - 1;
  BitStream.Acc = acc;
  BitStream.AccBits = static_cast<std::uint8_t>(bits);
  BitStream.Cursor = cursor;
  BitStream.BytesLeft = static_cast<std::uint32_t>(cursorEnd - cursor);
  const auto made = static_cast<std::uint32_t>(dst - (output + doneRef));
  doneRef += made;
  roomRef -= made;
  if (count != startCount) LastChar = chars[count - 1];
  Nodes.NodeCount = count;
  Current = current;
  FragLen = fragLen;
  codeOut = code;
  return haveCode;
}

void TLZCodec::KeepInWindow(const std::uint8_t* output, std::uint64_t start, std::uint32_t length) {
  if (Window == nullptr || length == 0) return;
  if (WindowEnd != start) WindowFill = 0;
  const std::uint8_t* from = output;
  std::uint32_t n = length;
  std::uint64_t pos = start;
  if (n > WindowSize) {
    from += n - WindowSize;
    pos += n - WindowSize;
    n = WindowSize;
  }
  const auto index = static_cast<std::uint32_t>(pos & (WindowSize - 1));
  const std::uint32_t first = n < WindowSize - index ? n : WindowSize - index;
  std::memcpy(Window + index, from, first);
  std::memcpy(Window, from + first, n - first);
  WindowEnd = start + length;
  WindowFill = WindowFill + length < WindowSize ? WindowFill + length : WindowSize;
}

bool TLZCodec::DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength,
                           std::uint32_t& consumed, std::uint8_t* output,
                           std::uint32_t outputCapacity, std::uint32_t& produced) {
  if (outputCapacity == 0) return false;
  // After packing the store holds a packer's index: unpacking without
  // StartUnpacking begins a new stream.
  if (Nodes.Packing) StartUnpacking();
  if (Damaged) {
    consumed = 0;
    produced = 0;
    return false;
  }
  BitStream.AttachForRead(input, inputLength);
  std::uint32_t& pending = QueueValue[0];
  std::uint32_t done = 0;
  std::uint32_t room = outputCapacity;
  const std::uint64_t callStart = OutPos;
  // Output of earlier calls that is still in the window, just before this
  // call's: [callStart - windowBack, callStart).
  const std::uint32_t windowBack = WindowEnd == callStart ? WindowFill : 0;
  // Positions are kept modulo 2^32; a distance is exact while the dictionary
  // has produced less than 2^31 bytes since its reset.
  const bool useWindow = Window != nullptr && callStart + outputCapacity - EpochStart < (std::uint64_t{1} << 31);

  // Delivers item v; false when the call must stop (held back or damaged).
  auto deliver = [&](std::uint32_t v) -> bool {
    OutPos = callStart + done;
    const std::int64_t r = DecodeCode(v, output + done, room);
    if (Damaged) return false;
    if (r >= 0) {
      pending = 0;
      done += static_cast<std::uint32_t>(r);
      room -= static_cast<std::uint32_t>(r);
      return true;
    }
    if (done != 0) {  // the next call starts with this phrase
      pending = v;
      return false;
    }
    // Longer than a whole call's capacity: hand it out in pieces.
    pending = 0;
    StartPieces(v);
    const std::uint32_t k = DeliverPieces(output, room);
    done += k;
    room -= k;
    return true;
  };

  if (PieceNode != NilNode) {
    const std::uint32_t k = DeliverPieces(output, room);
    done += k;
    room -= k;
  }
  bool go = room > 0 && (pending == 0 || deliver(pending));
  while (go && room > 0) {
    std::uint32_t code;
    bool haveCode = false;
    if (State == 0 && Resets != 0 && useWindow)
      haveCode = CopyCodes(output, done, room, windowBack, static_cast<std::uint32_t>(callStart), code);
    if (!haveCode && !BitStream.GetCode(code, ReadWidth())) break;
    // Most items are codes of existing phrases that fit and add a node: the
    // same steps as DecodeCode's last case, without its tests for the rare
    // items (control codes, literals, the node not yet built, a full store).
    if (State == 0 && Resets != 0 && code >= FirstPhraseNode && code < Nodes.NodeCount &&
        FragLen < MaxFrag && !Nodes.Full()) {
      std::uint8_t* const out = output + done;
      const auto at = static_cast<std::uint32_t>(callStart + done);
      // Copies from the window were tried by CopyCodes: this code missed it.
      const std::int64_t r = Nodes.Unwind(code, out, room);
      if (r >= 0) {
        LastChar = out[0];
        Nodes.AppendNode(out[0], Current, at - FragLen);
        Nodes.PhraseAt(code) = at;
        Current = code;
        FragLen = static_cast<std::uint32_t>(r);
        pending = 0;
        done += static_cast<std::uint32_t>(r);
        room -= static_cast<std::uint32_t>(r);
        continue;
      }
    }
    go = deliver(code);
  }
  OutPos = callStart + done;
  KeepInWindow(output, callStart, done);
  consumed = BitStream.BytesUsed();
  produced = done;
  return !Damaged;
}

}  // namespace vorka
