// The compressed-file object: creation with its limits, flags, the sticky
// error rule, a zero-filled static instance, and allocation failures under an
// address-space limit in a child process.
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>


#include "support/LZFileOwner.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

using test::Owned;

// Zero-filled like the program's static instance, never constructed with values.
TLZFile StaticInstance;

TEST(LZFileInit, SizesAndLimits) {
  struct Case {
    std::uint32_t Buf, Dic, Frag;
    bool Ok;
    std::uint8_t Code;
    std::uint32_t Capacity, DicSize, MaxFrag;
  } cases[] = {
      {100000, 100000, 100000, true, 0, 100000, 100000, 100000},
      {100000, 500, 100000, true, 0, 100000, 500, 500},  // fragment capped by the dictionary
      {1, 1000, 50, true, 0, 1000, 1000, 50},           // buffers raised to 1000
      {999, 1000, 0, true, 0, 1000, 1000, 4},           // fragment raised to 4
      {4099, 10, 3, true, 0, 4099, 500, 4},             // dictionary raised to 500
      {0, 1000, 100, false, 1, 0, 0, 0},                // no buffers
      {1000, 0, 100, false, 22, 0, 0, 0},               // no dictionary
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Buf << " " << c.Dic << " " << c.Frag);
    auto* mem = new TLZFile();
    EXPECT_EQ(mem->Init(c.Buf, c.Dic, c.Frag), c.Ok);
    EXPECT_EQ(mem->ErrorCode(), c.Code);
    EXPECT_EQ(mem->ReadBuf.Capacity(), c.Capacity);
    EXPECT_EQ(mem->WriteBuf.Capacity(), c.Capacity);
    EXPECT_EQ(mem->DictionarySize(), c.DicSize);
    EXPECT_EQ(mem->MaxFragment(), c.MaxFrag);
    TLZFile::Destroy(mem);

    Owned made(TLZFile::Create(c.Buf, c.Dic, c.Frag));
    EXPECT_EQ(made != nullptr, c.Ok);
  }
}

TEST(LZFileInit, FreshInstanceState) {
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->Version, 1);
  EXPECT_EQ(f->Info.Attr, 0);
  EXPECT_EQ(f->Info.Time, 0);
  EXPECT_EQ(f->Info.Size, 0);
  EXPECT_EQ(f->Flags, 0);
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(f->ErrorMessage(), "Нет ошибки");
  EXPECT_EQ(f->Ratio(), 0.0);  // no input yet: no division by zero
}

TEST(LZFileInit, InitClearsFlagsAndAnEarlierError) {
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->SetFlag(lfOverwritePacked);
  f->SetFlag(lfOverwriteSource);
  f->SetError(13);
  ASSERT_TRUE(f->Init(2000, 600, 10));
  EXPECT_EQ(f->Flags, 0);
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(f->ReadBuf.Capacity(), 2000u);
  EXPECT_EQ(f->DictionarySize(), 600u);
}

TEST(LZFileInit, ZeroFilledStaticInstanceWorks) {
  TLZFile& f = StaticInstance;
  EXPECT_EQ(f.ReadBuf.Capacity(), 0u);
  EXPECT_EQ(f.DictionarySize(), 0u);
  f.Done();  // nothing to give back, and descriptor 0 stays open
  ASSERT_TRUE(f.Init(1000, 1000, 100));
  test::ScratchDir dir;
  test::WriteFile(dir / "a", "abcabcabcabc");
  f.PackFile(dir / "a", dir / "a.lz");
  EXPECT_EQ(f.ErrorCode(), 0);
  f.UnpackFile(dir / "a.lz", dir / "b");
  EXPECT_EQ(f.ErrorCode(), 0);
  EXPECT_EQ(test::ReadFile(dir / "b"), "abcabcabcabc");
  f.Done();
  EXPECT_EQ(f.ReadBuf.Capacity(), 0u);
  EXPECT_EQ(f.DictionarySize(), 0u);
}

TEST(LZFileInit, MemsetZeroInstanceDoesNotTouchDescriptorZero) {
  alignas(TLZFile) static unsigned char raw[sizeof(TLZFile)];
  std::memset(raw, 0, sizeof raw);
  auto* f = reinterpret_cast<TLZFile*>(raw);
  f->Done();
  f->CloseFiles();
  // Descriptor 0 is still open: a new descriptor gets a number above it.
  platform::TFile probe;
  test::ScratchDir dir;
  test::WriteFile(dir / "p", "p");
  ASSERT_TRUE(platform::OpenRead(probe, dir / "p"));
  EXPECT_NE(probe.Fd, 0);
  platform::Close(probe);
}

