#include "FileBuf.h"

#include <cstring>
#include <new>

namespace vorka {

void TFileBuf::SetUsed(std::uint32_t n) {
  const std::uint32_t cap = Capacity();
  Count = n < cap ? n : cap;
}

void TFileBuf::Consume(std::uint32_t n) {
  const std::uint32_t used = Used();
  if (n < used) {
    std::memmove(Memory, Memory + n, used - n);
    Count = used - n;
  } else {
    Count = 0;
  }
}

void TFileBuf::Release() {
  if (Capacity() != 0) delete[] Memory;
  Memory = nullptr;
  Count = 0;
  MemSize = 0;
  MemSizeCheck = 0x3FFFFFFF;
}

void TFileBuf::Allocate(std::uint32_t n) {
  Release();
  if (n == 0) return;
  if (n < fbMinSize) n = fbMinSize;
  Memory = new (std::nothrow) std::uint8_t[n];
  if (Memory != nullptr) {
    MemSize = n;
    MemSizeCheck = ~n;
    Count = 0;
    Status = fbOK;
  } else {
    Status = fbNoMemory;
  }
}

std::uint32_t TFileBuf::WriteTo(platform::TFile& file) {
  const std::uint32_t used = Used();
  std::uint32_t written = 0;
  if (used > 0) {
    written = platform::Write(file, Memory, used);
    Status = written == used ? fbOK : fbWriteError;
  } else {
    Status = fbOK;
  }
  return written;
}

std::uint32_t TFileBuf::ReadFrom(platform::TFile& file, std::uint32_t n) {
  const std::uint32_t room = Room();
  if (n > room) n = room;
  std::uint32_t got = 0;
  if (n > 0) got = platform::Read(file, Memory + Used(), n);
  SetUsed(Used() + got);
  Status = (got < n && !platform::AtEnd(file)) ? fbReadError : fbOK;
  return got;
}

std::uint32_t TFileBuf::ReadExact(platform::TFile& file, std::uint32_t n) {
  if (n > Room()) {
    Status = fbNoRoom;
    return 0;
  }
  const std::uint32_t got = ReadFrom(file, n);
  if (got != n) Status = fbReadError;
  return got;
}

}  // namespace vorka
