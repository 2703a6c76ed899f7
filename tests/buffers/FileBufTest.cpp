// File buffer: the size pair, allocation sizes, moving bytes inside the
// storage, and the status of every transfer against real files.
#include "buffers/FileBuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/File.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

TEST(FileBufStorage, ZeroRecordHasNoStorage) {
  TFileBuf buf{};
  EXPECT_EQ(buf.Capacity(), 0u);
  EXPECT_EQ(buf.Used(), 0u);
  EXPECT_EQ(buf.Room(), 0u);
  EXPECT_EQ(buf.DataPtr(), nullptr);
  EXPECT_TRUE(buf.IsEmpty());
  buf.Release();  // frees nothing; ASan would report a bad free
  EXPECT_EQ(buf.MemSize, 0u);
  EXPECT_EQ(buf.MemSizeCheck, 0x3FFFFFFFu);
  EXPECT_EQ(buf.Capacity(), 0u);
}

TEST(FileBufStorage, LeftoverBytesCountOnlyAsAMatchingPair) {
  TFileBuf buf;
  std::memset(static_cast<void*>(&buf), 0xA5, sizeof buf);  // MemSize == MemSizeCheck: no pair
  EXPECT_EQ(buf.Capacity(), 0u);
  EXPECT_EQ(buf.DataPtr(), nullptr);
  buf.Release();
  EXPECT_EQ(buf.Memory, nullptr);
}

TEST(FileBufStorage, AllocateSizes) {
  struct Case {
    std::uint32_t Request, Capacity;
  } cases[] = {{1, 1000}, {999, 1000}, {1000, 1000}, {1001, 1001}, {4099, 4099}, {100000, 100000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Request);
    TFileBuf buf{};
    buf.Status = fbWriteError;
    buf.Allocate(c.Request);
    EXPECT_EQ(buf.Capacity(), c.Capacity);
    EXPECT_EQ(buf.MemSizeCheck, ~c.Capacity);
    EXPECT_EQ(buf.Used(), 0u);
    EXPECT_EQ(buf.Status, fbOK);
    EXPECT_NE(buf.DataPtr(), nullptr);
    buf.Release();
    EXPECT_EQ(buf.Capacity(), 0u);
    EXPECT_EQ(buf.Status, fbOK);  // Release leaves the status alone
  }
}

TEST(FileBufStorage, AllocateZeroKeepsStatusAndHasNoStorage) {
  TFileBuf buf{};
  buf.Allocate(5000);
  buf.Status = fbReadError;
  buf.Allocate(0);  // releases the first storage (LeakSanitizer checks)
  EXPECT_EQ(buf.Capacity(), 0u);
  EXPECT_EQ(buf.Status, fbReadError);
}

TEST(FileBufStorage, SecondAllocateReplacesTheFirst) {
  TFileBuf buf{};
  buf.Allocate(2000);
  buf.SetUsed(10);
  buf.Allocate(3000);
  EXPECT_EQ(buf.Capacity(), 3000u);
  EXPECT_EQ(buf.Used(), 0u);
  buf.Release();
}

TEST(FileBufStorage, SetUsedClipsToCapacity) {
  TFileBuf buf{};
  buf.SetUsed(50);
  EXPECT_EQ(buf.Count, 0u);  // no storage
  buf.Allocate(1000);
  buf.SetUsed(400);
  EXPECT_EQ(buf.Used(), 400u);
  EXPECT_EQ(buf.Room(), 600u);
  buf.SetUsed(1001);
  EXPECT_EQ(buf.Used(), 1000u);
  EXPECT_EQ(buf.Room(), 0u);
  buf.Release();
}

TEST(FileBufStorage, ConsumeMovesTheTailToTheFront) {
  struct Case {
    std::uint32_t Drop;
    const char* Left;
  } cases[] = {{0, "abcdefgh"}, {1, "bcdefgh"}, {5, "fgh"}, {7, "h"}, {8, ""}, {100, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Drop);
    TFileBuf buf{};
    buf.Allocate(1000);
    std::memcpy(buf.DataPtr(), "abcdefgh", 8);
    buf.SetUsed(8);
    buf.Consume(c.Drop);
    ASSERT_EQ(buf.Used(), std::strlen(c.Left));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.DataPtr()), buf.Used()), c.Left);
    buf.Release();
  }
}

TEST(FileBufStorage, EmptyAndIsEmptyUseTheRawCount) {
  TFileBuf buf{};
  buf.Count = 7;  // no storage, but a raw count
  EXPECT_FALSE(buf.IsEmpty());
  EXPECT_EQ(buf.Used(), 0u);
  buf.Empty();
  EXPECT_TRUE(buf.IsEmpty());
}

