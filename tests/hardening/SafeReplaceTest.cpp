// The real program trusted with files it must not lose: a damaged Size field,
// names through symbolic links and "..", sources that change while they are
// packed, racing runs, long names, a full disk, no descriptor left, signals,
// links and files planted in sticky folders, and outputs that are no named
// regular file. Every case checks what a user would: no file other than the
// named output changed, and the named output is either the old file or the
// whole new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "support/RunProgram.h"
#include "support/TestData.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

using test::kNobody;

// The sanitizer build of the program runs many times slower; its inputs are
// smaller, still large enough for racing runs to overlap and for a run to be
// caught in the middle.
constexpr std::size_t Scaled(std::size_t bytes) { return test::UnderAddressSanitizer() ? bytes / 8 : bytes; }

// ---------------------------------------------------------------------------
// The program as a child process that a test can stop, signal and race.

struct Launch {
  std::vector<std::string> Args;
  std::uint64_t FileSizeLimit = 0;  // RLIMIT_FSIZE, 0 = none (SIGXFSZ ignored)
  bool Unprivileged = false;        // run as kNobody when root
  std::string WorkDir = {};         // current folder of the program; empty = this one
  bool FileSizeSignal = false;      // SIGXFSZ at its default action, as "ulimit -f" leaves it
  std::uint64_t OpenFiles = 0;      // RLIMIT_NOFILE, 0 = as it is
  int PassFd = -1;                  // becomes the program's descriptor 3
};

using Child = test::BackgroundProgram;

void Start(Child& child, const Launch& launch) {
  std::vector<std::string> args = launch.Args;
  args.push_back("/go");
  test::ChildLimits limits;
  limits.FileSize = launch.FileSizeLimit;
  limits.FileSizeSignal = launch.FileSizeSignal;
  limits.OpenFiles = launch.OpenFiles;
  limits.Unprivileged = launch.Unprivileged;
  limits.TimeLimit = 300;  // a hang shows as SIGALRM instead of stopping the run
  test::StartProgram(child, VORKA_EXE, args, launch.WorkDir, limits, launch.PassFd);
}

struct Ran {
  int Status;
  std::string Output;
};

Ran RunToEnd(const Launch& launch) {
  Child child;
  Start(child, launch);
  if (child.Pid < 0) return {-1, ""};
  const int status = child.Wait();
  return {status, child.Output()};
}

bool IsTemporary(const fs::path& p) { return p.filename().string().rfind(".vorka-", 0) == 0; }

// Waits until a temporary output file shows in folder, while the child runs;
// false when the child ended first or nothing showed within a minute.
bool WaitForTemporary(const Child& child, const fs::path& folder) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < until) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
      if (IsTemporary(e.path())) return true;
    int status = 0;
    if (waitpid(child.Pid, &status, WNOHANG) != 0) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// ---------------------------------------------------------------------------
// What a folder holds: every file's bytes, every link's target, every folder.

using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& root) {
  Snapshot s;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    // Lexically: fs::relative would resolve the links under test.
    const std::string key = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      s[key] = "link to " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      s[key] = "folder";
    } else if (it->is_regular_file()) {
      s[key] = ReadFile(it->path().string());
    } else {
      s[key] = "special";
    }
  }
  return s;
}

// No file but `output` changed, appeared or vanished, and `output` (relative
// to root) holds one of the allowed contents.
void ExpectOnlyOutputChanged(const Snapshot& before, const fs::path& root, const std::string& output,
                             const std::vector<std::string>& allowed) {
  Snapshot after = Take(root);
  Snapshot was = before;
  const auto found = after.find(output);
  if (found == after.end()) {
    ADD_FAILURE() << "no " << output;
  } else {
    bool matches = false;
    for (const std::string& a : allowed) matches = matches || found->second == a;
    EXPECT_TRUE(matches) << output << " is neither the old file nor the whole new one (" << found->second.size()
                         << " bytes)";
    after.erase(found);
  }
  was.erase(output);
  for (const auto& [name, bytes] : after) {
    const auto old = was.find(name);
    if (old == was.end()) {
      ADD_FAILURE() << "new entry " << name;
    } else if (old->second != bytes) {
      ADD_FAILURE() << "changed: " << name;
    }
  }
  for (const auto& [name, bytes] : was)
    if (after.count(name) == 0) ADD_FAILURE() << "gone: " << name;
}

