// File names on the console: the program's texts are converted to the
// terminal's codeset, names are written as the bytes the system gave. A name
// in the terminal's own codeset (KOI8-R, CP866) is no valid UTF-8; converted
// as if it were program text it would come out as question marks.
//
// POSIX only: on Windows a name is in the ANSI code page and goes to the
// OEM console through CharToOemBuffA (tests/win32).
#ifndef _WIN32

#include "driver/Compare.h"
#include "driver/Console.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vorka {
namespace {

using test::ScratchDir;

// "Файл" in KOI8-R (Ф E6, а C1, й CA, л CC) and in CP866 (Ф 94, а A0, й A9,
// л AB), written out by hand.
const std::string kKoi8Name = "\xE6\xC1\xCA\xCC.txt";
const std::string kCp866Name = "\x94\xA0\xA9\xAB.txt";
const std::string kUtf8Name = "Файл.txt";

TEST(NameOutput, ComparisonWritesNamesAsGiven) {
  // The comparison's header and its "cannot open" line, for names that no
  // file has: the report is all that happens.
  const struct {
    const char* Codeset;
    std::string Name;
    std::string Header;  // " Проверка. Сравнение " in that codeset
  } cases[] = {
      {"KOI8-R", kKoi8Name,
       " \xF0\xD2\xCF\xD7\xC5\xD2\xCB\xC1. \xF3\xD2\xC1\xD7\xCE\xC5\xCE\xC9\xC5 "},
      {"CP866", kCp866Name, " \x8F\xE0\xAE\xA2\xA5\xE0\xAA\xA0. \x91\xE0\xA0\xA2\xAD\xA5\xAD\xA8\xA5 "},
      {"UTF-8", kUtf8Name, " Проверка. Сравнение "},
      {"ANSI_X3.4-1968", kKoi8Name, " Проверка. Сравнение "},
      {"CP866", kUtf8Name, " \x8F\xE0\xAE\xA2\xA5\xE0\xAA\xA0. \x91\xE0\xA0\xA2\xAD\xA5\xAD\xA8\xA5 "},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Codeset) + " " + c.Name);
    const std::string first = dir / c.Name;
    const std::string second = dir / ("2" + c.Name);
    TConsoleCapture capture(c.Codeset);
    EXPECT_FALSE(CompareFiles(first, second, 1000));
    const std::string& out = capture.Output();
    EXPECT_EQ(out.rfind(c.Header + "\"" + first + "\"", 0), 0u) << out;
    EXPECT_NE(out.find("\"" + second + "\"..."), std::string::npos) << out;
    // The missing file's name ends the error line, unchanged.
    EXPECT_NE(out.find(": " + first + "\n"), std::string::npos) << out;
  }
}

// Makes a KOI8-R locale under folder; false when the system cannot.
bool MakeKoi8Locale(const std::string& folder) {
  const std::string localedef = "/usr/bin/localedef";
  if (!std::filesystem::exists(localedef)) return false;
  const test::RunResult r =
      test::RunProgram(localedef, {"-i", "ru_RU", "-f", "KOI8-R", folder + "/ru_RU.KOI8-R"}, "C");
  return r.ExitStatus == 0 && std::filesystem::exists(folder + "/ru_RU.KOI8-R");
}

TEST(NameOutput, Koi8NameInKoi8LocalePrintsItsOwnBytes) {
  ScratchDir dir;
  const std::string locales = dir / "locales";
  std::filesystem::create_directory(locales);
  if (!MakeKoi8Locale(locales)) GTEST_SKIP() << "no KOI8-R locale could be made (localedef, ru_RU source)";

  const std::string plain = dir / kKoi8Name;
  test::WriteFile(plain, std::string(5000, 'k') + "\n");
  const std::string packed = plain + ".vrk";
  const std::string restored = plain + ".out";

  const char* old = std::getenv("LOCPATH");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("LOCPATH", locales.c_str(), 1);
  const test::RunResult r = test::RunProgram(
      VORKA_EXE, {"cd", "/0:" + plain, "/1:" + packed, "/2:" + restored, "/go"}, "ru_RU.KOI8-R");
  if (old != nullptr)
    ::setenv("LOCPATH", saved.c_str(), 1);
  else
    ::unsetenv("LOCPATH");

  ASSERT_EQ(r.ExitStatus, 0);
  // The program's text is in KOI8-R: " Упаковка: " is F5 D0 C1 CB CF D7 CB C1.
  const std::string packing = " \xF5\xD0\xC1\xCB\xCF\xD7\xCB\xC1: ";
  EXPECT_NE(r.Stdout.find(packing + "\"" + plain + "\" -> \"" + packed + "\""), std::string::npos) << r.Stdout;
  // " Распаковка: " (F2 C1 D3 D0 C1 CB CF D7 CB C1).
  const std::string unpacking = " \xF2\xC1\xD3\xD0\xC1\xCB\xCF\xD7\xCB\xC1: ";
  EXPECT_NE(r.Stdout.find(unpacking + "\"" + packed + "\" -> \"" + restored + "\""), std::string::npos)
      << r.Stdout;
  // The comparison names both files between "Сравнение " and " и " (CE C9 CE ... ).
  EXPECT_NE(r.Stdout.find("\"" + plain + "\" \xC9 \"" + restored + "\"..."), std::string::npos) << r.Stdout;
  // "  Правильно." in KOI8-R: the round trip itself worked under that name.
  EXPECT_NE(r.Stdout.find("  \xF0\xD2\xC1\xD7\xC9\xCC\xD8\xCE\xCF.\n"), std::string::npos) << r.Stdout;
  EXPECT_EQ(r.Stdout.find('?'), std::string::npos) << r.Stdout;
}

}  // namespace
}  // namespace vorka

#endif  // _WIN32
