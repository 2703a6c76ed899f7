// The program as a child process: a copy of the built program runs in a
// scratch folder (its default names live in its own folder), with an explicit
// locale, and its standard output is checked byte for byte. Timings are
// matched by pattern; every other number is computed here from real sizes.
#include "ExpectedTexts.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vorka::test {
namespace {

std::string Regex(const std::string& literal) {
  static const std::string special = R"(\^$.|?*+()[]{}/)";
  std::string out;
  for (const char c : literal) {
    if (special.find(c) != std::string::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// num/den with 4 decimals, rounded half up, in integers only.
std::string Ratio4(std::uint64_t num, std::uint64_t den) {
  if (den == 0) return "0.0000";
  const std::uint64_t q = (num * 20000 + den) / (2 * den);
  std::string frac = std::to_string(q % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  return std::to_string(q / 10000) + "." + frac;
}

// The speed as the report must show it: bytes x runs x 1000 / elapsed ms,
// rounded half up, at least two characters wide.
std::string Speed(std::uint64_t bytes, std::uint64_t runs, std::uint64_t elapsed) {
  const std::uint64_t q = (bytes * runs * 1000 * 2 + elapsed) / (2 * elapsed);
  std::string s = std::to_string(q);
  if (s.size() < 2) s.insert(0, 1, ' ');
  return s;
}

std::string Text(std::size_t n) {
  static const char* words[] = {"the ", "bench ", "packs ", "a ", "file ", "into ", "codes ", "and ", "back, ",
                                "Сжатие ", "словарь ", "\n"};
  test::SeededRandom random(7);
  std::string s;
  while (s.size() < n) s += random.Pick(words);
  s.resize(n);
  return s;
}

class Program : public ::testing::TestWithParam<const char*> {
protected:
  void SetUp() override {
    Exe = CopyProgramInto(Dir.Path().string());
    // The program runs from another folder: bare names must still mean its own.
    Cwd = Dir / "elsewhere";
    std::filesystem::create_directory(Cwd);
  }
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    return RunProgram(Exe, args, GetParam(), input, Cwd);
  }
  std::string In(const std::string& name) const { return Dir / name; }

  ScratchDir Dir;
  std::string Exe;
  std::string Cwd;
};

std::string Parsed(const std::string& messages = "") { return kParseStart + messages + kParseEnd; }

TEST_P(Program, NoArgumentsWaitsForEnter) {
  const RunResult r = Run({});
  EXPECT_EQ(r.Stdout, kBanner + kUsage + kClosing + kPrompt);
  EXPECT_EQ(r.Stderr, "");
  EXPECT_EQ(r.ExitStatus, 0);
  // An answered wait gives the same bytes.
  EXPECT_EQ(Run({}, "\n").Stdout, kBanner + kUsage + kClosing + kPrompt);
}

#if !defined(_WIN32)  // pipes, a file offset and a pseudo-terminal of POSIX
// The wait takes a line only from a terminal. A script's pipe or file is left
// as it was: a `while read` loop around the program keeps every line.
TEST_P(Program, WaitLeavesAScriptsInputUnread) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::write(pipeFds[1], "first\nsecond\n", 13), 13);
  const std::string lines = Dir / "lines";
  WriteFile(lines, "a\nb\nc\nd\n");
  const int file = ::open(lines.c_str(), O_RDONLY);
  ASSERT_GE(file, 0);
  // The pipe's writing end stays open: a program that read it would take
  // "first" and leave less, and one that waited for more would never end.
  for (const int input : {pipeFds[0], file}) {
    SCOPED_TRACE(input == file ? "file" : "pipe left open");
    const RunResult r = RunProgram(Exe, {}, GetParam(), "", Cwd, {.TimeLimit = 60, .Stdin = input});
    EXPECT_EQ(r.Stdout, kBanner + kUsage + kClosing + kPrompt);
    EXPECT_EQ(r.ExitStatus, 0);
  }
  EXPECT_EQ(::lseek(file, 0, SEEK_CUR), 0);
  ::close(pipeFds[1]);
  char rest[32];
  EXPECT_EQ(std::string(rest, static_cast<std::size_t>(::read(pipeFds[0], rest, sizeof rest))), "first\nsecond\n");
  ::close(pipeFds[0]);
  ::close(file);
}

// A terminal's line ends the wait, and only one line is taken.
TEST_P(Program, WaitTakesOneLineFromATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios mode{};
  ASSERT_EQ(::tcgetattr(terminal, &mode), 0);
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ASSERT_EQ(::tcsetattr(terminal, TCSANOW, &mode), 0);
  ASSERT_EQ(::write(master, "first\nsecond\n", 13), 13);
  const RunResult r = RunProgram(Exe, {}, GetParam(), "", Cwd, {.TimeLimit = 60, .Stdin = terminal});
  EXPECT_EQ(r.Stdout, kBanner + kUsage + kClosing + kPrompt);
  EXPECT_EQ(r.ExitStatus, 0);
  ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  char rest[32];
  const ssize_t got = ::read(terminal, rest, sizeof rest);
  EXPECT_EQ(std::string(rest, got > 0 ? static_cast<std::size_t>(got) : 0), "second\n");
  ::close(terminal);
  ::close(master);
}
#endif

TEST_P(Program, InvalidLineWithGo) {
  const RunResult r = Run({"x", "/go"});
  EXPECT_EQ(r.Stdout, kBanner + Parsed() + kUsage + kClosing);
  EXPECT_EQ(r.ExitStatus, 0);
}

TEST_P(Program, InvalidLinesPrintMessagesThenUsage) {
  const struct {
    std::vector<std::string> Args;
    std::string Messages;
    bool Wait;
  } cases[] = {
      {{"c", "/b:12x", "/go"}, "    !неправильное число:/b:12x\n", false},
      {{"C"}, "", true},
      {{"cd", "/l:1", "/l:2"},
       "\a    словарь слишком мал: 1, использую минимальный: 500\n  использую словарь, символов: 500\n", true},
      {{"d", "/go", "/gofast"}, "", false},
      {{"c", "/r:\xFF", "/go"}, "    !неправильное число:/r:\xFF\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
    const RunResult r = Run(c.Args);
    EXPECT_EQ(r.Stdout, kBanner + Parsed(c.Messages) + kUsage + kClosing + (c.Wait ? kPrompt : ""));
    EXPECT_EQ(r.ExitStatus, 0);
  }
}

// The five lines of a successful pack series; checks every number it can.
std::string PackPattern(const std::string& from, const std::string& to, unsigned shownRuns) {
  return Regex(" Упаковка: \"" + from + "\" -> \"" + to + "\" (повтор, раз: " + std::to_string(shownRuns) +
               ")... завершено.\n") +
         Regex("  Время на 1 упаковку, мс: ") + "([0-9]+\\.[0-9]{2});" + Regex(" Скорость, байт/с: ") +
         "( ?[0-9]+)\\.\n" + Regex("  Отношение (Размер упакованного файла)/(Размер исходного): ") +
         "([0-9]+\\.[0-9]{4})\n" + Regex("  Степень сжатия данных (упакованные)/(исходные): ") +
         "([0-9]+\\.[0-9]{4})\n" + Regex("  Сбросов словаря: ") + "([0-9]+)" + Regex(". Макс. длина фрагмента: ") +
         "([0-9]+)\n";
}

std::string UnpackPattern(const std::string& from, const std::string& to, unsigned shownRuns) {
  return Regex(" Распаковка: \"" + from + "\" -> \"" + to + "\" (повтор, раз: " + std::to_string(shownRuns) +
               ")... завершено.\n") +
         Regex("  Время на 1 распаковку, мс: ") + "([0-9]+\\.[0-9]{2});" + Regex(" Скорость, байт/с: ") +
         "( ?[0-9]+)\\.\n";
}

// The elapsed milliseconds behind a time per run (two decimals, small run
// counts): the time shown times the runs, back to a whole number.
std::uint64_t ElapsedOf(const std::string& perRun, unsigned runs) {
  const std::size_t dot = perRun.find('.');
  const std::uint64_t hundredths = std::stoull(perRun.substr(0, dot)) * 100 + std::stoull(perRun.substr(dot + 1));
  return (hundredths * runs + 50) / 100;
}

void CheckTiming(const std::string& perRun, const std::string& speed, std::uint64_t bytes, unsigned runs) {
  const std::uint64_t elapsed = ElapsedOf(perRun, runs);
  ASSERT_GE(elapsed, 1u);  // a run below the timer's resolution counts as 1 ms
  EXPECT_EQ(speed, Speed(bytes, runs, elapsed));
}

struct FileKind {
  const char* Title;
  std::string Bytes;
  std::vector<std::string> Options;  // extra settings
};

std::vector<FileKind> Kinds() {
  return {
      {"text", Text(30000), {}},
      {"binary", test::MakeRandom(20000, 5), {}},
      {"empty", "", {}},
      {"multi-block", Text(250000) + test::MakeRandom(30000, 9), {}},
      {"multi-block small buffers", Text(9000), {"/b:1000", "/l:500"}},
  };
}

TEST_P(Program, PackUnpackCompareOnRealFiles) {
  for (const FileKind& kind : Kinds()) {
    for (unsigned runs : {0u, 1u, 5u}) {
      SCOPED_TRACE(std::string(kind.Title) + " /r:" + std::to_string(runs));
      const std::string src = In("src.dat"), packed = In("src._tx"), restored = In("src.!tx");
      WriteFile(src, kind.Bytes);
      std::filesystem::remove(packed);
      std::filesystem::remove(restored);
      std::vector<std::string> args = {"cd", "/0:src.dat", "/1:src._tx", "/2:src.!tx", "/r:" + std::to_string(runs),
                                       "/go"};
      args.insert(args.end(), kind.Options.begin(), kind.Options.end());
      const RunResult r = Run(args);
      ASSERT_EQ(r.ExitStatus, 0);
      EXPECT_EQ(r.Stderr, "");
      ASSERT_TRUE(std::filesystem::exists(packed));
      ASSERT_EQ(ReadFile(restored), kind.Bytes);
      const std::uint64_t sizePacked = std::filesystem::file_size(packed);

      std::string messages;
      std::string sizes = kDefaultSizes;
      if (!kind.Options.empty()) {
        messages = "  использую буфер, байт: 1000\n  использую словарь, символов: 500\n";
        sizes = "  Размер словаря, симв.: 500. Макс. длина фрагмента, симв.: 500\n";
      }
      const std::regex whole(Regex(kBanner + Parsed(messages) + sizes) + PackPattern(src, packed, runs) +
                             UnpackPattern(packed, restored, runs) +
                             Regex(" Проверка. Сравнение \"" + src + "\" и \"" + restored + "\"... завершено.\n" +
                                   kCorrect + kClosing));
      std::smatch m;
      ASSERT_TRUE(std::regex_match(r.Stdout, m, whole)) << r.Stdout;
      const unsigned n = runs == 0 ? 1 : runs;
      CheckTiming(m[1], m[2], kind.Bytes.size(), n);
      EXPECT_EQ(m[3].str(), Ratio4(sizePacked, kind.Bytes.size()));
      if (kind.Bytes.empty()) {
        EXPECT_EQ(m[4].str(), "0.0000");
      }
      CheckTiming(m[7], m[8], kind.Bytes.size(), n);
    }
  }
}

TEST_P(Program, PackThenUnpackSeparately) {
  for (const FileKind& kind : Kinds()) {
    SCOPED_TRACE(kind.Title);
    const std::string src = In("test.txt"), packed = In("test._tx"), restored = In("test.!tx");
    WriteFile(src, kind.Bytes);
    std::vector<std::string> pack = {"c", "/go"};
    pack.insert(pack.end(), kind.Options.begin(), kind.Options.end());
    const RunResult rc = Run(pack);
    ASSERT_EQ(rc.ExitStatus, 0);
    const std::uint64_t sizePacked = std::filesystem::file_size(packed);
    std::smatch m;
    const std::string sizes = kind.Options.empty()
                                  ? kDefaultSizes
                                  : "  Размер словаря, симв.: 500. Макс. длина фрагмента, симв.: 500\n";
    const std::string messages =
        kind.Options.empty() ? "" : "  использую буфер, байт: 1000\n  использую словарь, символов: 500\n";
    ASSERT_TRUE(std::regex_match(rc.Stdout, m,
                                 std::regex(Regex(kBanner + Parsed(messages) + sizes) + PackPattern(src, packed, 1) +
                                            Regex(kClosing))))
        << rc.Stdout;
    CheckTiming(m[1], m[2], kind.Bytes.size(), 1);
    EXPECT_EQ(m[3].str(), Ratio4(sizePacked, kind.Bytes.size()));

    // d reads File0 and writes File2.
    WriteFile(restored, "old contents");  // replaced: the series may overwrite
    std::filesystem::rename(packed, In("moved._tx"));
    std::vector<std::string> unpack = {"d", "/0:moved._tx", "/go"};
    unpack.insert(unpack.end(), kind.Options.begin(), kind.Options.end());
    const RunResult rd = Run(unpack);
    ASSERT_EQ(rd.ExitStatus, 0);
    ASSERT_TRUE(std::regex_match(rd.Stdout, m,
                                 std::regex(Regex(kBanner + Parsed(messages) + sizes) +
                                            UnpackPattern(In("moved._tx"), restored, 1) + Regex(kClosing))))
        << rd.Stdout;
    CheckTiming(m[1], m[2], kind.Bytes.size(), 1);
    EXPECT_EQ(ReadFile(restored), kind.Bytes);
  }
}

#if !defined(_WIN32)  // setenv
// VORKA_INDEX picks the packer's child index and changes nothing the program
// writes: the same report and the same packed bytes. A value it does not know
// gives one line on standard error naming the two it knows.
TEST_P(Program, IndexChoiceChangesNoOutputByte) {
  const std::string src = In("test.txt"), packed = In("test._tx");
  WriteFile(src, Text(30000) + MakeRandom(5000, 9));
  const char* const before = std::getenv("VORKA_INDEX");
  const std::string saved = before != nullptr ? before : "";
  std::string want;
  for (const char* value : {"tree", "", "hash", "Hash"}) {
    SCOPED_TRACE(value);
    setenv("VORKA_INDEX", value, 1);
    const RunResult r = Run({"c", "/go"});
    ASSERT_EQ(r.ExitStatus, 0);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(r.Stdout, m,
                                 std::regex(Regex(kBanner + Parsed() + kDefaultSizes) + PackPattern(src, packed, 1) +
                                            Regex(kClosing))))
        << r.Stdout;
    EXPECT_EQ(r.Stderr, std::string(value) == "Hash"
                            ? "vorka: VORKA_INDEX is neither \"tree\" nor \"hash\"; packing with \"tree\"\n"
                            : "");
    if (want.empty()) want = ReadFile(packed);
    EXPECT_EQ(ReadFile(packed), want);
  }
  if (before != nullptr) {
    setenv("VORKA_INDEX", saved.c_str(), 1);
  } else {
    unsetenv("VORKA_INDEX");
  }
}
#endif

TEST_P(Program, DefaultCdOnTheSampleBesideTheProgram) {
  WriteFile(In("test.txt"), Text(50000));
  const RunResult r = Run({"cd", "/go"});
  const std::regex whole(Regex(kBanner + Parsed() + kDefaultSizes) +
                         PackPattern(In("test.txt"), In("test._tx"), 1) +
                         UnpackPattern(In("test._tx"), In("test.!tx"), 1) +
                         Regex(" Проверка. Сравнение \"" + In("test.txt") + "\" и \"" + In("test.!tx") +
                               "\"... завершено.\n" + kCorrect + kClosing));
  EXPECT_TRUE(std::regex_match(r.Stdout, whole)) << r.Stdout;
  EXPECT_EQ(r.ExitStatus, 0);
}

TEST_P(Program, MissingSourceWithC) {
  const RunResult r = Run({"c", "/go"});
  EXPECT_EQ(r.Stdout, kBanner + Parsed() + kDefaultSizes + " Упаковка: \"" + In("test.txt") + "\" -> \"" +
                          In("test._tx") + "\" (повтор, раз: 1)... завершено.\n" +
                          "\a  ОШИБКА: 3 Не могу открыть исходный файл для чтения\n" + kClosing);
  EXPECT_EQ(r.ExitStatus, 0);
}

TEST_P(Program, NonPackedFileGivenToD) {
  WriteFile(In("plain.txt"), Text(500));
  const RunResult r = Run({"d", "/0:plain.txt", "/r:3", "/go"});
  EXPECT_EQ(r.Stdout, kBanner + Parsed() + kDefaultSizes + " Распаковка: \"" + In("plain.txt") + "\" -> \"" +
                          In("test.!tx") + "\" (повтор, раз: 3)... завершено.\n" +
                          "\a  ОШИБКА: 15 Неправильный заголовок упакованного файла\n" + kClosing);
  EXPECT_EQ(r.ExitStatus, 0);
}

TEST_P(Program, CdWithMissingSourceEndsIncorrect) {
  const RunResult r = Run({"cd", "/go"});
  const std::string src = In("test.txt"), packed = In("test._tx"), restored = In("test.!tx");
  EXPECT_EQ(r.Stdout,
            kBanner + Parsed() + kDefaultSizes + " Упаковка: \"" + src + "\" -> \"" + packed +
                "\" (повтор, раз: 1)... завершено.\n" + "\a  ОШИБКА: 3 Не могу открыть исходный файл для чтения\n" +
                " Распаковка: \"" + packed + "\" -> \"" + restored + "\" (повтор, раз: 1)... завершено.\n" +
                "\a  ОШИБКА: 8 Не могу открыть упакованный файл для чтения\n" + " Проверка. Сравнение \"" + src +
                "\" и \"" + restored + "\"...\n" + "\a ОШИБКА: Не могу открыть для чтения: " + src + "\n\n" +
                "\a ОШИБКА: Не могу открыть для чтения: " + restored + "\n" + " завершено.\n" + kIncorrect +
                kClosing);
  EXPECT_EQ(r.ExitStatus, 0);
}

TEST_P(Program, CdWithTheSourceAsRestoredFile) {
  // /0: and /2: name the same file: the unpack would put whatever the packed
  // file holds over the source, so it is refused, and a file compared with
  // itself proves nothing.
  WriteFile(In("same.txt"), Text(3000));
  const RunResult r = Run({"cd", "/0:same.txt", "/2:same.txt", "/go"});
  EXPECT_NE(r.Stdout.find("\a  ОШИБКА: 6 Не могу открыть исходный файл для записи\n"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(" завершено.\n" + kIncorrect + kClosing), std::string::npos) << r.Stdout;
  EXPECT_EQ(ReadFile(In("same.txt")), Text(3000));
}

std::string LocaleName(const ::testing::TestParamInfo<const char*>& param) {
  return std::string(param.param) == "C" ? "CLocale" : "Utf8";
}

INSTANTIATE_TEST_SUITE_P(Locales, Program, ::testing::Values("C.UTF-8", "C"), LocaleName);

}  // namespace
}  // namespace vorka::test
