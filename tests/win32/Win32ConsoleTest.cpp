// Console text on Windows: the program's UTF-8 texts reach the console
// through Windows-1251 and CharToOemBuffA, and a text that is no UTF-8 (a
// file name typed in the ANSI code page) is converted as it stands. Expected
// bytes are code page 866, written out by hand.
#include <gtest/gtest.h>

#include <string>

#include "driver/Console.h"
#include "platform/Codeset.h"

namespace vorka {
namespace {

TEST(Win32Console, TextsReachTheConsoleInItsOemCodePage) {
  const std::string oem = platform::LocaleCodeset();
  if (oem != "CP866") GTEST_SKIP() << "the console's code page is " << oem << ", not 866";
  const struct {
    const char* Label;
    std::string Text;
    std::string Expected;
  } cases[] = {
      {"UTF-8 Russian", "файл0 Ёж", "\xE4\xA0\xA9\xAB" "0 \xF0\xA6"},
      {"ANSI name (1251)", "\xF4\xE0\xE9\xEB.txt", "\xE4\xA0\xA9\xAB.txt"},
      {"BEL passes unchanged", "\a  ОШИБКА", "\a  \x8E\x98\x88\x81\x8A\x80"},
      {"no 1251 form", "中x", "?x"},
      {"plain ASCII", "test.!tx", "test.!tx"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string out = "untouched";
    ASSERT_TRUE(platform::ConvertFromUtf8(c.Text, oem, out));
    EXPECT_EQ(out, c.Expected);
    EXPECT_EQ(AnsiToOem(c.Text), c.Expected);
  }
}

TEST(Win32Console, NamesAreAnsiEvenWhenTheyReadAsUtf8) {
  const std::string oem = platform::LocaleCodeset();
  if (oem != "CP866") GTEST_SKIP() << "the console's code page is " << oem << ", not 866";
  const struct {
    const char* Label;
    std::string Name;
    std::string Expected;
  } cases[] = {
      {"ANSI name (1251)", "\xF4\xE0\xE9\xEB.txt", "\xE4\xA0\xA9\xAB.txt"},
      // C6 B8 is "Жё" in 1251 but also valid UTF-8 (U+01B8, which 1251 has
      // not); taken as a program text it would come out as "?".
      {"1251 bytes that are also UTF-8", "\xC6\xB8.txt", "\x86\xF1.txt"},
      {"plain ASCII", "C:\\data\\test.!tx", "C:\\data\\test.!tx"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(platform::NameForConsole(c.Name), c.Expected);
  }
}

TEST(Win32Console, NamedCodesetsAndUnknownOnes) {
  const struct {
    const char* Codeset;
    std::string Expected;
  } cases[] = {
      {"CP1251", "\xF4\xE0\xE9\xEB"},
      {"KOI8-R", "\xC6\xC1\xCA\xCC"},
      {"UTF-8", "файл"},
      {"ANSI_X3.4-1968", "????"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Codeset);
    std::string out;
    ASSERT_TRUE(platform::ConvertFromUtf8("файл", c.Codeset, out));
    EXPECT_EQ(out, c.Expected);
  }
  std::string out = "untouched";
  EXPECT_FALSE(platform::ConvertFromUtf8("файл", "NO-SUCH-CODESET", out));
  EXPECT_EQ(out, "untouched");
}

}  // namespace
}  // namespace vorka
