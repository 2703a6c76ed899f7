#include "TimedRuns.h"

#include "Console.h"
#include "Format.h"
#include "../lzfile/LZFile.h"
#include "../platform/Clock.h"
#include "../platform/File.h"

#include <cmath>

namespace vorka {

namespace {

constexpr std::uint32_t kNoSize = 4294967295u;

void WriteHeader(const char* title, const std::string& from, const std::string& to, std::uint16_t runCount) {
  Console().Text(title).Raw("\"").Name(from).Raw("\" -> \"").Name(to).Raw("\"")
      .Text(" (повтор, раз: ").Unsigned(runCount).Raw(")...");
  Console().Flush();
}

// Ends the header line; prints the error line and returns false when the last
// run failed.
bool Finished(const TLZFile& file) {
  Console().Text(" завершено.").EndLine();
  if (file.ErrorCode() == 0) return true;
  // The blank and the message are converted together; built with += because
  // g++ 12 warns falsely (-Wrestrict) on " " + std::string.
  std::string message = " ";
  message += file.ErrorMessage();
  Console().Char(kBel).Text("  ОШИБКА: ").Unsigned(file.ErrorCode()).Text(message).EndLine();
  return false;
}

// "time per run; speed." for a series of runs runs over elapsed ms.
void WriteTiming(const char* timeText, std::uint32_t elapsed, std::uint32_t runs, std::uint32_t plainSize) {
  const long double ms = static_cast<long double>(elapsed);
  const long double n = static_cast<long double>(runs);
  Console().Text(timeText).Raw(FormatFixed(ms / n, 2, 2)).Raw(";");
  Console().Flush();
  const long double speed = static_cast<long double>(plainSize) / ms * n * 1000.0L;
  Console().Text(" Скорость, байт/с: ").Raw(FormatFixed(speed, 2, 0)).Raw(".").EndLine();
}

// Elapsed milliseconds since start, never 0: a series shorter than the
// timer's resolution counts as 1 ms.
std::uint32_t ElapsedSince(std::uint32_t start) {
  const std::uint32_t elapsed = platform::MilliTicks() - start;
  return elapsed == 0 ? 1u : elapsed;
}

}  // namespace

std::uint32_t WaitNextTick() {
  const std::uint32_t first = platform::MilliTicks();
  std::uint32_t now = first;
  while (now == first) now = platform::MilliTicks();
  return now;
}

std::uint32_t FileSizeByName(const std::string& name) {
  platform::TFile file;
  if (!platform::OpenRead(file, name)) return kNoSize;
  const std::int64_t length = platform::Length(file);
  platform::Close(file);
  if (length < 0 || length > static_cast<std::int64_t>(kNoSize)) return kNoSize;
  return static_cast<std::uint32_t>(length);
}

void PackTimed(TLZFile& file, std::uint16_t runCount, const std::string& sourceName, const std::string& packedName) {
  WriteHeader(" Упаковка: ", sourceName, packedName, runCount);
  file.SetFlag(lfOverwritePacked);
  const std::uint32_t runs = runCount == 0 ? 1u : runCount;

  const std::uint32_t start = WaitNextTick();
  for (std::uint32_t i = 0; i < runs; ++i) file.PackFile(sourceName, packedName);
  const std::uint32_t elapsed = ElapsedSince(start);

  if (!Finished(file)) return;
  const std::uint32_t sizePacked = FileSizeByName(packedName);
  const std::uint32_t sizeSource = FileSizeByName(sourceName);
  WriteTiming("  Время на 1 упаковку, мс: ", elapsed, runs, sizeSource);

  // An empty source has no size ratio; 0 says so without dividing by zero.
  const long double sizeRatio =
      sizeSource == 0 ? 0.0L : static_cast<long double>(sizePacked) / static_cast<long double>(sizeSource);
  Console().Text("  Отношение (Размер упакованного файла)/(Размер исходного): ")
      .Raw(FormatFixed(sizeRatio, 2, 4)).EndLine();
  const double dataRatio = file.Ratio();
  Console().Text("  Степень сжатия данных (упакованные)/(исходные): ")
      .Raw(FormatFixed(std::isfinite(dataRatio) ? dataRatio : 0.0, 2, 4)).EndLine();
  const std::uint32_t resets = file.ResetCount();
  const std::uint32_t longest = file.LongestFragment();
  Console().Text("  Сбросов словаря: ").Unsigned(resets)
      .Text(". Макс. длина фрагмента: ").Unsigned(longest).EndLine();
}

void UnpackTimed(TLZFile& file, std::uint16_t runCount, const std::string& packedName, const std::string& targetName,
                 const std::string* keepName) {
  WriteHeader(" Распаковка: ", packedName, targetName, runCount);
  file.SetFlag(lfOverwriteSource);
  const std::uint32_t runs = runCount == 0 ? 1u : runCount;
  const bool ontoKept = keepName != nullptr && platform::IsSameFile(*keepName, targetName);

  const std::uint32_t start = WaitNextTick();
  for (std::uint32_t i = 0; i < runs; ++i) {
    if (ontoKept) {
      file.SetError(lzeNone);
      file.SetError(lzeOpenSourceWrite);
    } else {
      file.UnpackFile(packedName, targetName);
    }
  }
  const std::uint32_t elapsed = ElapsedSince(start);

  if (!Finished(file)) return;
  WriteTiming("  Время на 1 распаковку, мс: ", elapsed, runs, FileSizeByName(targetName));
}

}  // namespace vorka
