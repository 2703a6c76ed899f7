#include "LZErrors.h"

namespace vorka {

namespace {

constexpr const char* Texts[] = {
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
constexpr std::size_t TextCount = sizeof Texts / sizeof Texts[0];
static_assert(TextCount == 26);

// For callers who read English; the Russian texts above are the program's.
constexpr const char* Descriptions[] = {
    "no error",
    "not enough memory for the file buffers",
    "the file buffers are not allocated",
    "cannot open the source file for reading",
    "the restored file exists and may not be overwritten",
    "the packed file exists and may not be overwritten",
    "cannot open the restored file for writing",
    "cannot open the packed file for writing",
    "cannot open the packed file for reading",
    "not a packed file: no header",
    "cannot write the packed file",
    "cannot read the packed data, or the code stream is damaged",
    "the plain data exceed the output limit",
    "the header buffer is too small",
    "cannot read the packed file's header: it is cut short",
    "invalid header: wrong signature or name length",
    "the header is too large",
    "cannot read the source file in full, or it changed while being read",
    "unsupported version of the packed format",
    "cannot write the restored file",
    "invalid longest phrase (fragment limit) in the header",
    "invalid dictionary size in the header",
    "not enough memory for the dictionary",
    "the packed file's suffix is too large",
    "wrong end marker: the packed data are damaged",
    "cannot read the end marker: the packed data are cut short",
};
static_assert(sizeof Descriptions / sizeof Descriptions[0] == TextCount);

}  // namespace

std::string ErrorText(int code) {
  return code >= 0 && static_cast<std::size_t>(code) < TextCount ? Texts[code] : "Неизвестная ошибка";
}

const char* ErrorDescription(int code) noexcept {
  return code >= 0 && static_cast<std::size_t>(code) < TextCount ? Descriptions[code] : "unknown error";
}

}  // namespace vorka