TEST(LZFileFlags, BitsAboveSevenAreIgnored) {
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->SetFlag(8);
  EXPECT_EQ(f->Flags, 0);
  EXPECT_FALSE(f->HasFlag(8));
  f->SetFlag(lfOverwriteSource);
  EXPECT_TRUE(f->HasFlag(lfOverwriteSource));
  EXPECT_FALSE(f->HasFlag(lfOverwritePacked));
  f->SetFlag(7);
  EXPECT_TRUE(f->HasFlag(7));
  f->ClearFlag(8);
  EXPECT_EQ(f->Flags, 0x82);
  f->ClearFlag(lfOverwriteSource);
  f->ClearFlag(7);
  EXPECT_EQ(f->Flags, 0);
}

TEST(LZFileErrors, FirstErrorSticksUntilCleared) {
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->SetError(5);
  f->SetError(7);
  EXPECT_EQ(f->ErrorCode(), 5);
  EXPECT_TRUE(f->HasError());
  EXPECT_EQ(f->ErrorMessage(), "Попытка перезаписать упакованный файл");
  f->SetError(0);
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_TRUE(f->NoError());
  f->SetError(200);
  EXPECT_EQ(f->ErrorMessage(), "Неизвестная ошибка");
}

TEST(LZFileErrors, OperationsClearTheCodeOfTheLastOne) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src", "some text");
  test::WriteFile(dir / "packed", "occupied");
  Owned f(TLZFile::Create(1000, 1000, 100));
  ASSERT_TRUE(f);
  f->PackFile(dir / "src", dir / "packed");
  EXPECT_EQ(f->ErrorCode(), 5);
  EXPECT_EQ(test::ReadFile(dir / "packed"), "occupied");
  f->PackFile(dir / "src", dir / "packed2");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(f->ErrorMessage(), "Нет ошибки");
}

// Allocation failures need an address-space limit, which an ASan build's
// shadow memory cannot live under.
class LZFileMemory : public ::testing::Test {
protected:
  void SetUp() override {
    if (test::UnderAddressSanitizer()) GTEST_SKIP() << "address-space limits do not work under ASan";
  }
};

TEST_F(LZFileMemory, DictionaryThatDoesNotFitGivesError22) {
  const int status = test::RunInChild({256u << 20, 0}, [] {
    TLZFile* mem = new (std::nothrow) TLZFile();
    if (mem == nullptr) return 10;
    const bool ok = mem->Init(100000, MaxDictionarySize, 1000);
    const int result = ok ? 11 : mem->ErrorCode();
    TLZFile::Destroy(mem);
    // Create frees its instance on failure.
    if (TLZFile::Create(100000, MaxDictionarySize, 1000) != nullptr) return 12;
    return result;
  });
  EXPECT_EQ(status, 22);
}

TEST_F(LZFileMemory, BuffersThatDoNotFitGiveError1) {
  const int status = test::RunInChild({0, 0}, [] {
    TLZFile* mem = new (std::nothrow) TLZFile();
    if (mem == nullptr) return 10;
    // Leave well under the 2 x 2000000 bytes the buffers need.
    if (!test::SetAddressSpaceLimit(test::CurrentAddressSpace() + (1u << 20))) return 11;
    const bool ok = mem->Init(2000000, 500, 100);
    if (ok) return 12;
    const int code = mem->ErrorCode();
    if (mem->ReadBuf.Capacity() != 0 || mem->WriteBuf.Capacity() != 0) return 13;
    // Not ready: the next operation tries the fallback settings, fails again
    // and the error of the failed creation stays.
    mem->PackFile("/nonexistent/a", "/nonexistent/b");
    if (mem->ErrorCode() != code) return 14;
    TLZFile::Destroy(mem);
    return code;
  });
  EXPECT_EQ(status, 1);
}

TEST(LZFileReady, OperationOnAnUncreatedInstanceCreatesIt) {
  // The fallback takes the largest dictionary; its storage is only reserved.
  if (test::UnderAddressSanitizer()) GTEST_SKIP() << "a 3.7 GB reservation is too much for ASan";
  test::ScratchDir dir;
  test::WriteFile(dir / "src", test::MakeText(5000, 3));
  auto* f = new TLZFile();
  f->PackFile(dir / "src", dir / "packed");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(f->ReadBuf.Capacity(), 64000u);
  EXPECT_EQ(f->DictionarySize(), MaxDictionarySize);
  EXPECT_EQ(f->MaxFragment(), 4u);
  f->UnpackFile(dir / "packed", dir / "back");
  EXPECT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(test::ReadFile(dir / "back"), test::ReadFile(dir / "src"));
  TLZFile::Destroy(f);
}

}  // namespace
}  // namespace vorka
