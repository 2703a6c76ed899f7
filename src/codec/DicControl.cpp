// Dictionary control: storage, resets, code width and statistics.
#include <cassert>
#include <cstring>
#include <new>

#include "LZCodec.h"

namespace vorka {

template <class TIndex>
bool TLZCodecOf<TIndex>::Init(std::uint32_t dicSize) {
  if (!AllocateDictionary(dicSize)) return false;
  MaxFrag = dicSize;
  BitStream.Init();
  StartPacking();
  return true;
}

template <class TIndex>
void TLZCodecOf<TIndex>::Done() {
  ReleaseDictionary();
}

template <class TIndex>
bool TLZCodecOf<TIndex>::AllocateDictionary(std::uint32_t n) {
  ReleaseDictionary();
  if (n == 0) return false;
  if (n < MinDictionarySize) n = MinDictionarySize;
  if (n > MaxDictionarySize) n = MaxDictionarySize;
  if (!Nodes.Allocate(n)) return false;
  Index.Attach(Nodes);
  // The unpacker's window is a help, not a need: without it every code is
  // unwound node by node. Pages a packer never touches cost no memory.
  Unpack.Window = new (std::nothrow) std::uint8_t[WindowSize + CopySlack + 1];
  if (Unpack.Window != nullptr) std::memset(Unpack.Window + WindowSize, 0, CopySlack + 1);
  DicSize = n;
  DicSizeCheck = ~n;
  Packing = true;
  ResetDictionary();
  return true;
}

template <class TIndex>
void TLZCodecOf<TIndex>::ReleaseDictionary() {
  if (DictionarySize() != 0) {
    Nodes.Release();
    delete[] Unpack.Window;
  }
  Nodes = TDicNodes{};
  Index = TIndex{};
  Unpack.Window = nullptr;
  DicSize = 0;
  DicSizeCheck = 0;
}

template <class TIndex>
void TLZCodecOf<TIndex>::ResetDictionary() {
  const std::uint32_t size = DictionarySize();
  if (size == 0) RaiseRunError(reNoDictionary);
  Nodes.InitNodes(size);
  // The store serves one direction at a time; only that one's part of it is
  // made ready.
  if (Packing) {
    Index.Start(Nodes);
  } else {
    Nodes.StartSpans();
  }
  Width = 2;
  Mask = 3;
  if (LongestNow > Longest) Longest = LongestNow;
  LongestNow = 0;
  RestartPhrase();
  State = static_cast<std::uint8_t>(State & ~csLiteral);
  Unpack.EpochStart = Unpack.OutPos;
  ++Resets;
}

template <class TIndex>
void TLZCodecOf<TIndex>::ResetStream() {
  ResetDictionary();
  Longest = 0;
  Resets = 0;
  OutBytes = 0;
  OutBits = 0;
  InBytes = 0;
}

template <class TIndex>
void TLZCodecOf<TIndex>::WidenBy(std::uint8_t steps) {
  Width = static_cast<std::uint8_t>(Width + steps);
  assert(Width <= 31);
  Mask = MaskOf(Width);
}

template <class TIndex>
double TLZCodecOf<TIndex>::Ratio() const {
  if (InBytes == 0) return 0.0;
  const long double packed = static_cast<long double>(static_cast<std::int64_t>(PackedBytes()));
  const long double input = static_cast<long double>(static_cast<std::int64_t>(InBytes));
  return static_cast<double>(packed / input);
}

template bool TLZCodecOf<TChildTrees>::Init(std::uint32_t);
template bool TLZCodecOf<THashIndex>::Init(std::uint32_t);
template void TLZCodecOf<TChildTrees>::Done();
template void TLZCodecOf<THashIndex>::Done();
template bool TLZCodecOf<TChildTrees>::AllocateDictionary(std::uint32_t);
template bool TLZCodecOf<THashIndex>::AllocateDictionary(std::uint32_t);
template void TLZCodecOf<TChildTrees>::ReleaseDictionary();
template void TLZCodecOf<THashIndex>::ReleaseDictionary();
template void TLZCodecOf<TChildTrees>::ResetDictionary();
template void TLZCodecOf<THashIndex>::ResetDictionary();
template void TLZCodecOf<TChildTrees>::ResetStream();
template void TLZCodecOf<THashIndex>::ResetStream();
template void TLZCodecOf<TChildTrees>::WidenBy(std::uint8_t);
template void TLZCodecOf<THashIndex>::WidenBy(std::uint8_t);
template double TLZCodecOf<TChildTrees>::Ratio() const;
template double TLZCodecOf<THashIndex>::Ratio() const;

}  // namespace vorka
