#include "Compare.h"

#include "Console.h"
#include "../platform/File.h"

#include <memory>
#include <new>

namespace vorka {

namespace {

void WritePair(const std::uint8_t* a, const std::uint8_t* b, std::size_t k) {
  Console().Unsigned(a[k]).Raw(" : ").Unsigned(b[k]);
}

void ReportMismatch(const std::uint8_t* a, const std::uint8_t* b, std::size_t k, std::size_t blockSize,
                    std::uint64_t offset) {
  Console().EndLine().Text("Несовпадение на байте номер (нумерация с нуля): ").Unsigned(offset + k).EndLine();
  if (k > 0) {
    WritePair(a, b, k - 1);
    Console().Raw(", ").Flush();
  }
  WritePair(a, b, k);
  Console().Flush();
  if (k + 1 < blockSize) {
    Console().Raw(", ");
    WritePair(a, b, k + 1);
    Console().Flush();
  }
}

void ReportCannotOpen(const std::string& name) {
  Console().EndLine().Char(kBel).Text(" ОШИБКА: Не могу открыть для чтения: ").Name(name).EndLine();
}

}  // namespace

std::size_t FirstDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i + 1;
  return 0;
}

bool CompareFiles(const std::string& name1, const std::string& name2, std::int32_t bufSize) {
  Console().Text(" Проверка. Сравнение ").Raw("\"").Name(name1).Text("\" и \"").Name(name2).Raw("\"...");
  Console().Flush();

  bool result = false;
  const auto size = static_cast<std::size_t>(bufSize > 0 ? bufSize : 0);
  std::unique_ptr<std::uint8_t[]> buf1(size > 0 ? new (std::nothrow) std::uint8_t[size] : nullptr);
  std::unique_ptr<std::uint8_t[]> buf2(size > 0 ? new (std::nothrow) std::uint8_t[size] : nullptr);
  if (!buf1 || !buf2) {
    Console().EndLine().Char(kBel).Text(" ОШИБКА: Недостаточно памяти для буферов.").EndLine();
  } else {
    bool same = true;
    platform::TFile file1;
    platform::TFile file2;
    if (!platform::OpenRead(file1, name1)) {
      same = false;
      ReportCannotOpen(name1);
    }
    // Both opens are always tried, so both failures get their line.
    if (!platform::OpenRead(file2, name2)) {
      same = false;
      ReportCannotOpen(name2);
    }

    // A file compared with itself proves nothing about the round trip.
    if (same && platform::IsSameFile(file1, file2)) same = false;

    std::uint64_t compared = 0;
    std::uint32_t got1 = 1;
    while (same && got1 > 0) {
      got1 = platform::Read(file1, buf1.get(), static_cast<std::uint32_t>(size));
      const std::uint32_t got2 = platform::Read(file2, buf2.get(), static_cast<std::uint32_t>(size));
      if (got1 != got2) {
        same = false;  // the lengths differ; no byte report
      } else if (got1 > 0) {
        const std::size_t diff = FirstDifference(buf1.get(), buf2.get(), got1);
        if (diff != 0) {
          ReportMismatch(buf1.get(), buf2.get(), diff - 1, got1, compared);
          same = false;
        } else {
          compared += got1;
        }
      }
    }
    result = same && got1 == 0;
    if (file1.IsOpen()) platform::Close(file1);
    if (file2.IsOpen()) platform::Close(file2);
  }
  Console().Text(" завершено.").EndLine();
  return result;
}

}  // namespace vorka
