// The Win32 file layer through the compressed-file object: share modes,
// attribute bits, MS-DOS times and Windows path rules. The expected values
// come from the Win32 calls themselves or are written out by hand, never from
// the layer under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <windows.h>

#include "lzfile/LZFile.h"
#include "platform/File.h"
#include "support/LZFileOwner.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

using LZPtr = test::Owned;

LZPtr MakeLZ() { return LZPtr(TLZFile::Create(100000, 100000, 268435326)); }

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// The name stored in a packed file: NameLen at offset 75, the bytes after it.
std::string StoredName(const std::string& packed) {
  const auto n = static_cast<unsigned char>(packed.at(75));
  return packed.substr(76, n);
}

DWORD Attributes(const std::string& name) { return GetFileAttributesA(name.c_str()); }

// Sets the last-write time from a local calendar time.
void SetLocalWriteTime(const std::string& name, WORD year, WORD month, WORD day, WORD hour, WORD minute,
                       WORD second) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  st.wHour = hour;
  st.wMinute = minute;
  st.wSecond = second;
  FILETIME local{};
  FILETIME utc{};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
  CloseHandle(h);
}

SYSTEMTIME LocalWriteTime(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data));
  FILETIME local{};
  SYSTEMTIME st{};
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToSystemTime(&local, &st);
  return st;
}

TEST(Win32ShareMode, AnOpenSourceAdmitsReadersButNoWriter) {
  ScratchDir dir;
  const std::string name = dir / "source.txt";
  WriteFile(name, "held open");
  platform::TFile held;
  ASSERT_TRUE(platform::OpenRead(held, name));

  platform::TFile reader;
  EXPECT_TRUE(platform::OpenRead(reader, name)) << "read sharing is granted";
  platform::Close(reader);
  platform::TFile writer;
  EXPECT_FALSE(platform::CreateWrite(writer, name)) << "write sharing is denied";
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  platform::Close(held);
  EXPECT_TRUE(platform::CreateWrite(writer, name)) << "nothing holds the file any more";
  platform::Close(writer);
}

TEST(Win32ShareMode, PackingOntoTheSourceFailsAndLeavesItWhole) {
  ScratchDir dir;
  const std::string name = dir / "self.txt";
  const std::string text(5000, 'q');
  WriteFile(name, text);
  LZPtr lz = MakeLZ();
  ASSERT_TRUE(lz);

  lz->PackFile(name, name);
  EXPECT_EQ(lz->ErrorCode(), lzeOverwritePacked);
  lz->SetFlag(lfOverwritePacked);
  lz->PackFile(name, name);
  EXPECT_EQ(lz->ErrorCode(), lzeOpenPackedWrite);
  EXPECT_EQ(ReadFile(name), text);
}

