// The real program against faults: a full disk, read-only folders, damaged
// and missing packed files, long and odd names, and too little memory for the
// dictionary, the buffers or the comparison. Every run must end normally
// (status 0) with the error line of its fault, and leave alone every file it
// was not told to write.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

constexpr std::uint64_t kMiB = 1024 * 1024;
const std::string kCorrect = "  Правильно.\n";
const std::string kIncorrect = "  НЕправильно.\a\a\a\n";
const std::string kOld = "an existing file that must keep its bytes";

// The built program in the C.UTF-8 locale, with end of input at once; a run
// that takes more than two minutes is ended (status 128 + SIGALRM).
test::RunResult Vorka(const std::vector<std::string>& args, test::ChildLimits limits = {}) {
  limits.TimeLimit = 120;
  return test::RunProgram(VORKA_EXE, args, "C.UTF-8", "", "", limits);
}

// The error line the program prints for a code and its message.
std::string ErrorLine(unsigned code, const std::string& message) {
  return "\a  ОШИБКА: " + std::to_string(code) + " " + message + "\n";
}

// A folder with a source "src", its packed form "good.lz" (default settings),
// a read-only folder "ro", and an existing "old.txt".
struct Scene {
  test::ScratchDir Dir;
  std::string Source = test::MakeText(30000, 41);
  std::string Good;

  Scene() {
    test::MakeOpenToAll(Dir.Path().string());
    WriteFile(Dir / "src", Source);
    WriteFile(Dir / "old.txt", kOld);
    const test::RunResult run = Vorka({"c", "/0:" + (Dir / "src"), "/1:" + (Dir / "good.lz"), "/go"});
    EXPECT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
    Good = ReadFile(Dir / "good.lz");
    fs::create_directory(Dir / "ro");
    fs::permissions(Dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
  }
  std::string operator/(const std::string& name) const { return Dir / name; }
};

struct ProgramCase {
  const char* What;
  std::function<std::vector<std::string>(const Scene&)> Args;
  std::vector<std::string> Expect;  // pieces of standard output, in this order
  std::function<void(const Scene&)> Check;
  bool Unprivileged = false;
};

void ExpectInOrder(const std::string& out, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    const std::size_t found = out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing: " << piece << "\nin:\n" << out;
    at = found + piece.size();
  }
}

