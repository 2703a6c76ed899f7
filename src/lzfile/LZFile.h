// The compressed-file object: packs one plain file into one packed file and
// back, with two block buffers and one dictionary store that are obtained once
// in Init and reused by every operation. Packing searches the dictionary with
// the child index chosen by Index; both write the same packed files. Failures never throw: each one records a
// sticky error code (see LZErrors.h) that the caller reads afterwards.
//
// The object is plain, without constructors that do work or virtual
// functions. Every member has an initialiser that gives the "not created"
// state, which is also what all zero bytes mean: an instance in static
// storage, a local variable and a zero-filled allocation are all valid before
// Init, with no storage and both file handles counting as closed.
#pragma once

#include <cstdint>
#include <string>

#include "../buffers/FileBuf.h"
#include "../codec/Decoder.h"
#include "../codec/Encoder.h"
#include "LZErrors.h"
#include "../platform/File.h"

namespace vorka {

enum : unsigned {
  lfOverwritePacked = 0,  // packing may replace an existing packed file
  lfOverwriteSource = 1,  // unpacking may replace an existing output file
  lfRestoreInfo = 2,      // closing the plain file applies Info.Attr and Info.Time
};

struct TLZFileInfo {
  std::int32_t Attr{};
  std::int32_t Time{};
  std::int32_t Size{};
  std::int32_t Left{};  // bytes still to read (packing) or still owed (unpacking)
};

// A file handle that a zero-filled object holds as "closed": descriptor 0 is
// a real file, so the handle only counts while Open is set.
struct TLZHandle {
  platform::TFile File{};
  bool Open{};
};

struct TLZFile {
  // Buffer size, dictionary size and fragment limit that EnsureReady uses.
  static constexpr std::uint32_t FallbackBufSize = 64000;

  std::uint8_t Flags{};
  TFileBuf ReadBuf{};
  TFileBuf WriteBuf{};
  TLZHandle SourceFile{};
  TLZHandle PackedFile{};
  TLZFileInfo Info{};
  std::uint8_t Error{};
  std::uint8_t FileName[256]{};   // length-prefixed: FileName[0] bytes follow
  std::uint32_t OutNameLen{};
  char OutName[4096]{};           // full path of the current unpacking's output
  // The output being written (packed file or restored file): under a
  // temporary name until the operation ends, then put in place or dropped.
  platform::TOutput Output{};
  std::uint16_t Version{};
  TChildIndex Index{};  // the packer's; may be changed between operations
  // The dictionary asks for large pages (set before Init): for a process that
  // runs one job, whose memory is fresh anyway; see platform/Memory.h.
  bool LargePages{};
  TDicStore Store{};
  // One encoder per child index; an operation uses the one Index names.
  TTreeEncoder TreeEncoder{};
  THashEncoder HashEncoder{};
  TDecoder Decoder{};

  // Creates the buffers and the dictionary on this instance; false on failure
  // (error 22 for the dictionary, 1 for the buffers), with the error left set.
  bool Init(std::uint32_t bufSize, std::uint32_t dicSize, std::uint32_t maxFrag);
  // A new zeroed instance made ready by Init, or nullptr (nothing stays allocated).
  static TLZFile* Create(std::uint32_t bufSize, std::uint32_t dicSize, std::uint32_t maxFrag);
  // Frees an instance from Create (Done first).
  static void Destroy(TLZFile* file);
  // Closes any open file and gives back all storage.
  void Done();

  void PackFile(const std::string& sourceName, const std::string& packedName);
  void UnpackFile(const std::string& packedName, const std::string& targetName);

  void SetFlag(unsigned bit) {
    if (bit < 8) Flags = static_cast<std::uint8_t>(Flags | (1u << bit));
  }
  void ClearFlag(unsigned bit) {
    if (bit < 8) Flags = static_cast<std::uint8_t>(Flags & ~(1u << bit));
  }
  bool HasFlag(unsigned bit) const { return bit < 8 && (Flags & (1u << bit)) != 0; }

  std::uint8_t ErrorCode() const { return Error; }
  std::string ErrorMessage() const { return ErrorText(Error); }
  // Sticky: 0 clears; any other code is kept only when no error is set.
  void SetError(std::uint8_t code) {
    if (code == 0 || Error == 0) Error = code;
  }
  bool HasError() const { return Error != 0; }
  bool NoError() const { return Error == 0; }

  // Re-creates the instance with fallback settings when it has no buffers.
  void EnsureReady();
  // Buffers and dictionary present; otherwise error 2 and false.
  bool IsReady();

  std::uint32_t DictionarySize() const { return Store.DictionarySize(); }
  std::uint32_t MaxFragment() const { return Store.MaxFragment(); }
  // Statistics of the last packing.
  std::uint32_t LongestFragment() const;
  std::uint32_t ResetCount() const;
  double Ratio() const;
  std::uint64_t CodeBytes() const;  // of the code stream

  // The stored name of the last header written or read.
  std::string StoredName() const;
  std::string OutputName() const { return std::string(OutName, OutNameLen); }

  // Steps of packing.
  bool OpenSource(const std::string& name);
  void GetFileInfo(const std::string& name);
  void CreatePacked(const std::string& name);
  void TakeFileName(const std::string& name);
  // Writes the whole packed file: header, code stream and end marker.
  void PackData();
  std::uint32_t ReadSource();
  void FlushPacked();
  void CheckSourceEnd();
  void CloseFiles();
  void CloseSource();
  void ClosePacked();
  bool IsOutput(const TLZHandle& handle) const;
  void FinishOutput(TLZHandle& handle, std::uint8_t writeError, bool keepDamaged, bool restore);

  // Steps of unpacking.
  bool SetOutName(const std::string& name);
  bool OpenPacked(const std::string& name);
  void ReadHead();
  void CreateOutput();
  void UnpackData();
  std::uint32_t ReadPacked();
  void FlushOutput();
  void CheckSuffix();
};

}  // namespace vorka
