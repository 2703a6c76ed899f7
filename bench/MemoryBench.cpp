// The one-call memory functions on 6 MB: PackMemory and UnpackMemory with the
// program's default settings, in bytes per second of plain data, each call
// with its own storage as a user's call has. Text (argument 0) is the start of
// silesia/dickens, binary (1) the start of silesia/ooffice, or generated data
// of the same size when the corpora are absent. `vorka c` on the same bytes
// (written out when VORKA_MEMORY_BENCH_FILES names a folder) is the comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vorka.h"

namespace {

constexpr std::size_t kSize = 6000000;

std::vector<std::uint8_t> SixMegabytes(int which) {
  const char* relative = which == 0 ? "silesia/dickens" : "silesia/ooffice";
  std::vector<std::uint8_t> bytes(kSize);
  std::ifstream in(std::filesystem::path(VORKA_SHARED_DIR) / "corpus" / relative, std::ios::binary);
  if (in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(kSize))) return bytes;
  // Generated: words for text, short runs and small values for binary.
  static const char* const kWords[] = {"the ", "of ", "and ", "a ", "to ", "in ", "packed ", "memory\n"};
  std::mt19937 rng(static_cast<std::uint32_t>(which) + 7);
  bytes.clear();
  while (bytes.size() < kSize) {
    const std::uint32_t v = rng();
    if (which == 0) {
      for (const char* p = kWords[v % std::size(kWords)]; *p != 0; ++p) bytes.push_back(static_cast<std::uint8_t>(*p));
    } else {
      bytes.insert(bytes.end(), 1 + (v >> 8) % 9, static_cast<std::uint8_t>(v >> 24));
    }
  }
  bytes.resize(kSize);
  return bytes;
}

// Each input is read when first wanted, so that a run of one benchmark as a
// whole process reads only its own 6 MB, as `vorka c` does.
const std::vector<std::uint8_t>& Plain(int which) {
  if (which == 0) {
    static const std::vector<std::uint8_t> text = SixMegabytes(0);
    return text;
  }
  static const std::vector<std::uint8_t> binary = SixMegabytes(1);
  return binary;
}

void BM_PackMemory(benchmark::State& state) {
  const std::vector<std::uint8_t>& plain = Plain(static_cast<int>(state.range(0)));
  std::size_t packedSize = 0;
  for (auto _ : state) {
    std::vector<std::uint8_t> packed;
    if (vorka::PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed) != 0)
      throw std::runtime_error("PackMemory failed");
    packedSize = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.size()));
  state.counters["ratio"] = static_cast<double>(packedSize) / static_cast<double>(plain.size());
}

void BM_UnpackMemory(benchmark::State& state) {
  const std::vector<std::uint8_t>& plain = Plain(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> packed;
  if (vorka::PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed) != 0)
    throw std::runtime_error("PackMemory failed");
  for (auto _ : state) {
    std::vector<std::uint8_t> back;
    if (vorka::UnpackMemory(packed.data(), packed.size(), back) != 0 || back.size() != plain.size())
      throw std::runtime_error("UnpackMemory failed");
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.size()));
}

// Writes the two 6 MB inputs, so that `vorka c` can be timed on the same
// bytes: VORKA_MEMORY_BENCH_FILES=<folder> vorka_bench_codec --benchmark_filter=Memory
const bool kFilesWritten = [] {
  const char* folder = std::getenv("VORKA_MEMORY_BENCH_FILES");
  if (folder == nullptr) return false;
  for (int which = 0; which < 2; ++which) {
    const std::vector<std::uint8_t>& plain = Plain(which);
    std::ofstream out(std::filesystem::path(folder) / (which == 0 ? "text6m" : "binary6m"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plain.size()));
  }
  return true;
}();

}  // namespace

// Bytes per second of CPU time, set against the whole-process CPU time of
// `vorka c`: on a shared machine CPU time is the steadier clock.
BENCHMARK(BM_PackMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