TEST(Win32Attributes, TravelThroughThePackedFileAndAreRestored) {
  const struct {
    const char* Label;
    DWORD Attr;
  } cases[] = {
      {"archive", FILE_ATTRIBUTE_ARCHIVE},
      {"read-only", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {"hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {"read-only hidden, no archive", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    ScratchDir dir;
    const std::string source = dir / "plain.txt";
    const std::string packed = dir / "plain._tx";
    const std::string restored = dir / "plain.!tx";
    WriteFile(source, "attributes travel with the data\r\n");
    ASSERT_TRUE(SetFileAttributesA(source.c_str(), c.Attr));
    const DWORD before = Attributes(source);
    ASSERT_EQ(before & c.Attr, c.Attr) << "the file system keeps these bits";

    LZPtr lz = MakeLZ();
    ASSERT_TRUE(lz);
    lz->PackFile(source, packed);
    ASSERT_EQ(lz->ErrorCode(), lzeNone);
    EXPECT_EQ(Attributes(source), before) << "packing leaves the source as it was";
    EXPECT_EQ(Get32(ReadFile(packed), 63), before);

    lz->UnpackFile(packed, restored);
    ASSERT_EQ(lz->ErrorCode(), lzeNone);
    EXPECT_EQ(Attributes(restored), before);
    EXPECT_EQ(ReadFile(restored), "attributes travel with the data\r\n");
  }
}

TEST(Win32Attributes, AMissingFileHasNone) {
  ScratchDir dir;
  EXPECT_EQ(platform::GetAttributes(dir / "absent.txt"), 0);
  EXPECT_EQ(platform::GetDosTime(dir / "absent.txt"), 0);
  EXPECT_EQ(platform::GetDosTime(dir.Path().string()), 0) << "a folder has no time to store";
}

TEST(Win32Times, LastWriteTimeIsStoredAsLocalDosTimeAndRestored) {
  // MS-DOS date-time: year-1980 in bits 31..25, month, day, hour, minute, and
  // seconds/2 in bits 4..0. Odd seconds fall to the even second below.
  const struct {
    WORD Year, Month, Day, Hour, Minute, Second;
    std::uint32_t Dos;
  } cases[] = {
      {2021, 3, 4, 5, 6, 8, (41u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u},
      {1999, 12, 31, 23, 59, 59, (19u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u},
      {1980, 1, 1, 0, 0, 0, (1u << 16) | (1u << 21)},
      {2024, 2, 29, 12, 30, 1, (44u << 25) | (2u << 21) | (29u << 16) | (12u << 11) | (30u << 5) | 0u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Year << "-" << c.Month << "-" << c.Day << " " << c.Hour << ":"
                                    << c.Minute << ":" << c.Second);
    ScratchDir dir;
    const std::string source = dir / "dated.txt";
    const std::string packed = dir / "dated._tx";
    const std::string restored = dir / "dated.!tx";
    WriteFile(source, "a dated file");
    SetLocalWriteTime(source, c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second);

    LZPtr lz = MakeLZ();
    ASSERT_TRUE(lz);
    lz->PackFile(source, packed);
    ASSERT_EQ(lz->ErrorCode(), lzeNone);
    EXPECT_EQ(Get32(ReadFile(packed), 67), c.Dos);

    lz->UnpackFile(packed, restored);
    ASSERT_EQ(lz->ErrorCode(), lzeNone);
    const SYSTEMTIME st = LocalWriteTime(restored);
    EXPECT_EQ(st.wYear, c.Year);
    EXPECT_EQ(st.wMonth, c.Month);
    EXPECT_EQ(st.wDay, c.Day);
    EXPECT_EQ(st.wHour, c.Hour);
    EXPECT_EQ(st.wMinute, c.Minute);
    EXPECT_EQ(st.wSecond, c.Second & ~1);
  }
}

TEST(Win32Times, BeforeTheDosEpochStoresZeroAndZeroLeavesTheTime) {
  ScratchDir dir;
  const std::string source = dir / "old.txt";
  WriteFile(source, "older than MS-DOS dates");
  SetLocalWriteTime(source, 1975, 6, 1, 10, 0, 0);
  EXPECT_EQ(platform::GetDosTime(source), 0);

  EXPECT_FALSE(platform::SetDosTime(source, 0));
  EXPECT_EQ(LocalWriteTime(source).wYear, 1975);
}

TEST(Win32Paths, TheStoredNameFollowsTheLastBackslashOrColon) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  WriteFile(dir / "sub\\inner.txt", "inner");
  const std::string drive = dir.Path().string().substr(0, 2);
  ASSERT_EQ(drive[1], ':');
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());

  const struct {
    std::string Source;
    std::string Stored;
  } cases[] = {
      {dir.Path().string() + "\\sub\\inner.txt", "inner.txt"},
      {"sub\\inner.txt", "inner.txt"},
      // The drive's current folder: "X:name" holds a path part.
      {drive + "sub\\inner.txt", "inner.txt"},
      // "/" is no delimiter of a stored name, though Windows opens it.
      {"sub/inner.txt", "sub/inner.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Source);
    LZPtr lz = MakeLZ();
    ASSERT_TRUE(lz);
    lz->SetFlag(lfOverwritePacked);
    lz->PackFile(c.Source, dir / "out._tx");
    ASSERT_EQ(lz->ErrorCode(), lzeNone);
    EXPECT_EQ(StoredName(ReadFile(dir / "out._tx")), c.Stored);
  }
  std::filesystem::current_path(before);
}

// Outputs: written under a temporary name in the target's folder and moved
// over the target by CommitOutput; AbandonOutput leaves the old target; a
// target held against writing is refused and NUL is written in place.
std::size_t FilesIn(const std::filesystem::path& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(Win32Output, MovedIntoPlaceOrAbandoned) {
  for (const bool commit : {true, false}) {
    for (const bool old : {true, false}) {
      SCOPED_TRACE(testing::Message() << (commit ? "commit" : "abandon") << (old ? ", old file" : ", new file"));
      ScratchDir dir;
      if (old) WriteFile(dir / "target", "old bytes");
      platform::TFile f;
      platform::TOutput out{};
      ASSERT_TRUE(platform::CreateOutput(f, out, dir / "target"));
      EXPECT_EQ(out.Mode, platform::omReplace);
      ASSERT_EQ(platform::Write(f, "new bytes!", 10), 10u);
      EXPECT_EQ(FilesIn(dir.Path()), old ? 2u : 1u);
      if (commit) {
        EXPECT_TRUE(platform::CommitOutput(f, out, true, 0x21, 0));
        EXPECT_EQ(ReadFile(dir / "target"), "new bytes!");
        EXPECT_NE(GetFileAttributesA((dir / "target").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        SetFileAttributesA((dir / "target").c_str(), FILE_ATTRIBUTE_NORMAL);
      } else {
        platform::AbandonOutput(f, out);
        EXPECT_EQ(std::filesystem::exists(dir / "target"), old);
        if (old) {
          EXPECT_EQ(ReadFile(dir / "target"), "old bytes");
        }
      }
      EXPECT_EQ(FilesIn(dir.Path()), commit || old ? 1u : 0u) << "no temporary file stays";
    }
  }
}

// A target that another handle holds against writing (as the open source is
// held while it is packed) is refused and nothing is made beside it.
TEST(Win32Output, HeldTargetsAreRefusedDevicesWrittenInPlace) {
  ScratchDir dir;
  WriteFile(dir / "held", "old bytes");
  const HANDLE holder = CreateFileA((dir / "held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  platform::TFile f;
  platform::TOutput out{};
  EXPECT_FALSE(platform::CreateOutput(f, out, dir / "held"));
  EXPECT_FALSE(f.IsOpen());
  CloseHandle(holder);
  EXPECT_EQ(ReadFile(dir / "held"), "old bytes");
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
  ASSERT_TRUE(platform::CreateOutput(f, out, "NUL"));
  EXPECT_EQ(out.Mode, platform::omInPlace);
  EXPECT_TRUE(platform::CommitOutput(f, out, true, 0x21, 0));
}

TEST(Win32Paths, TheOutputNameIsTheFullPath) {
  ScratchDir dir;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  char expected[MAX_PATH];
  ASSERT_GT(GetFullPathNameA("..\\x\\.\\y.txt", MAX_PATH, expected, nullptr), 0u);
  EXPECT_EQ(platform::FullPath("..\\x\\.\\y.txt"), expected);
  EXPECT_EQ(platform::FullPath("y.txt"), dir.Path().string() + "\\y.txt");
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace vorka