TEST(ProgramFaults, EachEndsWithItsErrorLine) {
  const auto untouched = [](const Scene& s) {
    EXPECT_EQ(ReadFile(s / "src"), s.Source);
    EXPECT_EQ(ReadFile(s / "good.lz"), s.Good);
    EXPECT_EQ(ReadFile(s / "old.txt"), kOld);
  };
  const ProgramCase cases[] = {
      {"packing onto a full disk",
       [](const Scene& s) { return std::vector<std::string>{"c", "/0:" + (s / "src"), "/1:/dev/full", "/go"}; },
       {ErrorLine(10, "Не могу записать данные в упакованный файл")}, untouched},
      {"unpacking onto a full disk",
       [](const Scene& s) { return std::vector<std::string>{"d", "/0:" + (s / "good.lz"), "/2:/dev/full", "/go"}; },
       {ErrorLine(19, "Не могу записать данные в исходный файл")}, untouched},
      {"a round trip whose restored file is a full disk",
       [](const Scene& s) {
         return std::vector<std::string>{"cd", "/0:" + (s / "src"), "/1:" + (s / "p.lz"), "/2:/dev/full", "/go"};
       },
       {ErrorLine(19, "Не могу записать данные в исходный файл"),
        "\a ОШИБКА: Не могу открыть для чтения: /dev/full\n", kIncorrect},
       untouched},
      {"packing into a read-only folder",
       [](const Scene& s) { return std::vector<std::string>{"c", "/0:" + (s / "src"), "/1:" + (s / "ro/p.lz"), "/go"}; },
       {ErrorLine(7, "Не могу открыть упакованный файл для записи")},
       [untouched](const Scene& s) {
         untouched(s);
         EXPECT_FALSE(Exists(s / "ro/p.lz"));
       },
       true},
      {"unpacking into a read-only folder",
       [](const Scene& s) { return std::vector<std::string>{"d", "/0:" + (s / "good.lz"), "/2:" + (s / "ro/out"), "/go"}; },
       {ErrorLine(6, "Не могу открыть исходный файл для записи")},
       [untouched](const Scene& s) {
         untouched(s);
         EXPECT_FALSE(Exists(s / "ro/out"));
       },
       true},
      {"unpacking a missing packed file over an existing output",
       [](const Scene& s) { return std::vector<std::string>{"d", "/0:" + (s / "none.lz"), "/2:" + (s / "old.txt"), "/go"}; },
       {ErrorLine(8, "Не могу открыть упакованный файл для чтения")}, untouched},
      {"unpacking a plain file over an existing output",
       [](const Scene& s) { return std::vector<std::string>{"d", "/0:" + (s / "src"), "/2:" + (s / "old.txt"), "/go"}; },
       {ErrorLine(15, "Неправильный заголовок упакованного файла")}, untouched},
      {"unpacking a packed file that lost its last byte",
       [](const Scene& s) {
         WriteFile(s / "cut.lz", s.Good.substr(0, s.Good.size() - 1));
         return std::vector<std::string>{"d", "/0:" + (s / "cut.lz"), "/2:" + (s / "out"), "/go"};
       },
       {ErrorLine(25, "Не могу считать суффикс упакованного файла")},
       [untouched](const Scene& s) {
         untouched(s);
         const std::string out = ReadFile(s / "out");
         EXPECT_TRUE(s.Source.starts_with(out));
       }},
      {"unpacking onto the packed file itself",
       [](const Scene& s) { return std::vector<std::string>{"d", "/0:" + (s / "good.lz"), "/2:" + (s / "good.lz"), "/go"}; },
       {ErrorLine(6, "Не могу открыть исходный файл для записи")}, untouched},
      {"packing onto the source itself",
       [](const Scene& s) { return std::vector<std::string>{"c", "/0:" + (s / "src"), "/1:" + (s / "src"), "/go"}; },
       {ErrorLine(7, "Не могу открыть упакованный файл для записи")}, untouched},
  };
  for (const ProgramCase& c : cases) {
    SCOPED_TRACE(c.What);
    Scene scene;
    const std::vector<std::string> args = c.Args(scene);
    const test::RunResult run = Vorka(args, {.Unprivileged = c.Unprivileged});
    EXPECT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
    ExpectInOrder(run.Stdout, c.Expect);
    c.Check(scene);
  }
}

TEST(ProgramFaults, OddNamesThroughTheWorkFolder) {
  const std::string names[] = {
      std::string(255, 'L'),
      "blank and \"quotes\" and 'apostrophes'",
      "-starts-with-a-dash",
      "ёлка.txt",
      "\xFF\xFE raw bytes",
      "ends with a blank ",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    test::ScratchDir dir;
    const std::string source = test::MakeText(20000, 3);
    WriteFile(dir / name, source);
    // Names without a folder part are taken from the work folder.
    const test::RunResult run =
        Vorka({"cd", "/f:" + dir.Path().string() + "/", "/0:" + name, "/1:p.lz", "/2:r.txt", "/go"});
    EXPECT_EQ(run.ExitStatus, 0);
    ExpectInOrder(run.Stdout, {kCorrect});
    EXPECT_EQ(run.Stdout.find("ОШИБКА"), std::string::npos) << run.Stdout;
    EXPECT_EQ(ReadFile(dir / "r.txt"), source);
    EXPECT_EQ(ReadFile(dir / name), source);
  }
}

#define SKIP_UNDER_ASAN()                                                              \
  do {                                                                                 \
    if (test::UnderAddressSanitizer()) GTEST_SKIP() << "no address-space limit under ASan"; \
  } while (0)

