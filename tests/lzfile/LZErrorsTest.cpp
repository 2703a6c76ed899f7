// The error texts, copied by hand from the list of codes the program shows.
#include "lzfile/LZErrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>

namespace vorka {
namespace {

TEST(LZErrorText, EveryCodeHasItsFixedText) {
  const char* const expected[] = {
      "Нет ошибки",
      "Не хватает памяти для буферов чтения/записи файла",
      "Не размещены буфера чтения/записи файла",
      "Не могу открыть исходный файл для чтения",
      "Попытка перезаписать исходный файл",
      "Попытка перезаписать упакованный файл",
      "Не могу открыть исходный файл для записи",
      "Не могу открыть упакованный файл для записи",
      "Не могу открыть упакованный файл для чтения",
      "Нет заголовка в упакованном файле или это не упакованный файл",
      "Не могу записать данные в упакованный файл",
      "Не могу считать данные из упакованного файла",
      "Слишком маленький буфер для данных из упакованного файла",
      "Слишком маленький буфер для заголовка упакованного файла",
      "Не могу считать заголовок упакованного файла",
      "Неправильный заголовок упакованного файла",
      "Слишком большой заголовок упакованного файла",
      "Не могу считать данные из исходного файла",
      "Неподдерживаемая версия упакованного файла",
      "Не могу записать данные в исходный файл",
      "Недопустимый размер максимального фрагмента",
      "Недопустимый размер словаря",
      "Недостаточно памяти для размещения словаря",
      "Слишком большой суффикс упакованного файла",
      "Неверная контрольная сумма",
      "Не могу считать суффикс упакованного файла",
  };
  for (unsigned code = 0; code < 26; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ErrorText(static_cast<int>(code)), expected[code]);
  }
}

TEST(LZErrorText, UnknownCodesInBothLanguages) {
  for (const int code : {-1, 26, 255, 256, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ErrorText(code), "Неизвестная ошибка");
    EXPECT_STREQ(ErrorDescription(code), "unknown error");
  }
}

// A library user tells the codes apart by their English descriptions too.
TEST(LZErrorText, EveryCodeHasItsOwnEnglishDescription) {
  std::set<std::string> seen;
  for (int code = 0; code < 26; ++code) {
    SCOPED_TRACE(code);
    const std::string text = ErrorDescription(code);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; })) << text;
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
}

}  // namespace
}  // namespace vorka
