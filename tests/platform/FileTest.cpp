// The POSIX file layer: what counts as a readable file, transfers, identity,
// attribute bits, MS-DOS times and full paths.
#include "platform/File.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ScratchDir.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

mode_t ModeOf(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(stat(name.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(PlatformFileOpen, OnlyRegularFilesOpenForReading) {
  ScratchDir dir;
  WriteFile(dir / "plain", "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  struct Case {
    std::string Name;
    bool Opens;
  } cases[] = {{dir / "plain", true},  {dir / "missing", false}, {dir / "folder", false},
               {dir / "fifo", false},  {"/dev/null", false},     {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    platform::TFile f;
    EXPECT_EQ(platform::OpenRead(f, c.Name), c.Opens);
    EXPECT_EQ(f.IsOpen(), c.Opens);
    if (f.IsOpen()) {
      EXPECT_TRUE(platform::Close(f));
    }
    EXPECT_FALSE(f.IsOpen());
  }
}

TEST(PlatformFileOpen, CreateWriteTruncatesAndAcceptsDevices) {
  ScratchDir dir;
  WriteFile(dir / "old", "previous contents");
  platform::TFile f;
  ASSERT_TRUE(platform::CreateWrite(f, dir / "old"));
  EXPECT_EQ(platform::Length(f), 0);
  platform::Close(f);
  EXPECT_EQ(ReadFile(dir / "old"), "");

  fs::create_directory(dir / "folder");
  EXPECT_FALSE(platform::CreateWrite(f, dir / "folder"));
  EXPECT_FALSE(platform::CreateWrite(f, dir / "no/such/folder/file"));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(platform::CreateWrite(f, dir / "fifo"));  // no reader: fails, never blocks

  ASSERT_TRUE(platform::CreateWrite(f, "/dev/full"));
  EXPECT_EQ(platform::Write(f, "abc", 3), 0u);
  EXPECT_FALSE(platform::IsRegularFile(f));
  platform::Close(f);
}

// Outputs: a regular or new target is written under a temporary name beside
// it and renamed into place by CommitOutput; AbandonOutput leaves the old
// target; devices are written in place.

// Temporary files in the folder; each must carry the 64-bit random part.
std::size_t Temporaries(const fs::path& folder) {
  static const std::regex form(R"(\.vorka-[0-9a-f]{16}\.tmp)");
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".vorka-", 0) != 0) continue;
    EXPECT_TRUE(std::regex_match(name, form)) << name;
    ++n;
  }
  return n;
}

ino_t InodeOf(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(PlatformOutput, CommitReplacesAbandonKeeps) {
  struct Case {
    const char* What;
    const char* Name;       // as given, in the scratch folder
    const char* Written;    // the file the bytes end up in
    bool Old;               // Written exists before
    bool Commit;
  } cases[] = {
      {"new file, committed", "new", "new", false, true},
      {"new file, abandoned", "new", "new", false, false},
      {"existing file, committed", "old", "old", true, true},
      {"existing file, abandoned", "old", "old", true, false},
      {"link as the last part, committed", "link", "sub/target", true, true},
      {"link as the last part, abandoned", "link", "sub/target", true, false},
      {"link before ..", "dirlink/../old", "old", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ScratchDir dir;
    fs::create_directories(dir / "sub/deeper");
    fs::create_symlink("sub/target", dir / "link");
    fs::create_symlink("sub/deeper", dir / "dirlink");  // dirlink/.. is sub
    WriteFile(dir / "old", "old bytes");
    WriteFile(dir / "sub/old", "must stay");
    WriteFile(dir / "sub/target", "old bytes");
    const std::string name = std::string(c.Name) == "dirlink/../old" ? dir / "dirlink/../old" : dir / c.Name;
    const std::string written = std::string(c.Name) == "dirlink/../old" ? dir / "sub/old" : dir / c.Written;
    if (std::string(c.Name) == "dirlink/../old") WriteFile(written, "old bytes");
    const ino_t before = InodeOf(written);

    platform::TFile f;
    platform::TOutput out{};
    ASSERT_TRUE(platform::CreateOutput(f, out, name));
    EXPECT_EQ(out.Mode, platform::omReplace);
    EXPECT_EQ(Temporaries(fs::path(written).parent_path()), 1u);
    ASSERT_EQ(platform::Write(f, "new bytes!", 10), 10u);
    // Until the end the target is untouched.
    if (c.Old) {
      EXPECT_EQ(ReadFile(written), "old bytes");
    }
    if (c.Commit) {
      EXPECT_TRUE(platform::CommitOutput(f, out, false, 0, 0));
      EXPECT_EQ(ReadFile(written), "new bytes!");
      if (c.Old) {
        EXPECT_NE(InodeOf(written), before);
      }
    } else {
      platform::AbandonOutput(f, out);
      EXPECT_EQ(fs::exists(written), c.Old);
      if (c.Old) {
        EXPECT_EQ(ReadFile(written), "old bytes");
      }
    }
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(out.Mode, platform::omNone);
    EXPECT_EQ(Temporaries(fs::path(written).parent_path()), 0u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    if (std::string(c.Name) == "dirlink/../old") {
      EXPECT_EQ(ReadFile(dir / "old"), "old bytes");
    }
  }
}

TEST(PlatformOutput, RefusedTargetsAndDevices) {
  ScratchDir dir;
  fs::create_directory(dir / "folder");
  WriteFile(dir / "plain", "x");
  struct Case {
    std::string Name;
    bool Opens;
    std::uint8_t Mode;
  } cases[] = {
      {dir / "folder", false, platform::omNone},
      {dir / "folder/", false, platform::omNone},
      {dir / "no/such/folder/file", false, platform::omNone},
      {dir / "plain/below", false, platform::omNone},
      {"", false, platform::omNone},
      {"/dev/null", true, platform::omInPlace},
      {dir / "new", true, platform::omReplace},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    platform::TFile f;
    platform::TOutput out{};
    EXPECT_EQ(platform::CreateOutput(f, out, c.Name), c.Opens);
    EXPECT_EQ(out.Mode, c.Mode);
    EXPECT_EQ(f.IsOpen(), c.Opens);
    if (c.Opens) {
      EXPECT_TRUE(platform::CommitOutput(f, out, true, 0x21, 0));
    }
    EXPECT_EQ(Temporaries(dir.Path()), 0u);
  }
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_NE(st.st_mode & 0222, 0u) << "a device never gets attributes";
}

TEST(PlatformOutput, CommitAppliesModeTimeAndAttributes) {
  ScratchDir dir;
  const std::int32_t dos = (44 << 25) | (6 << 21) | (15 << 16) | (12 << 11) | (30 << 5) | 10;  // 2024-06-15 12:30:20
  struct Case {
    const char* What;
    mode_t OldMode;  // 0: no old file
    bool Restore;
    std::int32_t Attr;
    mode_t Expected;
  } cases[] = {
      {"old mode kept", 0640, false, 0, 0640},
      {"old mode kept, then read-only applied", 0664, true, 0x21, 0444},
      {"owner write given back", 0440, true, 0x20, 0640},
      {"new file, umask applies", 0, false, 0, 0666},
  };
  const mode_t mask = umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string name = dir / "target";
    fs::remove(name);
    if (c.OldMode != 0) {
      WriteFile(name, "old");
      ASSERT_EQ(chmod(name.c_str(), c.OldMode | 0200), 0);  // writable while CreateOutput looks
    }
    platform::TFile f;
    platform::TOutput out{};
    ASSERT_TRUE(platform::CreateOutput(f, out, name));
    if (c.OldMode != 0) {
      ASSERT_EQ(chmod(name.c_str(), c.OldMode), 0);
    }
    if (c.OldMode != 0) {
      out.OldMode = c.OldMode;
    }
    ASSERT_TRUE(platform::CommitOutput(f, out, c.Restore, c.Attr, dos));
    const mode_t expected = c.OldMode == 0 ? (c.Expected & ~022) : c.Expected;
    EXPECT_EQ(ModeOf(name), expected);
    if (c.Restore) {
      EXPECT_EQ(platform::GetDosTime(name), dos);
    }
  }
  umask(mask);
}

// A signal that ends the program while outputs are open takes their temporary
// files, and a target created empty for the run, with it, whichever thread
// opened them; the program still ends by that signal.
TEST(PlatformOutput, SignalRemovesTheTemporaryFiles) {
  const int signals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2,
                         SIGALRM, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF};
  for (const int sig : signals) {
    SCOPED_TRACE(sig);
    ScratchDir dir;
    WriteFile(dir / "target", "old bytes");
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (const int s : signals) signal(s, SIG_DFL);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      platform::TFile f, g;
      static platform::TOutput out, other;
      if (!platform::CreateOutput(f, out, dir / "target")) _exit(1);
      if (platform::Write(f, "partial", 7) != 7) _exit(2);
      bool opened = false;
      std::thread([&] { opened = platform::CreateOutput(g, other, dir / "fresh"); }).join();
      if (!opened || platform::Write(g, "partial", 7) != 7) _exit(3);
      raise(sig);
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(ReadFile(dir / "target"), "old bytes");
    EXPECT_FALSE(fs::exists(dir / "fresh"));
    EXPECT_EQ(Temporaries(dir.Path()), 0u);
  }
}

TEST(PlatformFileTransfer, ReadWritePositionLengthEnd) {
  ScratchDir dir;
  platform::TFile f;
  ASSERT_TRUE(platform::CreateWrite(f, dir / "data"));
  EXPECT_TRUE(platform::IsRegularFile(f));
  EXPECT_EQ(platform::Position(f), 0);
  EXPECT_EQ(platform::Write(f, "0123456789", 10), 10u);
  EXPECT_EQ(platform::Position(f), 10);
  EXPECT_EQ(platform::Length(f), 10);
  EXPECT_TRUE(platform::Close(f));
  EXPECT_FALSE(platform::Close(f));  // already closed

  ASSERT_TRUE(platform::OpenRead(f, dir / "data"));
  char got[16] = {};
  EXPECT_FALSE(platform::AtEnd(f));
  EXPECT_EQ(platform::Read(f, got, 4), 4u);
  EXPECT_EQ(std::string(got, 4), "0123");
  EXPECT_EQ(platform::Position(f), 4);
  EXPECT_EQ(platform::Read(f, got, 16), 6u);
  EXPECT_EQ(std::string(got, 6), "456789");
  EXPECT_TRUE(platform::AtEnd(f));
  EXPECT_EQ(platform::Read(f, got, 16), 0u);
  platform::Close(f);

  platform::TFile closed;
  EXPECT_EQ(platform::Position(closed), -1);
  EXPECT_EQ(platform::Length(closed), -1);
  EXPECT_TRUE(platform::AtEnd(closed));
  EXPECT_EQ(platform::Read(closed, got, 1), 0u);
  EXPECT_EQ(platform::Write(closed, got, 1), 0u);
}

TEST(PlatformFileIdentity, SameFileAndExistence) {
  ScratchDir dir;
  WriteFile(dir / "a", "a");
  WriteFile(dir / "b", "b");
  ASSERT_EQ(link((dir / "a").c_str(), (dir / "hard").c_str()), 0);
  fs::create_symlink(dir / "a", dir / "soft");
  fs::create_directory(dir / "folder");
  platform::TFile f;
  ASSERT_TRUE(platform::OpenRead(f, dir / "a"));
  EXPECT_TRUE(platform::IsSameFile(f, dir / "a"));
  EXPECT_TRUE(platform::IsSameFile(f, dir / "hard"));
  EXPECT_TRUE(platform::IsSameFile(f, dir / "soft"));
  EXPECT_TRUE(platform::IsSameFile(f, dir / "folder/../a"));
  EXPECT_FALSE(platform::IsSameFile(f, dir / "b"));
  EXPECT_FALSE(platform::IsSameFile(f, dir / "missing"));
  platform::Close(f);
  EXPECT_FALSE(platform::IsSameFile(f, dir / "a"));

  EXPECT_TRUE(platform::ExistsNotDirectory(dir / "a"));
  EXPECT_TRUE(platform::ExistsNotDirectory("/dev/full"));
  EXPECT_FALSE(platform::ExistsNotDirectory(dir / "folder"));
  EXPECT_FALSE(platform::ExistsNotDirectory(dir / "missing"));
}

TEST(PlatformFileAttributes, ReadOnlyBitFollowsOwnerWritePermission) {
  ScratchDir dir;
  const std::string name = dir / "f";
  WriteFile(name, "x");
  ASSERT_EQ(chmod(name.c_str(), 0664), 0);
  EXPECT_EQ(platform::GetAttributes(name), 0x20);
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  EXPECT_EQ(platform::GetAttributes(name), 0x21);
  EXPECT_EQ(platform::GetAttributes(dir / "missing"), 0);

  ASSERT_EQ(chmod(name.c_str(), 0666), 0);
  EXPECT_TRUE(platform::SetAttributes(name, 0x21));
  EXPECT_EQ(ModeOf(name), 0444u);  // every write bit goes
  EXPECT_TRUE(platform::SetAttributes(name, 0x20));
  EXPECT_EQ(ModeOf(name), 0644u);  // only the owner's comes back
  EXPECT_TRUE(platform::SetAttributes(name, 0x00));
  EXPECT_EQ(ModeOf(name), 0644u);
  EXPECT_FALSE(platform::SetAttributes(dir / "missing", 0x20));
}

time_t MTime(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(stat(name.c_str(), &st), 0);
  return st.st_mtime;
}

TEST(PlatformFileTime, DosTimeRoundTripInLocalTime) {
  ScratchDir dir;
  const std::string name = dir / "f";
  WriteFile(name, "x");
  // 1 January 2000, 12:00:00 is 0x28216000; 31 December 2107 23:59:58 the last value.
  struct Case {
    std::int32_t Dos;
    int Year, Month, Day, Hour, Minute, Second;
  } cases[] = {{0x28216000, 2000, 1, 1, 12, 0, 0},
               {0x00210000, 1980, 1, 1, 0, 0, 0},
               {0x5A6E3C2A, 2025, 3, 14, 7, 33, 20},
               {static_cast<std::int32_t>(0xFF9FBF7Du), 2107, 12, 31, 23, 59, 58}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Dos);
    ASSERT_TRUE(platform::SetDosTime(name, c.Dos));
    const time_t t = MTime(name);
    struct tm lt {};
    ASSERT_NE(localtime_r(&t, &lt), nullptr);
    EXPECT_EQ(lt.tm_year + 1900, c.Year);
    EXPECT_EQ(lt.tm_mon + 1, c.Month);
    EXPECT_EQ(lt.tm_mday, c.Day);
    EXPECT_EQ(lt.tm_hour, c.Hour);
    EXPECT_EQ(lt.tm_min, c.Minute);
    EXPECT_EQ(lt.tm_sec, c.Second);
    EXPECT_EQ(platform::GetDosTime(name), c.Dos);
  }
}

TEST(PlatformFileTime, InvalidDatesLeaveTheTime) {
  ScratchDir dir;
  const std::string name = dir / "f";
  WriteFile(name, "x");
  ASSERT_TRUE(platform::SetDosTime(name, 0x28216000));
  const time_t before = MTime(name);
  const std::int32_t bad[] = {
      0,           // month 0, day 0
      0x28016000,  // month 0
      0x29A16000,  // month 13
      0x285E6000,  // 30 February 2000
      0x265D0000,  // 29 February 1999
      0x2821C000,  // hour 24
      0x28216780,  // minute 60
      0x2821601E,  // second 60
  };
  for (std::int32_t v : bad) {
    SCOPED_TRACE(v);
    EXPECT_FALSE(platform::SetDosTime(name, v));
    EXPECT_EQ(MTime(name), before);
  }
  EXPECT_FALSE(platform::SetDosTime(dir / "missing", 0x28216000));
}

TEST(PlatformFileTime, OutsideTheDosRangeOrUnreadableGivesZero) {
  ScratchDir dir;
  const std::string name = dir / "f";
  WriteFile(name, "x");
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = 0;  // 1970
  ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
  EXPECT_EQ(platform::GetDosTime(name), 0);
  EXPECT_EQ(platform::GetDosTime(dir / "missing"), 0);
  fs::create_directory(dir / "folder");
  EXPECT_EQ(platform::GetDosTime(dir / "folder"), 0);
}

// "." and ".." stay for the kernel: with a symbolic link before "..", a
// lexical clean-up would name another file than the one open() reaches.
TEST(PlatformFilePath, FullPathIsAbsoluteAndLeavesDotsToTheKernel) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = cwd;
  struct Case {
    std::string Name, Full;
  } cases[] = {{"/a/b/../c", "/a/b/../c"},
               {"/a/./b//c", "/a/./b//c"},
               {"/x/y/z", "/x/y/z"},
               {"file.txt", here + "/file.txt"},
               {"./sub/../file.txt", here + "/./sub/../file.txt"},
               {"name:with:colons", here + "/name:with:colons"},
               {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(platform::FullPath(c.Name), c.Full);
  }
}

}  // namespace
}  // namespace vorka
