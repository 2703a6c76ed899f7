// Constants shared by the dictionary, the encoder and the decoder. Node numbers
// double as phrase codes, so the reserved nodes and the control codes share the
// numbers 0, 1 and 2.
#pragma once

#include <cstdint>

#include "../Vorka.h"  // TChildIndex

namespace vorka {

// Dictionary sizes count the three reserved nodes. The upper bound keeps every
// node number below 2^28, so a code is never wider than 28 bits.
inline constexpr std::uint32_t MinDictionarySize = 500;
inline constexpr std::uint32_t MaxDictionarySize = 268435326;  // 0x0FFFFF7E
inline constexpr std::uint32_t MinFragmentLength = 4;
inline constexpr std::uint8_t MaxCodeWidth = 28;
// A stream's length when it is not known in advance.
inline constexpr std::uint64_t UnknownInput = ~std::uint64_t{0};

// Node 0 is the empty link and the search sentinel; node 1 is never used;
// node 2 is the empty phrase, the root of every prefix chain.
inline constexpr std::uint32_t NilNode = 0;
inline constexpr std::uint32_t RootNode = 2;
inline constexpr std::uint32_t FirstPhraseNode = 3;

// Control codes of the code stream.
inline constexpr std::uint32_t codeReset = 0;
inline constexpr std::uint32_t codeWiden = 1;
inline constexpr std::uint32_t codeLiteral = 2;

// Fixed widths of the items that follow a control code.
inline constexpr std::uint8_t LiteralWidth = 8;
inline constexpr std::uint8_t StepCountWidth = 5;

// What the next item is, when it is not a phrase code.
inline constexpr std::uint8_t csLiteral = 0x01;
inline constexpr std::uint8_t csWiden = 0x02;

}  // namespace vorka
