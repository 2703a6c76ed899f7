// The public file functions and the library's version: each call makes a
// file object of its own, so separate calls share nothing.
#include <algorithm>
#include <memory>
#include <new>

#include "../Vorka.h"
#include "../platform/File.h"
#include "LZFile.h"
#include "LZFormat.h"

namespace vorka {

namespace fmt = lzformat;

namespace {

// Buffer bytes of each of the object's two files, as the program's default.
constexpr std::uint32_t kBufferSize = 100000;

struct TFileDone {
  void operator()(TLZFile* file) const { TLZFile::Destroy(file); }
};
using TFileOwner = std::unique_ptr<TLZFile, TFileDone>;

// A ready object for these settings, or null with the reason in code. The
// object is some 14 KB, too much for a library to put on its caller's stack.
TFileOwner MakeFile(std::uint32_t dicSize, std::uint32_t maxFrag, int& code) {
  TFileOwner file(new (std::nothrow) TLZFile());
  if (!file) {
    code = lzeNoBufferMemory;
    return file;
  }
  if (!file->Init(kBufferSize, dicSize, maxFrag)) {
    code = file->ErrorCode();
    file.reset();
  }
  return file;
}

// The settings a packed file's fixed header records, tested as the file
// object tests them; 0 or the object's error code for that header.
int ReadSettings(const char* packed, fmt::THeadParams& params) {
  platform::TFile in{};
  if (!platform::OpenRead(in, packed)) return lzeOpenPackedRead;
  std::uint8_t head[fmt::HeadFixedSize];
  const std::uint32_t got = platform::Read(in, head, fmt::HeadFixedSize);
  platform::Close(in);
  if (got != fmt::HeadFixedSize) return lzeReadHeader;
  std::uint8_t code = fmt::ParseHeadFixed(head, params);
  if (code == lzeNone) code = fmt::CheckHeadParams(params);
  return code;
}

}  // namespace

const char* VersionString() noexcept { return VORKA_VERSION_STRING; }

int PackFile(const char* source, const char* packed, std::uint32_t dicSize, std::uint32_t maxFrag,
             TChildIndex index) {
  if (source == nullptr || packed == nullptr) return lzeOpenSourceRead;
  // The command line's limits, as PackMemory takes them.
  fmt::PullPackSettings(dicSize, maxFrag);
  int code = lzeNone;
  const TFileOwner file = MakeFile(dicSize, maxFrag, code);
  if (!file) return code;
  file->SetFlag(lfOverwritePacked);
  file->Index = index;
  file->PackFile(source, packed);
  return file->ErrorCode();
}

int UnpackFile(const char* packed, const char* target) {
  if (packed == nullptr || target == nullptr) return lzeOpenPackedRead;
  fmt::THeadParams params;
  int code = ReadSettings(packed, params);
  if (code != lzeNone) return code;
  const TFileOwner file = MakeFile(params.DicSize, params.MaxFrag, code);
  if (!file) return code;
  file->SetFlag(lfOverwriteSource);
  // The object reads and tests the header again: should the file have been
  // replaced in between, it refuses the new header's settings (21 or 20).
  file->UnpackFile(packed, target);
  return file->ErrorCode();
}

}  // namespace vorka
