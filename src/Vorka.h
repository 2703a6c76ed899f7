// Vorkasteln compressor library: the public interface, and the only header
// that is installed (as <vorka/vorka.h>).
//
// An LZ78-family compressor with a bounded dictionary that is emptied and
// restarted when full. Packed data has one layout, whether it is a file or a
// buffer in memory: a fixed header (signature, version, dictionary size,
// longest phrase), an information part (plain size, attributes, time, name),
// the code stream and a 4-byte end marker. A packed file unpacks only with the
// dictionary size and fragment limit its header records; the functions below
// take them from the header.
//
// Every function returns an error code, 0 on success (the codes are listed
// with each function; ErrorDescription gives an English line for each,
// ErrorText the program's Russian message). Nothing here prints, throws or
// ends the process; running out of memory is an error code like any other.
// There is no check sum: much damage to packed data is detected (header: 14,
// 15, 18, 20, 21; code stream: 11, 24, 25), but not all, and a damaged code
// stream can unpack to wrong bytes without an error. No damage makes the
// library read outside its input or hang.
//
// Threads: every call works on its own storage and there is no hidden shared
// state, so calls may run at the same time on separate threads. Two calls that
// write the same output file each write their own temporary file; the file is
// then one of the two whole results.
#pragma once

// MSVC reports its language level in _MSVC_LANG, not __cplusplus.
#if defined(_MSVC_LANG)
#if _MSVC_LANG < 202002L
#error "vorka/vorka.h needs C++20 or later (/std:c++20)"
#endif
#elif !defined(__cplusplus) || __cplusplus < 202002L
#error "vorka/vorka.h needs C++20 or later (-std=c++20)"
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VorkaVersion.h"

namespace vorka {

// The index that packing searches the dictionary with: the child trees (a
// binary tree of each entry's children) or one hash table. Both give the same
// codes, so the same packed bytes; the hash index packs several times faster
// on data with little structure. Unpacking never searches the dictionary, so
// the unpacking functions take no index.
enum class TChildIndex : std::uint8_t { Tree, Hash };

// The library's version, "MAJOR.MINOR.PATCH", as VORKA_VERSION_STRING was
// when the library was built (the header may be newer than the library).
const char* VersionString() noexcept;

// A short plain-English description of an error code 0 to 25, distinct for
// each code; "unknown error" for any other value. Never null.
const char* ErrorDescription(int code) noexcept;

// The program's own message for an error code, in Russian (UTF-8).
std::string ErrorText(int code);

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
               std::uint32_t dicSize = 100000, std::uint32_t maxFrag = 0,
               TChildIndex index = TChildIndex::Tree);

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
int UnpackMemory(const void* packed, std::size_t packedSize, std::vector<std::uint8_t>& plain,
                 std::size_t maxPlain = SIZE_MAX);

// Packs the file source into the file packed, as `vorka c` does: the same
// bytes, the source's name, attributes and time recorded in the header.
// dicSize and maxFrag as for PackMemory. An existing packed file is replaced
// only when the whole new one has been written (under a temporary name in
// its folder, then renamed over it); on failure the old one stays as it was.
// Returns 0 or an error code: 3 the source cannot be opened or is no regular
// file or too large, 7 (or 5) packed cannot be created, 10 a write failed, 17
// the source could not be read in full or changed while it was read, 22 or 1
// no memory; null names give 3.
int PackFile(const char* source, const char* packed, std::uint32_t dicSize = 100000, std::uint32_t maxFrag = 0,
             TChildIndex index = TChildIndex::Tree);

// Unpacks the packed file into the file target, as `vorka d` does, with the
// dictionary size and fragment limit its header records. The target is
// written under a temporary name and put in place when complete; it gets the
// recorded modification time and read-only state. Nothing is created or
// changed before the packed file has been opened and both header parts
// accepted. Returns 0 or an error code: 8 packed cannot be opened, 14, 15, 18,
// 20, 21 a bad header, 6 target cannot be created, 19 a write failed, 11, 24,
// 25 a damaged code stream or end marker (what could be restored is put in
// place), 22 or 1 no memory; null names give 8.
int UnpackFile(const char* packed, const char* target);

}  // namespace vorka