TEST(ProgramMemory, LargestDictionaryUnderOneGibibyte) {
  SKIP_UNDER_ASAN();
  Scene scene;
  const test::RunResult run = Vorka(
      {"cd", "/0:" + (scene / "src"), "/1:" + (scene / "p.lz"), "/2:" + (scene / "r.txt"), "/l:268435326", "/go"},
      {.AddressSpace = 1024 * kMiB});
  EXPECT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
  // Both runs report the failed creation; the comparison then finds no
  // restored file.
  const std::string line = ErrorLine(22, "Недостаточно памяти для размещения словаря");
  ExpectInOrder(run.Stdout, {line, line, kIncorrect});
  EXPECT_FALSE(Exists(scene / "p.lz"));
  EXPECT_FALSE(Exists(scene / "r.txt"));
  EXPECT_EQ(ReadFile(scene / "src"), scene.Source);
}

// Lowers the address space step by step below what a whole round trip needs
// and records what the program says: somewhere the comparison's buffers fail
// first, further down the file buffers. At every step down to where the
// program cannot be loaded at all, it must end normally and leave the source
// whole.
TEST(ProgramMemory, ShrinkingAddressSpaceMeetsEachAllocation) {
  SKIP_UNDER_ASAN();
  Scene scene;
  const auto run = [&](std::uint64_t limit) {
    std::error_code ec;
    fs::remove(scene / "p.lz", ec);
    fs::remove(scene / "r.txt", ec);
    return Vorka({"cd", "/0:" + (scene / "src"), "/1:" + (scene / "p.lz"), "/2:" + (scene / "r.txt"),
                  "/b:2000000", "/l:500", "/go"},
                 {.AddressSpace = limit});
  };
  // The least limit at which the whole round trip succeeds, to 64 KiB.
  std::uint64_t low = 1 * kMiB, high = 2048 * kMiB;
  ASSERT_NE(run(high).Stdout.find(kCorrect), std::string::npos);
  while (high - low > 64 * 1024) {
    const std::uint64_t mid = (low + high) / 2;
    if (run(mid).Stdout.find(kCorrect) != std::string::npos) {
      high = mid;
    } else {
      low = mid;
    }
  }
  const std::string bufferLine = ErrorLine(1, "Не хватает памяти для буферов чтения/записи файла");
  const std::string compareLine = "\a ОШИБКА: Недостаточно памяти для буферов.\n";
  bool sawCompare = false, sawBuffers = false;
  std::set<int> abnormal;
  // Down to where the program cannot even be loaded.
  for (std::uint64_t limit = high; limit > 64 * 1024; limit -= 32 * 1024) {
    const test::RunResult r = run(limit);
    ASSERT_EQ(ReadFile(scene / "src"), scene.Source);
    if (r.Stdout.find("Программа Vorkasteln запущена") == std::string::npos) break;
    if (r.Stdout.find(compareLine) != std::string::npos) {
      sawCompare = true;
      EXPECT_EQ(r.ExitStatus, 0) << r.Stdout << r.Stderr;
      ExpectInOrder(r.Stdout, {compareLine, " завершено.\n", kIncorrect});
    }
    if (r.Stdout.find(bufferLine) != std::string::npos) {
      sawBuffers = true;
      EXPECT_EQ(r.ExitStatus, 0) << r.Stdout << r.Stderr;
      EXPECT_FALSE(Exists(scene / "p.lz"));
    }
    if (r.ExitStatus != 0) abnormal.insert(r.ExitStatus);
  }
  EXPECT_TRUE(sawCompare) << "no limit made only the comparison fail";
  EXPECT_TRUE(sawBuffers) << "no limit made the file buffers fail";
  for (int status : abnormal) ADD_FAILURE() << "a run under a low limit ended with status " << status;
}

}  // namespace
}  // namespace vorka
