// The one-call memory functions: round trips, the packed-size bound against
// inputs built to approach it, and damaged, truncated and hostile packed
// data, whose codes must be those the file object gives for the same bytes.
#include "Vorka.h"
#include "lzfile/LZFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lzfile/LZFormat.h"
#include "support/ChildProcess.h"
#include "support/LZFileOwner.h"
#include "support/TestData.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

namespace fmt = lzformat;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pack(const Bytes& plain, std::uint32_t dic = 100000, std::uint32_t frag = 0,
           TChildIndex index = test::IndexUnderTest()) {
  Bytes packed;
  EXPECT_EQ(PackMemory(plain.data(), static_cast<std::uint32_t>(plain.size()), packed, dic, frag, index), 0);
  return packed;
}

// Each byte value once, over and over: every byte is a new first byte of its
// epoch while the dictionary is small, so nearly every byte is a literal.
Bytes Cycle(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
  return b;
}

// A de Bruijn-like walk: every pair of bytes appears before any repeats, so
// phrases stay as short as a large dictionary allows.
Bytes Pairs(std::size_t n) {
  Bytes b;
  b.reserve(n);
  for (unsigned a = 0; b.size() < n; a = (a + 1) % 256)
    for (unsigned c = 0; c < 256 && b.size() < n; ++c) {
      b.push_back(static_cast<std::uint8_t>(a));
      if (b.size() < n) b.push_back(static_cast<std::uint8_t>(c));
    }
  return b;
}


// What the file object says about the same packed bytes, created with the
// settings the header names (the object pulls them into its limits itself).
std::uint8_t FileCode(const Bytes& packed, std::string* restored = nullptr) {
  std::uint32_t dic = 100000;
  std::uint32_t frag = 100000;
  if (packed.size() >= fmt::HeadFixedSize) {
    dic = fmt::Get32(packed.data() + fmt::OffDicSize);
    frag = fmt::Get32(packed.data() + fmt::OffMaxFrag);
    // A dictionary no writer can have: any legal one refuses the header.
    if (dic == 0 || dic > fmt::MaxHeadDicSize) dic = 600;
  }
  test::Owned f{TLZFile::Create(100000, dic, frag)};
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return 255;
  test::ScratchDir dir;
  test::WriteFile(dir / "in", std::string(packed.begin(), packed.end()));
  f->UnpackFile(dir / "in", dir / "out");
  if (restored != nullptr && std::filesystem::exists(dir / "out")) *restored = test::ReadFile(dir / "out");
  return f->ErrorCode();
}

TEST(MemoryApi, RoundTripsEveryCorpusFileRandomAndEmpty) {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"empty", {}},
      {"one byte", {'q'}},
      {"random", ToBytes(test::MakeRandom(200000, 3))},
      {"text", ToBytes(test::MakeText(300000, 8))},
      {"run", ToBytes(std::string(2000000, 'a'))},
  };
  const std::filesystem::path root = std::filesystem::path(VORKA_CORPUS_DIR);
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    // Under the sanitizers the large files would take minutes.
    if (it->is_regular_file() && it->path().parent_path() != root &&
        (!test::UnderAddressSanitizer() || it->file_size() <= (1u << 20)))
      inputs.emplace_back(it->path().string(), ToBytes(test::ReadFile(it->path().string())));
  ASSERT_GT(inputs.size(), 20u) << "no corpus under " << VORKA_CORPUS_DIR;
  for (const auto& [name, plain] : inputs) {
    SCOPED_TRACE(name);
    const Bytes packed = Pack(plain);
    EXPECT_LE(packed.size(), PackedSizeBound(static_cast<std::uint32_t>(plain.size())));
    Bytes back = {1, 2, 3};  // replaced, not appended to
    EXPECT_EQ(UnpackMemory(packed.data(), packed.size(), back), 0);
    EXPECT_TRUE(back == plain);
  }
}