class FileBufTransfer : public ::testing::Test {
protected:
  ScratchDir dir;
  TFileBuf buf{};
  platform::TFile file;
  void SetUp() override { buf.Allocate(1000); }
  void TearDown() override {
    if (file.IsOpen()) platform::Close(file);
    buf.Release();
  }
  void Open(const std::string& bytes) {
    WriteFile(dir / "in", bytes);
    ASSERT_TRUE(platform::OpenRead(file, dir / "in"));
  }
};

TEST_F(FileBufTransfer, FillReadsWhatIsLeftThenNothing) {
  Open(std::string(1500, 'x') + "tail");
  EXPECT_EQ(buf.Fill(file), 1000u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(buf.Fill(file), 0u);  // no room: nothing asked, nothing got
  EXPECT_TRUE(buf.IsOK());
  buf.Consume(1000);
  EXPECT_EQ(buf.Fill(file), 504u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.DataPtr()) + 500, 4), "tail");
  EXPECT_EQ(buf.Fill(file), 0u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(buf.Used(), 504u);
}

TEST_F(FileBufTransfer, FillAppendsBehindHeldBytes) {
  Open("world");
  std::memcpy(buf.DataPtr(), "hello ", 6);
  buf.SetUsed(6);
  EXPECT_EQ(buf.Fill(file), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.DataPtr()), buf.Used()), "hello world");
}

TEST_F(FileBufTransfer, ReadExactShortAndTooLarge) {
  Open(std::string(60, 'h'));
  EXPECT_EQ(buf.ReadExact(file, 1001), 0u);
  EXPECT_EQ(buf.Status, fbNoRoom);
  EXPECT_EQ(buf.Used(), 0u);
  EXPECT_EQ(buf.ReadExact(file, 61), 60u);
  EXPECT_EQ(buf.Status, fbReadError);  // also at the end of the file
  EXPECT_EQ(buf.Used(), 60u);
  EXPECT_EQ(buf.ReadExact(file, 941), 0u);
  EXPECT_EQ(buf.Status, fbNoRoom);
}

TEST_F(FileBufTransfer, ReadExactWhole) {
  Open("0123456789");
  EXPECT_EQ(buf.ReadExact(file, 4), 4u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(buf.ReadExact(file, 6), 6u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.DataPtr()), buf.Used()), "0123456789");
}

TEST_F(FileBufTransfer, WriteToSendsHeldBytesAndKeepsThem) {
  ASSERT_TRUE(platform::CreateWrite(file, dir / "out"));
  EXPECT_EQ(buf.WriteTo(file), 0u);
  EXPECT_TRUE(buf.IsOK());
  std::memcpy(buf.DataPtr(), "abc", 3);
  buf.SetUsed(3);
  EXPECT_EQ(buf.WriteTo(file), 3u);
  EXPECT_TRUE(buf.IsOK());
  EXPECT_EQ(buf.Used(), 3u);
  EXPECT_EQ(buf.WriteTo(file), 3u);
  platform::Close(file);
  EXPECT_EQ(ReadFile(dir / "out"), "abcabc");
}

TEST_F(FileBufTransfer, WriteToFullDeviceFails) {
  ASSERT_TRUE(platform::CreateWrite(file, "/dev/full"));
  buf.SetUsed(100);
  EXPECT_EQ(buf.WriteTo(file), 0u);
  EXPECT_EQ(buf.Status, fbWriteError);
  EXPECT_EQ(buf.Used(), 100u);
}

TEST_F(FileBufTransfer, PartlyAcceptedWriteReportsTheCount) {
  const std::string name = dir / "limited";
  // The child may write at most 300 bytes to any file.
  const int status = test::RunInChild({0, 300}, [&] {
    platform::TFile out;
    if (!platform::CreateWrite(out, name)) return 1;
    buf.SetUsed(1000);
    const std::uint32_t written = buf.WriteTo(out);
    platform::Close(out);
    if (written != 300) return 2;
    return buf.Status == fbWriteError ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(name).size(), 300u);
}

TEST_F(FileBufTransfer, NoStorageTransfersNothing) {
  Open("data");
  buf.Release();
  EXPECT_EQ(buf.Fill(file), 0u);
  EXPECT_EQ(buf.Used(), 0u);
  EXPECT_EQ(buf.ReadExact(file, 1), 0u);
  EXPECT_EQ(buf.Status, fbNoRoom);
}

}  // namespace
}  // namespace vorka