std::string ErrorLine(unsigned code) { return "\a  ОШИБКА: " + std::to_string(code) + " "; }
bool Succeeded(const Ran& r) { return r.Status == 0 && r.Output.find("ОШИБКА") == std::string::npos; }

// Packs the file `source` of the folder into `packed` with the program's
// default settings, which the cases unpack with; the packed bytes.
std::string PackedBy(const ScratchDir& dir, const std::string& source, const std::string& packed) {
  const Ran r = RunToEnd({{"c", "/0:" + (dir / source), "/1:" + (dir / packed)}});
  EXPECT_TRUE(Succeeded(r)) << r.Output;
  return ReadFile(dir / packed);
}

// Writes bytes as a file of the folder, packs it into `packed` and removes it.
std::string PackedFrom(const ScratchDir& dir, const std::string& bytes, const std::string& packed) {
  WriteFile(dir / "packing.src", bytes);
  const std::string result = PackedBy(dir, "packing.src", packed);
  fs::remove(dir / "packing.src");
  return result;
}

// ---------------------------------------------------------------------------
// 1. A Size field a few bytes smaller than the data.

TEST(SafeReplace, SizeFieldCutShortIsNoSuccess) {
  std::string source = test::CorpusFile("canterbury/fields.c");
  if (source.empty()) source = test::MakeText(11150, 3);
  const std::string run(400000, 'r');
  struct Case {
    const char* What;
    const std::string* Source;
    std::uint32_t Cut;
  } cases[] = {{"fields.c, 1 byte", &source, 1}, {"fields.c, 2 bytes", &source, 2},
               {"fields.c, 3 bytes", &source, 3}, {"fields.c, 4 bytes", &source, 4},
               {"fields.c, 5 bytes", &source, 5}, {"fields.c, 6 bytes", &source, 6},
               {"fields.c, 7 bytes", &source, 7}, {"a long run, 678 bytes", &run, 678}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ScratchDir dir;
    std::string packed = PackedFrom(dir, *c.Source, "p.lz");
    const std::uint32_t size = static_cast<std::uint32_t>(c.Source->size()) - c.Cut;
    for (std::size_t i = 0; i < 4; ++i) packed[71 + i] = static_cast<char>(size >> (8 * i));
    WriteFile(dir / "p.lz", packed);
    WriteFile(dir / "out", "the old output");
    const Snapshot before = Take(dir.Path());
    const Ran r = RunToEnd({{"d", "/0:" + (dir / "p.lz"), "/2:" + (dir / "out")}});
    EXPECT_EQ(r.Status, 0);
    const bool damaged = r.Output.find(ErrorLine(11)) != std::string::npos ||
                         r.Output.find(ErrorLine(24)) != std::string::npos;
    EXPECT_TRUE(damaged) << r.Output;
    // What could be restored is put in place, as for any damaged stream.
    ExpectOnlyOutputChanged(before, dir.Path(), "out", {c.Source->substr(0, size)});
  }
}

// ---------------------------------------------------------------------------
// 2. Names with a symbolic link before "..", and a link as the last part.

TEST(SafeReplace, NamesAreResolvedByTheKernel) {
  struct Case {
    const char* What;
    std::string Name;    // /2: value, relative to the scratch folder
    std::string Output;  // the file the kernel reaches by that name
  } cases[] = {
      {"a link to a folder, then ..", "a/link/../victim", "b/victim"},
      {"a link to a folder, then .. twice", "a/link/../../b/victim", "b/victim"},
      {"dot parts", "a/./victim", "a/victim"},
      {"a link as the last part: its target is replaced", "a/outlink", "b/inner/linked"},
      {"a relative link chain", "a/chain", "b/inner/linked"},
  };
  const std::string source = test::MakeText(40000, 12);
  for (const char* command : {"d", "cd"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(command) + ": " + c.What);
      ScratchDir dir;
      fs::create_directories(dir / "a");
      fs::create_directories(dir / "b/inner");
      fs::create_symlink("../b/inner", dir / "a/link");
      fs::create_symlink("../b/inner/linked", dir / "a/outlink");
      fs::create_symlink("outlink", dir / "a/chain");
      WriteFile(dir / "a/victim", "must stay");
      WriteFile(dir / "b/victim", "old b");
      WriteFile(dir / "b/inner/linked", "old linked");
      WriteFile(dir / "src", source);
      std::vector<std::string> args = {command, "/0:" + (dir / "src"), "/1:" + (dir / "p.lz"), "/2:" + c.Name};
      if (std::string(command) == "d") {
        PackedBy(dir, "src", "p.lz");
        args[1] = "/0:" + (dir / "p.lz");
        args.erase(args.begin() + 2);
      }
      const Snapshot before = Take(dir.Path());
      // Run from the scratch folder, so the name stays relative.
      const Ran r = RunToEnd({args, 0, false, dir.Path().string()});
      EXPECT_TRUE(Succeeded(r)) << r.Output;
      if (std::string(command) == "cd") {
        EXPECT_NE(r.Output.find("  Правильно."), std::string::npos) << r.Output;
        Snapshot expected = before;
        expected["p.lz"] = ReadFile(dir / "p.lz");
        ExpectOnlyOutputChanged(expected, dir.Path(), c.Output, {source});
      } else {
        ExpectOnlyOutputChanged(before, dir.Path(), c.Output, {source});
      }
    }
  }
}