TEST(MemoryApi, RoundTripsWithEverySetting) {
  struct Case {
    std::uint32_t Dic, Frag, HeadDic, HeadFrag;
  };
  // Settings are pulled to their limits as the command line pulls them.
  const Case cases[] = {
      {100000, 0, 100000, 100000}, {0, 0, 500, 500},        {1, 1, 500, 4},
      {500, 4, 500, 4},            {600, 100000, 600, 600}, {5000, 2000, 5000, 2000},
      {0xFFFFFFFF, 7, 268435326, 7},
  };
  const Bytes plain = ToBytes(test::MakeText(40000, 2) + std::string(30000, 'x') + test::MakeRandom(5000, 4));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Dic << "/" << c.Frag);
    const Bytes packed = Pack(plain, c.Dic, c.Frag, TChildIndex::Tree);
    EXPECT_TRUE(Pack(plain, c.Dic, c.Frag, TChildIndex::Hash) == packed);  // the same codes
    ASSERT_GT(packed.size(), fmt::HeadFixedSize);
    EXPECT_EQ(fmt::Get32(packed.data() + fmt::OffDicSize), c.HeadDic);
    EXPECT_EQ(fmt::Get32(packed.data() + fmt::OffMaxFrag), c.HeadFrag);
    Bytes back;
    EXPECT_EQ(UnpackMemory(packed.data(), packed.size(), back), 0);
    EXPECT_TRUE(back == plain);
    // The file object reads what the memory function writes.
    std::string restored;
    EXPECT_EQ(FileCode(packed, &restored), 0);
    EXPECT_EQ(restored, std::string(plain.begin(), plain.end()));
  }
}

TEST(MemoryApi, RefusesWhatTheFormatCannotHold) {
  Bytes packed = {9};
  const std::uint8_t byte = 1;
  EXPECT_EQ(PackMemory(nullptr, 10, packed), 3);
  EXPECT_TRUE(packed.empty());
  EXPECT_EQ(PackMemory(&byte, 0x80000000u, packed), 3);
  Bytes empty;
  EXPECT_EQ(PackMemory(nullptr, 0, empty), 0);
  EXPECT_EQ(empty.size(), PackedSizeBound(0));
  Bytes plain;
  EXPECT_EQ(UnpackMemory(nullptr, 5, plain), 8);
  EXPECT_EQ(UnpackMemory(nullptr, 0, plain), 14);
}

