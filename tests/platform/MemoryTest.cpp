// Storage for the dictionary's arrays: writable to its last byte, unchanged
// by a request for large pages, refused rather than faked.
#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "support/ChildProcess.h"

namespace vorka {
namespace {

TEST(PlatformMemory, BlocksKeepWhatIsWritten) {
  for (const bool large : {false, true}) {
    EXPECT_EQ(platform::AllocateStorage(0, large), nullptr);
    // Small blocks, blocks at and past the large-page rule, one over 2 MiB.
    for (const std::size_t bytes : {std::size_t{1}, std::size_t{4096}, std::size_t{100000}, std::size_t{256} << 10,
                                    (std::size_t{3} << 20) + 5}) {
      SCOPED_TRACE(testing::Message() << bytes << (large ? " with large pages" : ""));
      auto* p = static_cast<std::uint8_t*>(platform::AllocateStorage(bytes, large));
      ASSERT_NE(p, nullptr);
      for (std::size_t i = 0; i < bytes; i += 4093) p[i] = static_cast<std::uint8_t>(i % 251 + 1);
      p[bytes - 1] = 0xA5;
      if (large) {
        platform::UseLargePages(p, bytes);
        platform::UseLargePages(p, bytes / 2);
      }
      bool kept = p[bytes - 1] == 0xA5;
      for (std::size_t i = 0; i + 1 < bytes; i += 4093) kept = kept && p[i] == static_cast<std::uint8_t>(i % 251 + 1);
      EXPECT_TRUE(kept);
      platform::FreeStorage(p, bytes, large);
    }
  }
}

TEST(PlatformMemory, AnImpossibleSizeIsRefused) {
  if (test::UnderAddressSanitizer()) {
    GTEST_SKIP() << "the address sanitizer's heap reports such a request instead of refusing it";
  }
  // More than any address space has: a null result, not a crash.
  for (const bool large : {false, true}) {
    EXPECT_EQ(platform::AllocateStorage(std::size_t{1} << 62, large), nullptr);
    EXPECT_EQ(platform::AllocateStorage(~std::size_t{0} - 100, large), nullptr);
  }
}

}  // namespace
}  // namespace vorka
