// Packing and unpacking through real files: byte-exact round trips at several
// buffer sizes, packed files independent of the buffer size, attributes and
// times carried through, and the overwrite permissions.
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "support/LZFileOwner.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;

using test::Owned;

struct Sample {
  const char* Name;
  std::string Bytes;
};

std::vector<Sample> Samples() {
  std::vector<Sample> s = {
      {"empty", ""},
      {"one byte", "x"},
      {"text", test::MakeText(70000, 5)},
      {"random", test::MakeRandom(30000, 9)},
      // Phrases of one repeated byte reach about 1400 bytes: longer than the
      // smallest buffers, so the decoder must deliver them in pieces.
      {"long run", std::string(1000000, 'z')},
      {"run then text", std::string(5000, 'a') + test::MakeText(20000, 2) + std::string(3000, '\0')},
  };
  const std::string book = test::CorpusFile("calgary/paper1");
  if (!book.empty()) s.push_back({"calgary paper1", book});
  return s;
}

struct Settings {
  std::uint32_t Dic, Frag;
};

const Settings kSettings[] = {{100000, 100000}, {500, 4}, {5000, 2000}, {600, 100000}};
const std::uint32_t kBufSizes[] = {1000, 4099, 100000};

TEST(LZFileRoundTrip, EverySampleSettingAndBufferSize) {
  const std::vector<Sample> samples = Samples();
  test::ScratchDir dir;
  for (const Settings& st : kSettings) {
    for (const Sample& sample : samples) {
      SCOPED_TRACE(testing::Message() << sample.Name << ", dictionary " << st.Dic << ", fragment "
                                      << st.Frag);
      test::WriteFile(dir / "src", sample.Bytes);
      std::string first;
      for (std::uint32_t packBuf : kBufSizes) {
        SCOPED_TRACE(testing::Message() << "pack buffer " << packBuf);
        Owned packer(TLZFile::Create(packBuf, st.Dic, st.Frag));
        ASSERT_TRUE(packer);
        packer->SetFlag(lfOverwritePacked);
        packer->PackFile(dir / "src", dir / "packed");
        ASSERT_EQ(packer->ErrorCode(), 0);
        const std::string packed = test::ReadFile(dir / "packed");
        if (first.empty()) {
          first = packed;
        } else {
          ASSERT_EQ(packed, first) << "packed bytes depend on the buffer size";
        }
        for (std::uint32_t unpackBuf : kBufSizes) {
          SCOPED_TRACE(testing::Message() << "unpack buffer " << unpackBuf);
          Owned unpacker(TLZFile::Create(unpackBuf, st.Dic, st.Frag));
          ASSERT_TRUE(unpacker);
          unpacker->SetFlag(lfOverwriteSource);
          unpacker->UnpackFile(dir / "packed", dir / "back");
          ASSERT_EQ(unpacker->ErrorCode(), 0) << unpacker->ErrorMessage();
          ASSERT_TRUE(test::ReadFile(dir / "back") == sample.Bytes);
          EXPECT_EQ(unpacker->StoredName(), "src");
        }
      }
    }
  }
}

TEST(LZFileRoundTrip, UnpacksAtEveryBufferSizeFrom1000) {
  // A long run makes fragments longer than any of these buffers.
  const std::string data = std::string(1200000, 'q') + test::MakeText(30000, 4);
  test::ScratchDir dir;
  test::WriteFile(dir / "src", data);
  Owned packer(TLZFile::Create(65536, 100000, 100000));
  ASSERT_TRUE(packer);
  packer->PackFile(dir / "src", dir / "packed");
  ASSERT_EQ(packer->ErrorCode(), 0);
  ASSERT_GT(packer->LongestFragment(), 1000u);
  std::vector<std::uint32_t> sizes;
  for (std::uint32_t b = 1000; b <= 1040; ++b) sizes.push_back(b);
  for (std::uint32_t b : {1337u, 2048u, 4099u, 8191u, 65535u, 100000u, 1000000u}) sizes.push_back(b);
  for (std::uint32_t b : sizes) {
    SCOPED_TRACE(b);
    Owned f(TLZFile::Create(b, 100000, 100000));
    ASSERT_TRUE(f);
    f->SetFlag(lfOverwriteSource);
    f->UnpackFile(dir / "packed", dir / "back");
    ASSERT_EQ(f->ErrorCode(), 0);
    ASSERT_TRUE(test::ReadFile(dir / "back") == data);
  }
}

