// The command-line parser and the usage text.
#include "Console.h"
#include "Settings.h"
#include "../platform/Path.h"

#include <array>
#include <cstddef>
#include <utility>

namespace vorka {

TTestSettings Settings;

namespace {

constexpr std::size_t kMaxFolderLength = 65535;
constexpr std::size_t kMaxNumberLength = 255;

// Options in the order their prefixes are tried; the index is the used mark.
enum TOption : std::size_t { opFile0, opFile1, opFile2, opFolder, opBuf, opDic, opFrag, opRepeat, opCount };
constexpr std::array<const char*, opCount> kPrefixes = {"/0:", "/1:", "/2:", "/f:", "/b:", "/l:", "/z:", "/r:"};

// Texts of the numeric options pulled to a limit.
struct TLimitTexts {
  std::int32_t Min, Max;
  const char* TooSmall;
  const char* UsingMin;
  const char* TooLarge;
  const char* UsingMax;
  const char* Confirm;
};

const TLimitTexts kBufTexts = {kMinBufSize, kMaxBufSize,
                               "    буфер слишком мал: ", ", использую минимальный: ",
                               "    буфер слишком велик: ", ", использую максимальный: ",
                               "  использую буфер, байт: "};
const TLimitTexts kDicTexts = {kMinDicSize, kMaxDicSize,
                               "    словарь слишком мал: ", ", использую минимальный: ",
                               "    словарь слишком велик: ", ", использую максимальный: ",
                               "  использую словарь, символов: "};
const TLimitTexts kFragTexts = {kMinMaxFrag, kMaxMaxFrag,
                                "    длина фрагмента слишком мала: ", ", использую минимальную: ",
                                "    длина фрагмента слишком велика: ", ", использую максимальную: ",
                                "  макс.длина фрагмента, символов: "};

bool IsHexDigit(char c, unsigned& digit) {
  if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
  else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
  else return false;
  return true;
}

// The rejected argument is shown exactly as typed, without conversion.
void ReportBadNumber(const char* text, const std::string& arg) {
  Console().Text(text).Raw(arg).EndLine();
}

// /b:, /l:, /z: — converts, pulls to the limits with a warning, confirms.
void TakeLimited(const std::string& arg, std::int32_t& field, const TLimitTexts& t, TTestSettings& settings) {
  std::int32_t value = 0;
  if (!ParseNumber(arg.substr(3, kMaxNumberLength), value)) {
    ReportBadNumber("    !неправильное число:", arg);
    settings.Command = cmdNone;
    return;
  }
  if (value < t.Min) {
    Console().Char(kBel).Text(t.TooSmall).Signed(value).Text(t.UsingMin).Signed(t.Min).EndLine();
    value = t.Min;
  } else if (value > t.Max) {
    Console().Char(kBel).Text(t.TooLarge).Signed(value).Text(t.UsingMax).Signed(t.Max).EndLine();
    value = t.Max;
  }
  field = value;
  Console().Text(t.Confirm).Signed(value).EndLine();
}

void TakeRepeat(const std::string& arg, TTestSettings& settings) {
  std::int32_t value = 0;
  if (!ParseNumber(arg.substr(3, kMaxNumberLength), value)) {
    ReportBadNumber("    !неправильное число:", arg);
    settings.Command = cmdNone;
    return;
  }
  if (value < 0 || value > kMaxRepeatCount) {
    // Rejected, but the command still runs with the count it had.
    ReportBadNumber("    !недопустимое число:", arg);
    return;
  }
  settings.RepeatCount = static_cast<std::uint16_t>(value);
}

// A file name is used whole or not at all: cut short, it could name another,
// existing file, which the run would then overwrite.
void TakeName(const std::string& arg, std::string& field, TTestSettings& settings) {
  field = arg.substr(3);
  if (field.size() > platform::MaxNameLength()) settings.Command = cmdNone;
}

void TakeOption(TOption option, const std::string& arg, TTestSettings& settings) {
  switch (option) {
    case opFile0: TakeName(arg, settings.File0, settings); break;
    case opFile1: TakeName(arg, settings.File1, settings); break;
    case opFile2: TakeName(arg, settings.File2, settings); break;
    case opFolder: settings.WorkFolder = arg.substr(3, kMaxFolderLength); break;
    case opBuf: TakeLimited(arg, settings.BufSize, kBufTexts, settings); break;
    case opDic: TakeLimited(arg, settings.DicSize, kDicTexts, settings); break;
    case opFrag: TakeLimited(arg, settings.MaxFrag, kFragTexts, settings); break;
    case opRepeat: TakeRepeat(arg, settings); break;
    case opCount: break;
  }
}

}  // namespace

bool ParseNumber(const std::string& text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;

  std::uint64_t magnitude = 0;
  // Decimal: the most negative value is one beyond the largest positive one.
  const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 2147483648u : 2147483647u);
  for (; i < text.size(); ++i) {
    unsigned digit = 0;
    if (hex) {
      if (!IsHexDigit(text[i], digit)) return false;
      magnitude = magnitude * 16 + digit;
    } else {
      if (text[i] < '0' || text[i] > '9') return false;
      digit = static_cast<unsigned>(text[i] - '0');
      magnitude = magnitude * 10 + digit;
    }
    if (magnitude > limit) return false;  // checked per digit, so no overflow of 64 bits
  }
  // Two's complement in unsigned arithmetic: $FFFFFFFF is -1, -$10 is -16.
  std::uint32_t pattern = static_cast<std::uint32_t>(magnitude);
  if (negative) pattern = 0u - pattern;
  value = static_cast<std::int32_t>(pattern);
  return true;
}