TEST(MemoryApi, BoundHoldsForRandomAndWorstCaseInputs) {
  struct Case {
    const char* What;
    Bytes Plain;
    std::uint32_t Dic, Frag;
    double Reach;  // share of the bound the input comes to: the bound is not vacuous
  };
  const std::vector<Case> cases = {
      {"every byte value in turn, smallest dictionary", Cycle(300000), 500, 0, 0.5},
      {"every byte value in turn, fragment limit 4", Cycle(300000), 500, 4, 0.5},
      {"every byte value in turn, huge dictionary", Cycle(300000), 268435326, 0, 0.0},
      {"all pairs, huge dictionary", Pairs(140000), 268435326, 0, 0.6},
      {"all pairs, fragment limit 4", Pairs(140000), 268435326, 4, 0.0},
      {"random, smallest dictionary", ToBytes(test::MakeRandom(300000, 11)), 500, 0, 0.65},
      {"random, default dictionary", ToBytes(test::MakeRandom(300000, 12)), 100000, 0, 0.0},
      {"random, huge dictionary, fragment limit 4", ToBytes(test::MakeRandom(300000, 13)), 268435326, 4, 0.0},
      {"one byte", {0}, 500, 0, 0.0},
      {"two bytes", {0, 1}, 500, 0, 0.0},
      {"three distinct bytes", {7, 8, 9}, 268435326, 4, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const Bytes packed = Pack(c.Plain, c.Dic, c.Frag);
    const std::size_t bound = PackedSizeBound(static_cast<std::uint32_t>(c.Plain.size()));
    EXPECT_LE(packed.size(), bound);
    EXPECT_GE(static_cast<double>(packed.size()), c.Reach * static_cast<double>(bound));
  }
  // Every short input of the bytes 0..3 in every order, and a dictionary that
  // fills: no input of a size may pass its bound.
  for (std::uint32_t n = 1; n <= 7; ++n) {
    std::uint32_t combos = 1;
    for (std::uint32_t i = 0; i < n; ++i) combos *= 4;
    for (std::uint32_t k = 0; k < combos; ++k) {
      Bytes plain;
      for (std::uint32_t i = 0, v = k; i < n; ++i, v /= 4) plain.push_back(static_cast<std::uint8_t>(v % 4));
      const Bytes packed = Pack(plain, 500, 0);
      ASSERT_LE(packed.size(), PackedSizeBound(n)) << n << " bytes, pattern " << k;
    }
  }
}

TEST(MemoryApi, BoundGrowsWithTheInputAndNeverBelowIt) {
  std::size_t last = PackedSizeBound(0);
  EXPECT_EQ(last, 80u);
  for (std::uint64_t n = 1; n <= 0xFFFFFFFFu; n = n * 3 + 1) {
    const std::size_t bound = PackedSizeBound(static_cast<std::uint32_t>(n));
    EXPECT_GT(bound, last);
    EXPECT_GT(bound, 80 + n);  // nothing packs every input of a size smaller
    EXPECT_LT(bound, 80 + 5 * n + 64);
    last = bound;
  }
  EXPECT_GT(PackedSizeBound(0xFFFFFFFFu), std::size_t{0xFFFFFFFFu});
}

// A packed file of plain text with a stored name, changed by one edit.
struct Damage {
  const char* What;
  std::uint8_t Code;
  void (*Edit)(Bytes&);
};

void Put16At(Bytes& b, std::size_t at, std::uint16_t v) { fmt::Put16(b.data() + at, v); }
void Put32At(Bytes& b, std::size_t at, std::uint32_t v) { fmt::Put32(b.data() + at, v); }
constexpr std::size_t kInfo = fmt::HeadFixedSize;                 // InfoLen field
constexpr std::size_t kSize = fmt::HeadFixedSize + fmt::InfoOffSize;
constexpr std::size_t kStream = fmt::HeadFixedSize + fmt::InfoPartSize(0);

const Damage kDamages[] = {
    {"intact", 0, [](Bytes&) {}},
    {"nothing at all", 14, [](Bytes& b) { b.clear(); }},
    {"60 bytes", 14, [](Bytes& b) { b.resize(60); }},
    {"fixed header only", 14, [](Bytes& b) { b.resize(61); }},
    {"InfoLen cut in half", 14, [](Bytes& b) { b.resize(62); }},
    {"information part cut", 14, [](Bytes& b) { b.resize(70); }},
    {"first byte of the signature", 15, [](Bytes& b) { b[0] ^= 1; }},
    {"last byte of the signature", 15, [](Bytes& b) { b[50] = 0; }},
    {"version 2", 18, [](Bytes& b) { Put16At(b, 51, 2); }},
    {"version 0 with a bad dictionary", 18, [](Bytes& b) { Put16At(b, 51, 0); Put32At(b, 53, 1); }},
    {"dictionary 499", 21, [](Bytes& b) { Put32At(b, 53, 499); }},
    {"dictionary 0", 21, [](Bytes& b) { Put32At(b, 53, 0); }},
    {"dictionary one above the largest", 21, [](Bytes& b) { Put32At(b, 53, 268435327); }},
    {"dictionary 2^32 - 1", 21, [](Bytes& b) { Put32At(b, 53, 0xFFFFFFFF); }},
    {"fragment limit 3", 20, [](Bytes& b) { Put32At(b, 57, 3); }},
    {"fragment limit 0", 20, [](Bytes& b) { Put32At(b, 57, 0); }},
    {"fragment limit above the dictionary", 20, [](Bytes& b) { Put32At(b, 57, 100001); }},
    {"both limits wrong: dictionary first", 21, [](Bytes& b) { Put32At(b, 53, 1); Put32At(b, 57, 1); }},
    {"InfoLen beyond the data", 14, [](Bytes& b) { Put16At(b, kInfo, 0xFFFF); }},
    {"InfoLen 12", 15, [](Bytes& b) { Put16At(b, kInfo, 12); }},
    {"InfoLen 0", 15, [](Bytes& b) { Put16At(b, kInfo, 0); }},
    {"name longer than InfoLen", 15, [](Bytes& b) { b[kInfo + fmt::InfoOffNameLen] = 9; }},
    {"InfoLen with spare bytes", 0,
     [](Bytes& b) {
       Put16At(b, kInfo, fmt::InfoFixedLen + 5);
       b.insert(b.begin() + kStream, {1, 2, 3, 4, 5});
     }},
    {"Size 0 on a stream", 24, [](Bytes& b) { Put32At(b, kSize, 0); }},
    {"negative Size on a stream", 24, [](Bytes& b) { Put32At(b, kSize, 0x80000000u); }},
    {"Size -1 and the marker right after the header", 0,
     [](Bytes& b) {
       Put32At(b, kSize, 0xFFFFFFFF);
       b.erase(b.begin() + kStream, b.end() - 4);
     }},
    {"code stream of 0xFF bytes", 11, [](Bytes& b) { std::fill(b.begin() + kStream, b.end() - 4, 0xFF); }},
    {"end marker changed", 24, [](Bytes& b) { b.back() ^= 0x40; }},
    {"end marker missing", 25, [](Bytes& b) { b.resize(b.size() - 4); }},
    {"end marker cut to 3 bytes", 25, [](Bytes& b) { b.pop_back(); }},
    {"cut inside the code stream", 25, [](Bytes& b) { b.resize(kStream + 100); }},
    {"bytes after the end marker", 0, [](Bytes& b) { b.insert(b.end(), {0, 1, 2, 3, 4, 5, 6, 7}); }},
    {"huge Size on a short stream", 25, [](Bytes& b) { Put32At(b, kSize, 0x7FFFFFFF); }},
};

TEST(MemoryApi, DamagedHeadersAndStreamsGiveTheFileObjectsCodes) {
  const Bytes plain = ToBytes(test::MakeText(5000, 21));
  const Bytes good = Pack(plain);
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.What);
    Bytes bad = good;
    d.Edit(bad);
    // An exact copy, so that any read past the end is one past the storage.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bad.size() + 1]);
    std::memcpy(exact.get(), bad.data(), bad.size());
    Bytes out;
    const int code = UnpackMemory(bad.empty() ? nullptr : exact.get(), bad.size(), out);
    EXPECT_EQ(code, d.Code);
    EXPECT_EQ(FileCode(bad), d.Code);
    // What was decoded starts with the plain data (a Size above it decodes
    // the end marker as codes too).
    const std::size_t common = std::min(out.size(), plain.size());
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(common), plain.begin()));
    if (code == 0) {
      EXPECT_EQ(out.size(), fmt::Get32(bad.data() + kSize) > 0x7FFFFFFF ? 0 : plain.size());
    }
  }
}

