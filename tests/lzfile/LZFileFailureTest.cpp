// Every failure a file can cause, one row each, with the files left behind;
// then sweeps over damaged packed files: every truncation, random code bytes,
// and header fields out of range. None may crash, hang or read out of bounds.
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "support/LZFileOwner.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;

using test::Owned;

constexpr std::uint32_t kBuf = 4099, kDic = 5000, kFrag = 300;
const char* const kOld = "existing contents that must survive";

void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// A scratch folder with a source "src.txt" and its packed form "good.lz".
struct Env {
  test::ScratchDir dir;
  std::string Source;
  std::string Good;  // bytes of the packed source

  Env() {
    Source = test::MakeText(3000, 11);
    test::WriteFile(dir / "src.txt", Source);
    Owned f(TLZFile::Create(kBuf, kDic, kFrag));
    f->PackFile(dir / "src.txt", dir / "good.lz");
    EXPECT_EQ(f->ErrorCode(), 0);
    Good = test::ReadFile(dir / "good.lz");
  }
  std::string Path(const std::string& name) const { return name[0] == '/' ? name : dir / name; }
  void Put(const std::string& name, const std::string& bytes) const { test::WriteFile(Path(name), bytes); }
  std::string Got(const std::string& name) const { return test::ReadFile(Path(name)); }
  bool Exists(const std::string& name) const { return fs::exists(Path(name)); }
  std::size_t InfoEnd() const { return 63 + static_cast<std::uint8_t>(Good[61]); }
  // The good packed file with one change.
  void PutDamaged(const std::string& name, const std::function<void(std::string&)>& change) const {
    std::string bytes = Good;
    change(bytes);
    Put(name, bytes);
  }
};

struct FailCase {
  const char* What;
  std::uint8_t Code;
  bool Pack;  // else unpack
  std::string From, To;
  unsigned Flags;  // lfOverwrite* bits to set
  std::function<void(Env&)> Setup;
  std::function<void(Env&)> Check;
  std::uint32_t Dic = kDic, Frag = kFrag;
};

constexpr unsigned kPackOver = 1u << lfOverwritePacked, kSourceOver = 1u << lfOverwriteSource;