std::string FolderOf(const std::string& path) { return path.substr(0, platform::NameStart(path)); }

void AddWorkFolder(std::string& name, const std::string& folder) {
  if (platform::HoldsPathPart(name)) return;
  const char delimiter = platform::JoinDelimiter();
  std::string joined = folder;
  if (joined.empty() || joined.back() != delimiter) joined.push_back(delimiter);
  joined += name;
  name = std::move(joined);
}

void ParseCommandLine(TTestSettings& settings, const std::vector<std::string>& args, const std::string& exePath) {
  settings = TTestSettings{};
  settings.WorkFolder = FolderOf(exePath);
  if (args.empty()) return;

  Console().Text(" Разбор командной строки...").EndLine();
  const std::string& command = args[0];
  if (command == "c") settings.Command = cmdPack;
  else if (command == "d") settings.Command = cmdUnpack;
  else if (command == "cd") settings.Command = cmdPackUnpackCompare;

  std::array<bool, opCount> used{};
  bool goUsed = false;
  for (std::size_t a = 1; a < args.size(); ++a) {
    const std::string& arg = args[a];
    const std::string prefix = arg.substr(0, 3);
    bool handled = false;
    for (std::size_t op = 0; op < opCount && !handled; ++op) {
      if (used[op] || prefix != kPrefixes[op]) continue;
      // Marked before the value is read: a second occurrence is a repeat even
      // when the first one's value was wrong.
      used[op] = true;
      handled = true;
      TakeOption(static_cast<TOption>(op), arg, settings);
    }
    if (handled) continue;
    if (!goUsed && prefix == "/go") {
      settings.Options = static_cast<std::uint8_t>(settings.Options | (1u << optNoWait));
      goUsed = true;
    } else {
      settings.Command = cmdNone;
    }
  }

  AddWorkFolder(settings.File0, settings.WorkFolder);
  AddWorkFolder(settings.File1, settings.WorkFolder);
  AddWorkFolder(settings.File2, settings.WorkFolder);
  Console().Text(" Завершен разбор командной строки.").EndLine();
}

namespace {

void UsageRangeLine(const char* text, std::int32_t min, std::int32_t max) {
  Console().Text(text).Signed(min - 1).Raw("<NNNN<").Signed(std::int64_t{max} + 1)
      .Text(" по умолчанию ").Signed(100000).Raw(".").EndLine();
}

}  // namespace

void PrintUsage() {
  TConsole& out = Console();
  out.EndLine();
  out.Text("Использование программы:").EndLine();
  out.Text("   vorka.exe команда [опции...]").EndLine();
  out.Text(" Команды:").EndLine();
  out.Text("   c  - упаковать \"файл0\" в \"файл1\";").EndLine();
  out.Text("   d  - распаковать \"файл0\" в \"файл1\";").EndLine();
  // The first letter here is the Cyrillic es, as the text has always shown it.
  out.Text("   сd - упаковать \"файл0\" в \"файл1\", распаковать в \"файл2\"").EndLine();
  out.Text("        и сравнить \"файл0\" с \"файл2\".").EndLine();
  out.Text(" по умолчанию: \"файл0\"=").Text("test.txt").Text(", \"файл1\"=").Text("test._tx")
      .Text(", \"файл2\"=").Text("test.!tx").Raw(".").EndLine();
  out.Text(" Опции:").EndLine();
  out.Text("  /0:файл0 - имя для \"файл0\".").EndLine();
  out.Text("  /1:файл1 - имя для \"файл1\".").EndLine();
  out.Text("  /2:файл2 - имя для \"файл2\".").EndLine();
  out.Text("  /f:папка - имя рабочей папки. Используется, если имя файла не содержит пути.").EndLine();
  UsageRangeLine("  /b:NNNN - размер буфера файла NNNN, ", kMinBufSize, kMaxBufSize);
  UsageRangeLine("  /l:NNNN - размер словаря NNNN, ", kMinDicSize, kMaxDicSize);
  UsageRangeLine("  /z:NNNN - макс. размер фрагмента NNNN, ", kMinMaxFrag, kMaxMaxFrag);
  out.Text("  /r:NN - повторить операцию NN раз (0<NN<101);").EndLine();
  out.Text("  /go - не останавливаться в конце программы с предложением нажать Enter;").EndLine();
  out.Text("Пример:").EndLine();
  out.Raw("   vorkast.exe cd /0:myfile.dat").EndLine();
  out.EndLine();
}

}  // namespace vorka