TEST(MemoryApi, ASizeSmallerThanTheDataIsNeverSuccess) {
  // Cuts of a few bytes end inside the last phrase (11) or leave its code
  // where the end marker should be (24).
  const Bytes plain = ToBytes(std::string(20000, 'z'));
  const Bytes good = Pack(plain);
  for (std::uint32_t less = 1; less <= 300; ++less) {
    Bytes bad = good;
    Put32At(bad, kSize, static_cast<std::uint32_t>(plain.size()) - less);
    Bytes out;
    const int code = UnpackMemory(bad.data(), bad.size(), out);
    ASSERT_TRUE(code == 11 || code == 24) << less << " bytes less: " << code;
    ASSERT_TRUE(std::equal(out.begin(), out.end(), plain.begin()));
  }
}

// The output limit is on the header's Size: up to it the call works as without.
TEST(MemoryApi, OutputLimitRefusesALargerSizeBeforeDecoding) {
  const Bytes plain = ToBytes(test::MakeText(5000, 2));
  const Bytes packed = Pack(plain);
  const Bytes empty = Pack({});
  const struct {
    const Bytes* Packed;
    std::size_t MaxPlain;
    int Code;
  } cases[] = {
      {&packed, plain.size(), 0}, {&packed, plain.size() - 1, 12}, {&packed, 0, 12}, {&empty, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.MaxPlain);
    Bytes out = {7};
    EXPECT_EQ(UnpackMemory(c.Packed->data(), c.Packed->size(), out, c.MaxPlain), c.Code);
    EXPECT_EQ(out.size(), c.Code == 0 && c.Packed == &packed ? plain.size() : 0u);
  }
}

// The file functions pack as the memory ones do (but for the name, attributes
// and time) and take the settings back from the header.
TEST(PublicFileApi, RoundTripsAndReportsTheFileObjectsCodes) {
  test::ScratchDir dir;
  const std::string text = test::MakeText(40000, 4);
  test::WriteFile(dir / "plain", text);
  test::WriteFile(dir / "junk", std::string(100, 'j'));
  test::WriteFile(dir / "out", "old contents");
  ASSERT_EQ(PackFile((dir / "plain").c_str(), (dir / "packed").c_str(), 4096, 50), 0);
  const std::string packed = test::ReadFile(dir / "packed");
  const Bytes fromMemory = Pack(ToBytes(text), 4096, 50);
  ASSERT_GT(packed.size(), fmt::HeadFixedSize);
  EXPECT_EQ(packed.substr(0, fmt::HeadFixedSize), std::string(fromMemory.begin(), fromMemory.begin() + fmt::HeadFixedSize));
  ASSERT_EQ(PackFile((dir / "plain").c_str(), (dir / "hashed").c_str(), 4096, 50, TChildIndex::Hash), 0);
  EXPECT_EQ(test::ReadFile(dir / "hashed"), packed);
  EXPECT_EQ(UnpackFile((dir / "packed").c_str(), (dir / "out").c_str()), 0);
  EXPECT_EQ(test::ReadFile(dir / "out"), text);

  const struct {
    int Code, Expected;
  } cases[] = {
      {PackFile((dir / "missing").c_str(), (dir / "p2").c_str()), 3},
      {PackFile(nullptr, (dir / "p2").c_str()), 3},
      {UnpackFile((dir / "missing").c_str(), (dir / "out").c_str()), 8},
      {UnpackFile((dir / "junk").c_str(), (dir / "out").c_str()), 15},
      {UnpackFile((dir / "packed").c_str(), nullptr), 8},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Code, c.Expected);
  EXPECT_FALSE(std::filesystem::exists(dir / "p2"));
  EXPECT_EQ(test::ReadFile(dir / "out"), text);
}

