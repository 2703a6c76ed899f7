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

// An output file on its way to its name. The kernel decides which file the
// name means: it is opened, or created empty, through the name as a shell's
// "> name" would. A regular file that a name still reaches is written under a
// temporary name in the folder where it lives and put in place by one rename
// when it is complete, so the old file stays whole until then; anything else
// (a device, a pipe, a deleted file) is written in place. All zero bytes is
// the state "no output".
enum : std::uint8_t {
  omNone = 0,     // nothing open
  omReplace = 1,  // a temporary file that CommitOutput renames over the target
  omInPlace = 2,  // the target itself (a device, or a file that cannot be renamed over)
};

struct TOutput {
  std::uint8_t Mode{};
  bool HadOld{};             // an existing regular file is being replaced
  bool Created{};            // POSIX: the target was created empty for this run
  int Fd{};                  // the descriptor handed out for writing
  int Folder{};              // POSIX: the target's folder, or -1
  int TempSlot{};            // POSIX: signal cleanup entries, or -1
  int TargetSlot{};
  std::uint32_t OldMode{};   // permission bits (POSIX) or attribute bits (Win32) of the old file
  std::uint32_t OldOwner{};
  std::uint32_t OldGroup{};
  std::uint64_t TargetDev{};  // POSIX: the file the kernel opened
  std::uint64_t TargetIno{};
  char Target[4096]{};       // POSIX: the target's last name part; Win32: its full name
  char Temp[4096]{};         // likewise for the temporary file
};

// Opens name for writing as an output. Fails, changing nothing, for a folder,
// for a file this process may not open for writing (as the shell would
// refuse it), and when the temporary file cannot be made for any reason but a
// folder that takes no new file (where a writable target is written in
// place). A symbolic link as the last part is followed, so the file it points
// to is replaced and the link stays. A target that cannot be renamed over
// (another user's file in a sticky folder, a mount point) is written in
// place. While the output is open, every catchable terminating signal removes
// the temporary file (and a target created for this run) before it ends the
// program, and SIGXFSZ is ignored, so a write past the size limit fails.
bool CreateOutput(TFile& file, TOutput& out, const std::string& name);

// Finishes an output from CreateOutput: a replacement first takes the old
// file's permission bits without the set-id bits, and owner and group where
// the process may set them; with restore, the MS-DOS time and attribute bits
// follow (a regular file only; the time first). Then closes it and renames
// the temporary file over the target. False when the file could not be
// completed or put in place: the temporary file is then removed, a target
// created for this run too, and the old target stays as it was.
bool CommitOutput(TFile& file, TOutput& out, bool restore, std::int32_t attr, std::int32_t dosTime);

// Drops an output from CreateOutput: a temporary file is closed and removed
// and the old target stays as it was; a file written in place is closed as it
// is, and removed when this run created it.
void AbandonOutput(TFile& file, TOutput& out);

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
inline bool AtEnd(const TFile& file) {
  const std::int64_t pos = Position(file);
  const std::int64_t len = Length(file);
  return pos < 0 || len < 0 || pos >= len;
}

// Closes the file; false when it was not open or the close failed. The handle
// is marked closed either way.
bool Close(TFile& file);

// True when the open file and the file the name refers to are the same file
// (same device and inode). False when the name does not exist.
bool IsSameFile(const TFile& file, const std::string& name);

// True when both names exist and are the same file (same device and inode).
bool IsSameFile(const std::string& name1, const std::string& name2);

// True when both files are open and are the same file.
bool IsSameFile(const TFile& file1, const TFile& file2);

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

// The name made absolute: a relative name gets the current folder put before
// it. On POSIX "." and ".." stay for the kernel to resolve (a symbolic link
// before ".." leads elsewhere than a lexical clean-up would); Windows resolves
// them by text, as its own calls do. Never touches the file itself.
std::string FullPath(const std::string& name);

}  // namespace vorka::platform
