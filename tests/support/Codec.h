// The codec as the tests, benchmarks and fuzz targets drive it: one
// dictionary store with an encoder over either child index and the decoder,
// as the file object holds them.
#pragma once

#include <cstdint>

#include "codec/Decoder.h"
#include "codec/DicStore.h"
#include "codec/Encoder.h"

namespace vorka::test {

// A dictionary store with the two directions over it, as the file object
// holds them; the store is released with the object.
template <class TIndex>
struct TCodec {
  using TIndexType = TIndex;
  TDicStore Store;
  TEncoderOf<TIndex> Encoder;
  TDecoder Decoder;

  TCodec() = default;
  TCodec(const TCodec&) = delete;
  TCodec& operator=(const TCodec&) = delete;
  ~TCodec() { Store.Release(); }

  // Ready to pack, as the index tests use it straight away.
  bool Init(std::uint32_t dicSize) {
    if (!Store.Allocate(dicSize)) return false;
    Encoder.Start(Store);
    return true;
  }
  void Done() { Store.Release(); }
  void SetMaxFragment(std::uint32_t n) { Store.SetMaxFragment(n); }
  std::uint32_t DictionarySize() const { return Store.DictionarySize(); }
  std::uint32_t MaxFragment() const { return Store.MaxFragment(); }
  TDicNodes& Nodes() { return Encoder.Nodes; }  // as the encoder counts them
  void StartPacking(std::uint64_t inputBytes = UnknownInput) { Encoder.Start(Store, inputBytes); }
  void StartUnpacking() { Decoder.Start(Store); }
  bool EncodeBlock(const std::uint8_t* in, std::uint32_t inLength, std::uint32_t& consumed, std::uint8_t* out,
                   std::uint32_t outCapacity, std::uint32_t& written) {
    return Encoder.EncodeBlock(in, inLength, consumed, out, outCapacity, written);
  }
  bool DecodeBlock(const std::uint8_t* in, std::uint32_t inLength, std::uint32_t& consumed, std::uint8_t* out,
                   std::uint32_t outCapacity, std::uint32_t& produced) {
    return Decoder.DecodeBlock(in, inLength, consumed, out, outCapacity, produced);
  }
  bool StreamDamaged() const { return Decoder.StreamDamaged(); }
  bool PhraseUnfinished() const { return Decoder.PhraseUnfinished(); }
};
using TTreeCodec = TCodec<TChildTrees>;

}  // namespace vorka::test
