#include "MainFlow.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Compare.h"
#include "Console.h"
#include "Settings.h"
#include "TimedRuns.h"
#include "../lzfile/LZFile.h"
#include "../platform/Console.h"

namespace vorka {

namespace {

// The program's one compressed-file object, in static storage: zero bytes
// are its "not created" state, and Init makes it ready.
TLZFile LZFile;

constexpr std::int32_t kCompareBufSize = 100000;

// The packer's child index, from VORKA_INDEX: unset, empty or "tree" gives
// the child trees, "hash" the hash index. Both write the same packed files,
// so an unknown value only costs speed: it is named on standard error and the
// trees are used.
TChildIndex IndexFromEnvironment() {
  const char* value = std::getenv("VORKA_INDEX");
  if (value == nullptr || *value == '\0' || std::strcmp(value, "tree") == 0) return TChildIndex::Tree;
  if (std::strcmp(value, "hash") == 0) return TChildIndex::Hash;
  std::fputs("vorka: VORKA_INDEX is neither \"tree\" nor \"hash\"; packing with \"tree\"\n", stderr);
  std::fflush(stderr);
  return TChildIndex::Tree;
}

void WriteBanner() {
  TConsole& out = Console();
  out.EndLine();
  out.Text("Программа Vorkasteln запущена ...");
  out.Flush();
  out.EndLine();
  out.Text("  !!!Определена директива компиляции: Fast1 - ").EndLine();
  out.Text("            включено неполное восстановление словаря при распаковке").EndLine();
  out.Text("            и отсутствует возможность декодировки кода при упаковке.").EndLine();
}

void RunCommand(const TTestSettings& s) {
  // A failed Init is not tested here: the object keeps its error, and every
  // run then reports it.
  LZFile.Init(static_cast<std::uint32_t>(s.BufSize), static_cast<std::uint32_t>(s.DicSize),
              static_cast<std::uint32_t>(s.MaxFrag));
  Console().Text("  Размер словаря, симв.: ").Unsigned(LZFile.DictionarySize())
      .Text(". Макс. длина фрагмента, симв.: ").Unsigned(LZFile.MaxFragment()).EndLine();

  switch (s.Command) {
    case cmdPack:
      PackTimed(LZFile, s.RepeatCount, s.File0, s.File1);
      break;
    case cmdUnpack:
      // The restored file is File2, whatever the usage line for d says.
      UnpackTimed(LZFile, s.RepeatCount, s.File0, s.File2);
      break;
    case cmdPackUnpackCompare:
      // All three steps run even when one before has failed.
      PackTimed(LZFile, s.RepeatCount, s.File0, s.File1);
      UnpackTimed(LZFile, s.RepeatCount, s.File1, s.File2, &s.File0);
      if (CompareFiles(s.File0, s.File2, kCompareBufSize))
        Console().Text("  Правильно.").EndLine();
      else
        Console().Text("  НЕправильно.").Raw("\a\a\a").EndLine();
      break;
    default:
      break;
  }
}

}  // namespace

int RunBench(const std::vector<std::string>& args, const std::string& exePath) {
  LZFile.Index = IndexFromEnvironment();
  LZFile.LargePages = true;
  WriteBanner();
  ParseCommandLine(Settings, args, exePath);
  if (Settings.Command == cmdNone)
    PrintUsage();
  else
    RunCommand(Settings);

  Console().Text("программа Vorkasteln завершена. ");
  Console().Flush();
  if (!Settings.Has(optNoWait)) {
    Console().Text("  Нажмите Enter...");
    Console().Flush();
    // A script's input is not ours to take: only a person at a terminal is waited for.
    std::string line;
    if (platform::StdinIsTerminal()) platform::ReadStdinLine(line);
  }
  Console().Flush();
  return 0;
}

}  // namespace vorka
