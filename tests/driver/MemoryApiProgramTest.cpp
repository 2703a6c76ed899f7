// PackMemory against the real program: for every corpus file, the packed
// bytes equal what `vorka c` writes for that file once its name, attributes
// and time are taken out of the header.
#include "Vorka.h"
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "lzfile/LZFormat.h"
#include "support/ChildProcess.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"

namespace vorka::test {
namespace {

namespace fs = std::filesystem;
namespace fmt = lzformat;

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  const fs::path root = fs::path(VORKA_CORPUS_DIR);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file() && it->path().parent_path() != root &&
        (!UnderAddressSanitizer() || it->file_size() <= (1u << 20)))
      files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

// The program's packed file as PackMemory would write it: Attr and Time 0,
// no name, InfoLen 13. Everything else is left exactly as it was.
std::string WithoutNameAttrTime(const std::string& file) {
  if (file.size() < fmt::HeadFixedSize + fmt::InfoPartSize(0)) return file;
  const auto* p = reinterpret_cast<const std::uint8_t*>(file.data());
  const std::uint8_t n = p[fmt::HeadFixedSize + fmt::InfoOffNameLen];
  std::string out = file.substr(0, fmt::HeadFixedSize);
  std::uint8_t info[fmt::InfoPartSize(0)];
  fmt::TInfoFields fields;
  fields.Size = static_cast<std::int32_t>(fmt::Get32(p + fmt::HeadFixedSize + fmt::InfoOffSize));
  fmt::PutHeadInfo(info, fields);
  out.append(reinterpret_cast<const char*>(info), sizeof info);
  out.append(file, fmt::HeadFixedSize + fmt::InfoPartSize(n), std::string::npos);
  return out;
}

struct Setting {
  std::vector<std::string> Options;
  std::uint32_t Dic, Frag;
  std::size_t EveryNth;  // which corpus files: all (1) or a sample of those up to 1 MiB
};

TEST(MemoryApiProgram, PackMemoryWritesWhatTheProgramWritesApartFromTheName) {
  const std::vector<fs::path> files = CorpusFiles();
  ASSERT_GT(files.size(), 20u) << "no corpus under " << VORKA_CORPUS_DIR;
  ScratchDir dir;
  const std::string exe = CopyProgramInto(dir.Path().string());
  const Setting settings[] = {
      {{}, 100000, 0, 1},
      {{"/l:500", "/z:4"}, 500, 4, 5},
      {{"/l:70000", "/z:300"}, 70000, 300, 5},
      {{"/l:268435326"}, 268435326, 0, 7},
  };
  for (const Setting& s : settings) {
    for (std::size_t i = 0; i < files.size(); i += s.EveryNth) {
      if (s.EveryNth != 1 && fs::file_size(files[i]) > (1u << 20)) continue;
      SCOPED_TRACE(files[i].string() + " " + std::to_string(s.Dic) + "/" + std::to_string(s.Frag));
      const std::string packedName = dir / "cli.pk";
      std::vector<std::string> args = {"c", "/0:" + files[i].string(), "/1:" + packedName, "/go"};
      args.insert(args.end(), s.Options.begin(), s.Options.end());
      const RunResult r = RunProgram(exe, args, "C.UTF-8");
      ASSERT_EQ(r.ExitStatus, 0);
      const std::string cli = ReadFile(packedName);
      fs::remove(packedName);
      // The name really is in the program's file.
      ASSERT_EQ(cli[fmt::HeadFixedSize + fmt::InfoOffNameLen], static_cast<char>(files[i].filename().string().size()));

      const std::string plain = ReadFile(files[i].string());
      std::vector<std::uint8_t> packed;
      ASSERT_EQ(PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed, s.Dic, s.Frag), 0);
      const std::string expected = WithoutNameAttrTime(cli);
      ASSERT_EQ(packed.size(), expected.size());
      const auto diff = std::mismatch(packed.begin(), packed.end(), expected.begin(),
                                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
      EXPECT_EQ(diff.first, packed.end()) << "first difference at byte " << (diff.first - packed.begin());
    }
  }
}

}  // namespace
}  // namespace vorka::test