// ---------------------------------------------------------------------------
// 3. A source that is not what its size said.

// Appends to a file every millisecond from its own thread until stopped.
class BackgroundWriter {
public:
  explicit BackgroundWriter(std::string name)
      : Name(std::move(name)), Thread([this] {
          while (!Stop) {
            const int fd = open(Name.c_str(), O_WRONLY | O_APPEND);
            if (fd >= 0) {
              if (write(fd, "more words\n", 11) == 11) ++Writes;
              close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~BackgroundWriter() {
    Stop = true;
    Thread.join();
  }
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  void WaitForFirstWrite() const {
    while (Writes == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

private:
  std::string Name;
  std::atomic<bool> Stop{false};
  std::atomic<int> Writes{0};
  std::thread Thread;
};

TEST(SafeReplace, SourceThatChangesWhilePackedIsRefused) {
  struct Case {
    const char* What;
    off_t CutTo;      // -1: not cut
    bool Background;  // a writer appends while the program runs
  } cases[] = {
      {"cut to half", static_cast<off_t>(Scaled(1500000)), false},
      {"cut to nothing", 0, false},
      {"a background writer appends", -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ScratchDir dir;
    const std::string old = PackedFrom(dir, test::MakeText(5000, 2), "p.lz");
    WriteFile(dir / "src", test::MakeText(Scaled(3000000), 4));
    Child child;
    Start(child, {{"c", "/0:" + (dir / "src"), "/1:" + (dir / "p.lz"), "/b:1000"}});
    // The packed file's temporary file shows once the source is open and its
    // size taken; the change happens while the program stands still.
    ASSERT_TRUE(WaitForTemporary(child, dir.Path()));
    ASSERT_EQ(kill(child.Pid, SIGSTOP), 0);
    std::unique_ptr<BackgroundWriter> writer;
    if (c.CutTo >= 0) {
      ASSERT_EQ(truncate((dir / "src").c_str(), c.CutTo), 0);
    }
    if (c.Background) {
      writer = std::make_unique<BackgroundWriter>(dir / "src");
      writer->WaitForFirstWrite();
    }
    const Snapshot before = Take(dir.Path());
    ASSERT_EQ(kill(child.Pid, SIGCONT), 0);
    const int status = child.Wait();
    writer.reset();
    EXPECT_EQ(status, 0);
    EXPECT_NE(child.Output().find(ErrorLine(17)), std::string::npos) << child.Output();
    Snapshot expected = before;
    expected["src"] = ReadFile(dir / "src");  // the writer went on
    for (auto it = expected.begin(); it != expected.end();)
      it = IsTemporary(it->first) ? expected.erase(it) : std::next(it);
    ExpectOnlyOutputChanged(expected, dir.Path(), "p.lz", {old});
  }
}

TEST(SafeReplace, SourceWithoutAKnownSizeIsRefused) {
  ScratchDir dir;
  const std::string old = PackedFrom(dir, test::MakeText(5000, 2), "p.lz");
  const Snapshot before = Take(dir.Path());
  const Ran r = RunToEnd({{"c", "/0:/proc/cpuinfo", "/1:" + (dir / "p.lz")}});
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Output.find(ErrorLine(17)), std::string::npos) << r.Output;
  ExpectOnlyOutputChanged(before, dir.Path(), "p.lz", {old});
}

// ---------------------------------------------------------------------------
// 4. Two runs writing the same output at once.

TEST(SafeReplace, RacingRunsLeaveOneWholeResult) {
  ScratchDir dir;
  const std::string one = test::MakeText(Scaled(1000000), 31);
  const std::string two = test::MakeRandom(Scaled(800000), 32);
  WriteFile(dir / "one", one);
  WriteFile(dir / "two", two);
  const std::string packedOne = PackedBy(dir, "one", "one.lz");
  const std::string packedTwo = PackedBy(dir, "two", "two.lz");
  struct Case {
    const char* What;
    std::string Output;
    std::vector<std::string> First, Second;
    std::vector<std::string> Allowed;
  } cases[] = {
      {"two unpacks", "out",
       {"d", "/0:" + (dir / "one.lz"), "/2:" + (dir / "out"), "/b:1000"},
       {"d", "/0:" + (dir / "two.lz"), "/2:" + (dir / "out"), "/b:1000"},
       {one, two}},
      {"two packs", "p.lz",
       {"c", "/0:" + (dir / "one"), "/1:" + (dir / "p.lz"), "/b:1000"},
       {"c", "/0:" + (dir / "two"), "/1:" + (dir / "p.lz"), "/b:1000"},
       {packedOne, packedTwo}},
  };
  for (const Case& c : cases) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(testing::Message() << c.What << ", round " << round);
      WriteFile(dir / c.Output, "old");
      const Snapshot before = Take(dir.Path());
      Child first, second;
      Start(first, {c.First});
      Start(second, {c.Second});
      EXPECT_EQ(first.Wait(), 0);
      EXPECT_EQ(second.Wait(), 0);
      EXPECT_TRUE(Succeeded({0, first.Output()})) << first.Output();
      EXPECT_TRUE(Succeeded({0, second.Output()})) << second.Output();
      ExpectOnlyOutputChanged(before, dir.Path(), c.Output, c.Allowed);
    }
  }
}

// ---------------------------------------------------------------------------
// 5. Names longer than 255 bytes: used whole up to 4095, refused beyond.

TEST(SafeReplace, LongNamesAreNeverCut) {
  ScratchDir dir;
  const std::string source = test::MakeText(30000, 5);
  WriteFile(dir / "src", source);
  const std::string packed = PackedBy(dir, "src", "p.lz");
  // A 300-byte name in two folders; its first 255 bytes name another,
  // existing file.
  const std::string base = dir.Path().string() + "/" + std::string(100, 'd') + "/" + std::string(100, 'e') + "/";
  fs::create_directories(base);
  const std::string name300 = base + std::string(300 - base.size(), 'n');
  const std::string name255 = name300.substr(0, 255);
  ASSERT_GT(name255.size(), base.size());
  WriteFile(name255, "a bystander");
  const std::string rel300 = fs::path(name300).lexically_relative(dir.Path()).string();
  struct Case {
    const char* What;
    std::vector<std::string> Args;
    std::string Output;
    std::string Expected;
  } cases[] = {
      {"c with a 300-byte /1:", {"c", "/0:" + (dir / "src"), "/1:" + name300}, rel300, packed},
      {"d with a 300-byte /2:", {"d", "/0:" + (dir / "p.lz"), "/2:" + name300}, rel300, source},
      {"cd with a 300-byte /2:", {"cd", "/0:" + (dir / "src"), "/1:" + (dir / "p.lz"), "/2:" + name300}, rel300,
       source},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    fs::remove(name300);
    const Snapshot before = Take(dir.Path());
    const Ran r = RunToEnd({c.Args});
    EXPECT_TRUE(Succeeded(r)) << r.Output;
    ExpectOnlyOutputChanged(before, dir.Path(), c.Output, {c.Expected});
  }
  // 4200 bytes: the command line is invalid, nothing runs.
  const std::string name4200 = base + std::string(4200 - base.size(), 'x');
  for (const char* option : {"/0:", "/1:", "/2:"}) {
    SCOPED_TRACE(option);
    const Snapshot before = Take(dir.Path());
    std::vector<std::string> args = {"cd", "/0:" + (dir / "src"), "/1:" + (dir / "p.lz"), "/2:" + (dir / "out")};
    args[static_cast<std::size_t>(option[1] - '0') + 1] = option + name4200;
    const Ran refused = RunToEnd({args});
    EXPECT_EQ(refused.Status, 0);
    EXPECT_NE(refused.Output.find("Использование программы:"), std::string::npos) << refused.Output;
    EXPECT_EQ(refused.Output.find("Упаковка"), std::string::npos) << refused.Output;
    EXPECT_EQ(Take(dir.Path()), before);
  }
}

// ---------------------------------------------------------------------------
// 6. A full disk, and a file-size limit, under an existing output.

// A small tmpfs mounted on a folder for the lifetime of the object.
class SmallDisk {
public:
  explicit SmallDisk(const std::string& at) : At(at) {
    fs::create_directory(at);
    Mounted = geteuid() == 0 && mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallDisk() {
    if (Mounted) umount2(At.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted;

private:
  std::string At;
};

TEST(SafeReplace, FailedWritesLeaveTheOldOutput) {
  ScratchDir dir;
  const std::string big = test::MakeRandom(1200000, 8);
  WriteFile(dir / "big", big);
  PackedBy(dir, "big", "big.lz");
  SmallDisk disk(dir / "disk");
  struct Case {
    const char* What;
    bool NeedsDisk;
    std::uint64_t FileSizeLimit;
    std::vector<std::string> Args;
    std::string Output;
    unsigned Code;
    bool FileSizeSignal = false;
    std::uint64_t OpenFiles = 0;
    bool OldIsPacked = false;  // the old output is a packed file of other bytes
    std::vector<std::string> AlsoSays = {};
  } cases[] = {
      {"pack onto a full disk", true, 0, {"c", "/0:" + (dir / "big"), "/1:" + (dir / "disk/old")}, "disk/old", 10},
      {"unpack onto a full disk", true, 0, {"d", "/0:" + (dir / "big.lz"), "/2:" + (dir / "disk/old")}, "disk/old",
       19},
      {"pack beyond the file-size limit", false, 200000, {"c", "/0:" + (dir / "big"), "/1:" + (dir / "old")}, "old",
       10},
      {"unpack beyond the file-size limit", false, 200000, {"d", "/0:" + (dir / "big.lz"), "/2:" + (dir / "old")},
       "old", 19},
      {"unpack beyond the file-size limit, SIGXFSZ at its default", false, 200000,
       {"d", "/0:" + (dir / "big.lz"), "/2:" + (dir / "old")}, "old", 19, true},
      // Descriptors 0 to 4 hold the console, the packed file and the target:
      // none is left for the target's folder or the temporary file.
      {"unpack with no descriptor left for the temporary file", false, 200000,
       {"d", "/0:" + (dir / "big.lz"), "/2:" + (dir / "old")}, "old", 6, false, 5},
      // The pack fails and keeps a stale packed file, which must not be
      // unpacked over the source it was meant to check.
      {"cd onto its own source, the packed file's disk full", true, 0,
       {"cd", "/0:" + (dir / "big"), "/1:" + (dir / "disk/old"), "/2:" + (dir / "big")}, "disk/old", 10, false, 0, true,
       {ErrorLine(6), "  НЕправильно."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.NeedsDisk && !disk.Mounted) {
      std::printf("skipped \"%s\": a tmpfs can be mounted only as root\n", c.What);
      continue;
    }
    const std::string old =
        c.OldIsPacked ? PackedFrom(dir, test::MakeText(150000, 9), c.Output) : test::MakeText(150000, 9);
    WriteFile(dir / c.Output, old);
    const Snapshot before = Take(dir.Path());
    const Ran r = RunToEnd({c.Args, c.FileSizeLimit, false, {}, c.FileSizeSignal, c.OpenFiles});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Output.find(ErrorLine(c.Code)), std::string::npos) << r.Output;
    for (const std::string& also : c.AlsoSays) EXPECT_NE(r.Output.find(also), std::string::npos) << r.Output;
    ExpectOnlyOutputChanged(before, dir.Path(), c.Output, {old});
  }
}

// ---------------------------------------------------------------------------
// 7. Signals while a large file is written with small buffers.

TEST(SafeReplace, SignalsLeaveTheOldOutput) {
  ScratchDir dir;
  const std::string large = std::string(Scaled(16000000), 'z');
  WriteFile(dir / "large", large);
  PackedBy(dir, "large", "large.lz");
  struct Case {
    const char* What;
    int Signal;
    bool Unpack;
    bool TemporaryMayStay;
  } cases[] = {
      {"SIGTERM while unpacking", SIGTERM, true, false},
      {"SIGINT while unpacking", SIGINT, true, false},
      {"SIGHUP while unpacking", SIGHUP, true, false},
      {"SIGTERM while packing", SIGTERM, false, false},
      {"SIGINT while packing", SIGINT, false, false},
      {"SIGALRM while packing", SIGALRM, false, false},
      {"SIGUSR1 while unpacking", SIGUSR1, true, false},
      {"SIGKILL while unpacking", SIGKILL, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string output = c.Unpack ? "restored" : "packed";
    const std::string old = test::MakeText(Scaled(2000000), 10);
    WriteFile(dir / output, old);
    const Snapshot before = Take(dir.Path());
    Child child;
    if (c.Unpack) {
      Start(child, {{"d", "/0:" + (dir / "large.lz"), "/2:" + (dir / output), "/b:1000"}});
    } else {
      Start(child, {{"c", "/0:" + (dir / "large"), "/1:" + (dir / output), "/b:1000"}});
    }
    // Stopped while its temporary file exists, the program gets the signal
    // when it goes on: the signal always falls inside the operation.
    ASSERT_TRUE(WaitForTemporary(child, dir.Path())) << child.Output();
    ASSERT_EQ(kill(child.Pid, SIGSTOP), 0);
    ASSERT_EQ(kill(child.Pid, c.Signal), 0);
    kill(child.Pid, SIGCONT);
    EXPECT_EQ(child.Wait(), 128 + c.Signal);
    Snapshot after = Take(dir.Path());
    if (c.TemporaryMayStay) {
      for (const auto& [name, bytes] : after)
        if (IsTemporary(name)) fs::remove(dir / name);
    }
    ExpectOnlyOutputChanged(before, dir.Path(), output, {old});
  }
}

// ---------------------------------------------------------------------------
// What a replaced file keeps, and where it is written in place.

struct Stat {
  struct stat St {};
  explicit Stat(const std::string& name) { EXPECT_EQ(lstat(name.c_str(), &St), 0) << name; }
};

// A setting under /proc/sys/fs ("name=value") for the object's lifetime, put
// back after; Set stays false where it cannot be written.
class FsSetting {
public:
  explicit FsSetting(const std::string& setting)
      : Name("/proc/sys/fs/" + setting.substr(0, setting.find('='))) {
    const std::string value = setting.substr(setting.find('=') + 1) + "\n";
    try {
      Old = ReadFile(Name);
      WriteFile(Name, value);
      Set = ReadFile(Name) == value;
    } catch (const std::exception&) {
      Set = false;
    }
  }
  ~FsSetting() {
    if (!Old.empty()) {
      try {
        WriteFile(Name, Old);
      } catch (const std::exception&) {
        ADD_FAILURE() << "cannot put back " << Name;
      }
    }
  }
  FsSetting(const FsSetting&) = delete;
  FsSetting& operator=(const FsSetting&) = delete;
  bool Set = false;

private:
  std::string Name;
  std::string Old;
};

TEST(SafeReplace, ReplacementKeepsOwnerModeAndLinks) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* What;
    bool NeedsRoot;
    bool Unprivileged;
    std::function<void(const ScratchDir&)> Setup;
    unsigned Code;  // 0: success
    std::function<void(const ScratchDir&, const Stat& was, const std::string& source)> Check;
    const char* FsSetting = nullptr;  // "name=value" under /proc/sys/fs for the run
  } cases[] = {
      {"owner, group and mode carried over", true, false,
       [](const ScratchDir& d) {
         ASSERT_EQ(chown((d / "out").c_str(), kNobody, kNobody), 0);
         ASSERT_EQ(chmod((d / "out").c_str(), 0640), 0);
       },
       0,
       [](const ScratchDir& d, const Stat& was, const std::string&) {
         const Stat now(d / "out");
         EXPECT_EQ(now.St.st_uid, kNobody);
         EXPECT_EQ(now.St.st_gid, kNobody);
         EXPECT_EQ(now.St.st_mode & 07777, 0640u);
         EXPECT_NE(now.St.st_ino, was.St.st_ino) << "replaced by a new file";
       }},
      {"a hard link keeps the old data", false, false,
       [](const ScratchDir& d) { fs::create_hard_link(d / "out", d / "other"); }, 0,
       [](const ScratchDir& d, const Stat&, const std::string&) { EXPECT_EQ(ReadFile(d / "other"), "old"); }},
      {"a writable file in a read-only folder is written in place", false, true,
       [](const ScratchDir& d) {
         // Root writes into any folder: the run drops to kNobody, who owns the file.
         if (geteuid() == 0) {
           ASSERT_EQ(chown((d / "out").c_str(), kNobody, kNobody), 0);
         }
         ASSERT_EQ(chmod(d.Path().c_str(), 0555), 0);
       },
       0,
       [](const ScratchDir& d, const Stat& was, const std::string&) {
         EXPECT_EQ(Stat(d / "out").St.st_ino, was.St.st_ino);
         chmod(d.Path().c_str(), 0777);
       }},
      {"a read-only file in a writable folder is refused", false, true,
       [](const ScratchDir& d) { ASSERT_EQ(chmod((d / "out").c_str(), 0444), 0); }, 6,
       [](const ScratchDir& d, const Stat&, const std::string&) { EXPECT_EQ(ReadFile(d / "out"), "old"); }},
      // The shell refuses "> out" here, and so does the program: the kernel
      // decides which file a name means, never the program's reading of a link.
      {"a link another user planted in a sticky folder is refused", true, false,
       [](const ScratchDir& d) {
         WriteFile(d / "victim", "keep me");
         fs::remove(d / "out");
         fs::create_symlink("victim", d / "out");
         ASSERT_EQ(lchown((d / "out").c_str(), kNobody, kNobody), 0);
         ASSERT_EQ(chmod(d.Path().c_str(), 01777), 0);
       },
       6,
       [](const ScratchDir& d, const Stat&, const std::string&) {
         EXPECT_EQ(ReadFile(d / "victim"), "keep me");
         EXPECT_TRUE(fs::is_symlink(d / "out"));
       },
       "protected_symlinks=1"},
      {"another user's file in a sticky folder is refused as the shell refuses it", true, false,
       [](const ScratchDir& d) {
         ASSERT_EQ(chown((d / "out").c_str(), kNobody, kNobody), 0);
         ASSERT_EQ(chmod(d.Path().c_str(), 01777), 0);
       },
       6, [](const ScratchDir& d, const Stat&, const std::string&) { EXPECT_EQ(ReadFile(d / "out"), "old"); },
       "protected_regular=1"},
      // The rename would be refused after all the work: decided before it.
      {"another user's writable file in a sticky folder is written in place", true, true,
       [](const ScratchDir& d) { ASSERT_EQ(chmod(d.Path().c_str(), 01777), 0); }, 0,
       [](const ScratchDir& d, const Stat& was, const std::string&) {
         EXPECT_EQ(Stat(d / "out").St.st_ino, was.St.st_ino);
       },
       "protected_regular=0"},
      {"a bind-mounted file is written in place", true, false,
       [](const ScratchDir& d) {
         WriteFile(d / "host", "old host");
         ASSERT_EQ(mount((d / "host").c_str(), (d / "out").c_str(), nullptr, MS_BIND, nullptr), 0);
       },
       0,
       [](const ScratchDir& d, const Stat&, const std::string& source) {
         ASSERT_EQ(umount2((d / "out").c_str(), MNT_DETACH), 0);
         EXPECT_EQ(ReadFile(d / "host"), source);
         EXPECT_EQ(ReadFile(d / "out"), "old");
       }},
      {"set-user-id and set-group-id bits are not carried", false, false,
       [](const ScratchDir& d) { ASSERT_EQ(chmod((d / "out").c_str(), 06755), 0); }, 0,
       [](const ScratchDir& d, const Stat&, const std::string&) {
         EXPECT_EQ(Stat(d / "out").St.st_mode & 07777, 0755u);
       }},
      {"a new file gets the usual mode", false, false, [](const ScratchDir& d) { fs::remove(d / "out"); }, 0,
       [](const ScratchDir& d, const Stat&, const std::string&) {
         const mode_t mask = umask(0);
         umask(mask);
         EXPECT_EQ(Stat(d / "out").St.st_mode & 07777, 0666u & ~mask);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.NeedsRoot && !root) {
      std::printf("skipped \"%s\": needs root to give files to another user\n", c.What);
      continue;
    }
    ScratchDir dir;
    chmod(dir.Path().c_str(), 0777);
    const std::string source = test::MakeText(20000, 14);
    PackedFrom(dir, source, "p.lz");
    chmod((dir / "p.lz").c_str(), 0644);
    WriteFile(dir / "out", "old");
    chmod((dir / "out").c_str(), 0666);
    c.Setup(dir);
    const Stat was(test::Exists(dir / "out") ? dir / "out" : dir / "p.lz");
    std::unique_ptr<FsSetting> setting;
    if (c.FsSetting != nullptr) {
      setting = std::make_unique<FsSetting>(c.FsSetting);
      if (!setting->Set) {
        std::printf("skipped \"%s\": fs.%s cannot be set here\n", c.What, c.FsSetting);
        continue;
      }
    }
    const Ran r = RunToEnd({{"d", "/0:" + (dir / "p.lz"), "/2:" + (dir / "out")}, 0, c.Unprivileged});
    setting.reset();
    EXPECT_EQ(r.Status, 0);
    if (c.Code == 0) {
      EXPECT_TRUE(Succeeded(r)) << r.Output;
      EXPECT_EQ(ReadFile(dir / "out"), source);
    } else {
      EXPECT_NE(r.Output.find(ErrorLine(c.Code)), std::string::npos) << r.Output;
    }
    c.Check(dir, was, source);
    for (const auto& e : fs::directory_iterator(dir.Path())) EXPECT_FALSE(IsTemporary(e.path())) << e.path();
  }
}

// What is no regular file a name reaches is written through the descriptor
// the kernel opened, never by a name the program made up from a link.
TEST(SafeReplace, DevicesAndUnnamedFilesAreWrittenInPlace) {
  ScratchDir dir;
  const std::string source = test::MakeText(20000, 15);
  WriteFile(dir / "src", source);
  PackedBy(dir, "src", "p.lz");
  // Reached only as the program's descriptor 3, through /proc/self/fd/3.
  const int deleted = open((dir / "gone").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(deleted, 0);
  ASSERT_EQ(unlink((dir / "gone").c_str()), 0);
  const int memory = memfd_create("vorka-test", MFD_CLOEXEC);
  ASSERT_GE(memory, 0);
  const Snapshot before = Take(dir.Path());
  std::vector<fs::path> rootBefore;
  for (const auto& e : fs::directory_iterator("/")) rootBefore.push_back(e.path());
  struct Case {
    const char* What;
    std::vector<std::string> Args;
    int PassFd;
  } cases[] = {
      {"packing to /dev/null", {"c", "/0:" + (dir / "src"), "/1:/dev/null"}, -1},
      {"unpacking to /dev/null", {"d", "/0:" + (dir / "p.lz"), "/2:/dev/null"}, -1},
      {"unpacking to a deleted file", {"d", "/0:" + (dir / "p.lz"), "/2:/proc/self/fd/3"}, deleted},
      {"unpacking to a memory file", {"d", "/0:" + (dir / "p.lz"), "/2:/proc/self/fd/3"}, memory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const Ran r = RunToEnd({c.Args, 0, false, {}, false, 0, c.PassFd});
    EXPECT_TRUE(Succeeded(r)) << r.Output;
    if (c.PassFd >= 0) {
      std::string got(source.size() + 1, '\0');
      got.resize(static_cast<std::size_t>(std::max<ssize_t>(0, pread(c.PassFd, got.data(), got.size(), 0))));
      EXPECT_TRUE(got == source) << got.size() << " bytes";
    }
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(Take(dir.Path()), before);
  }
  close(deleted);
  close(memory);
  // A name made up from the memory file's link would have appeared in "/".
  for (const auto& e : fs::directory_iterator("/")) {
    if (std::find(rootBefore.begin(), rootBefore.end(), e.path()) != rootBefore.end() ||
        e.path().filename().string().rfind("memfd:", 0) != 0)
      continue;
    ADD_FAILURE() << "new entry " << e.path();
    fs::remove(e.path());
  }
  // As the shell's "> /dev/stderr" does, a pipe on standard error takes the output.
  const test::RunResult piped =
      test::RunProgram(VORKA_EXE, {"d", "/0:" + (dir / "p.lz"), "/2:/dev/stderr", "/go"}, "C.UTF-8");
  EXPECT_EQ(piped.ExitStatus, 0);
  EXPECT_TRUE(piped.Stderr == source) << piped.Stderr.size() << " bytes";
  EXPECT_EQ(piped.Stdout.find("ОШИБКА"), std::string::npos) << piped.Stdout;
}

}  // namespace
}  // namespace vorka
