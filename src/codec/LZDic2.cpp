// The hash child index: one open-addressing table on (parent, character) in
// place of the child trees, for builds that put packing speed first.
//
// The table lives in the link and root arrays (12 bytes a node, 8-byte
// entries: 1.5 entries a node, so it is at most two thirds full). Entry
// layout: key = parent << 8 | character in the high 36 bits, node in the low
// 28; 0 is an empty entry, as no key is 0 (parents are 3 or more). The
// one-character phrases are left to RootChild and kept out of the table.
//
// Where an entry goes is decided by a hash of its phrase's characters, not
// by the parent's number: the home of the next byte's entry is known before
// this byte's entry has been read, so a scan issues its loads back to back
// instead of waiting for each in turn. Entries still carry the exact key, so
// two phrases with one hash merely share a probe run.
//
// An insertion needs the parent's phrase hash, and a node number alone does
// not give it. The last three entries of the storage hold a note instead: the
// node where the last scan or insertion stopped, its hash, and the free entry
// where the scan's final miss would be inserted. The packer nearly always
// goes on from that node; any other node's hash is rebuilt by walking its
// path up through the table, one pass over the table per character.
#if defined(VORKA_CHILD_INDEX_HASH) && VORKA_CHILD_INDEX_HASH

#include <cassert>
#include <cstring>

#include "LZDic0.h"