TEST(LZFileRoundTrip, RepeatedPackingGivesTheSameFile) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src", test::MakeText(50000, 8));
  Owned f(TLZFile::Create(4099, 2000, 50));
  ASSERT_TRUE(f);
  f->SetFlag(lfOverwritePacked);
  f->PackFile(dir / "src", dir / "packed");
  ASSERT_EQ(f->ErrorCode(), 0);
  const std::string once = test::ReadFile(dir / "packed");
  const std::uint32_t resets = f->ResetCount();
  EXPECT_GT(resets, 0u);  // a 2000-entry dictionary fills up on this text
  EXPECT_GT(f->Ratio(), 0.0);
  EXPECT_LT(f->Ratio(), 1.0);
  f->PackFile(dir / "src", dir / "packed");
  ASSERT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(test::ReadFile(dir / "packed"), once);
  EXPECT_EQ(f->ResetCount(), resets);  // statistics describe the last run only
}

struct StatResult {
  mode_t Mode;
  time_t MTime;
};
StatResult StatOf(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(stat(name.c_str(), &st), 0);
  return {st.st_mode & 07777, st.st_mtime};
}

TEST(LZFileRoundTrip, AttributesAndTimeAreRestored) {
  struct Case {
    mode_t SourceMode;
    std::int32_t Time;
    mode_t OutMode;  // with umask 022 for the new output
  } cases[] = {
      {0444, 0x28216000, 0444},  // read-only: every write bit removed
      {0644, 0x5A6E3C2A, 0644},
      {0400, 0x3C210000, 0444},  // only the read-only bit travels, not the mode
  };
  const mode_t oldMask = umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SourceMode);
    test::ScratchDir dir;
    const std::string src = dir / "src", packed = dir / "packed", out = dir / "out";
    test::WriteFile(src, test::MakeText(9000, 1));
    ASSERT_TRUE(platform::SetDosTime(src, c.Time));
    ASSERT_EQ(chmod(src.c_str(), c.SourceMode), 0);
    const StatResult before = StatOf(src);
    Owned f(TLZFile::Create(4099, 5000, 300));
    ASSERT_TRUE(f);
    f->PackFile(src, packed);
    ASSERT_EQ(f->ErrorCode(), 0);
    // The source is not changed by packing.
    EXPECT_EQ(StatOf(src).Mode, before.Mode);
    EXPECT_EQ(StatOf(src).MTime, before.MTime);
    f->UnpackFile(packed, out);
    ASSERT_EQ(f->ErrorCode(), 0);
    EXPECT_EQ(test::ReadFile(out), test::ReadFile(src));
    const StatResult after = StatOf(out);
    EXPECT_EQ(after.Mode, c.OutMode);
    EXPECT_EQ(after.MTime, before.MTime);
    EXPECT_EQ(platform::GetDosTime(out), c.Time);
    EXPECT_EQ(f->OutputName(), out);
  }
  umask(oldMask);
}

TEST(LZFileRoundTrip, OverwritePermissions) {
  test::ScratchDir dir;
  const std::string data = test::MakeText(4000, 6);
  test::WriteFile(dir / "src", data);
  test::WriteFile(dir / "packed", "old packed");
  test::WriteFile(dir / "out", "old output");
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->PackFile(dir / "src", dir / "packed");
  EXPECT_EQ(f->ErrorCode(), 5);
  EXPECT_EQ(test::ReadFile(dir / "packed"), "old packed");
  f->SetFlag(lfOverwritePacked);
  f->PackFile(dir / "src", dir / "packed");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_NE(test::ReadFile(dir / "packed"), "old packed");

  f->UnpackFile(dir / "packed", dir / "out");
  EXPECT_EQ(f->ErrorCode(), 4);
  EXPECT_EQ(test::ReadFile(dir / "out"), "old output");
  f->SetFlag(lfOverwriteSource);
  f->UnpackFile(dir / "packed", dir / "out");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(test::ReadFile(dir / "out"), data);
}

TEST(LZFileRoundTrip, RelativeNamesAndTheStoredName) {
  test::ScratchDir dir;
  const fs::path here = fs::current_path();
  fs::current_path(dir.Path());
  test::WriteFile("plain name.txt", "relative names work too");
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->PackFile("plain name.txt", "./packed.lz");
  EXPECT_EQ(f->ErrorCode(), 0);
  f->UnpackFile("packed.lz", "restored.txt");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(f->StoredName(), "plain name.txt");
  EXPECT_EQ(f->OutputName(), (dir.Path() / "restored.txt").string());
  EXPECT_EQ(test::ReadFile("restored.txt"), "relative names work too");
  fs::current_path(here);
}

}  // namespace
}  // namespace vorka
