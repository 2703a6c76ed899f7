// Console text: conversion into the terminal's codeset and the writer.
#include "driver/Console.h"
#include "driver/Settings.h"

#include <gtest/gtest.h>

#include <string>

namespace vorka {
namespace {

TEST(AnsiToOem, RussianLineToCp866) {
  // Hand-coded from the CP866 table: А-П 80-8F, а-п A0-AF, р-я E0-EF.
  const std::string expected =
      "\x8F\xE0\xAE\xA3\xE0\xA0\xAC\xAC\xA0 Vorkasteln \xA7\xA0\xAF\xE3\xE9\xA5\xAD\xA0 ...";
  EXPECT_EQ(ConvertToCodeset("Программа Vorkasteln запущена ...", "CP866"), expected);
}

TEST(AnsiToOem, CodesetsAndUnshowableCharacters) {
  const struct {
    const char* Title;
    std::string Text;
    std::string Codeset;
    std::string Expected;
  } cases[] = {
      {"UTF-8 passes unchanged", "Правильно.\a", "UTF-8", "Правильно.\a"},
      {"C locale passes unchanged", "Правильно.", "ANSI_X3.4-1968", "Правильно."},
      {"empty text", "", "CP866", ""},
      {"BEL passes through", "\a\x8F", "UTF-8", "\a\x8F"},
      {"BEL inside a converted text", "\aНЕ", "CP866", "\a\x8D\x85"},
      {"yo in CP866", "ёЁ", "CP866", "\xF1\xF0"},
      {"KOI8-R", "Да", "KOI8-R", "\xE4\xC1"},
      {"CP1251", "Да", "CP1251", "\xC4\xE0"},
      {"euro sign not in CP866", "a€b", "CP866", "a?b"},
      {"invalid UTF-8 byte", "a\xFFЯ", "CP866", "a?\x9F"},
      {"cut sequence at the end", "Я\xD0", "CP866", "\x9F?"},
      {"lead byte without continuation", "\xD0" "a", "CP866", "?a"},
      {"unknown codeset leaves the text", "Да", "NO-SUCH-CODESET", "Да"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Title);
    EXPECT_EQ(ConvertToCodeset(c.Text, c.Codeset), c.Expected);
  }
}

TEST(AnsiToOem, ParserMessagesInCp866) {
  TTestSettings s;
  TConsoleCapture capture("CP866");
  ParseCommandLine(s, {"c", "/r:\xD1\x8F"}, "/x/vorka");
  // " Разбор командной строки...", the rejected argument as typed (UTF-8 я),
  // " Завершен разбор командной строки."
  const std::string expected =
      " \x90\xA0\xA7\xA1\xAE\xE0 \xAA\xAE\xAC\xA0\xAD\xA4\xAD\xAE\xA9 \xE1\xE2\xE0\xAE\xAA\xA8...\n"
      "    !\xAD\xA5\xAF\xE0\xA0\xA2\xA8\xAB\xEC\xAD\xAE\xA5 \xE7\xA8\xE1\xAB\xAE:/r:\xD1\x8F\n"
      " \x87\xA0\xA2\xA5\xE0\xE8\xA5\xAD \xE0\xA0\xA7\xA1\xAE\xE0 \xAA\xAE\xAC\xA0\xAD\xA4\xAD\xAE\xA9 "
      "\xE1\xE2\xE0\xAE\xAA\xA8.\n";
  EXPECT_EQ(capture.Output(), expected);
}

TEST(ConsoleWriter, NumbersAndLongOutput) {
  TConsoleCapture capture;
  Console().Unsigned(0).Char(' ').Unsigned(18446744073709551615u).Char(' ').Signed(-9223372036854775807 - 1)
      .Char(' ').Signed(42);
  const std::string big(10000, 'z');  // more than the writer's buffer
  Console().Raw(big);
  EXPECT_EQ(capture.Output(), "0 18446744073709551615 -9223372036854775808 42" + big);
}

}  // namespace
}  // namespace vorka
