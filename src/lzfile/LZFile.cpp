// Packing and unpacking of whole files. Every step runs only while no error is
// set, so the code left at the end is the first failure of the operation; the
// closing steps run in any case.
#include "LZFile.h"

#include <cstring>
#include <limits>
#include <new>

#include "Frame.h"
#include "LZFormat.h"
#include "../platform/Path.h"

namespace vorka {

namespace fmt = lzformat;

// ---------------------------------------------------------------------------
// Creation and release

bool TLZFile::Init(std::uint32_t bufSize, std::uint32_t dicSize, std::uint32_t maxFrag) {
  if (!Store.Allocate(dicSize, LargePages)) {
    SetError(lzeNoDictionaryMemory);
    return false;
  }
  Store.SetMaxFragment(maxFrag);
  ReadBuf.Allocate(bufSize);
  WriteBuf.Allocate(bufSize);
  Flags = 0;
  Info.Attr = 0;
  Info.Time = 0;
  Info.Size = 0;
  Version = fmt::FormatVersion;
  if (ReadBuf.Capacity() != 0 && WriteBuf.Capacity() != 0) {
    SetError(lzeNone);
    return true;
  }
  Done();
  SetError(lzeNoBufferMemory);
  return false;
}

TLZFile* TLZFile::Create(std::uint32_t bufSize, std::uint32_t dicSize, std::uint32_t maxFrag) {
  // Value-initialisation zero-fills every byte before any member initialiser runs.
  auto* file = new (std::nothrow) TLZFile();
  if (file == nullptr) return nullptr;
  if (!file->Init(bufSize, dicSize, maxFrag)) {
    Destroy(file);
    return nullptr;
  }
  return file;
}

void TLZFile::Destroy(TLZFile* file) {
  if (file == nullptr) return;
  file->Done();
  delete file;
}

void TLZFile::Done() {
  CloseFiles();
  ReadBuf.Release();
  WriteBuf.Release();
  Store.Release();
}

void TLZFile::EnsureReady() {
  if (ReadBuf.Capacity() == 0) Init(FallbackBufSize, MaxDictionarySize, MaxFragment());
}

bool TLZFile::IsReady() {
  if (ReadBuf.Capacity() != 0 && DictionarySize() != 0) return true;
  SetError(lzeNoBuffers);
  return false;
}

std::uint32_t TLZFile::LongestFragment() const {
  return Index == TChildIndex::Hash ? HashEncoder.LongestFragment() : TreeEncoder.LongestFragment();
}

std::uint32_t TLZFile::ResetCount() const {
  return Index == TChildIndex::Hash ? HashEncoder.ResetCount() : TreeEncoder.ResetCount();
}

double TLZFile::Ratio() const {
  return Index == TChildIndex::Hash ? HashEncoder.Ratio() : TreeEncoder.Ratio();
}

std::uint64_t TLZFile::CodeBytes() const {
  return Index == TChildIndex::Hash ? HashEncoder.PackedBytes() : TreeEncoder.PackedBytes();
}

std::string TLZFile::StoredName() const {
  return std::string(reinterpret_cast<const char*>(FileName + 1), FileName[0]);
}

// ---------------------------------------------------------------------------
// Closing, shared by both directions

void TLZFile::CloseFiles() {
  CloseSource();
  ClosePacked();
}

void TLZFile::CloseSource() {
  // Unpacking writes the plain file; it goes in place with the recorded
  // attributes and time.
  if (IsOutput(SourceFile)) {
    FinishOutput(SourceFile, lzeWriteSource, true, HasFlag(lfRestoreInfo));
  } else if (SourceFile.Open) {
    platform::Close(SourceFile.File);
  }
  SourceFile.Open = false;
  ClearFlag(lfRestoreInfo);
}

void TLZFile::ClosePacked() {
  if (IsOutput(PackedFile)) {
    FinishOutput(PackedFile, lzeWritePacked, false, false);
  } else if (PackedFile.Open) {
    platform::Close(PackedFile.File);
  }
  PackedFile.Open = false;
}

bool TLZFile::IsOutput(const TLZHandle& handle) const {
  return handle.Open && Output.Mode != platform::omNone && handle.File.Fd == Output.Fd;
}

// A whole result goes in place; so does what a damaged or cut code stream
// gave, when keepDamaged says the user gets what could be restored. Any other
// failure leaves the old target as it was. A result that cannot be completed
// or put in place is a failed write.
void TLZFile::FinishOutput(TLZHandle& handle, std::uint8_t writeError, bool keepDamaged, bool restore) {
  const bool damaged = Error == lzeReadPacked || Error == lzeBadEndMarker || Error == lzeReadSuffix;
  if (NoError() || (keepDamaged && damaged)) {
    if (!platform::CommitOutput(handle.File, Output, restore, Info.Attr, Info.Time)) SetError(writeError);
  } else {
    platform::AbandonOutput(handle.File, Output);
  }
  handle.Open = false;
}

// ---------------------------------------------------------------------------
// Packing

void TLZFile::PackFile(const std::string& sourceName, const std::string& packedName) {
  EnsureReady();
  if (!IsReady()) return;
  SetError(lzeNone);
  if (!OpenSource(sourceName)) return;
  CreatePacked(packedName);
  if (NoError()) {
    TakeFileName(sourceName);
    PackData();
  }
  CloseFiles();
}

bool TLZFile::OpenSource(const std::string& name) {
  SetError(lzeNone);
  GetFileInfo(name);
  bool ok = platform::OpenRead(SourceFile.File, name);
  if (ok) {
    // The format stores the size as a signed 32-bit value.
    const std::int64_t length = platform::Length(SourceFile.File);
    if (length < 0 || length > std::numeric_limits<std::int32_t>::max()) {
      platform::Close(SourceFile.File);
      ok = false;
    } else {
      Info.Size = static_cast<std::int32_t>(length);
      Info.Left = Info.Size;
    }
  }
  SourceFile.Open = ok;
  if (!ok) SetError(lzeOpenSourceRead);
  ClearFlag(lfRestoreInfo);
  return ok;
}

void TLZFile::GetFileInfo(const std::string& name) {
  Info.Time = platform::GetDosTime(name);
  Info.Attr = platform::GetAttributes(name);
}

void TLZFile::CreatePacked(const std::string& name) {
  SetError(lzeNone);
  if (!HasFlag(lfOverwritePacked) && platform::ExistsNotDirectory(name)) {
    SetError(lzeOverwritePacked);
    return;
  }
  // The source is open for reading: truncating it would destroy the input.
  if (SourceFile.Open && platform::IsSameFile(SourceFile.File, name)) {
    SetError(lzeOpenPackedWrite);
    return;
  }
  if (!platform::CreateOutput(PackedFile.File, Output, name)) {
    SetError(lzeOpenPackedWrite);
    return;
  }
  PackedFile.Open = true;
}

void TLZFile::TakeFileName(const std::string& name) {
  const std::size_t start = platform::NameStart(name);
  std::size_t n = name.size() - start;
  if (n > fmt::MaxNameLen) n = fmt::MaxNameLen;
  FileName[0] = static_cast<std::uint8_t>(n);
  std::memcpy(FileName + 1, name.data() + start, n);
}

namespace {

// The frame's view of the file object when packing: the source through
// ReadBuf, the packed file through WriteBuf, one block per write.
struct TFilePacking {
  TLZFile& File;

