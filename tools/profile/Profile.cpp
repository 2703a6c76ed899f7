#include "Profile.h"

#include "codec/CodeItems.h"
#include "codec/DicStore.h"
#include "codec/Encoder.h"
#include "codec/LZTypes.h"

#include <algorithm>
#include <cstdio>

namespace vorka::profile {

namespace {

// One dictionary for the life of the program, like the bench's
// compressed-file object's: obtained once.
TDicStore Store;
TTreeEncoder Codec;

// Output block of one EncodeBlock call; a call that fills it is repeated.
constexpr std::uint32_t kBlockSize = 1u << 20;
std::uint8_t Block[kBlockSize];

// Walks the code stream item by item with the codec's item reader: widths
// change only where the stream says so, so the walk needs no dictionary.
// Counts the phrase codes and literals of each row by the bit where each item
// starts, and holds the stream to the packer's own habits beyond the grammar
// (a step count is never 0, and a phrase code follows it).
class TStreamWalk {
public:
  TStreamWalk(const std::vector<std::uint8_t>& stream, std::uint64_t bits) : Reader(stream.data(), bits) {}

  // Walks the items that start before rowEnd; fills codes and the width in
  // force after them. False when the stream breaks a rule of the format.
  bool WalkTo(std::uint64_t rowEnd, std::uint64_t& codes, std::uint32_t& width, std::string& error) {
    codes = 0;
    while (Reader.Position() < rowEnd) {
      const std::uint64_t at = Reader.Position();
      std::uint32_t v = 0;
      TItemKind kind{};
      if (!Reader.Next(v, kind)) {
        if (Reader.Truncated) return Fail("an item runs past the end of the stream", at, error);
        break;
      }
      if (kind == TItemKind::Bad)
        return Fail(at == 0 ? "the stream does not open with a reset" : "a width step leads beyond the widest code",
                    at, error);
      if (AfterWiden && kind != TItemKind::Phrase)
        return Fail("a widening is not followed by a phrase code", at, error);
      if (kind == TItemKind::Steps && v == 0) return Fail("a width step of 0", at, error);
      AfterWiden = kind == TItemKind::Steps;
      // A phrase code, or the byte that ends a literal or a reset.
      if (kind == TItemKind::Phrase || kind == TItemKind::Byte) ++codes;
    }
    width = Reader.State().Width;
    return true;
  }

private:
  static bool Fail(const char* what, std::uint64_t at, std::string& error) {
    error = std::string(what) + " (bit " + std::to_string(at) + ")";
    return false;
  }

  TItemReader Reader;
  bool AfterWiden = false;
};

// Entries created between two readings of the node count. A reset happens
// exactly when the store is full, so each one ends an epoch of dicSize nodes.
std::uint64_t EntriesBetween(std::uint32_t before, std::uint32_t after, std::uint32_t resets, std::uint32_t dicSize) {
  if (resets == 0) return after - before;
  return std::uint64_t{dicSize - before} + std::uint64_t{resets - 1} * (dicSize - FirstPhraseNode) +
         (after - FirstPhraseNode);
}

}  // namespace

bool ProfileData(const std::vector<std::uint8_t>& data, std::uint32_t dicSize, std::uint32_t maxFrag,
                 TProfile& profile, std::string& error) {
  // Allocate releases any dictionary of an earlier call and obtains the new one.
  if (!Store.Allocate(dicSize)) {
    error = "not enough memory for a dictionary of " + std::to_string(dicSize) + " entries";
    return false;
  }
  Store.SetMaxFragment(maxFrag != 0 ? maxFrag : dicSize);
  Codec.Start(Store);
  profile = TProfile{};
  profile.DictionarySize = Store.DictionarySize();
  profile.MaxFragment = Store.MaxFragment();

  std::vector<std::uint8_t> stream;
  std::vector<std::uint64_t> rowEnds;  // stream bit where each row's items end
  std::vector<std::uint32_t> nodeCounts;
  const std::uint8_t* in = data.data();
  for (std::uint64_t offset = 0; offset < data.size(); offset += kPieceSize) {
    TPieceRow row;
    row.Offset = offset;
    row.Bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSize, data.size() - offset));
    const std::uint32_t resetsBefore = Codec.ResetCount();
    const std::uint32_t nodesBefore = Codec.NodeCount();
    for (std::uint32_t done = 0; done < row.Bytes;) {
      std::uint32_t consumed = 0;
      std::uint32_t written = 0;
      Codec.EncodeBlock(in + offset + done, row.Bytes - done, consumed, Block, kBlockSize, written);
      stream.insert(stream.end(), Block, Block + written);
      done += consumed;
    }
    row.Resets = Codec.ResetCount() - resetsBefore;
    row.NewEntries = EntriesBetween(nodesBefore, Codec.NodeCount(), row.Resets, profile.DictionarySize);
    row.Longest = Codec.LongestFragment();
    rowEnds.push_back(Codec.StreamBits());
    profile.Rows.push_back(row);
  }
  // The final calls send the last phrase and pad the last byte.
  for (;;) {
    std::uint32_t consumed = 0;
    std::uint32_t written = 0;
    Codec.EncodeBlock(data.data(), 0, consumed, Block, kBlockSize, written);
    stream.insert(stream.end(), Block, Block + written);
    if (written < kBlockSize) break;
  }
  const std::uint64_t codeBits = Codec.StreamBits();
  profile.InputBytes = Codec.InputBytes();
  profile.StreamBytes = stream.size();
  if (Codec.PackedBytes() != stream.size() || (codeBits + 7) / 8 != stream.size()) {
    error = "the codec counted " + std::to_string(codeBits) + " bits but wrote " + std::to_string(stream.size()) +
            " bytes";
    return false;
  }
  if (!profile.Rows.empty()) {
    // The last piece also owns the end of the stream and the padding.
    profile.Rows.back().Longest = Codec.LongestFragment();
    rowEnds.back() = stream.size() * 8;
  }

  TStreamWalk walk(stream, codeBits);
  std::uint64_t start = 0;
  for (std::size_t i = 0; i < profile.Rows.size(); ++i) {
    TPieceRow& row = profile.Rows[i];
    row.Bits = rowEnds[i] - start;
    start = rowEnds[i];
    if (!walk.WalkTo(rowEnds[i], row.Codes, row.Width, error)) return false;
  }
  return true;
}

std::string ProfileCsv(const TProfile& profile) {
  std::string out = "offset,bytes,bits,bits_per_byte,codes,new_entries,resets,width,longest\n";
  char line[256];
  for (const TPieceRow& r : profile.Rows) {
    const double perByte = r.Bytes != 0 ? static_cast<double>(r.Bits) / r.Bytes : 0.0;
    std::snprintf(line, sizeof line, "%llu,%u,%llu,%.4f,%llu,%llu,%u,%u,%u\n",
                  static_cast<unsigned long long>(r.Offset), r.Bytes, static_cast<unsigned long long>(r.Bits),
                  perByte, static_cast<unsigned long long>(r.Codes), static_cast<unsigned long long>(r.NewEntries),
                  r.Resets, r.Width, r.Longest);
    out += line;
  }
  return out;
}

}  // namespace vorka::profile
