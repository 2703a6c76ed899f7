// Block buffer between a file and the compressed-file layer: one piece of
// storage holding a run of bytes from its start. Reads append to the run,
// writes send all of it, and the layer above works in the storage directly.
//
// The storage size is kept twice, plainly and bit-inverted, and the storage
// counts as present only while the two agree. A record of all zero bytes (a
// buffer in static storage before its first Allocate) therefore has no
// storage, and releasing it frees nothing. Transfers never raise: each one
// records a status that the caller tests afterwards.
#pragma once

#include <cstdint>

#include "../platform/File.h"

namespace vorka {

enum : std::uint8_t {
  fbOK = 0,
  fbNoMemory = 1,   // Allocate got no storage
  fbReadError = 2,  // fewer bytes arrived than asked for (before the end of the file)
  fbWriteError = 3, // fewer bytes were written than were held
  fbNoRoom = 4,     // an exact read asked for more than the room left
};

// The smallest storage a buffer gets; smaller requests are raised to it.
inline constexpr std::uint32_t fbMinSize = 1000;

// A plain record without constructors: all-zero is the valid "no storage"
// state, and every member starts there, so a local buffer is as safe as one in
// static storage.
struct TFileBuf {
  std::uint8_t Status{};
  std::uint32_t MemSize{};
  std::uint32_t MemSizeCheck{};
  std::uint8_t* Memory{};
  std::uint32_t Count{};

  // Size of the storage, 0 when there is none (the size pair disagrees).
  std::uint32_t Capacity() const { return MemSize == ~MemSizeCheck ? MemSize : 0; }
  std::uint32_t Used() const { return Capacity() != 0 ? Count : 0; }
  std::uint32_t Room() const { return Capacity() - Used(); }
  // Count := n, clipped to the capacity; 0 without storage.
  void SetUsed(std::uint32_t n);
  std::uint8_t* DataPtr() const { return Capacity() != 0 ? Memory : nullptr; }
  // Drops the first n held bytes; the rest move to the start of the storage.
  void Consume(std::uint32_t n);

  // Frees the storage if present and leaves the pair disagreeing. Status stays.
  void Release();
  // Release, then get max(n, 1000) bytes; n = 0 leaves no storage and Status as
  // it was. A failed allocation leaves no storage and Status fbNoMemory.
  void Allocate(std::uint32_t n);

  bool IsOK() const { return Status == fbOK; }
  bool Failed() const { return Status != fbOK; }
  std::uint8_t SetStatus(std::uint8_t s) {
    const std::uint8_t old = Status;
    Status = s;
    return old;
  }

  // Writes the held bytes in one block write; returns the number written.
  // The held bytes stay (Count unchanged).
  std::uint32_t WriteTo(platform::TFile& file);
  // Appends up to min(n, Room) bytes read from the file; a short read counts
  // as an error only when the file is not at its end.
  std::uint32_t ReadFrom(platform::TFile& file, std::uint32_t n);
  // Appends exactly n bytes: fbNoRoom (nothing read) when n exceeds Room,
  // fbReadError when fewer arrive, also at the end of the file.
  std::uint32_t ReadExact(platform::TFile& file, std::uint32_t n);
  // Reads as much as there is room for.
  std::uint32_t Fill(platform::TFile& file) { return ReadFrom(file, Room()); }

  // These two look at the raw Count, whatever the size pair says.
  void Empty() { Count = 0; }
  bool IsEmpty() const { return Count == 0; }
};

}  // namespace vorka
