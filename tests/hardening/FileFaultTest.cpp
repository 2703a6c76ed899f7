// Faults of the file system met by the compressed-file object: a source that
// changes between runs or while it is read, folders and files without write or
// read permission, long names and names with odd bytes, and packed files cut
// at every length while their code stream spans many buffer fills. Each case
// ends with its own error code, and no file that the operation did not name as
// its output changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "Vorka.h"
#include "lzfile/LZFile.h"
#include "support/LZFileOwner.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

using test::Owned;

Owned Make(std::uint32_t buf, std::uint32_t dic, std::uint32_t frag, unsigned flags = 0) {
  Owned f(TLZFile::Create(buf, dic, frag));
  if (f && (flags & 1)) f->SetFlag(lfOverwritePacked);
  if (f && (flags & 2)) f->SetFlag(lfOverwriteSource);
  return f;
}
constexpr unsigned kPackOver = 1, kSourceOver = 2;

// Unpacks with a fresh object of the same settings; the error code, and the
// output in *out.
std::uint8_t UnpackFresh(const std::string& packed, const std::string& target, std::string* out,
                         std::uint32_t buf = 1000, std::uint32_t dic = 5000,
                         std::uint32_t frag = 300) {
  Owned f = Make(buf, dic, frag, kSourceOver);
  f->UnpackFile(packed, target);
  if (out != nullptr) *out = Exists(target) ? ReadFile(target) : std::string("<none>");
  return f->ErrorCode();
}

// ------------------------------------------------------------------------
// A source that changes between two runs of one object.