  std::uint8_t Next(const std::uint8_t*& piece, std::uint32_t& length) {
    // The frame has taken all of the previous piece.
    File.ReadBuf.Empty();
    length = File.ReadSource();
    if (File.HasError()) return File.ErrorCode();
    if (length == 0) File.CheckSourceEnd();
    piece = File.ReadBuf.DataPtr();
    return File.ErrorCode();
  }

  std::uint8_t* Block(std::uint32_t /*keep*/, std::uint32_t& room) {
    room = File.WriteBuf.Capacity();
    return File.WriteBuf.DataPtr();
  }

  std::uint8_t Put(std::uint32_t n) {
    File.WriteBuf.SetUsed(n);
    File.FlushPacked();
    return File.ErrorCode();
  }
};

}  // namespace

// Header, code stream and end marker, in the stream's only order.
void TLZFile::PackData() {
  Version = fmt::FormatVersion;
  if (HasError() || platform::Position(PackedFile.File) != 0) {
    SetError(lzeNoHeader);
    return;
  }
  fmt::TInfoFields fields;
  fields.Attr = Info.Attr;
  fields.Time = Info.Time;
  fields.Size = Info.Size;
  fields.NameLen = FileName[0];
  fields.Name = FileName + 1;
  TFilePacking io{*this};
  const std::uint8_t code = Index == TChildIndex::Hash ? frame::Pack(HashEncoder, Store, fields, io, io)
                                                       : frame::Pack(TreeEncoder, Store, fields, io, io);
  SetError(code);
}

// Reads no more than the Size that the header records: a source that grew
// since it was opened must not give a stream longer than its header says.
std::uint32_t TLZFile::ReadSource() {
  const std::uint32_t left = Info.Left > 0 ? static_cast<std::uint32_t>(Info.Left) : 0;
  const std::uint32_t room = ReadBuf.Room();
  const std::uint32_t got = ReadBuf.ReadFrom(SourceFile.File, left < room ? left : room);
  Info.Left -= static_cast<std::int32_t>(got);
  if (ReadBuf.Failed()) SetError(lzeReadSource);
  return ReadBuf.Used();
}

// The source must end exactly after Size bytes. One that ended early or goes
// on (it changed while being packed, or the system does not know its size, as
// for files under /proc) would give a packed file that cannot be unpacked.
void TLZFile::CheckSourceEnd() {
  if (Info.Left != 0) {
    SetError(lzeReadSource);
    return;
  }
  const std::uint32_t more = ReadBuf.ReadFrom(SourceFile.File, 1);
  ReadBuf.Empty();
  if (more != 0 || ReadBuf.Failed()) SetError(lzeReadSource);
}

void TLZFile::FlushPacked() {
  WriteBuf.WriteTo(PackedFile.File);
  if (WriteBuf.Failed()) SetError(lzeWritePacked);
}

// ---------------------------------------------------------------------------
// Unpacking
//
// Order of the tests, chosen so that no existing file is truncated unless
// decoding can start:
//   1. readiness (2), then the name of the output (6 when it cannot be held);
//   2. the output exists and lfOverwriteSource is clear (4): nothing opened;
//   3. open the packed file (8) and test the fixed header (9, 14, 15, 18, 21,
//      20) and the information part (14, 13, 14, 15);
//   4. an output that is the packed file itself, or a folder, or cannot be
//      created (6); only here is the output created, under a temporary name
//      beside the target;
//   5. decode (11 for a read failure or a damaged stream, 19 for a failed
//      write), then the end marker (23, 25, 24);
//   6. the output goes in place, unless a write failed (19): then the old
//      target stays as it was.
// For any single cause the code is the same as with the output created first.

void TLZFile::UnpackFile(const std::string& packedName, const std::string& targetName) {
  EnsureReady();
  if (!IsReady()) return;
  SetError(lzeNone);
  if (!SetOutName(targetName)) {
    SetError(lzeOpenSourceWrite);
    return;
  }
  if (!HasFlag(lfOverwriteSource) && platform::ExistsNotDirectory(OutputName())) {
    SetError(lzeOverwriteSource);
    return;
  }
  if (!OpenPacked(packedName)) return;
  ReadHead();
  if (NoError()) CreateOutput();
  if (NoError()) UnpackData();
  if (NoError()) CheckSuffix();
  CloseFiles();
}

bool TLZFile::SetOutName(const std::string& name) {
  const std::string full = platform::FullPath(name);
  if (full.empty() || full.size() >= sizeof OutName) {
    OutNameLen = 0;
    return false;
  }
  std::memcpy(OutName, full.data(), full.size());
  OutName[full.size()] = '\0';
  OutNameLen = static_cast<std::uint32_t>(full.size());
  return true;
}

bool TLZFile::OpenPacked(const std::string& name) {
  SetError(lzeNone);
  if (!platform::OpenRead(PackedFile.File, name)) {
    SetError(lzeOpenPackedRead);
    return false;
  }
  PackedFile.Open = true;
  return true;
}

namespace {

// The frame's view of the packed file when reading the header: the parts are
// read whole into ReadBuf.
struct TFileHeadIn {
  TLZFile& File;

