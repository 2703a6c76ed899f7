// The Windows program as a whole: its default names live in the folder of
// its own executable, the C runtime splits its command line, and standard
// output carries the console's OEM bytes with bare line ends. Parsing with
// the Windows path rules is tested through the driver's own calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/Settings.h"
#include "platform/Codeset.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

using test::ReadFile;
using test::RunProgram;
using test::ScratchDir;
using test::WriteFile;

// "  Правильно." in code page 866, written out by hand.
const std::string kCorrect866 = "  \x8F\xE0\xA0\xA2\xA8\xAB\xEC\xAD\xAE.\n";

bool ConsoleIs866() { return platform::LocaleCodeset() == "CP866"; }

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Win32Program, DefaultNamesLiveBesideTheExecutable) {
  if (!ConsoleIs866()) GTEST_SKIP() << "the console's code page is not 866";
  ScratchDir dir;
  const std::filesystem::path bin = dir.Path() / "bin";
  const std::filesystem::path elsewhere = dir.Path() / "elsewhere";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(elsewhere);
  const std::string exe = test::CopyProgramInto(bin.string());
  WriteFile((bin / "test.txt").string(), std::string(3000, 'w') + "\r\nend\r\n");

  const auto run = RunProgram(exe, {"cd", "/go"}, "", "", elsewhere.string());
  EXPECT_EQ(run.ExitStatus, 0);
  const std::string restored = ReadFile((bin / "test.!tx").string());
  EXPECT_EQ(restored, std::string(3000, 'w') + "\r\nend\r\n");
  EXPECT_TRUE(std::filesystem::exists(bin / "test._tx"));
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  // The names in the report are the executable's folder joined with "\".
  EXPECT_NE(run.Stdout.find("\"" + (bin / "test.txt").string() + "\""), std::string::npos);
  EXPECT_NE(run.Stdout.find(kCorrect866), std::string::npos);
  EXPECT_EQ(run.Stdout.find('\r'), std::string::npos) << "standard output is binary";
}

TEST(Win32Program, QuotedArgumentsKeepTheirBlanks) {
  if (!ConsoleIs866()) GTEST_SKIP() << "the console's code page is not 866";
  ScratchDir dir;
  WriteFile(dir / "with blank.txt", "a name with a blank");
  const auto run = RunProgram(VORKA_EXE, {"cd", "/0:.\\with blank.txt", "/1:.\\packed ._tx", "/2:.\\back.txt", "/go"},
                              "", "", dir.Path().string());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(ReadFile(dir / "back.txt"), "a name with a blank");
  EXPECT_TRUE(EndsWith(run.Stdout, kCorrect866 + "\xAF\xE0\xAE\xA3\xE0\xA0\xAC\xAC\xA0 Vorkasteln "
                                                 "\xA7\xA0\xA2\xA5\xE0\xE8\xA5\xAD\xA0. "));
}

TEST(Win32CommandLine, WorkFolderAndJoinFollowTheWindowsDelimiters) {
  const struct {
    const char* Exe;
    const char* Folder;
  } folders[] = {
      {"C:\\prog\\vorka.exe", "C:\\prog\\"},
      {"C:vorka.exe", "C:"},
      {"\\\\server\\share\\vorka.exe", "\\\\server\\share\\"},
      {"vorka.exe", ""},
      {"C:\\odd/place\\vorka.exe", "C:\\odd/place\\"},
      {"C:\\a\\b/vorka.exe", "C:\\a\\"},
  };
  for (const auto& f : folders) {
    SCOPED_TRACE(f.Exe);
    EXPECT_EQ(FolderOf(f.Exe), f.Folder);
  }

  const struct {
    const char* Name;
    const char* Folder;
    const char* Joined;
  } joins[] = {
      {"x.txt", "C:\\w\\", "C:\\w\\x.txt"},
      {"x.txt", "C:\\w", "C:\\w\\x.txt"},
      {"x.txt", "C:", "C:\\x.txt"},
      {"x.txt", "", "\\x.txt"},
      {"a/b.txt", "C:\\w\\", "C:\\w\\a/b.txt"},
      {"C:x.txt", "D:\\w\\", "C:x.txt"},
      {"sub\\x.txt", "D:\\w\\", "sub\\x.txt"},
      {"\\\\srv\\s\\x.txt", "D:\\w\\", "\\\\srv\\s\\x.txt"},
  };
  for (const auto& j : joins) {
    SCOPED_TRACE(std::string(j.Name) + " in " + j.Folder);
    std::string name = j.Name;
    AddWorkFolder(name, j.Folder);
    EXPECT_EQ(name, j.Joined);
  }
}

// Names are never cut: the Windows build takes up to 255 characters and
// refuses a longer value, which makes the command line invalid.
TEST(Win32CommandLine, NamesOver255CharactersAreRefused) {
  const struct {
    const char* What;
    std::size_t Length;
    std::uint8_t Command;
  } cases[] = {{"255 characters", 255, cmdPack}, {"256 characters", 256, cmdNone}, {"300 characters", 300, cmdNone}};
  for (const auto& c : cases) {
    for (const char* option : {"/0:", "/1:", "/2:"}) {
      SCOPED_TRACE(std::string(c.What) + " in " + option);
      const std::string name = "C:\\" + std::string(c.Length - 3, 'n');
      TTestSettings s;
      ParseCommandLine(s, {"c", option + name}, "C:\\prog\\vorka.exe");
      EXPECT_EQ(s.Command, c.Command);
      const std::string& field = option[1] == '0' ? s.File0 : option[1] == '1' ? s.File1 : s.File2;
      EXPECT_EQ(field, name) << "never cut";
    }
  }
}

}  // namespace
}  // namespace vorka
