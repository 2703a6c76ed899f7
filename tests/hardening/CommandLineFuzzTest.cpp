// Seeded random command lines for the real program: commands, options with
// values out of range, in other number forms or not numbers at all, repeated
// and unknown options, and names that are empty, long or missing. Whatever the
// line, the program must end normally (status 0) within its time, and write
// nothing outside its work folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> RandomLine(test::SeededRandom& rng, const std::string& folder) {
  // Mostly valid commands and options, so that most lines get past the parser.
  static const std::string commands[] = {"c", "d", "cd", "c", "d", "cd", "cd", "C", "", "dc"};
  static const std::string prefixes[] = {"/0:", "/1:", "/2:", "/b:", "/l:", "/z:", "/r:",
                                         "/go", "/0:", "/1:", "/2:", "/b:", "/l:", "/z:",
                                         "/x:", "/f:"};
  static const std::string numbers[] = {
      "", "0", "1", "-1", "3", "4", "499", "500", "999", "1000", "2000000", "2000001", "100",
      "101", "268435326", "268435327", "$FFFFFFFF", "$7FFFFFFF", "0x10", "X1f", "+12", " 7",
      "2147483647", "2147483648", "-2147483648", "99999999999999999999", "12abc", "0x",
      "$", "1e3", std::string(300, '9')};
  static const std::string names[] = {"src", "p.lz", "r.txt", "missing", "", "src.lz",
                                      std::string(300, 'n'), "sub/none", ".", ".."};
  std::vector<std::string> line{rng.Pick(commands), "/f:" + folder + "/"};
  const std::uint32_t count = rng.Next() % 6;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string& prefix = rng.Pick(prefixes);
    if (prefix == "/0:" || prefix == "/1:" || prefix == "/2:") {
      line.push_back(prefix + rng.Pick(names));
    } else if (prefix == "/f:") {
      line.push_back(prefix + rng.Pick(names));  // repeated: ignored, makes the line invalid
    } else {
      line.push_back(prefix + rng.Pick(numbers));
    }
  }
  return line;
}

TEST(CommandLineFuzz, EveryLineEndsNormally) {
  test::ScratchDir dir;
  const std::string work = (dir.Path() / "work").string();
  fs::create_directory(work);
  const std::string source = test::MakeText(20000, 99);
  test::WriteFile(work + "/src", source);
  const std::string outside = dir.Path().string();
  int packs = 0, unpacks = 0;
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    test::SeededRandom rng(seed);
    const std::vector<std::string> line = RandomLine(rng, work);
    std::string shown;
    for (const std::string& a : line) shown += " [" + a.substr(0, 40) + "]";
    SCOPED_TRACE(testing::Message() << "seed " << seed << ":" << shown);
    const test::RunResult run = test::RunProgram(VORKA_EXE, line, "C.UTF-8", "", "", {.TimeLimit = 120});
    ASSERT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
    ASSERT_NE(run.Stdout.find("программа Vorkasteln завершена"), std::string::npos) << run.Stdout;
    // The source is only ever read, and nothing appears beside the work folder.
    ASSERT_EQ(test::ReadFile(work + "/src"), source);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(outside)) ++entries;
    ASSERT_EQ(entries, 1u);
    if (run.Stdout.find(" Упаковка: ") != std::string::npos) ++packs;
    if (run.Stdout.find(" Распаковка: ") != std::string::npos) ++unpacks;
  }
  // The lines must not all stop at the parser.
  EXPECT_GE(packs, 20);
  EXPECT_GE(unpacks, 20);
}

}  // namespace
}  // namespace vorka
