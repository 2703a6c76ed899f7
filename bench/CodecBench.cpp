// Throughput of the codec's hot paths in bytes per second: EncodeBlock and
// DecodeBlock in 100000-byte blocks (the program's default buffer and
// dictionary size), and their parts on their own: the phrase scan and one
// child lookup over a dictionary built from the input, and PutCode / GetCode
// on the codes of a packed stream with their own widths. Text is argument 0,
// binary 1.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Codec.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace {

// The codec the benchmarks drive; the child trees are the program's default.
using TBenchCodec = vorka::test::TTreeCodec;

constexpr std::uint32_t kBlock = 100000;
constexpr std::uint32_t kDictionary = 100000;

const std::string& Input(int which) {
  static const std::string text = [] {
    std::string s = vorka::test::CorpusFile("calgary/book1");
    if (s.empty()) s = vorka::test::CorpusFile("canterbury/alice29.txt");
    return s.empty() ? vorka::test::MakeText(800000, 1) : s;
  }();
  static const std::string binary = [] {
    std::string s = vorka::test::CorpusFile("canterbury/kennedy.xls");
    return s.empty() ? vorka::test::MakeBinaryish(1000000, 2) : s;
  }();
  return which == 0 ? text : binary;
}

std::vector<std::uint8_t> Pack(TBenchCodec& codec, const std::string& data) {
  codec.StartPacking();
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> out(kBlock);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t pos = 0;
  for (;;) {
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, data.size() - pos));
    std::uint32_t consumed = 0, written = 0;
    codec.EncodeBlock(bytes + pos, length, consumed, out.data(), kBlock, written);
    stream.insert(stream.end(), out.begin(), out.begin() + written);
    pos += consumed;
    if (length == 0) break;
  }
  return stream;
}

void BM_EncodeBlock(benchmark::State& state) {
  const std::string& data = Input(static_cast<int>(state.range(0)));
  TBenchCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  std::size_t packed = 0;
  for (auto _ : state) {
    packed = Pack(codec, data).size();
    benchmark::DoNotOptimize(packed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetLabel(std::string(state.range(0) == 0 ? "text " : "binary ") + std::to_string(data.size()) + " -> " +
                 std::to_string(packed));
}

void BM_DecodeBlock(benchmark::State& state) {
  const std::string& data = Input(static_cast<int>(state.range(0)));
  TBenchCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  const std::vector<std::uint8_t> stream = Pack(codec, data);
  std::vector<std::uint8_t> out(kBlock);
  // One checked round trip before the timed ones.
  {
    codec.StartUnpacking();
    std::string back;
    std::size_t pos = 0;
    while (back.size() < data.size()) {
      const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, stream.size() - pos));
      const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, data.size() - back.size()));
      std::uint32_t consumed = 0, produced = 0;
      if (!codec.DecodeBlock(stream.data() + pos, length, consumed, out.data(), room, produced) ||
          (consumed == 0 && produced == 0))
        break;
      back.append(reinterpret_cast<const char*>(out.data()), produced);
      pos += consumed;
    }
    if (back != data) {
      state.SkipWithError("round trip differs");
      return;
    }
  }
  for (auto _ : state) {
    codec.StartUnpacking();
    std::size_t pos = 0, done = 0;
    while (done < data.size()) {
      const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, stream.size() - pos));
      const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, data.size() - done));
      std::uint32_t consumed = 0, produced = 0;
      if (!codec.DecodeBlock(stream.data() + pos, length, consumed, out.data(), room, produced) ||
          (consumed == 0 && produced == 0)) {
        state.SkipWithError("decoder stopped");
        break;
      }
      pos += consumed;
      done += produced;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetLabel(state.range(0) == 0 ? "text" : "binary");
}

// A packing dictionary built from the first kDictionary phrases of the input
// (no reset), and the input position where that happened.
std::size_t BuildDictionary(TBenchCodec& codec, const std::string& data) {
  codec.StartPacking();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t p = 0;
  while (p < data.size() && !codec.Encoder.Nodes.Full()) {
    std::uint32_t current = vorka::RootNode;
    p += codec.Encoder.Index.ScanPhrase(codec.Encoder.Nodes, bytes + p, static_cast<std::uint32_t>(data.size() - p), current);
    if (p < data.size()) codec.Encoder.Index.AddChild(codec.Encoder.Nodes, bytes[p], current);
    ++p;
  }
  return p;
}

