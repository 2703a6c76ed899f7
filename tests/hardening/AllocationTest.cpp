// Allocation failure for every block that is allocated: the two file buffers,
// each of the four dictionary arrays in turn, and the two comparison buffers.
// Each case runs in a child under a soft address-space limit placed between
// the blocks: what comes before the failing block fits, the failing block does
// not. The child reports through its exit status (0 = every check held, other
// values name the check that failed) and then lifts the limit again to show
// that the object recovers and that nothing stayed allocated.
//
// Skipped under AddressSanitizer, whose shadow memory cannot live under such
// a limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "driver/Compare.h"
#include "driver/Console.h"
#include "lzfile/LZFile.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

#define SKIP_UNDER_ASAN()                                                              \
  do {                                                                                 \
    if (test::UnderAddressSanitizer()) GTEST_SKIP() << "no address-space limit under ASan"; \
  } while (0)

// After a failure the address space may exceed the starting one only by what
// the allocator keeps for small blocks; the large blocks were given back.
constexpr std::uint64_t kSlack = 16 * kMiB;

TEST(AllocationFailure, EachDictionaryArrayInTurn) {
  SKIP_UNDER_ASAN();
  // 40 million nodes: links 8n, roots and prefixes 4n, characters n, bits n.
  constexpr std::uint32_t n = 40000000;
  constexpr std::uint64_t sizes[] = {8ull * n, 4ull * n, 1ull * n, 1ull * n};
  const char* const names[] = {"links", "roots", "characters", "balance bits"};
  std::uint64_t before = 0;
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(names[k]);
    const std::uint64_t budget = before + sizes[k] / 2;
    const int status = test::RunInChild({}, [&] {
      auto* f = new TLZFile();
      const std::uint64_t base = test::CurrentAddressSpace();
      if (!test::SetAddressSpaceLimit(base + budget)) return 100;
      if (f->Init(100000, n, 100000)) return 1;
      if (f->ErrorCode() != 22) return 2;
      if (f->DictionarySize() != 0) return 3;
      if (test::CurrentAddressSpace() > base + kSlack) return 4;  // blocks not given back
      // Packing on the failed object tries the fallback settings, which fail
      // as well under the limit: the first error stays, no file is touched.
      f->PackFile("/proc/self/status", "/nonexistent-folder/p.lz");
      if (f->ErrorCode() != 22) return 5;
      test::SetAddressSpaceLimit(0);
      if (!f->Init(100000, n, 100000)) return 6;
      if (f->DictionarySize() != n || f->ErrorCode() != 0) return 7;
      TLZFile::Destroy(f);
      return 0;
    });
    EXPECT_EQ(status, 0);
    before += sizes[k];
  }
}

TEST(AllocationFailure, EachFileBuffer) {
  SKIP_UNDER_ASAN();
  constexpr std::uint32_t buf = 200 * kMiB;
  const struct {
    const char* What;
    std::uint64_t Budget;
  } cases[] = {
      {"read buffer", buf / 2},
      {"write buffer", buf + buf / 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const int status = test::RunInChild({}, [&] {
      auto* f = new TLZFile();
      const std::uint64_t base = test::CurrentAddressSpace();
      if (!test::SetAddressSpaceLimit(base + c.Budget)) return 100;
      if (f->Init(buf, 1000, 1000)) return 1;
      if (f->ErrorCode() != 1) return 2;
      if (f->ReadBuf.Capacity() != 0 || f->WriteBuf.Capacity() != 0) return 3;
      if (f->DictionarySize() != 0) return 4;  // the object holds nothing at all
      if (test::CurrentAddressSpace() > base + kSlack) return 5;
      test::SetAddressSpaceLimit(0);
      if (!f->Init(buf, 1000, 1000) || f->ErrorCode() != 0) return 6;
      TLZFile::Destroy(f);
      return 0;
    });
    EXPECT_EQ(status, 0);
  }
}

// The fallback that packing falls back on after a failed creation: 64000-byte
// buffers and the largest dictionary. It needs 3.7 GB of address space, of
// which only the pages of nodes actually created are touched.
TEST(AllocationFailure, PackingRecoversWithTheFallbackOnceMemoryIsThere) {
  SKIP_UNDER_ASAN();
  test::ScratchDir dir;
  const std::string source = test::MakeText(50000, 77);
  test::WriteFile(dir / "src", source);
  test::WriteFile(dir / "p.lz", "old packed file");
  const int status = test::RunInChild({}, [&] {
    auto* f = new TLZFile();
    const std::uint64_t base = test::CurrentAddressSpace();
    if (!test::SetAddressSpaceLimit(base + 64 * kMiB)) return 100;
    if (f->Init(1000, MaxDictionarySize, 1000)) return 1;
    if (f->ErrorCode() != 22) return 2;
    f->SetFlag(lfOverwritePacked);
    f->PackFile(dir / "src", dir / "p.lz");
    if (f->ErrorCode() != 22) return 3;
    if (test::ReadFile(dir / "p.lz") != "old packed file") return 4;
    // The re-creation starts with no flags set, so the old file must go first.
    std::filesystem::remove(dir / "p.lz");
    test::SetAddressSpaceLimit(base + 4500 * kMiB);
    f->PackFile(dir / "src", dir / "p.lz");
    if (f->ErrorCode() != 0) return 5;
    if (f->DictionarySize() != MaxDictionarySize) return 6;
    if (f->MaxFragment() != MinFragmentLength) return 7;
    if (f->ReadBuf.Capacity() != TLZFile::FallbackBufSize) return 8;
    f->SetFlag(lfOverwriteSource);
    f->UnpackFile(dir / "p.lz", dir / "out");
    if (f->ErrorCode() != 0 || test::ReadFile(dir / "out") != source) return 9;
    TLZFile::Destroy(f);
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(AllocationFailure, EachComparisonBuffer) {
  SKIP_UNDER_ASAN();
  test::ScratchDir dir;
  test::WriteFile(dir / "a", test::MakeText(10000, 5));
  test::WriteFile(dir / "b", test::MakeText(10000, 5));
  constexpr std::int32_t buf = 300 * kMiB;
  const struct {
    const char* What;
    std::uint64_t Budget;
  } cases[] = {
      {"first buffer", buf / 2},
      {"second buffer", buf + buf / 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string out = dir / "stdout";
    const int status = test::RunInChild({.Stdout = out}, [&] {
      OverrideConsoleCodeset("UTF-8");
      const std::uint64_t base = test::CurrentAddressSpace();
      if (!test::SetAddressSpaceLimit(base + c.Budget)) return 100;
      const bool same = CompareFiles(dir / "a", dir / "b", buf);
      Console().Flush();
      if (same) return 1;
      if (test::CurrentAddressSpace() > base + kSlack) return 2;
      test::SetAddressSpaceLimit(0);
      if (!CompareFiles(dir / "a", dir / "b", buf)) return 3;
      Console().Flush();
      return 0;
    });
    EXPECT_EQ(status, 0);
    const std::string header = " Проверка. Сравнение \"" + (dir / "a") + "\" и \"" + (dir / "b") + "\"...";
    EXPECT_EQ(test::ReadFile(out), header + "\n\a ОШИБКА: Недостаточно памяти для буферов.\n завершено.\n" +
                                    header + " завершено.\n");
  }
}

}  // namespace
}  // namespace vorka
