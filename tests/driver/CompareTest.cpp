// The file comparison: results and the exact bytes of its report.
#include "driver/Compare.h"
#include "driver/Console.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vorka {
namespace {

using test::ScratchDir;
using test::WriteFile;

std::string WithByte(std::string s, std::size_t pos, unsigned char value) {
  s[pos] = static_cast<char>(value);
  return s;
}

std::string Byte(const std::string& s, std::size_t pos) {
  return std::to_string(static_cast<unsigned char>(s[pos]));
}

struct CompareCase {
  const char* Title;
  std::optional<std::string> First, Second;  // nullopt: the file is missing
  std::int32_t BufSize;
  bool Result;
  std::string Middle;  // what follows the header and precedes " завершено."
};

TEST(CompareFiles, TableOfFilePairs) {
  const std::string block = test::MakeRandom(100000, 1);
  const std::string two = test::MakeRandom(200000, 2);
  const std::string hundred = test::MakeRandom(100, 3);
  const std::string abc = std::string("xxxxABCxx");
  const std::string mismatch = "\nНесовпадение на байте номер (нумерация с нуля): ";

  const std::string lastOfBlock = WithByte(two, 99999, static_cast<unsigned char>(two[99999] ^ 0x55));
  const std::string firstOfSecond = WithByte(two, 100000, static_cast<unsigned char>(two[100000] ^ 0x01));
  const std::string first = WithByte(two, 0, static_cast<unsigned char>(two[0] ^ 0x80));

  const CompareCase cases[] = {
      {"two empty files", "", "", 100000, true, ""},
      {"equal, one whole block", block, block, 100000, true, ""},
      {"equal, two whole blocks", two, two, 100000, true, ""},
      {"equal, small buffer", hundred, hundred, 7, true, ""},
      {"worked example at 5", abc, "xxxxAXCxx", 100000, false, mismatch + "5\n65 : 65, 66 : 88, 67 : 67"},
      {"difference at position 0", two, first, 100000, false,
       mismatch + "0\n" + Byte(two, 0) + " : " + Byte(first, 0) + ", " + Byte(two, 1) + " : " + Byte(first, 1)},
      {"difference at the last byte of a block", two, lastOfBlock, 100000, false,
       mismatch + "99999\n" + Byte(two, 99998) + " : " + Byte(two, 99998) + ", " + Byte(two, 99999) + " : " +
           Byte(lastOfBlock, 99999)},
      {"difference at the first byte of the second block", two, firstOfSecond, 100000, false,
       mismatch + "100000\n" + Byte(two, 100000) + " : " + Byte(firstOfSecond, 100000) + ", " + Byte(two, 100001) +
           " : " + Byte(two, 100001)},
      {"one-byte files differ", "a", "b", 100000, false, mismatch + "0\n97 : 98"},
      {"100 against 101 bytes", hundred, hundred + "z", 100000, false, ""},
      {"101 against 100 bytes", hundred + "z", hundred, 100000, false, ""},
      {"empty against one byte", "", "q", 100000, false, ""},
      {"missing first file", std::nullopt, hundred, 100000, false,
       "\n\a ОШИБКА: Не могу открыть для чтения: @1\n"},
      {"missing second file", hundred, std::nullopt, 100000, false,
       "\n\a ОШИБКА: Не могу открыть для чтения: @2\n"},
      {"both missing", std::nullopt, std::nullopt, 100000, false,
       "\n\a ОШИБКА: Не могу открыть для чтения: @1\n\n\a ОШИБКА: Не могу открыть для чтения: @2\n"},
      {"no buffer size", hundred, hundred, 0, false, "\n\a ОШИБКА: Недостаточно памяти для буферов.\n"},
  };
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(c.Title);
    ScratchDir dir;
    const std::string name1 = dir / "a file.txt";
    const std::string name2 = dir / "файл.!tx";
    if (c.First) WriteFile(name1, *c.First);
    if (c.Second) WriteFile(name2, *c.Second);

    std::string middle = c.Middle;
    for (auto [mark, name] : {std::pair{"@1", name1}, std::pair{"@2", name2}})
      if (auto at = middle.find(mark); at != std::string::npos) middle.replace(at, 2, name);
    const std::string expected = " Проверка. Сравнение \"" + name1 + "\" и \"" + name2 + "\"..." + middle +
                                 " завершено.\n";
    TConsoleCapture capture;
    EXPECT_EQ(CompareFiles(name1, name2, c.BufSize), c.Result);
    EXPECT_EQ(capture.Output(), expected);
  }
}

TEST(CompareFiles, DirectoryCountsAsMissing) {
  ScratchDir dir;
  WriteFile(dir / "x", "x");
  TConsoleCapture capture;
  EXPECT_FALSE(CompareFiles(dir.Path().string(), dir / "x", 100000));
  EXPECT_NE(capture.Output().find("Не могу открыть для чтения: " + dir.Path().string() + "\n"), std::string::npos);
}

TEST(FirstDifference, Positions) {
  const std::uint8_t a[] = {1, 2, 3, 4, 5};
  const std::uint8_t b[] = {1, 2, 3, 4, 5};
  const std::uint8_t c[] = {9, 2, 3, 4, 5};
  const std::uint8_t d[] = {1, 2, 3, 4, 6};
  EXPECT_EQ(FirstDifference(a, b, 5), 0u);
  EXPECT_EQ(FirstDifference(a, b, 1), 0u);
  EXPECT_EQ(FirstDifference(a, c, 5), 1u);
  EXPECT_EQ(FirstDifference(a, d, 5), 5u);
  EXPECT_EQ(FirstDifference(a, d, 4), 0u);
}

}  // namespace
}  // namespace vorka