#if !defined(_WIN32)  // needs a child process under an address-space limit
TEST(MemoryApi, HostileHeadersCostNoMoreMemoryThanTheirStreams) {
  if (test::UnderAddressSanitizer()) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  const Bytes plain = ToBytes(test::MakeText(20000, 6));
  const Bytes good = Pack(plain);
  struct Case {
    const char* What;
    std::uint32_t Dic, Frag, Size;
    int Code;
    std::size_t MaxPlain = SIZE_MAX;
  };
  // Without a stream to back them, neither a 268435326-entry dictionary
  // (3.7 GB) nor a Size of 2 GiB may be reserved. The larger dictionary
  // numbers this stream's nodes as the smaller one did. A caller's limit
  // refuses the claim before anything is obtained.
  const Case cases[] = {
      {"largest dictionary", 268435326, 100000, static_cast<std::uint32_t>(plain.size()), 0},
      {"largest dictionary and fragment limit", 268435326, 268435326, static_cast<std::uint32_t>(plain.size()), 0},
      {"Size 2^31 - 1", 100000, 100000, 0x7FFFFFFF, 25},
      {"all three", 268435326, 268435326, 0x7FFFFFFF, 25},
      {"all three, output limited", 268435326, 268435326, 0x7FFFFFFF, 12, 1u << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Bytes bad = good;
    Put32At(bad, 53, c.Dic);
    Put32At(bad, 57, c.Frag);
    Put32At(bad, kSize, c.Size);
    test::ChildLimits limits;
    limits.AddressSpace = test::CurrentAddressSpace() + (256u << 20);
    const int status = test::RunInChild(limits, [&] {
      Bytes out;
      const int code = UnpackMemory(bad.data(), bad.size(), out, c.MaxPlain);
      if (code != c.Code) return 100 + code;
      if (code == 12 && out.capacity() != 0) return 98;
      const std::size_t common = std::min(out.size(), plain.size());
      const bool prefix = std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(common), plain.begin());
      return (code == 0 ? out == plain : prefix) ? 0 : 99;
    });
    EXPECT_EQ(status, 0) << "100 + code, or 99 for wrong output";
  }
}

#endif

TEST(MemoryApi, RandomDamageNeverReadsOutsideAndFailsAsTheFileObjectDoes) {
  const Bytes plain = ToBytes(test::MakeText(3000, 9) + test::MakeRandom(500, 1));
  const Bytes good = Pack(plain, 1000, 50);
  std::uint32_t s = 77;
  const auto next = [&s] {
    s = s * 1103515245u + 12345u;
    return s >> 8;
  };
  int differ = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes bad = good;
    const int edits = 1 + static_cast<int>(next() % 3);
    for (int e = 0; e < edits; ++e) bad[next() % bad.size()] ^= static_cast<std::uint8_t>(1 + next() % 255);
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bad.size()]);
    std::memcpy(exact.get(), bad.data(), bad.size());
    Bytes out;
    const int code = UnpackMemory(exact.get(), bad.size(), out);
    std::string restored;
    const int fileCode = FileCode(bad, &restored);
    // The file object does not yet call a Size reached inside a phrase damage;
    // it then goes on to the end marker (24, or 25 when too few bytes follow).
    if (code != fileCode && !(code == 11 && (fileCode == 0 || fileCode == 24 || fileCode == 25))) {
      ADD_FAILURE() << "round " << round << ": memory " << code << ", file " << fileCode;
    }
    differ += code != fileCode;
    if (code == fileCode && code != 15 && code != 18 && code != 20 && code != 21 && code != 14) {
      EXPECT_EQ(std::string(out.begin(), out.end()), restored) << "round " << round;
    }
  }
  RecordProperty("codes that differ", differ);
}

}  // namespace
}  // namespace vorka
