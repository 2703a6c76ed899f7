// Files, attributes and times: the only place that talks to the operating
// system about files. Everything above works with these calls and never
// includes a system header itself.
//
// All sizes are byte counts; reads and writes loop over short transfers and
// interrupted calls, so a short result means end of file or a real failure.
#pragma once

#include <cstdint>
#include <string>

namespace vorka::platform {

// An open file, or none (Fd < 0). A plain value: copying it does not duplicate
// the descriptor, so exactly one owner closes it.
struct TFile {
  int Fd = -1;
  bool IsOpen() const { return Fd >= 0; }
};

// Opens an existing file read-only. Only a regular file counts: a directory,
// FIFO, device or socket fails like a missing file, and nothing stays open.
// Opening never blocks (a FIFO is not waited on) and never changes the file.
bool OpenRead(TFile& file, const std::string& name);

// Creates the file, or cuts an existing one to length 0, for writing.
// New files get the permissions 0666 less the umask.
bool CreateWrite(TFile& file, const std::string& name);

// Reads up to count bytes into data; returns the number that arrived, 0 on
// failure or at the end of the file.
std::uint32_t Read(TFile& file, void* data, std::uint32_t count);

// Writes count bytes; returns the number written (fewer on failure, e.g. a
// full disk).
std::uint32_t Write(TFile& file, const void* data, std::uint32_t count);

// Current read-write position, and the file's length; -1 when unknown.
std::int64_t Position(const TFile& file);
std::int64_t Length(const TFile& file);

// True when the position is at or beyond the length (or either is unknown).
bool AtEnd(const TFile& file);

// Closes the file; false when it was not open or the close failed. The handle
// is marked closed either way.
bool Close(TFile& file);

// True when the open file and the file the name refers to are the same file
// (same device and inode). False when the name does not exist.
bool IsSameFile(const TFile& file, const std::string& name);

// True when the name exists and is not a directory.
bool ExistsNotDirectory(const std::string& name);

// True when the open file is a regular file (not a device, FIFO or socket).
bool IsRegularFile(const TFile& file);

// Windows-style attribute bits of a named file: 0x20 (archive) for a regular
// file, plus 0x01 (read-only) when its owner may not write it; 0 when it cannot
// be read.
std::int32_t GetAttributes(const std::string& name);

// Applies attribute bits: 0x01 set removes every write permission, 0x01 clear
// gives the owner write permission back. Other bits are ignored.
bool SetAttributes(const std::string& name, std::int32_t attr);

// Last-modification time as an MS-DOS date-time in local time; 0 when it
// cannot be read or lies outside 1980 to 2107.
std::int32_t GetDosTime(const std::string& name);

// Sets the modification time from an MS-DOS date-time read as local time.
// A value that is no valid date (0, for example) leaves the time as it is and
// returns false.
bool SetDosTime(const std::string& name, std::int32_t dosTime);

// Absolute, lexically normalised path of a name (relative names are taken
// from the current folder). Never touches the file itself.
std::string FullPath(const std::string& name);

// Halts the program at once as the runtime of old did for an internal fault:
// the line "Runtime error <code>" on standard error, then exit status <code>.
[[noreturn]] void HaltRuntimeError(int code);

}  // namespace vorka::platform