namespace vorka {
namespace {

constexpr unsigned kNodeBits = 28;
constexpr std::uint64_t kNodeMask = (std::uint64_t{1} << kNodeBits) - 1;

// Phrase hash: hash(s + c) = (hash(s) + c) * kMix, all mod 2^64. The home is
// taken from the high bits, which every character reaches through the
// multiply. Being a polynomial, it can also be summed from the end of a
// phrase towards its start (PathHash).
constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15u;
constexpr std::uint64_t kEmptyHash = 0x243F6A8885A308D3u;
std::uint64_t Extend(std::uint64_t h, std::uint32_t c) { return (h + c) * kMix; }

std::uint64_t Key(std::uint32_t parent, std::uint32_t c) { return std::uint64_t{parent} << 8 | c; }

// First entry to probe: the high half of the hash scaled to the table by a
// multiply rather than a division.
std::uint32_t Home(std::uint64_t h, std::uint32_t slots) {
  return static_cast<std::uint32_t>(((h >> 32) * slots) >> 32);
}

std::uint64_t Entry(const std::uint32_t* table, std::uint32_t i) {
  std::uint64_t e;
  std::memcpy(&e, table + 2 * std::size_t{i}, sizeof e);
  return e;
}

void SetEntry(std::uint32_t* table, std::uint32_t i, std::uint64_t e) {
  std::memcpy(table + 2 * std::size_t{i}, &e, sizeof e);
}

// The note after the table, as 4-byte words. All zero (as InitNodes leaves
// it) names no node.
constexpr std::uint32_t kNoteSlots = 3;
constexpr std::size_t kNoteHash = 0;      // two words
constexpr std::size_t kNoteNode = 2;
constexpr std::size_t kNoteMissChar = 3;  // 0x100 | the character that missed, or 0
constexpr std::size_t kNoteMissSlot = 4;  // free entry that ended its probe

std::uint32_t TableSlots(const TDicNodes& d) { return d.HashSlots - kNoteSlots; }
std::uint32_t* Note(const TDicNodes& d) { return d.NodeLinks + 2 * std::size_t{TableSlots(d)}; }

std::uint64_t NoteHash(const std::uint32_t* note) {
  std::uint64_t h;
  std::memcpy(&h, note + kNoteHash, sizeof h);
  return h;
}

void WriteNote(std::uint32_t* note, std::uint32_t node, std::uint64_t h) {
  std::memcpy(note + kNoteHash, &h, sizeof h);
  note[kNoteNode] = node;
  note[kNoteMissChar] = 0;
}

// Hash of the phrase of a node that the note does not name: the characters
// are summed from the node up to a one-character phrase, each parent found by
// a pass over the table. Slow, and only reached when the index is used in an
// order the packer does not use.
std::uint64_t PathHash(const TDicNodes& d, std::uint32_t node) {
  std::uint64_t sum = 0;
  std::uint64_t power = 1;  // kMix to the number of characters summed so far
  const std::uint32_t slots = TableSlots(d);
  for (;;) {
    const std::uint8_t c = d.NodeChar[node];
    power *= kMix;
    sum += c * power;
    if (d.RootChild[c] == node) return sum + kEmptyHash * power;
    std::uint32_t i = 0;
    while (i < slots && (Entry(d.NodeLinks, i) & kNodeMask) != node) ++i;
    assert(i < slots);
    node = static_cast<std::uint32_t>(Entry(d.NodeLinks, i) >> (kNodeBits + 8));
  }
}

std::uint64_t HashOf(const TDicNodes& d, std::uint32_t node) {
  if (node == RootNode) return kEmptyHash;
  const std::uint8_t c = d.NodeChar[node];
  if (d.RootChild[c] == node) return Extend(kEmptyHash, c);
  const std::uint32_t* const note = Note(d);
  if (note[kNoteNode] == node) return NoteHash(note);
  return PathHash(d, node);
}

// Probes for (parent, c), whose child would have hash h: the child, or NilNode
// with the free entry that ended the probe in free.
std::uint32_t Probe(const std::uint32_t* table, std::uint32_t slots, std::uint32_t parent,
                    std::uint32_t c, std::uint64_t h, std::uint32_t& free) {
  const std::uint64_t key = Key(parent, c);
  std::uint32_t i = Home(h, slots);
  for (;;) {
    const std::uint64_t e = Entry(table, i);
    if ((e >> kNodeBits) == key) return static_cast<std::uint32_t>(e & kNodeMask);
    if (e == 0) {
      free = i;
      return NilNode;
    }
    if (++i == slots) i = 0;
  }
}

}  // namespace

std::uint32_t TDicNodes::ScanPhrase(const std::uint8_t* bytes, std::uint32_t length,
                                    std::uint32_t& current) {
  if (length == 0) return 0;
  std::uint32_t node = current;
  const std::uint8_t* p = bytes;
  if (node == RootNode) {
    node = RootChild[*p];
    if (node == NilNode) return 0;
    ++p;
  }
  if (IndexPending) ClearIndex();
  // The packer starts nearly every scan at a one-character phrase.
  const std::uint8_t first = p != bytes ? bytes[0] : NodeChar[node];
  std::uint64_t h = p != bytes || RootChild[first] == node ? Extend(kEmptyHash, first) : HashOf(*this, node);
  std::uint32_t* const table = NodeLinks;
  const std::uint32_t slots = TableSlots(*this);
  std::uint32_t* const note = table + 2 * std::size_t{slots};
  const std::uint8_t* const end = bytes + length;
  // The key is compared shifted into place: a hit leaves the child's number
  // as the difference. Most bytes hit at their home, so the first probe is
  // on the straight path and the rest of the run is out of line.
  while (p != end) {
    const std::uint32_t c = *p;
    const std::uint64_t child = Extend(h, c);
    const std::uint64_t want = Key(node, c) << kNodeBits;
    std::uint32_t i = Home(child, slots);
    std::uint64_t e = Entry(table, i);
    std::uint64_t x = e ^ want;
    if (x > kNodeMask) [[unlikely]] {
      do {
        if (e == 0) {
          note[kNoteMissSlot] = i;
          current = node;
          WriteNote(note, node, h);
          note[kNoteMissChar] = 0x100 | c;
          return static_cast<std::uint32_t>(p - bytes);
        }
        if (++i == slots) i = 0;
        e = Entry(table, i);
        x = e ^ want;
      } while (x > kNodeMask);
    }
    node = static_cast<std::uint32_t>(x);
    h = child;
    ++p;
  }
  current = node;
  WriteNote(note, node, h);
  return length;
}

std::uint32_t TDicNodes::FindChildOf(std::uint32_t parent, std::uint8_t c) {
  if (parent == RootNode) return RootChild[c];
  if (IndexPending) ClearIndex();
  const std::uint64_t hash = HashOf(*this, parent);
  const std::uint64_t child = Extend(hash, c);
  std::uint32_t* const note = Note(*this);
  const std::uint32_t n = Probe(NodeLinks, TableSlots(*this), parent, c, child, note[kNoteMissSlot]);
  if (n != NilNode) {
    WriteNote(note, n, child);
  } else {
    WriteNote(note, parent, hash);
    note[kNoteMissChar] = 0x100u | c;
  }
  return n;
}

namespace {

// AddChild's way when the note does not already hold the free entry: kept
// out of line so that the common way needs no stack frame.
[[gnu::noinline]] std::uint32_t AddChildProbing(TDicNodes& d, std::uint8_t c, std::uint32_t parent,
                                                std::uint32_t n) {
  if (d.IndexPending) d.ClearIndex();
  const std::uint32_t slots = TableSlots(d);
  const std::uint64_t h = Extend(HashOf(d, parent), c);
  std::uint32_t i = Home(h, slots);
  while (Entry(d.NodeLinks, i) != 0) {
    assert((Entry(d.NodeLinks, i) >> kNodeBits) != Key(parent, c));
    if (++i == slots) i = 0;
  }
  SetEntry(d.NodeLinks, i, Key(parent, c) << kNodeBits | n);
  WriteNote(Note(d), n, h);
  return n;
}

}  // namespace

// Only called for a character that parent does not have yet.
std::uint32_t TDicNodes::AddChild(std::uint8_t c, std::uint32_t parent) {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodeChar[n] = c;
  if (parent == RootNode) {
    RootChild[c] = n;
    return n;
  }
  // A pending index still holds a stale note: the probing way clears it.
  std::uint32_t* const note = Note(*this);
  if (note[kNoteNode] != parent || note[kNoteMissChar] != (0x100u | c) || IndexPending) {
    return AddChildProbing(*this, c, parent, n);
  }
  const std::uint32_t i = note[kNoteMissSlot];
  assert(Entry(NodeLinks, i) == 0);
  SetEntry(NodeLinks, i, Key(parent, c) << kNodeBits | n);
  WriteNote(note, n, Extend(NoteHash(note), c));
  return n;
}

}  // namespace vorka

#endif
