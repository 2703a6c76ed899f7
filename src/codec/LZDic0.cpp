// Node store operations: initialisation, node creation, the phrase scan and
// the unwinding of a code into its characters.
#include "codec/LZDic0.h"

#include <cassert>
#include <cstring>

namespace vorka {

void TDicNodes::InitNodes(std::uint32_t limit) {
  NodeLimit = limit;
  NodeCount = FirstPhraseNode;
  for (std::uint32_t n = 0; n < FirstPhraseNode; ++n) {
    NodeLinks[2 * n] = NilNode;
    NodeLinks[2 * n + 1] = NilNode;
    NodeChar[n] = 0;
    NodeBit[n] = 0;
  }
  NodeRoot[RootNode] = NilNode;
}

std::uint32_t TDicNodes::ScanPhrase(const std::uint8_t* bytes, std::uint32_t length,
                                    std::uint32_t& current) {
  // Locals keep the arrays in registers: the stores into the sentinel would
  // otherwise force reloads of every member on each step.
  std::uint8_t* const chars = NodeChar;
  const std::uint32_t* const links = NodeLinks;
  const std::uint32_t* const roots = NodeRoot;
  std::uint32_t node = current;
  std::uint32_t taken = 0;
  while (taken < length) {
    const std::uint8_t c = bytes[taken];
    chars[NilNode] = c;
    std::uint32_t n = roots[node];
    std::uint8_t nc;
    while ((nc = chars[n]) != c) n = links[2 * n + (nc < c)];
    if (n == NilNode) break;
    node = n;
    ++taken;
  }
  current = node;
  return taken;
}

std::uint32_t TDicNodes::NewNode() {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodeLinks[2 * n] = NilNode;
  NodeLinks[2 * n + 1] = NilNode;
  NodeBit[n] = 0;
  NodeRoot[n] = NilNode;
  return n;
}

std::uint32_t TDicNodes::AddChild(std::uint8_t c, std::uint32_t parent) {
  const std::uint32_t n = NewNode();
  if (n != NilNode) {
    NodeChar[n] = c;
    InsertNode(n, &NodeRoot[parent]);
  }
  return n;
}

std::uint32_t TDicNodes::AppendNode(std::uint8_t c, std::uint32_t prefix) {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodePrefix[n] = prefix;
  NodeChar[n] = c;
  return n;
}

std::int64_t TDicNodes::Unwind(std::uint32_t code, std::uint8_t* buffer, std::uint32_t room) {
  assert(code >= FirstPhraseNode && code < NodeCount);
  const std::uint8_t* const chars = NodeChar;
  const std::uint32_t* const prefix = NodePrefix;
  std::uint8_t* p = buffer + room;
  std::uint32_t n = code;
  // The chain comes last character first: fill the room from its end.
  while (n != RootNode && p != buffer) {
    *--p = chars[n];
    assert(prefix[n] < n);  // prefixes strictly decrease, so the walk ends
    n = prefix[n];
  }
  const auto stored = static_cast<std::uint32_t>(buffer + room - p);
  if (n == RootNode) {
    if (p != buffer) std::memmove(buffer, p, stored);
    return stored;
  }
  std::int64_t missing = 0;
  while (n != RootNode) {
    assert(prefix[n] < n);
    n = prefix[n];
    ++missing;
  }
  return -missing;
}

}  // namespace vorka
