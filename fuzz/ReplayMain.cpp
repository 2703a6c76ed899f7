// Runs a fuzz target over files without libFuzzer: every regular file of the
// folders named on the command line (one level deep, sorted by name, so a
// failure always reproduces in the same order), or single files. A folder that
// does not exist is skipped, since a target may have no regressions yet. A
// failed check aborts, which fails the CTest entry that runs this program.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

int RunFile(const fs::path& name) {
  std::ifstream f(name, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "cannot read %s\n", name.c_str());
    return 1;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  // A copy of exactly the file's length, so that reading past it is caught.
  std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  std::fprintf(stderr, "replay %s (%zu bytes)\n", name.c_str(), input.size());
  // libFuzzer never passes a null pointer, not even for an empty input.
  static const std::uint8_t none = 0;
  LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        failures += RunFile(file);
        ++runs;
      }
    } else if (fs::exists(arg, ec)) {
      failures += RunFile(arg);
      ++runs;
    }
  }
  std::fprintf(stderr, "%d inputs replayed\n", runs);
  return failures == 0 ? 0 : 1;
}
