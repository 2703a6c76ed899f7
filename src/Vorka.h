// Vorkasteln compressor library: the public interface.
//
// Two objects are meant for use from other programs. Both are plain objects
// embedded by value (a zero-filled instance, e.g. in static storage, is valid
// and has no storage yet); each obtains its large storage once, at Init, and
// gives it back at Done. Nothing here prints, throws on bad input or allocates
// per file or block.
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
#pragma once

#include "codec/LZCodec.h"
#include "lzfile/LZFile.h"