void BM_ScanPhrase(benchmark::State& state) {
  const std::string& data = Input(static_cast<int>(state.range(0)));
  TBenchCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  BuildDictionary(codec, data);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  const auto size = static_cast<std::uint32_t>(data.size());
  for (auto _ : state) {
    // Phrase after phrase over the whole input, skipping each missed byte.
    std::uint32_t p = 0;
    while (p < size) {
      std::uint32_t current = vorka::RootNode;
      p += codec.Encoder.Index.ScanPhrase(codec.Encoder.Nodes, bytes + p, size - p, current) + 1;
      benchmark::DoNotOptimize(current);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetLabel(TBenchCodec::TIndexType::Name);
}

void BM_FindChild(benchmark::State& state) {
  const std::string& data = Input(static_cast<int>(state.range(0)));
  TBenchCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  BuildDictionary(codec, data);
  // Lookups of (node, next byte) for every node, hits and misses as they come.
  const std::uint32_t count = codec.Encoder.Nodes.NodeCount;
  std::mt19937 rng(3);
  std::vector<std::uint8_t> next(count);
  for (auto& c : next) c = static_cast<std::uint8_t>(data[rng() % data.size()]);
  for (auto _ : state) {
    std::uint32_t found = 0;
    for (std::uint32_t n = vorka::RootNode; n < count; ++n) found += codec.Encoder.Index.FindChildOf(codec.Encoder.Nodes, n, next[n]) != 0;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (count - vorka::RootNode)));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (count - vorka::RootNode)));
}

// The codes of a packed stream, read back with the decoder's widths.
struct TCodes {
  std::vector<std::uint32_t> Values;
  std::vector<std::uint8_t> Widths;
};

// The (value, width) pairs of the input's packed stream, in order, as the
// reference coder writes them for the codec's own settings.
TCodes StreamCodes(const std::string& data) {
  TBenchCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  const vorka::test::RefStream ref = vorka::test::RefEncode(data, codec.DictionarySize(), codec.MaxFragment());
  TCodes codes;
  for (const vorka::test::RefItem& item : ref.Items) {
    codes.Values.push_back(item.Value);
    codes.Widths.push_back(static_cast<std::uint8_t>(item.Width));
  }
  return codes;
}

const TCodes& Codes(int which) {
  static const TCodes text = StreamCodes(Input(0));
  static const TCodes binary = StreamCodes(Input(1));
  return which == 0 ? text : binary;
}

void BM_PutCode(benchmark::State& state) {
  const TCodes& codes = Codes(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> out(codes.Values.size() * 4 + 16);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const vorka::TBitBuf carry;
    vorka::TBitWriter bits(carry, out.data(), static_cast<std::uint32_t>(out.size()));
    for (std::size_t i = 0; i < codes.Values.size(); ++i) bits.PutCode(codes.Values[i], codes.Widths[i]);
    bits.FlushBits();
    bytes = bits.BytesUsed();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * codes.Values.size()));
}

void BM_GetCode(benchmark::State& state) {
  const TCodes& codes = Codes(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> stream(codes.Values.size() * 4 + 16);
  const vorka::TBitBuf carry;
  vorka::TBitWriter writer(carry, stream.data(), static_cast<std::uint32_t>(stream.size()));
  for (std::size_t i = 0; i < codes.Values.size(); ++i) writer.PutCode(codes.Values[i], codes.Widths[i]);
  writer.FlushBits();
  const std::uint32_t used = writer.BytesUsed();
  for (auto _ : state) {
    vorka::TBitReader bits(carry, stream.data(), used);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < codes.Widths.size(); ++i) {
      std::uint32_t code = 0;
      if (!bits.GetCode(code, codes.Widths[i])) {
        state.SkipWithError("stream ended early");
        break;
      }
      sum += code;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * used));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * codes.Values.size()));
}

BENCHMARK(BM_ScanPhrase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindChild)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PutCode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetCode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
