// cd round trips over every file of the shared corpus, with the default
// settings and with the smallest dictionary, fragment and buffers.
#include "ExpectedTexts.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VORKA_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORKA_TEST_UNDER_ASAN 1
#endif
#endif

namespace vorka::test {
namespace {

namespace fs = std::filesystem;

// Under the sanitizers the program runs many times slower; the large files
// then stay out.
#ifdef VORKA_TEST_UNDER_ASAN
constexpr std::uintmax_t kLargestFile = 1u << 20;
#else
constexpr std::uintmax_t kLargestFile = ~std::uintmax_t{0};
#endif

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  const fs::path root = fs::path(VORKA_CORPUS_DIR);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file() && it->file_size() <= kLargestFile) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

void RoundTrip(const std::vector<std::string>& settings) {
  const std::vector<fs::path> files = CorpusFiles();
  ASSERT_GT(files.size(), 20u) << "no corpus under " << VORKA_CORPUS_DIR;
  ScratchDir dir;
  const std::string exe = CopyProgramInto(dir.Path().string());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    std::vector<std::string> args = {"cd", "/0:" + file.string(), "/go"};
    args.insert(args.end(), settings.begin(), settings.end());
    const RunResult r = RunProgram(exe, args, "C.UTF-8");
    EXPECT_EQ(r.ExitStatus, 0);
    const std::string tail = kCorrect + kClosing;
    ASSERT_GE(r.Stdout.size(), tail.size()) << r.Stdout;
    EXPECT_EQ(r.Stdout.substr(r.Stdout.size() - tail.size()), tail) << r.Stdout;
    EXPECT_EQ(r.Stdout.find("ОШИБКА"), std::string::npos) << r.Stdout;
  }
}

TEST(CorpusRoundTrip, DefaultSettings) { RoundTrip({}); }

TEST(CorpusRoundTrip, SmallestDictionaryFragmentAndBuffers) { RoundTrip({"/l:500", "/z:4", "/b:1000"}); }

}  // namespace
}  // namespace vorka::test
