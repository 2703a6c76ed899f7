// The command-line parser as a table: each row a command line, the settings
// it must give and the exact bytes it must print.
#include "driver/Console.h"
#include "driver/Settings.h"
#include "ExpectedTexts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorka {
namespace {

using test::kParseEnd;
using test::kParseStart;

const std::string kExe = "/opt/bench/vorka";
const std::string kDir = "/opt/bench/";

struct ParseCase {
  const char* Title;
  std::vector<std::string> Args;
  std::uint8_t Command;
  std::string File0, File1, File2, WorkFolder;
  std::int32_t BufSize, DicSize, MaxFrag;
  std::uint16_t RepeatCount;
  bool NoWait;
  std::string Messages;  // between the two progress lines
};

// The defaults after a parse that joined the names with the program's folder.
ParseCase Joined(const char* title, std::vector<std::string> args, std::uint8_t command, std::string messages = "") {
  return {title, std::move(args), command, kDir + "test.txt", kDir + "test._tx", kDir + "test.!tx", kDir,
          100000, 100000, 268435326, 1, false, std::move(messages)};
}

const std::string kBel = "\a";

std::vector<ParseCase> Cases() {
  std::vector<ParseCase> t;
  t.push_back({"no arguments", {}, cmdNone, "test.txt", "test._tx", "test.!tx", kDir, 100000, 100000, 268435326, 1,
               false, ""});
  t.push_back(Joined("c alone", {"c"}, cmdPack));
  t.push_back(Joined("d alone", {"d"}, cmdUnpack));
  t.push_back(Joined("cd alone", {"cd"}, cmdPackUnpackCompare));
  t.push_back(Joined("C in capitals", {"C"}, cmdNone));
  t.push_back(Joined("CD in capitals", {"CD"}, cmdNone));
  t.push_back(Joined("dc is no command", {"dc"}, cmdNone));
  t.push_back(Joined("cyrillic es-d is no command", {"\xD1\x81" "d"}, cmdNone));

  // /b: limits
  {
    auto c = Joined("b below minimum", {"c", "/b:500"}, cmdPack,
                    kBel + "    буфер слишком мал: 500, использую минимальный: 1000\n  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    t.push_back(c);
  }
  {
    auto c = Joined("b at minimum", {"c", "/b:1000"}, cmdPack, "  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    t.push_back(c);
  }
  {
    auto c = Joined("b at maximum", {"c", "/b:2000000"}, cmdPack, "  использую буфер, байт: 2000000\n");
    c.BufSize = 2000000;
    t.push_back(c);
  }
  {
    auto c = Joined("b above maximum", {"c", "/b:2000001"}, cmdPack,
                    kBel + "    буфер слишком велик: 2000001, использую максимальный: 2000000\n"
                           "  использую буфер, байт: 2000000\n");
    c.BufSize = 2000000;
    t.push_back(c);
  }
  {
    auto c = Joined("b hexadecimal $1000", {"c", "/b:$1000"}, cmdPack, "  использую буфер, байт: 4096\n");
    c.BufSize = 4096;
    t.push_back(c);
  }
  {
    auto c = Joined("b with leading blanks and plus", {"c", "/b:  +5000"}, cmdPack, "  использую буфер, байт: 5000\n");
    c.BufSize = 5000;
    t.push_back(c);
  }
  {
    auto c = Joined("b 0x hexadecimal pulled up", {"c", "/b:0x1F4"}, cmdPack,
                    kBel + "    буфер слишком мал: 500, использую минимальный: 1000\n  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    t.push_back(c);
  }
  {
    auto c = Joined("b most negative", {"c", "/b:-2147483648"}, cmdPack,
                    kBel + "    буфер слишком мал: -2147483648, использую минимальный: 1000\n"
                           "  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    t.push_back(c);
  }
  t.push_back(Joined("b 12x", {"c", "/b:12x"}, cmdNone, "    !неправильное число:/b:12x\n"));
  t.push_back(Joined("b empty", {"c", "/b:"}, cmdNone, "    !неправильное число:/b:\n"));
  t.push_back(Joined("b beyond 32 bits", {"c", "/b:2147483648"}, cmdNone, "    !неправильное число:/b:2147483648\n"));
  t.push_back(Joined("b 40 digits", {"c", "/b:1234567890123456789012345678901234567890"}, cmdNone,
                     "    !неправильное число:/b:1234567890123456789012345678901234567890\n"));
  t.push_back(Joined("b invalid UTF-8 shown as typed", {"c", "/b:\xFF\xFE"}, cmdNone,
                     "    !неправильное число:/b:\xFF\xFE\n"));
  {
    // The value is cut to 255 characters before it is converted.
    auto c = Joined("b value cut to 255", {"c", "/b:" + std::string(254, ' ') + "5000"}, cmdPack,
                    kBel + "    буфер слишком мал: 5, использую минимальный: 1000\n  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    t.push_back(c);
  }

  // /l: limits
  {
    auto c = Joined("l below minimum", {"c", "/l:499"}, cmdPack,
                    kBel + "    словарь слишком мал: 499, использую минимальный: 500\n"
                           "  использую словарь, символов: 500\n");
    c.DicSize = 500;
    t.push_back(c);
  }
  {
    auto c = Joined("l above maximum", {"c", "/l:268435327"}, cmdPack,
                    kBel + "    словарь слишком велик: 268435327, использую максимальный: 268435326\n"
                           "  использую словарь, символов: 268435326\n");
    c.DicSize = 268435326;
    t.push_back(c);
  }
  {
    auto c = Joined("l $FFFFFFFF is -1", {"c", "/l:$FFFFFFFF"}, cmdPack,
                    kBel + "    словарь слишком мал: -1, использую минимальный: 500\n"
                           "  использую словарь, символов: 500\n");
    c.DicSize = 500;
    t.push_back(c);
  }
  {
    auto c = Joined("l at maximum", {"c", "/l:268435326"}, cmdPack, "  использую словарь, символов: 268435326\n");
    c.DicSize = 268435326;
    t.push_back(c);
  }

  // /z: limits
  {
    auto c = Joined("z below minimum", {"c", "/z:3"}, cmdPack,
                    kBel + "    длина фрагмента слишком мала: 3, использую минимальную: 4\n"
                           "  макс.длина фрагмента, символов: 4\n");
    c.MaxFrag = 4;
    t.push_back(c);
  }
  {
    auto c = Joined("z above maximum", {"c", "/z:X7FFFFFFF"}, cmdPack,
                    kBel + "    длина фрагмента слишком велика: 2147483647, использую максимальную: 268435326\n"
                           "  макс.длина фрагмента, символов: 268435326\n");
    t.push_back(c);
  }
  {
    auto c = Joined("z at minimum", {"c", "/z:4"}, cmdPack, "  макс.длина фрагмента, символов: 4\n");
    c.MaxFrag = 4;
    t.push_back(c);
  }

  // /r:
  {
    auto c = Joined("r 0 accepted", {"c", "/r:0"}, cmdPack);
    c.RepeatCount = 0;
    t.push_back(c);
  }
  {
    auto c = Joined("r 100 accepted", {"c", "/r:100"}, cmdPack);
    c.RepeatCount = 100;
    t.push_back(c);
  }
  t.push_back(Joined("r 101 rejected, command runs", {"c", "/r:101"}, cmdPack, "    !недопустимое число:/r:101\n"));
  t.push_back(Joined("r -1 rejected, command runs", {"cd", "/r:-1"}, cmdPackUnpackCompare,
                     "    !недопустимое число:/r:-1\n"));
  t.push_back(Joined("r not a number", {"c", "/r:five"}, cmdNone, "    !неправильное число:/r:five\n"));

  // repeats, /go and stray words
  {
    auto c = Joined("b twice", {"c", "/b:2000", "/b:3000"}, cmdNone, "  использую буфер, байт: 2000\n");
    c.BufSize = 2000;
    t.push_back(c);
  }
  t.push_back(Joined("b wrong then repeated", {"c", "/b:12x", "/b:2000"}, cmdNone, "    !неправильное число:/b:12x\n"));
  {
    auto c = Joined("go", {"c", "/go"}, cmdPack);
    c.NoWait = true;
    t.push_back(c);
  }
  {
    auto c = Joined("gofast counts as go", {"c", "/gofast"}, cmdPack);
    c.NoWait = true;
    t.push_back(c);
  }
  {
    auto c = Joined("go twice", {"c", "/go", "/go"}, cmdNone);
    c.NoWait = true;
    t.push_back(c);
  }
  {
    auto c = Joined("invalid word then go", {"x", "/go"}, cmdNone);
    c.NoWait = true;
    t.push_back(c);
  }
  t.push_back(Joined("option before the command", {"/go", "c"}, cmdNone));
  t.push_back(Joined("stray word", {"c", "more"}, cmdNone));
  t.push_back(Joined("command word in second place", {"c", "d"}, cmdNone));
  t.push_back(Joined("prefix in capitals", {"c", "/B:2000"}, cmdNone));
  t.push_back(Joined("prefix cut short", {"c", "/0"}, cmdNone));
  t.push_back(Joined("empty argument", {"c", ""}, cmdNone));
  {
    auto c = Joined("0 twice", {"c", "/0:a", "/0:b"}, cmdNone);
    c.File0 = kDir + "a";
    t.push_back(c);
  }

  // names and the work folder
  {
    auto c = Joined("empty 0 gives the folder", {"c", "/0:"}, cmdPack);
    c.File0 = kDir;
    t.push_back(c);
  }
  {
    auto c = Joined("empty f", {"c", "/f:"}, cmdPack);
    c.WorkFolder = "";
    c.File0 = "/test.txt";
    c.File1 = "/test._tx";
    c.File2 = "/test.!tx";
    t.push_back(c);
  }
  {
    auto c = Joined("f without delimiter", {"cd", "/f:/data", "/1:x:y"}, cmdPackUnpackCompare);
    c.WorkFolder = "/data";
    c.File0 = "/data/test.txt";
    c.File1 = "/data/x:y";  // ":" is an ordinary character
    c.File2 = "/data/test.!tx";
    t.push_back(c);
  }
  {
    auto c = Joined("name with a path part stays", {"c", "/0:a/b.txt", "/2:/tmp/out"}, cmdPack);
    c.File0 = "a/b.txt";
    c.File2 = "/tmp/out";
    t.push_back(c);
  }
  {
    auto c = Joined("non-ASCII name", {"d", "/0:файл.dat"}, cmdUnpack);
    c.File0 = kDir + "файл.dat";
    t.push_back(c);
  }
  {
    // Names are never cut: the first 255 bytes could name another file.
    auto c = Joined("300-byte name used whole", {"c", "/1:" + std::string(300, 'n')}, cmdPack);
    c.File1 = kDir + std::string(300, 'n');
    t.push_back(c);
  }
  {
    const std::string longest = "/" + std::string(4094, 'p');
    auto c = Joined("4095-byte name, the longest taken", {"d", "/0:" + longest}, cmdUnpack);
    c.File0 = longest;
    t.push_back(c);
  }
  const struct {
    const char* Title;
    const char* Option;
    std::string ParseCase::*Field;
  } tooLongNames[] = {{"4096-byte /0: refused", "/0:", &ParseCase::File0},
                      {"4096-byte /1: refused", "/1:", &ParseCase::File1},
                      {"4096-byte /2: refused", "/2:", &ParseCase::File2}};
  for (const auto& n : tooLongNames) {
    // One byte too long makes the command line invalid, without a message;
    // the other options are still taken.
    const std::string tooLong = "/" + std::string(4095, 'q');
    auto c = Joined(n.Title, {"cd", n.Option + tooLong, "/b:1000"}, cmdNone, "  использую буфер, байт: 1000\n");
    c.BufSize = 1000;
    c.*n.Field = tooLong;
    t.push_back(c);
  }
  {
    auto c = Joined("4200-byte name refused", {"c", "/1:" + std::string(4200, 'n')}, cmdNone);
    c.File1 = kDir + std::string(4200, 'n');
    t.push_back(c);
  }
  {
    const std::string folder(65535, 'f');
    auto c = Joined("65535-character folder", {"c", "/f:" + folder + "tail"}, cmdPack);
    c.WorkFolder = folder;
    c.File0 = folder + "/test.txt";
    c.File1 = folder + "/test._tx";
    c.File2 = folder + "/test.!tx";
    t.push_back(c);
  }
  {
    auto c = Joined("all options once", {"cd", "/go", "/r:5", "/z:$10", "/l:1000", "/b:1000", "/f:/w/", "/2:r",
                                         "/1:p", "/0:s"},
                    cmdPackUnpackCompare,
                    "  макс.длина фрагмента, символов: 16\n"
                    "  использую словарь, символов: 1000\n"
                    "  использую буфер, байт: 1000\n");
    c.NoWait = true;
    c.RepeatCount = 5;
    c.MaxFrag = 16;
    c.DicSize = 1000;
    c.BufSize = 1000;
    c.WorkFolder = "/w/";
    c.File0 = "/w/s";
    c.File1 = "/w/p";
    c.File2 = "/w/r";
    t.push_back(c);
  }
  return t;
}

TEST(CommandLine, TableOfCommandLines) {
  for (const ParseCase& c : Cases()) {
    SCOPED_TRACE(c.Title);
    TTestSettings s;
    s.Command = 77;  // the parser must reset every field itself
    s.Options = 0xFF;
    std::string out;
    {
      TConsoleCapture capture;
      ParseCommandLine(s, c.Args, kExe);
      out = capture.Output();
    }
    EXPECT_EQ(s.Command, c.Command);
    EXPECT_EQ(s.File0, c.File0);
    EXPECT_EQ(s.File1, c.File1);
    EXPECT_EQ(s.File2, c.File2);
    EXPECT_EQ(s.WorkFolder, c.WorkFolder);
    EXPECT_EQ(s.BufSize, c.BufSize);
    EXPECT_EQ(s.DicSize, c.DicSize);
    EXPECT_EQ(s.MaxFrag, c.MaxFrag);
    EXPECT_EQ(s.RepeatCount, c.RepeatCount);
    EXPECT_EQ(s.Has(optNoWait), c.NoWait);
    EXPECT_EQ(s.Options & ~1u, 0u);
    const std::string expected = c.Args.empty() ? std::string() : kParseStart + c.Messages + kParseEnd;
    EXPECT_EQ(out, expected);
  }
}

TEST(CommandLine, ExecutableWithoutFolder) {
  TTestSettings s;
  TConsoleCapture capture;
  ParseCommandLine(s, {"c"}, "vorka");
  EXPECT_EQ(s.WorkFolder, "");
  EXPECT_EQ(s.File0, "/test.txt");
}

struct NumberCase {
  const char* Text;
  bool Ok;
  std::int32_t Value;
};

TEST(CommandLine, NumberForms) {
  const NumberCase cases[] = {
      {"0", true, 0},           {"12", true, 12},          {"  12", true, 12},        {"\t12", true, 12},
      {"+12", true, 12},        {"-12", true, -12},        {"$10", true, 16},         {"x10", true, 16},
      {"X10", true, 16},        {"0x10", true, 16},        {"0X10", true, 16},        {"$fF", true, 255},
      {"-$10", true, -16},      {"$FFFFFFFF", true, -1},   {"$80000000", true, INT32_MIN},
      {"$7FFFFFFF", true, INT32_MAX},                      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},                    {"000000000000000000000000000000000000012", true, 12},
      {"", false, 0},           {" ", false, 0},           {"+", false, 0},           {"-", false, 0},
      {"$", false, 0},          {"0x", false, 0},          {"x", false, 0},           {"12x", false, 0},
      {"12 ", false, 0},        {"1 2", false, 0},         {"- 1", false, 0},         {"+-1", false, 0},
      {"--1", false, 0},        {"1e3", false, 0},         {"1.0", false, 0},         {"$g", false, 0},
      {"00x1", false, 0},       {"$100000000", false, 0},  {"2147483648", false, 0},  {"-2147483649", false, 0},
      {"99999999999999999999999999999999999999999", false, 0},                        {"\xD0\xB5", false, 0},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(std::string("text \"") + c.Text + "\"");
    std::int32_t value = 4242;
    EXPECT_EQ(ParseNumber(c.Text, value), c.Ok);
    EXPECT_EQ(value, c.Ok ? c.Value : 4242);
  }
}

TEST(CommandLine, AddWorkFolder) {
  const struct {
    const char* Name;
    const char* Folder;
    const char* Result;
  } cases[] = {
      {"x.dat", "/w/", "/w/x.dat"},  {"x.dat", "/w", "/w/x.dat"},  {"x.dat", "", "/x.dat"},
      {"", "/w/", "/w/"},            {"sub/x.dat", "/w/", "sub/x.dat"}, {"/abs", "/w/", "/abs"},
      {"c:x", "/w/", "/w/c:x"},      {"a\\b", "/w/", "/w/a\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " in " + c.Folder);
    std::string name = c.Name;
    AddWorkFolder(name, c.Folder);
    EXPECT_EQ(name, c.Result);
  }
}

TEST(CommandLine, UsageText) {
  TConsoleCapture capture;
  PrintUsage();
  EXPECT_EQ(capture.Output(), test::kUsage);
}

}  // namespace
}  // namespace vorka
