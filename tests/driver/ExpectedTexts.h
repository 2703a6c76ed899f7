// The console texts the bench must print, written out by hand (UTF-8), for
// comparing the program's output byte for byte.
#pragma once

#include <string>

namespace vorka::test {

inline const std::string kBanner =
    "\n"
    "Программа Vorkasteln запущена ...\n"
    "  !!!Определена директива компиляции: Fast1 - \n"
    "            включено неполное восстановление словаря при распаковке\n"
    "            и отсутствует возможность декодировки кода при упаковке.\n";

inline const std::string kParseStart = " Разбор командной строки...\n";
inline const std::string kParseEnd = " Завершен разбор командной строки.\n";

inline const std::string kUsage =
    "\n"
    "Использование программы:\n"
    "   vorka.exe команда [опции...]\n"
    " Команды:\n"
    "   c  - упаковать \"файл0\" в \"файл1\";\n"
    "   d  - распаковать \"файл0\" в \"файл1\";\n"
    "   \xD1\x81" "d - упаковать \"файл0\" в \"файл1\", распаковать в \"файл2\"\n"
    "        и сравнить \"файл0\" с \"файл2\".\n"
    " по умолчанию: \"файл0\"=test.txt, \"файл1\"=test._tx, \"файл2\"=test.!tx.\n"
    " Опции:\n"
    "  /0:файл0 - имя для \"файл0\".\n"
    "  /1:файл1 - имя для \"файл1\".\n"
    "  /2:файл2 - имя для \"файл2\".\n"
    "  /f:папка - имя рабочей папки. Используется, если имя файла не содержит пути.\n"
    "  /b:NNNN - размер буфера файла NNNN, 999<NNNN<2000001 по умолчанию 100000.\n"
    "  /l:NNNN - размер словаря NNNN, 499<NNNN<268435327 по умолчанию 100000.\n"
    "  /z:NNNN - макс. размер фрагмента NNNN, 3<NNNN<268435327 по умолчанию 100000.\n"
    "  /r:NN - повторить операцию NN раз (0<NN<101);\n"
    "  /go - не останавливаться в конце программы с предложением нажать Enter;\n"
    "Пример:\n"
    "   vorkast.exe cd /0:myfile.dat\n"
    "\n";

inline const std::string kClosing = "программа Vorkasteln завершена. ";
inline const std::string kPrompt = "  Нажмите Enter...";

inline const std::string kDefaultSizes = "  Размер словаря, симв.: 100000. Макс. длина фрагмента, симв.: 100000\n";

inline const std::string kCorrect = "  Правильно.\n";
inline const std::string kIncorrect = "  НЕправильно.\a\a\a\n";

}  // namespace vorka::test