TEST(LZFileFailures, EveryCodeAFileCanCause) {
  const auto none = [](Env&) {};
  const FailCase cases[] = {
      {"source missing", 3, true, "nothing.txt", "p.lz", kPackOver, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("p.lz")); }},
      {"source is a folder, packed file untouched", 3, true, "folder", "p.lz", kPackOver,
       [](Env& e) { fs::create_directory(e.Path("folder")); e.Put("p.lz", kOld); },
       [](Env& e) { EXPECT_EQ(e.Got("p.lz"), kOld); }},
      {"source is a FIFO", 3, true, "fifo", "p.lz", kPackOver,
       [](Env& e) { ASSERT_EQ(mkfifo(e.Path("fifo").c_str(), 0600), 0); },
       [](Env& e) { EXPECT_FALSE(e.Exists("p.lz")); }},
      {"source is a device", 3, true, "/dev/zero", "p.lz", kPackOver, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("p.lz")); }},
      {"source of 2 GiB does not fit the size field", 3, true, "huge", "p.lz", kPackOver,
       [](Env& e) {
         e.Put("huge", "");
         fs::resize_file(e.Path("huge"), std::uintmax_t{1} << 31);  // sparse: no disk used
       },
       [](Env& e) { EXPECT_FALSE(e.Exists("p.lz")); }},
      {"packed file exists, overwrite not allowed", 5, true, "src.txt", "p.lz", 0,
       [](Env& e) { e.Put("p.lz", kOld); }, [](Env& e) { EXPECT_EQ(e.Got("p.lz"), kOld); }},
      {"packing onto the source, overwrite not allowed", 5, true, "src.txt", "src.txt", 0, none,
       [](Env& e) { EXPECT_EQ(e.Got("src.txt"), e.Source); }},
      {"packing onto the source", 7, true, "src.txt", "src.txt", kPackOver, none,
       [](Env& e) { EXPECT_EQ(e.Got("src.txt"), e.Source); }},
      {"packing onto a hard link of the source", 7, true, "src.txt", "link.txt", kPackOver,
       [](Env& e) { ASSERT_EQ(link(e.Path("src.txt").c_str(), e.Path("link.txt").c_str()), 0); },
       [](Env& e) { EXPECT_EQ(e.Got("src.txt"), e.Source); }},
      {"packed name is a folder", 7, true, "src.txt", "folder", 0,
       [](Env& e) { fs::create_directory(e.Path("folder")); },
       [](Env& e) { EXPECT_TRUE(fs::is_empty(e.Path("folder"))); }},
      {"packed file on a full disk", 10, true, "src.txt", "/dev/full", kPackOver, none,
       [](Env& e) { EXPECT_EQ(e.Got("src.txt"), e.Source); }},
      {"output exists, overwrite not allowed", 4, false, "good.lz", "out.txt", 0,
       [](Env& e) { e.Put("out.txt", kOld); }, [](Env& e) { EXPECT_EQ(e.Got("out.txt"), kOld); }},
      {"output is a folder", 6, false, "good.lz", "folder", kSourceOver,
       [](Env& e) { fs::create_directory(e.Path("folder")); },
       [](Env& e) { EXPECT_TRUE(fs::is_empty(e.Path("folder"))); }},
      {"output is the packed file itself", 6, false, "good.lz", "good.lz", kSourceOver, none,
       [](Env& e) { EXPECT_EQ(e.Got("good.lz"), e.Good); }},
      {"output is a FIFO without a reader", 6, false, "good.lz", "fifo", kSourceOver,
       [](Env& e) { ASSERT_EQ(mkfifo(e.Path("fifo").c_str(), 0600), 0); }, none},
      {"output in a missing folder", 6, false, "good.lz", "no/such/out.txt", kSourceOver, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("no")); }},
      {"packed file missing: no output made", 8, false, "missing.lz", "out.txt", 0, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"packed file missing: existing output untouched", 8, false, "missing.lz", "out.txt", kSourceOver,
       [](Env& e) { e.Put("out.txt", kOld); }, [](Env& e) { EXPECT_EQ(e.Got("out.txt"), kOld); }},
      {"packed name is a folder", 8, false, "folder", "out.txt", kSourceOver,
       [](Env& e) { fs::create_directory(e.Path("folder")); },
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"packed file shorter than the fixed header", 14, false, "bad.lz", "out.txt", kSourceOver,
       [](Env& e) { e.Put("bad.lz", e.Good.substr(0, 60)); e.Put("out.txt", kOld); },
       [](Env& e) { EXPECT_EQ(e.Got("out.txt"), kOld); }},
      {"packed file cut inside the information part", 14, false, "bad.lz", "out.txt", kSourceOver,
       [](Env& e) { e.Put("bad.lz", e.Good.substr(0, 70)); e.Put("out.txt", kOld); },
       [](Env& e) { EXPECT_EQ(e.Got("out.txt"), kOld); }},
      {"packed file cut after InfoLen", 14, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.Put("bad.lz", e.Good.substr(0, 63)); },
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"a plain text file", 15, false, "src.txt", "out.txt", kSourceOver,
       [](Env& e) { e.Put("out.txt", kOld); }, [](Env& e) { EXPECT_EQ(e.Got("out.txt"), kOld); }},
      {"last signature byte changed", 15, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { s[50] = 0x1B; }); },
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"NameLen beyond InfoLen", 15, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { s[75] = 30; }); }, none},
      {"InfoLen below 13", 15, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { Put16(s, 61, 12); }); }, none},
      {"InfoLen larger than the read buffer", 13, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { Put16(s, 61, 0xFFFF); }); },
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"InfoLen one above the read buffer's room", 13, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { Put16(s, 61, kBuf - 1); }); }, none},
      {"version 2", 18, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { Put16(s, 51, 2); }); },
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }},
      {"dictionary size differs", 21, false, "good.lz", "out.txt", 0, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }, 6000, kFrag},
      {"fragment length differs", 20, false, "good.lz", "out.txt", 0, none,
       [](Env& e) { EXPECT_FALSE(e.Exists("out.txt")); }, kDic, 301},
      {"both differ: dictionary first", 21, false, "good.lz", "out.txt", 0, none, none, 500, 100},
      {"code stream of 0xFF bytes", 11, false, "bad.lz", "out.txt", 0,
       [](Env& e) {
         e.PutDamaged("bad.lz", [&e](std::string& s) {
           for (std::size_t i = e.InfoEnd(); i < s.size(); ++i) s[i] = '\xFF';
         });
       },
       [](Env& e) { EXPECT_TRUE(e.Source.starts_with(e.Got("out.txt"))); }},
      {"output on a full disk", 19, false, "good.lz", "/dev/full", kSourceOver, none,
       [](Env& e) { EXPECT_EQ(e.Got("good.lz"), e.Good); }},
      {"end marker changed", 24, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.PutDamaged("bad.lz", [](std::string& s) { s[s.size() - 1] = '\xAC'; }); },
       [](Env& e) { EXPECT_EQ(e.Got("out.txt"), e.Source); }},
      {"end marker missing", 25, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.Put("bad.lz", e.Good.substr(0, e.Good.size() - 4)); },
       [](Env& e) { EXPECT_EQ(e.Got("out.txt"), e.Source); }},
      {"cut inside the code stream", 25, false, "bad.lz", "out.txt", 0,
       [](Env& e) { e.Put("bad.lz", e.Good.substr(0, e.InfoEnd() + 100)); },
       [](Env& e) {
         const std::string out = e.Got("out.txt");
         EXPECT_LT(out.size(), e.Source.size());
         EXPECT_TRUE(e.Source.starts_with(out));
       }},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.What);
    Env env;
    c.Setup(env);
    Owned f(TLZFile::Create(kBuf, c.Dic, c.Frag));
    ASSERT_TRUE(f);
    if (c.Flags & kPackOver) f->SetFlag(lfOverwritePacked);
    if (c.Flags & kSourceOver) f->SetFlag(lfOverwriteSource);
    if (c.Pack) {
      f->PackFile(env.Path(c.From), env.Path(c.To));
    } else {
      f->UnpackFile(env.Path(c.From), env.Path(c.To));
    }
    EXPECT_EQ(f->ErrorCode(), c.Code);
    EXPECT_EQ(f->ErrorMessage(), ErrorText(c.Code));
    EXPECT_FALSE(f->SourceFile.Open);
    EXPECT_FALSE(f->PackedFile.Open);
    EXPECT_FALSE(f->HasFlag(lfRestoreInfo));
    c.Check(env);
    // Overwrite permissions survive every operation.
    EXPECT_EQ(f->HasFlag(lfOverwritePacked), (c.Flags & kPackOver) != 0);
    EXPECT_EQ(f->HasFlag(lfOverwriteSource), (c.Flags & kSourceOver) != 0);
  }
}