  bool Read(std::uint32_t n, bool fresh) {
    if (fresh) File.ReadBuf.Empty();
    File.ReadBuf.ReadExact(File.PackedFile.File, n);
    return File.ReadBuf.IsOK();
  }
  bool Holds(std::uint32_t n) const { return File.ReadBuf.Room() >= n; }
  const std::uint8_t* Held() const { return File.ReadBuf.DataPtr(); }
};

}  // namespace

// Both header parts; the parameters must be this object's own.
void TLZFile::ReadHead() {
  if (HasError() || platform::Position(PackedFile.File) != 0) {
    SetError(lzeNoHeader);
    return;
  }
  TFileHeadIn in{*this};
  fmt::THeadParams params;
  // A refused version is still recorded; a missing signature leaves the old.
  params.Version = Version;
  fmt::TInfoFields fields;
  const std::uint8_t code = frame::ReadHead(
      in, [this](const fmt::THeadParams& p) { return fmt::MatchHeadParams(p, DictionarySize(), MaxFragment()); },
      params, fields);
  Version = params.Version;
  if (code != lzeNone) {
    SetError(code);
    return;
  }
  FileName[0] = fields.NameLen;
  std::memcpy(FileName + 1, fields.Name, fields.NameLen);
  Info.Attr = fields.Attr;
  Info.Time = fields.Time;
  Info.Size = fields.Size;
  Info.Left = Info.Size;
}

void TLZFile::CreateOutput() {
  SetError(lzeNone);
  const std::string name = OutputName();
  if (platform::IsSameFile(PackedFile.File, name) ||
      !platform::CreateOutput(SourceFile.File, Output, name)) {
    SetError(lzeOpenSourceWrite);
    return;
  }
  SourceFile.Open = true;
  SetFlag(lfRestoreInfo);
}

void TLZFile::UnpackData() {
  const std::int64_t packedLength = platform::Length(PackedFile.File);
  Store.ExpectUnpacking(Info.Left > 0 ? static_cast<std::uint64_t>(Info.Left) : 0,
                        packedLength > 0 ? static_cast<std::uint64_t>(packedLength) : 0);
  Decoder.Start(Store);
  frame::TUnpacking unpacking{Decoder, Info.Left};
  // Header bytes still held are dropped: the code stream starts right after
  // the information part.
  ReadBuf.Empty();
  frame::TStep step = Info.Left > 0 ? frame::TStep::More : frame::TStep::Done;
  while (step == frame::TStep::More) {
    // Once the file has ended the decoder may still hold the rest of a phrase
    // longer than a block, or bits read ahead: calls without input deliver it.
    if (ReadBuf.IsEmpty() && ReadPacked() == 0 && HasError()) break;
    std::uint32_t consumed = 0;
    std::uint32_t produced = 0;
    step = unpacking.Step(ReadBuf.DataPtr(), ReadBuf.Used(), consumed, WriteBuf.DataPtr(), WriteBuf.Capacity(),
                          produced);
    Info.Left = static_cast<std::int32_t>(unpacking.Left);
    ReadBuf.Consume(consumed);
    WriteBuf.SetUsed(produced);
    if (step == frame::TStep::Damaged) SetError(lzeReadPacked);
    // Whatever was decoded before a fault still goes out.
    FlushOutput();
    if (HasError()) break;
  }
}

std::uint32_t TLZFile::ReadPacked() {
  if (HasError()) return 0;
  if (!platform::AtEnd(PackedFile.File)) {
    ReadBuf.Fill(PackedFile.File);
    if (ReadBuf.Failed()) SetError(lzeReadPacked);
  }
  return ReadBuf.Used();
}

void TLZFile::FlushOutput() {
  WriteBuf.WriteTo(SourceFile.File);
  if (WriteBuf.Failed()) SetError(lzeWriteSource);
}

void TLZFile::CheckSuffix() {
  if (ReadBuf.Used() < fmt::EndMarkerSize) {
    const std::uint32_t k = fmt::EndMarkerSize - ReadBuf.Used();
    if (ReadBuf.Room() < k) {
      SetError(lzeSuffixTooLarge);
    } else {
      ReadBuf.ReadExact(PackedFile.File, k);
      if (!ReadBuf.IsOK()) SetError(lzeReadSuffix);
    }
  }
  // Runs after a failed read too; the earlier code then stays.
  const std::uint8_t code = frame::CheckEndMarker(ReadBuf.DataPtr(), ReadBuf.Used());
  if (code != lzeNone) SetError(code);
}

}  // namespace vorka
