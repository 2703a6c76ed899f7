// Bytes of packed files, checked against values worked out by hand.
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

using Bytes = std::vector<std::uint8_t>;

using test::Owned;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Slice(const std::string& s, std::size_t from, std::size_t n) {
  return ToBytes(s.substr(from, n));
}

// "Vorkasteln: LZ78 packed file (Fast1 dictionary)." CR LF EOF, written out.
const Bytes Signature = {
    0x56, 0x6F, 0x72, 0x6B, 0x61, 0x73, 0x74, 0x65, 0x6C, 0x6E, 0x3A, 0x20, 0x4C, 0x5A, 0x37, 0x38, 0x20,
    0x70, 0x61, 0x63, 0x6B, 0x65, 0x64, 0x20, 0x66, 0x69, 0x6C, 0x65, 0x20, 0x28, 0x46, 0x61, 0x73, 0x74,
    0x31, 0x20, 0x64, 0x69, 0x63, 0x74, 0x69, 0x6F, 0x6E, 0x61, 0x72, 0x79, 0x29, 0x2E, 0x0D, 0x0A, 0x1A};

class LZFileFormat : public ::testing::Test {
protected:
  test::ScratchDir dir;
  // A plain "test.txt" with attributes 0x20 and the time 1 January 2000, 12:00:00.
  std::string MakeSource(const std::string& contents) {
    const std::string name = dir / "test.txt";
    test::WriteFile(name, contents);
    EXPECT_EQ(chmod(name.c_str(), 0644), 0);
    EXPECT_TRUE(platform::SetDosTime(name, 0x28216000));
    return name;
  }
};

TEST_F(LZFileFormat, FixedHeaderWithDictionary100000) {
  Owned f(TLZFile::Create(100000, 100000, 100000));
  ASSERT_TRUE(f);
  f->PackFile(MakeSource("hello"), dir / "test._tx");
  ASSERT_EQ(f->ErrorCode(), 0);
  const std::string packed = test::ReadFile(dir / "test._tx");
  ASSERT_GE(packed.size(), 61u);
  EXPECT_EQ(Slice(packed, 0, 51), Signature);
  EXPECT_EQ(Slice(packed, 51, 10), (Bytes{0x01, 0x00, 0xA0, 0x86, 0x01, 0x00, 0xA0, 0x86, 0x01, 0x00}));
}

TEST_F(LZFileFormat, InformationPartOfTestTxt) {
  Owned f(TLZFile::Create(4099, 100000, 100000));
  ASSERT_TRUE(f);
  f->PackFile(MakeSource(test::MakeText(1234, 7)), dir / "test._tx");
  ASSERT_EQ(f->ErrorCode(), 0);
  const std::string packed = test::ReadFile(dir / "test._tx");
  ASSERT_GE(packed.size(), 88u);
  EXPECT_EQ(Slice(packed, 61, 23),
            (Bytes{0x15, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x60, 0x21, 0x28, 0xD2, 0x04,
                   0x00, 0x00, 0x08, 0x74, 0x65, 0x73, 0x74, 0x2E, 0x74, 0x78, 0x74}));
  // 80 + n + D, with D the code bytes the codec reports.
  const std::uint64_t d = f->CodeBytes();
  EXPECT_GT(d, 0u);
  EXPECT_EQ(packed.size(), 80u + 8u + d);
  EXPECT_EQ(Slice(packed, packed.size() - 4, 4), (Bytes{0x23, 0x01, 0xCD, 0xAB}));
}

TEST_F(LZFileFormat, EmptyFileIs88Bytes) {
  Owned f(TLZFile::Create(1000, 500, 77));
  ASSERT_TRUE(f);
  f->PackFile(MakeSource(""), dir / "test._tx");
  ASSERT_EQ(f->ErrorCode(), 0);
  Bytes expected = Signature;
  const Bytes rest = {0x01, 0x00,                                            // version
                      0xF4, 0x01, 0x00, 0x00, 0x4D, 0x00, 0x00, 0x00,        // 500, 77
                      0x15, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x60, 0x21, 0x28,
                      0x00, 0x00, 0x00, 0x00, 0x08, 0x74, 0x65, 0x73, 0x74, 0x2E, 0x74, 0x78, 0x74,
                      0x23, 0x01, 0xCD, 0xAB};
  expected.insert(expected.end(), rest.begin(), rest.end());
  ASSERT_EQ(expected.size(), 88u);
  EXPECT_EQ(ToBytes(test::ReadFile(dir / "test._tx")), expected);
  EXPECT_EQ(f->Ratio(), 0.0);
}

TEST_F(LZFileFormat, StoredNameIsTheLastPathPartCutTo255) {
  const std::string longName(300, 'n');
  struct Case {
    std::string Sub, File, Stored;
  } cases[] = {{"", "plain.txt", "plain.txt"},
               {"deeper/still", "x.bin", "x.bin"},
               {"", "d:\\data\\test.txt", "d:\\data\\test.txt"},  // "\" and ":" are ordinary here
               {"", longName.substr(0, 250), longName.substr(0, 250)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    std::filesystem::create_directories(dir.Path() / c.Sub);
    const std::string name = (dir.Path() / c.Sub / c.File).string();
    test::WriteFile(name, "abc");
    Owned f(TLZFile::Create(1000, 1000, 100));
    ASSERT_TRUE(f);
    f->PackFile(name, dir / "out.lz");
    ASSERT_EQ(f->ErrorCode(), 0);
    EXPECT_EQ(f->StoredName(), c.Stored);
    const std::string packed = test::ReadFile(dir / "out.lz");
    EXPECT_EQ(static_cast<std::uint8_t>(packed[75]), c.Stored.size());
    EXPECT_EQ(packed.substr(76, c.Stored.size()), c.Stored);
    std::filesystem::remove(dir / "out.lz");
  }
  // Names above 255 bytes cannot exist on the usual file systems; the cut is
  // checked on the name alone.
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->TakeFileName("/some/folder/" + longName);
  EXPECT_EQ(f->StoredName(), longName.substr(0, 255));
}

}  // namespace
}  // namespace vorka