TEST(LZFileFailures, AcceptedVariantsOfTheHeader) {
  struct Case {
    const char* What;
    std::function<std::string(const Env&)> Make;
    bool WholeOutput;  // else an empty output
  } cases[] = {
      {"bytes after the end marker", [](const Env& e) { return e.Good + "trailing garbage"; }, true},
      {"InfoLen longer than the name",
       [](const Env& e) {
         std::string s = e.Good;
         s.insert(e.InfoEnd(), "pad");
         Put16(s, 61, static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[61]) + 3));
         return s;
       },
       true},
      {"size 0, marker right after the header",
       [](const Env& e) {
         std::string s = e.Good.substr(0, e.InfoEnd()) + "\x23\x01\xCD\xAB";
         Put32(s, 71, 0);
         return s;
       },
       false},
      {"negative size, marker right after the header",
       [](const Env& e) {
         std::string s = e.Good.substr(0, e.InfoEnd()) + "\x23\x01\xCD\xAB";
         Put32(s, 71, 0xFFFFFFF0u);
         return s;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Env env;
    env.Put("v.lz", c.Make(env));
    Owned f(TLZFile::Create(kBuf, kDic, kFrag));
    ASSERT_TRUE(f);
    f->UnpackFile(env.Path("v.lz"), env.Path("out.txt"));
    EXPECT_EQ(f->ErrorCode(), 0);
    EXPECT_EQ(env.Got("out.txt"), c.WholeOutput ? env.Source : std::string());
  }
}

