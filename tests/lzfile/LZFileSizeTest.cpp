// The Size field against the data, both ways. Unpacking: a Size smaller than
// the data stops the decoder inside a phrase, which a whole stream never does,
// so it is a damaged stream (11); the bytes produced still go in place. Packing:
// exactly Size bytes are read and the source must end there, or the packed
// file is refused (17) and an older one stays.
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/LZFileOwner.h"
#include "support/TestData.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

using test::Owned;

constexpr std::size_t kSizeAt = 71;  // Size in the information part

std::uint32_t Get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
  return v;
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::size_t EntriesIn(const fs::path& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

// One byte repeated with a large dictionary: phrases grow by one byte each, so
// they end after T(m) = m(m+1)/2 bytes. 500500 = T(1000); T(999) = 499500.
constexpr std::size_t kRunLength = 500500;

TEST(LZFileSizeField, SmallerThanTheDataIsADamagedStream) {
  struct Case {
    const char* What;
    std::string Source;
    std::uint32_t Buf, Dic, Frag;
    std::uint32_t Cut;   // bytes taken off Size
    std::uint8_t Code;   // 0xFF: 11 or 24, by where the cut falls
  } cases[] = {
      {"run, Size as written", std::string(kRunLength, 'a'), 1000, 65536, 65536, 0, 0},
      {"run, 1 byte short", std::string(kRunLength, 'a'), 1000, 65536, 65536, 1, 11},
      {"run, 3 bytes short", std::string(kRunLength, 'a'), 4099, 65536, 65536, 3, 11},
      {"run, 7 bytes short", std::string(kRunLength, 'a'), 100000, 65536, 65536, 7, 11},
      {"run, 678 bytes short", std::string(kRunLength, 'a'), 1000, 65536, 65536, 678, 11},
      // Ends on the end of a phrase: the decoder stops cleanly, and the bytes
      // that follow are codes, not the end marker.
      {"run, short by its last phrase", std::string(kRunLength, 'a'), 1000, 65536, 65536, 1000, 24},
      {"text, 1 byte short", test::MakeText(30000, 7), 1000, 5000, 300, 1, 0xFF},
      {"text, 2 bytes short", test::MakeText(30000, 7), 1000, 5000, 300, 2, 0xFF},
      {"text, 5 bytes short", test::MakeText(30000, 7), 4099, 5000, 300, 5, 0xFF},
      {"noise, 1 byte short", test::MakeRandom(20000, 3), 1000, 500, 500, 1, 0xFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ScratchDir dir;
    WriteFile(dir / "src", c.Source);
    Owned f(TLZFile::Create(c.Buf, c.Dic, c.Frag));
    ASSERT_TRUE(f);
    f->SetFlag(lfOverwriteSource);
    f->PackFile(dir / "src", dir / "p.lz");
    ASSERT_EQ(f->ErrorCode(), 0);
    std::string packed = ReadFile(dir / "p.lz");
    ASSERT_EQ(Get32(packed, kSizeAt), c.Source.size());
    const std::uint32_t size = static_cast<std::uint32_t>(c.Source.size()) - c.Cut;
    Put32(packed, kSizeAt, size);
    WriteFile(dir / "cut.lz", packed);
    WriteFile(dir / "out", "an older output");

    f->UnpackFile(dir / "cut.lz", dir / "out");
    if (c.Code == 0xFF) {
      EXPECT_TRUE(f->ErrorCode() == 11 || f->ErrorCode() == 24) << int{f->ErrorCode()};
    } else {
      EXPECT_EQ(f->ErrorCode(), c.Code);
    }
    // What was restored is put in place, as for any damaged stream.
    EXPECT_EQ(ReadFile(dir / "out"), c.Source.substr(0, size));
    EXPECT_EQ(EntriesIn(dir.Path()), 4u);
  }
}

TEST(LZFileSourceLength, SourceMustEndAtItsSize) {
  test::ScratchDir dir;
  const std::string source = test::MakeText(12000, 9);
  WriteFile(dir / "src", source);
  Owned f(TLZFile::Create(1000, 5000, 300));
  ASSERT_TRUE(f);
  f->SetFlag(lfOverwritePacked);
  // A whole pack reads Size bytes and finds the end right there.
  f->PackFile(dir / "src", dir / "p.lz");
  ASSERT_EQ(f->ErrorCode(), 0);
  const std::string good = ReadFile(dir / "p.lz");

  struct Case {
    const char* What;
    std::int32_t Size;  // what the header will say; the file holds 12000
    std::uint8_t Code;
  } cases[] = {
      {"as it is", 12000, 0},
      {"longer than Size", 11999, 17},
      {"much longer than Size", 1, 17},
      {"size 0 with content", 0, 17},
      {"shorter than Size", 12001, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    f->SetError(0);
    ASSERT_TRUE(f->OpenSource(dir / "src"));
    f->Info.Size = c.Size;
    f->Info.Left = c.Size;
    f->CreatePacked(dir / "p.lz");
    f->TakeFileName(dir / "src");
    f->PackData();
    f->CloseFiles();
    EXPECT_EQ(f->ErrorCode(), c.Code);
    // Refused or not, the packed file is whole: the old one or a new one.
    EXPECT_EQ(ReadFile(dir / "p.lz"), good);
    EXPECT_EQ(EntriesIn(dir.Path()), 2u);
  }
}

#ifndef _WIN32
// Files under /proc report size 0 and have content.
TEST(LZFileSourceLength, ProcFileIsRefused) {
  test::ScratchDir dir;
  WriteFile(dir / "p.lz", "an older packed file");
  Owned f(TLZFile::Create(1000, 5000, 300));
  ASSERT_TRUE(f);
  f->SetFlag(lfOverwritePacked);
  f->PackFile("/proc/cpuinfo", dir / "p.lz");
  EXPECT_EQ(f->ErrorCode(), 17);
  EXPECT_EQ(ReadFile(dir / "p.lz"), "an older packed file");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}
#endif

}  // namespace
}  // namespace vorka