TEST(SourceBetweenRuns, SecondRunSeesTheSourceAsItIsNow) {
  struct Case {
    const char* What;
    std::function<void(const test::ScratchDir&)> Change;
    std::uint8_t Code;  // of the second run
  } cases[] = {
      {"shrinks", [](const test::ScratchDir& d) { fs::resize_file(d / "src", 100); }, 0},
      {"becomes empty", [](const test::ScratchDir& d) { fs::resize_file(d / "src", 0); }, 0},
      {"grows", [](const test::ScratchDir& d) { WriteFile(d / "src", test::MakeText(50000, 9)); }, 0},
      {"vanishes", [](const test::ScratchDir& d) { fs::remove(d / "src"); }, 3},
      {"becomes a folder",
       [](const test::ScratchDir& d) {
         fs::remove(d / "src");
         fs::create_directory(d / "src");
       },
       3},
      {"becomes a FIFO",
       [](const test::ScratchDir& d) {
         fs::remove(d / "src");
         ASSERT_EQ(mkfifo((d / "src").c_str(), 0600), 0);
       },
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ScratchDir dir;
    const std::string first = test::MakeText(20000, 3);
    WriteFile(dir / "src", first);
    Owned f = Make(1000, 5000, 300, kPackOver);
    f->PackFile(dir / "src", dir / "p.lz");
    ASSERT_EQ(f->ErrorCode(), 0);
    const std::string firstPacked = ReadFile(dir / "p.lz");

    c.Change(dir);
    const std::string now = c.Code == 0 ? ReadFile(dir / "src") : std::string();
    f->PackFile(dir / "src", dir / "p.lz");
    EXPECT_EQ(f->ErrorCode(), c.Code);
    std::string restored;
    ASSERT_EQ(UnpackFresh(dir / "p.lz", dir / "out", &restored), 0);
    if (c.Code == 0) {
      // Nothing of the first, longer run may leak into the second.
      EXPECT_EQ(restored, now);
    } else {
      // The source could not be opened: the old packed file is left alone.
      EXPECT_EQ(ReadFile(dir / "p.lz"), firstPacked);
      EXPECT_EQ(restored, first);
    }
  }
}

// The size goes into the header when the source is opened; a source cut or
// extended before its bytes are read would give a stream that disagrees with
// the header. Packing reads exactly that size, checks that the source ends
// there, and otherwise fails with 17 and leaves the old packed file in place.
TEST(SourceWhilePacking, SizeChangeAfterOpenFailsAndKeepsTheOldPackedFile) {
  struct Case {
    const char* What;
    std::size_t Before, After;
    std::uint8_t Code;
  } cases[] = {
      {"unchanged", 20000, 20000, 0},
      {"cut to 100 bytes", 20000, 100, 17},
      {"cut by one byte", 20000, 19999, 17},
      {"cut to nothing", 20000, 0, 17},
      {"grown by one byte", 20000, 20001, 17},
      {"grown by 30000 bytes", 20000, 50000, 17},
      {"empty, then grown", 0, 5000, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ScratchDir dir;
    const std::string text = test::MakeText(std::max(c.Before, c.After), 5);
    const std::string oldPacked = "an older packed file";
    WriteFile(dir / "src", text.substr(0, c.Before));
    WriteFile(dir / "p.lz", oldPacked);
    Owned f = Make(1000, 5000, 300, kPackOver);
    // PackFile, step by step, with the change between opening and reading.
    f->SetError(0);
    ASSERT_TRUE(f->OpenSource(dir / "src"));
    if (c.After < c.Before) {
      ASSERT_EQ(truncate((dir / "src").c_str(), static_cast<off_t>(c.After)), 0);
    } else if (c.After > c.Before) {
      WriteFile(dir / "src", text.substr(0, c.After));
    }
    f->CreatePacked(dir / "p.lz");
    f->TakeFileName(dir / "src");
    f->PackData();
    f->CloseFiles();
    EXPECT_EQ(f->ErrorCode(), c.Code);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 2u) << "a temporary file was left behind";
    if (c.Code != 0) {
      EXPECT_EQ(ReadFile(dir / "p.lz"), oldPacked);
    } else {
      std::string restored;
      EXPECT_EQ(UnpackFresh(dir / "p.lz", dir / "out", &restored), 0);
      EXPECT_EQ(restored, text.substr(0, c.After));
    }
  }
}

// ------------------------------------------------------------------------
// Permissions. Root may write anywhere, so these run as an unprivileged user
// in a child process; the child's exit status carries the error code.

TEST(Permissions, ReadOnlyFoldersAndFiles) {
  struct Case {
    const char* What;
    bool Pack;
    const char* From;
    const char* To;
    unsigned Flags;
    std::uint8_t Code;
    const char* Untouched;  // a file that must keep its bytes, or nullptr
    const char* Absent;     // a file that must not come into being, or nullptr
  } cases[] = {
      {"pack into a read-only folder", true, "src", "ro/p.lz", kPackOver, 7, nullptr, "ro/p.lz"},
      {"pack over a read-only packed file", true, "src", "rofile.lz", kPackOver, 7, "rofile.lz",
       nullptr},
      {"pack a source without read permission", true, "secret", "p.lz", kPackOver, 3, "secret",
       "p.lz"},
      {"pack a source from a read-only folder", true, "ro/src", "p.lz", kPackOver, 0, "ro/src",
       nullptr},
      {"unpack into a read-only folder", false, "good.lz", "ro/out", kSourceOver, 6, nullptr,
       "ro/out"},
      {"unpack over a read-only output", false, "good.lz", "rofile.lz", kSourceOver, 6,
       "rofile.lz", nullptr},
      {"unpack a packed file without read permission", false, "secret.lz", "out", kSourceOver, 8,
       "secret.lz", "out"},
      {"unpack from a read-only folder", false, "ro/good.lz", "out", kSourceOver, 0, "ro/good.lz",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ScratchDir dir;
    test::MakeOpenToAll(dir.Path().string());
    const std::string source = test::MakeText(5000, 21);
    WriteFile(dir / "src", source);
    {
      Owned f = Make(1000, 5000, 300, kPackOver);
      f->PackFile(dir / "src", dir / "good.lz");
      ASSERT_EQ(f->ErrorCode(), 0);
    }
    fs::create_directory(dir / "ro");
    fs::copy_file(dir / "src", dir / "ro/src");
    fs::copy_file(dir / "good.lz", dir / "ro/good.lz");
    fs::copy_file(dir / "good.lz", dir / "secret.lz");
    fs::copy_file(dir / "src", dir / "secret");
    WriteFile(dir / "rofile.lz", "read-only bytes");
    // Read before the permissions go: a test that is not root cannot after.
    const std::string untouched = c.Untouched != nullptr ? ReadFile(dir / c.Untouched) : "";
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir / "rofile.lz", fs::perms::owner_read | fs::perms::group_read |
                                           fs::perms::others_read);
    fs::permissions(dir / "secret", fs::perms::none);
    fs::permissions(dir / "secret.lz", fs::perms::none);

    const int status = test::RunInChild({.Unprivileged = true}, [&] {
      Owned f = Make(1000, 5000, 300, c.Flags);
      if (!f) return 200;
      if (c.Pack) {
        f->PackFile(dir / c.From, dir / c.To);
      } else {
        f->UnpackFile(dir / c.From, dir / c.To);
      }
      return int{f->ErrorCode()};
    });
    if (status == -2) GTEST_SKIP() << "cannot switch to an unprivileged user";
    EXPECT_EQ(status, c.Code);
    if (c.Untouched != nullptr) {
      fs::permissions(dir / c.Untouched, fs::perms::owner_read, fs::perm_options::add);
      EXPECT_EQ(ReadFile(dir / c.Untouched), untouched);
    }
    if (c.Absent != nullptr) {
      EXPECT_FALSE(Exists(dir / c.Absent));
    }
    if (c.Code == 0) {
      std::string restored;
      if (c.Pack) {
        EXPECT_EQ(UnpackFresh(dir / "p.lz", dir / "check", &restored), 0);
      } else {
        restored = ReadFile(dir / c.To);
      }
      EXPECT_EQ(restored, source);
    }
  }
}

// ------------------------------------------------------------------------
// Names.

// The header's name field: NameLen at offset 75, the bytes after it.
std::string StoredName(const std::string& packed) {
  const auto n = static_cast<std::uint8_t>(packed.at(75));
  return packed.substr(76, n);
}

TEST(Names, OddAndLongNamesRoundTrip) {
  struct Case {
    const char* What;
    std::string Leaf;
  } cases[] = {
      {"255 bytes, the longest a folder entry can be", std::string(255, 'n')},
      {"254 bytes of Cyrillic in UTF-8", [] {
         std::string s;
         while (s.size() < 254) s += "ж";
         return s;
       }()},
      {"blanks", "name with  blanks "},
      {"a leading dash", "-rf"},
      {"a leading dot", ".hidden"},
      {"quotes and a backslash", "it's \"quoted\" \\ back"},
      {"colons and wildcards", "c:\\x:*?<>|"},
      {"a line end and a tab", "line\nend\ttab"},
      {"bytes that are not UTF-8", "\xFF\xFE\x80\x01 raw"},
      {"printf-like", "%s%n%%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ScratchDir dir;
    const std::string source = test::MakeText(3000, 17);
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "out");
    const std::string src = (dir.Path() / "in" / c.Leaf).string();
    const std::string packed = (dir.Path() / "in" / "p.lz").string();
    const std::string target = (dir.Path() / "out" / c.Leaf).string();
    WriteFile(src, source);
    Owned f = Make(1000, 5000, 300);
    f->PackFile(src, packed);
    ASSERT_EQ(f->ErrorCode(), 0);
    EXPECT_EQ(StoredName(ReadFile(packed)), c.Leaf);
    f->UnpackFile(packed, target);
    ASSERT_EQ(f->ErrorCode(), 0);
    EXPECT_EQ(ReadFile(target), source);
    EXPECT_EQ(f->StoredName(), c.Leaf);
  }
}

TEST(Names, DeepPathStoresOnlyTheLeaf) {
  test::ScratchDir dir;
  fs::path deep = dir.Path();
  for (int i = 0; i < 30; ++i) deep /= std::string(60, static_cast<char>('a' + i % 26));
  fs::create_directories(deep);
  ASSERT_GT(deep.string().size(), 1800u);
  const std::string source = test::MakeText(2000, 4);
  WriteFile((deep / "deep.txt").string(), source);
  Owned f = Make(1000, 5000, 300);
  f->PackFile((deep / "deep.txt").string(), (deep / "deep.lz").string());
  ASSERT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(StoredName(ReadFile((deep / "deep.lz").string())), "deep.txt");
  f->UnpackFile((deep / "deep.lz").string(), (deep / "back.txt").string());
  ASSERT_EQ(f->ErrorCode(), 0);
  EXPECT_EQ(ReadFile((deep / "back.txt").string()), source);
}

TEST(Names, NamesTheSystemRefuses) {
  test::ScratchDir dir;
  const std::string source = test::MakeText(2000, 8);
  WriteFile(dir / "src", source);
  {
    Owned f = Make(1000, 5000, 300);
    f->PackFile(dir / "src", dir / "good.lz");
    ASSERT_EQ(f->ErrorCode(), 0);
  }
  const std::string leaf256 = std::string(256, 'x');
  std::string longPath = dir.Path().string();
  while (longPath.size() < 5000) longPath += "/segment";
  longPath += "/file";
  struct Case {
    const char* What;
    bool Pack;
    std::string From, To;
    std::uint8_t Code;
  } cases[] = {
      {"source leaf of 256 bytes", true, dir / leaf256, dir / "p.lz", 3},
      {"packed leaf of 256 bytes", true, dir / "src", dir / leaf256, 7},
      {"source path of 5000 bytes", true, longPath, dir / "p.lz", 3},
      {"packed path of 5000 bytes", true, dir / "src", longPath, 7},
      {"output leaf of 256 bytes", false, dir / "good.lz", dir / leaf256, 6},
      {"output path of 5000 bytes", false, dir / "good.lz", longPath, 6},
      {"packed path of 5000 bytes to unpack", false, longPath, dir / "out", 8},
      {"empty source name", true, "", dir / "p.lz", 3},
      {"empty output name", false, dir / "good.lz", "", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Owned f = Make(1000, 5000, 300, kPackOver | kSourceOver);
    if (c.Pack) {
      f->PackFile(c.From, c.To);
    } else {
      f->UnpackFile(c.From, c.To);
    }
    EXPECT_EQ(f->ErrorCode(), c.Code);
    EXPECT_FALSE(Exists(dir / "p.lz"));
    EXPECT_FALSE(Exists(dir / "out"));
    EXPECT_EQ(ReadFile(dir / "src"), source);
    // The folder holds nothing new.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 2u);
  }
}

// ------------------------------------------------------------------------
// Every cut of a packed file, through the file object and through
// UnpackMemory: inside the header nothing is written (14), inside the stream
// or the marker what was decoded is a prefix of the source (25). The rows
// take a stream within one buffer, one over many fills of a small buffer, and
// phrases longer than the unpacker's buffer (delivered in pieces).

struct CutSetting {
  const char* What;
  std::string Source;
  std::uint32_t Buf, Dic, Frag;
  std::size_t Step;  // test every Step-th length (and the last 16 all)
};

TEST(Truncation, EveryLengthAcrossBufferFills) {
  const CutSetting settings[] = {
      {"text within one buffer", test::MakeText(3000, 11), 4099, 5000, 300, 1},
      {"text and a run, small dictionary", test::MakeText(3000, 5) + std::string(2000, 'r'), 100000, 500, 500, 1},
      {"text in 1000-byte buffers", test::MakeText(8000, 33), 1000, 5000, 300, 1},
      {"noise with dictionary resets", test::MakeRandom(3000, 34), 1000, 500, 500, 1},
      {"a run whose phrases outgrow the buffer", std::string(700000, 'a'), 1000, 65536, 65536, 23},
  };
  for (const CutSetting& s : settings) {
    SCOPED_TRACE(s.What);
    test::ScratchDir dir;
    WriteFile(dir / "src", s.Source);
    Owned f = Make(s.Buf, s.Dic, s.Frag, kPackOver | kSourceOver);
    f->PackFile(dir / "src", dir / "good.lz");
    ASSERT_EQ(f->ErrorCode(), 0);
    const std::string good = ReadFile(dir / "good.lz");
    const std::size_t infoEnd = 63 + static_cast<std::uint8_t>(good[61]);
    const std::string old = "an existing output";
    for (std::size_t n = 0; n <= good.size(); ++n) {
      if (n % s.Step != 0 && n + 16 < good.size() && n > infoEnd + 16) continue;
      SCOPED_TRACE(n);
      const std::string cut = good.substr(0, n);
      WriteFile(dir / "cut.lz", cut);
      WriteFile(dir / "out", old);
      f->UnpackFile(dir / "cut.lz", dir / "out");
      const std::string out = ReadFile(dir / "out");
      ASSERT_EQ(ReadFile(dir / "cut.lz"), cut);
      if (n < infoEnd) {
        ASSERT_EQ(f->ErrorCode(), 14);
        ASSERT_EQ(out, old);
      } else if (n < good.size()) {
        ASSERT_EQ(f->ErrorCode(), 25);
        ASSERT_LE(out.size(), s.Source.size());
        ASSERT_TRUE(std::equal(out.begin(), out.end(), s.Source.begin()));
      } else {
        ASSERT_EQ(f->ErrorCode(), 0);
        ASSERT_EQ(out, s.Source);
      }
      // The same bytes in memory, in storage of exactly their size.
      const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[n + 1]);
      std::memcpy(exact.get(), good.data(), n);
      std::vector<std::uint8_t> plain;
      ASSERT_EQ(UnpackMemory(exact.get(), n, plain), n < infoEnd ? 14 : n < good.size() ? 25 : 0);
      ASSERT_TRUE(s.Source.starts_with(std::string(plain.begin(), plain.end())));
    }
  }
}

// With only the end marker cut short every code byte is there, so the whole
// source is restored before error 25 is given, here with a last phrase longer
// than the output buffer, which the decoder delivers in pieces.
void UnpackWithoutMarkerBytes(std::size_t missing) {
  test::ScratchDir dir;
  const std::string source = std::string(1500000, 'a');
  WriteFile(dir / "src", source);
  Owned f = Make(1000, 65536, 65536, kPackOver | kSourceOver);
  f->PackFile(dir / "src", dir / "good.lz");
  ASSERT_EQ(f->ErrorCode(), 0);
  const std::string good = ReadFile(dir / "good.lz");
  WriteFile(dir / "cut.lz", good.substr(0, good.size() - missing));
  f->UnpackFile(dir / "cut.lz", dir / "out");
  EXPECT_EQ(f->ErrorCode(), 25);
  EXPECT_EQ(ReadFile(dir / "out").size(), source.size());
}

TEST(Truncation, MarkerCutShortKeepsTheLastPhrase) {
  for (std::size_t missing = 1; missing <= 3; ++missing) {
    SCOPED_TRACE(missing);
    UnpackWithoutMarkerBytes(missing);
  }
}

// The same with the whole marker missing, the file ending at its last code
// byte: the decoder has taken every byte of the file while it still holds the
// rest of a phrase longer than the buffer, and unpacking must drain it.
TEST(Truncation, MarkerMissingKeepsTheLastPhrase) { UnpackWithoutMarkerBytes(4); }

}  // namespace
}  // namespace vorka