TEST(LZFileFailures, NegativeSizeWithCodeBytesFindsNoMarker) {
  Env env;
  env.PutDamaged("v.lz", [](std::string& s) { Put32(s, 71, 0x80000000u); });
  Owned f(TLZFile::Create(kBuf, kDic, kFrag));
  f->UnpackFile(env.Path("v.lz"), env.Path("out.txt"));
  EXPECT_EQ(f->ErrorCode(), 24);
  EXPECT_EQ(env.Got("out.txt"), "");
}

TEST(LZFileFailures, RandomCodeBytesAfterAValidHeader) {
  Env env;
  Owned f(TLZFile::Create(1000, kDic, kFrag));
  ASSERT_TRUE(f);
  f->SetFlag(lfOverwriteSource);
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::string bytes = env.Good.substr(0, env.InfoEnd());
    // The first code of a stream is a reset (code 0): keep it, so that the
    // decoder gets past the first item and into arbitrary codes.
    std::string noise = test::MakeRandom(64 + seed * 37, seed);
    if (seed % 2 == 0) noise[0] = static_cast<char>(noise[0] & 0xC0);
    env.Put("r.lz", bytes + noise);
    f->UnpackFile(env.Path("r.lz"), env.Path("out.txt"));
    const std::uint8_t code = f->ErrorCode();
    EXPECT_TRUE(code == 11 || code == 24 || code == 25) << int(code);
  }
}

TEST(LZFileFailures, EachHeaderByteChangedInTurn) {
  Env env;
  Owned f(TLZFile::Create(kBuf, kDic, kFrag));
  ASSERT_TRUE(f);
  const std::size_t infoEnd = env.InfoEnd();
  for (std::size_t at = 0; at < infoEnd; ++at) {
    SCOPED_TRACE(at);
    std::string bytes = env.Good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    env.Put("h.lz", bytes);
    fs::remove(env.Path("out.txt"));
    f->UnpackFile(env.Path("h.lz"), env.Path("out.txt"));
    const std::uint8_t code = f->ErrorCode();
    if (at < 51) {
      EXPECT_EQ(code, 15);
    } else if (at < 53) {
      EXPECT_EQ(code, 18);
    } else if (at < 57) {
      EXPECT_EQ(code, 21);
    } else if (at < 61) {
      EXPECT_EQ(code, 20);
    } else if (at < 63) {
      EXPECT_TRUE(code == 13 || code == 14 || code == 15 || code == 25 || code == 24 || code == 11)
          << int(code);
    } else if (at < 71) {
      EXPECT_EQ(code, 0);  // attributes and time are not checked
    } else if (at < 75) {
      EXPECT_TRUE(code == 11 || code == 24 || code == 25) << int(code);  // size changed
    } else if (at == 75) {
      EXPECT_TRUE(code == 15 || code == 0) << int(code);
    } else {
      EXPECT_EQ(code, 0);  // the stored name is not used
    }
    if (at < 61 || at == 62) {  // header refused: no output made
      EXPECT_FALSE(fs::exists(env.Path("out.txt")));
    }
  }
}

}  // namespace
}  // namespace vorka
