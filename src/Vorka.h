// Vorkasteln compressor library: the public interface.
//
// Two objects are meant for use from other programs. Both are plain objects
// embedded by value; a new one, whether a local variable, a member, in static
// storage or zero-filled, is valid and has no storage yet. Each obtains its
// large storage once, at Init, and gives it back at Done. Nothing here prints,
// throws on bad input or allocates per file or block.
//
// vorka::TLZFile (lzfile/LZFile.h): packs one plain file into one packed file
// and back.
//   Init(bufSize, dicSize, maxFrag)  needs: buffer bytes (1000..2000000; smaller
//       non-zero values become 1000), dictionary entries (clamped to
//       500..268435326), longest phrase (at least 4, at most the dictionary
//       size). Yields true when both buffers and the dictionary were obtained;
//       false with ErrorCode() 1 (buffers) or 22 (dictionary) otherwise.
//   SetFlag(lfOverwritePacked) / SetFlag(lfOverwriteSource)  allow PackFile /
//       UnpackFile to replace an existing output; without them an existing
//       output fails with 5 / 4 and is left untouched.
//   PackFile(source, packed), UnpackFile(packed, target)  each a complete run:
//       both files are opened, processed and closed. A packed file unpacks only
//       with the same dictionary size and MaxFragment() it was packed with
//       (otherwise 21 or 20). The restored file gets the recorded modification
//       time and read-only state.
//   ErrorCode() after each call: 0 on success, else the first failure of the
//       call (1..25); ErrorMessage() / ErrorText(code) give the fixed Russian
//       text in UTF-8. Much damage to a packed file is detected (header: 13 to
//       15, 18, 20, 21; code stream: 11, 24, 25), but not all: there is no check
//       sum, and a damaged code stream can unpack to wrong bytes without an
//       error. No damage makes the object read outside its buffers or hang.
//   Statistics of the last packing: Ratio() (code bytes / plain bytes, 0 for an
//       empty source), ResetCount(), LongestFragment(); DictionarySize() and
//       MaxFragment() are the settings in effect (0 after a failed Init).
//
// vorka::TLZCodec (codec/LZCodec.h): the code stream alone, block by block.
//   Init(dicSize), SetMaxFragment(n)  as above; Init yields false without memory.
//   StartPacking(), then EncodeBlock(in, inLen, consumed, out, outCap, written)
//       for each piece of input (output blocks of at least 4 bytes; a call stops
//       when its block is full and keeps the rest for the next call), then
//       EncodeBlock with inLen 0 until it writes less than a full block: that
//       ends the stream and pads its last byte.
//   StartUnpacking(), then DecodeBlock(in, inLen, consumed, out, outCap, produced)
//       with outCap no more than the plain bytes still owed (the stream has no
//       end code). StreamDamaged() turns true when the stream cannot have been
//       written by the packer; DecodeBlock then yields false and does nothing.
//
// One call for a buffer in memory (below): the whole packed-file layout, with
// no names and no file object to keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/Decoder.h"
#include "codec/Encoder.h"
#include "lzfile/LZFile.h"

namespace vorka {

// The largest packed size (header, code stream and end marker) that PackMemory
// can give for plainSize bytes, with any dictionary size and fragment limit.
//
// Take n = plainSize > 0 and a dictionary of D entries. The stream is a series
// of phrases (at most n); each costs one item of the code width in force, and a
// literal 8 bits more. Within an epoch (between resets):
//   - at most 256 phrases are literals (each is a new first byte);
//   - each phrase end creates at most one node and each literal one more, so
//     node numbers stay below 2 + min(2n, n + 256), and an epoch that fills
//     its D - 3 nodes spans at least max(ceil((D - 3) / 2), D - 259) bytes;
//   - a phrase of one byte ends by creating a new two-byte node, so at most
//     65538 phrases are one byte long and the others at least two;
//   - the width widens at most once through each width from 2 to W - 1,
//     costing codeWiden in the old width and a 5-bit step count.
// Hence, with
//   W = max(2, min(bitwidth(D - 1), bitwidth(2 + min(2n, n + 256))))
//   E = 1 + floor(n / max(ceil((D - 3) / 2), D - 259))      epochs
//   P = min(n, floor((n + 65538 E) / 2))                     phrases
//   L = min(n, 256 E)                                        literals
// the code stream holds at most B(D) = W P + 8 L + E (W - 2)(W + 11) / 2 bits.
// For a given code width w, B(D) is largest at the smallest D of that width,
// so the bound is
//   PackedSizeBound(n) = 80 + ceil(max over w = 9..28 of B(max(500, 2^(w-1) + 1)) / 8)
// and 80 for n = 0 (61 bytes of fixed header, 15 of information part with an
// empty name, 4 of end marker). A file written by `vorka c` adds its name.
std::size_t PackedSizeBound(std::uint32_t plainSize);

// Packs plainSize bytes into packed (replacing its contents) in the layout of a
// packed file: byte for byte what `vorka c` writes for a file with this
// content, except for an empty Name and zero Attr and Time. dicSize is pulled
// into 500..268435326 as the command line does; maxFrag 0 means the dictionary
// size, other values are pulled into 4..268435326 (and the codec caps them at
// the dictionary size). Returns 0, or an error code of ErrorText: 3 for a null
// plain with a nonzero size or a size above 2^31 - 1 (the format's Size is
// signed), 22 when the dictionary cannot be obtained, 1 when packed cannot get
// its storage. Storage is obtained once per call: the dictionary and
// PackedSizeBound(plainSize) bytes of packed; packed then shrinks to its size.
int PackMemory(const void* plain, std::uint32_t plainSize, std::vector<std::uint8_t>& packed,
               std::uint32_t dicSize = 100000, std::uint32_t maxFrag = 0);

// Unpacks one packed file held in memory into plain (replacing its contents).
// The dictionary size and fragment limit come from the header and must lie
// in their legal ranges (500..268435326, else 21; 4..DicSize, else 20). The
// header and the end marker are tested in the same order and with the same
// codes as TLZFile::UnpackFile: 14 when a header part is cut short, 15 for a
// wrong signature or name length, 18 for another version, 11 for a damaged
// code stream (also when Size is reached inside a phrase), 25 when fewer than
// 4 bytes follow the code stream, 24 when they are not the end marker; a null
// packed with a nonzero size gives 8, memory running out 22 or 1. Nothing
// outside [packed, packed + packedSize) is read; bytes after the marker are
// ignored. On failure plain holds what was decoded before it.
//
// The output grows with the decoded bytes, not with the header's Size alone:
// a header that claims more than its code stream could ever give does not
// make this obtain that much memory.
int UnpackMemory(const void* packed, std::size_t packedSize, std::vector<std::uint8_t>& plain);

}  // namespace vorka
