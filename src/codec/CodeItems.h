// The grammar of the code stream, item by item, for whoever reads a stream
// without rebuilding the dictionary (tools, tests) and for the decoder's
// checks of the control items. An item is a phrase code in the width in
// force, or one of the control codes with what follows it:
//   codeReset, literal byte     the dictionary restarts; widths back to 2 bits
//   codeLiteral, literal byte   a byte that is not yet a phrase of its own
//   codeWiden, step count       the width grows by the count (5 bits)
// Every stream opens with codeReset, and no width exceeds MaxCodeWidth.
#pragma once

#include <cstddef>
#include <cstdint>

#include "LZTypes.h"

namespace vorka {

enum class TItemKind : std::uint8_t {
  Reset,    // codeReset
  Literal,  // codeLiteral
  Widen,    // codeWiden
  Byte,     // the byte after codeReset or codeLiteral
  Steps,    // the step count after codeWiden
  Phrase,   // a phrase code (FirstPhraseNode or more)
  Bad,      // an item the packer cannot have written; the stream is damaged
};

// Where a reader stands in the grammar: the width of the next item and what
// it means.
struct TItemGrammar {
  std::uint8_t Width = 2;
  std::uint8_t Expect = 0;  // csLiteral or csWiden after their control code
  bool Opened = false;      // the opening codeReset was read

  unsigned NextWidth() const {
    if ((Expect & csLiteral) != 0) return LiteralWidth;
    if ((Expect & csWiden) != 0) return StepCountWidth;
    return Width;
  }

  // Classifies v, an item of NextWidth() bits, and moves on past it.
  TItemKind Take(std::uint32_t v) {
    if ((Expect & csLiteral) != 0) {
      Expect = 0;
      return TItemKind::Byte;
    }
    if ((Expect & csWiden) != 0) {
      if (Width + v > MaxCodeWidth) return TItemKind::Bad;
      Width = static_cast<std::uint8_t>(Width + v);
      Expect = 0;
      return TItemKind::Steps;
    }
    if (!Opened && v != codeReset) return TItemKind::Bad;
    switch (v) {
      case codeReset:
        Opened = true;
        Width = 2;
        Expect = csLiteral;
        return TItemKind::Reset;
      case codeLiteral:
        Expect = csLiteral;
        return TItemKind::Literal;
      case codeWiden:
        Expect = csWiden;
        return TItemKind::Widen;
      default:
        return TItemKind::Phrase;
    }
  }
};

// Reads the items of a whole stream held in memory, bits least significant
// first, up to a given number of bits.
class TItemReader {
public:
  TItemReader(const std::uint8_t* bytes, std::uint64_t bits) : Bytes(bytes), Bits(bits) {}

  // The next item: false at the end of the bits or when the next item would
  // run past it (then Truncated says so).
  bool Next(std::uint32_t& value, TItemKind& kind) {
    const unsigned width = Grammar.NextWidth();
    if (Pos + width > Bits) {
      Truncated = Pos != Bits;
      return false;
    }
    value = 0;
    for (unsigned i = 0; i < width; ++i, ++Pos)
      value |= static_cast<std::uint32_t>((Bytes[Pos >> 3] >> (Pos & 7)) & 1u) << i;
    kind = Grammar.Take(value);
    return true;
  }

  std::uint64_t Position() const { return Pos; }
  const TItemGrammar& State() const { return Grammar; }
  bool Truncated = false;

private:
  const std::uint8_t* Bytes;
  std::uint64_t Bits;
  std::uint64_t Pos = 0;
  TItemGrammar Grammar;
};

}  // namespace vorka
