// The bench's settings record and the command line that fills it.
//
// Command line: a command word (c, d or cd) and options, each recognised by
// its first three characters. Every option may be given once; anything the
// parser cannot use leaves Command at cmdNone, and the main flow then prints
// the usage text instead of running.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../codec/LZTypes.h"

namespace vorka {

enum : std::uint8_t { cmdNone = 0, cmdPack = 1, cmdUnpack = 2, cmdPackUnpackCompare = 3 };

// Bits of TTestSettings::Options.
enum : std::uint8_t { optNoWait = 0 };

inline constexpr std::int32_t kMinBufSize = 1000;
inline constexpr std::int32_t kMaxBufSize = 2000000;
inline constexpr std::int32_t kMinDicSize = MinDictionarySize;
inline constexpr std::int32_t kMaxDicSize = MaxDictionarySize;
inline constexpr std::int32_t kMinMaxFrag = MinFragmentLength;
inline constexpr std::int32_t kMaxMaxFrag = MaxDictionarySize;
inline constexpr std::int32_t kMaxRepeatCount = 100;

struct TTestSettings {
  std::string File0 = "test.txt";  // source; reference of the comparison
  std::string File1 = "test._tx";  // packed file
  std::string File2 = "test.!tx";  // restored file
  std::string WorkFolder;          // prefixed to names without a path; ends in the delimiter
  std::uint8_t Command = cmdNone;
  std::int32_t BufSize = 100000;
  std::int32_t DicSize = 100000;
  std::int32_t MaxFrag = kMaxMaxFrag;
  std::uint16_t RepeatCount = 1;
  std::uint8_t Options = 0;        // set of opt* bits

  bool Has(std::uint8_t option) const { return (Options >> option) & 1u; }
};

// The program's one settings record.
extern TTestSettings Settings;

// Fills settings from args (the words after the program's name) and prints
// the progress lines and warnings. exePath is the running program's file;
// its folder is the default work folder. Never fails: an unusable command
// line leaves Command at cmdNone. With no args nothing is printed and the
// names stay bare.
void ParseCommandLine(TTestSettings& settings, const std::vector<std::string>& args,
                      const std::string& exePath);

// Writes the usage text.
void PrintUsage();

// Prefixes folder (and the system's delimiter, "/" or "\", unless it ends in
// one) to a name that holds no path part; a name with a path part stays as it
// is.
void AddWorkFolder(std::string& name, const std::string& folder);

// The folder part of a path: everything up to and including its last
// delimiter; empty when there is none.
std::string FolderOf(const std::string& path);

// Converts a number as the options take it: leading blanks, an optional sign,
// then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or
// "0X". Decimal values must fit a signed 32-bit integer; hexadecimal values
// up to 0xFFFFFFFF are taken as the 32-bit pattern. False (value unchanged)
// for an empty text, any other character or a value beyond 32 bits.
bool ParseNumber(const std::string& text, std::int32_t& value);

}  // namespace vorka
