// Throughput of EncodeBlock and DecodeBlock in 100000-byte blocks, the
// program's default buffer and dictionary size, on a text and a binary input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/LZCodec.h"

namespace {

constexpr std::uint32_t kBlock = 100000;
constexpr std::uint32_t kDictionary = 100000;

std::string ReadCorpus(const char* relative) {
  const std::filesystem::path path = std::filesystem::path(VORKA_SHARED_DIR) / "corpus" / relative;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string GeneratedText() {
  static const char* const kWords[] = {"the ", "of ", "and ", "a ", "to ", "in ", "is ", "that ",
                                       "dictionary ", "phrase ", "tree ", "code. ", "\n", "It "};
  std::mt19937 rng(1);
  std::string s;
  while (s.size() < 800000) s += kWords[rng() % std::size(kWords)];
  return s;
}

std::string GeneratedBinary() {
  std::mt19937 rng(2);
  std::string s;
  while (s.size() < 1000000) {
    const std::uint32_t v = rng();
    if ((v & 7) == 0) {
      s.append(1 + (v >> 8) % 40, static_cast<char>(v >> 24));
    } else {
      s.push_back(static_cast<char>(v & 0x0F));
      s.push_back(static_cast<char>((v >> 8) & 0x3));
      s.push_back('\0');
      s.push_back(static_cast<char>(v >> 28));
    }
  }
  return s;
}

const std::string& Input(int which) {
  static const std::string text = [] {
    std::string s = ReadCorpus("calgary/book1");
    if (s.empty()) s = ReadCorpus("canterbury/alice29.txt");
    return s.empty() ? GeneratedText() : s;
  }();
  static const std::string binary = [] {
    std::string s = ReadCorpus("canterbury/kennedy.xls");
    return s.empty() ? GeneratedBinary() : s;
  }();
  return which == 0 ? text : binary;
}

std::vector<std::uint8_t> Pack(vorka::TLZCodec& codec, const std::string& data) {
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
  vorka::TLZCodec codec;
  if (!codec.Init(kDictionary)) throw std::runtime_error("no memory");
  std::size_t packed = 0;
  for (auto _ : state) {
    packed = Pack(codec, data).size();
    benchmark::DoNotOptimize(packed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetLabel(std::string(state.range(0) == 0 ? "text " : "binary ") + std::to_string(data.size()) + " -> " +
                 std::to_string(packed));
  codec.Done();
}

void BM_DecodeBlock(benchmark::State& state) {
  const std::string& data = Input(static_cast<int>(state.range(0)));
  vorka::TLZCodec codec;
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
  codec.Done();
}

BENCHMARK(BM_EncodeBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
