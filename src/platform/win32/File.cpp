// Win32 side of the file layer. A TFile carries a C runtime descriptor made
// from the Win32 handle (_open_osfhandle), so the shared declaration needs no
// Windows type; every transfer goes to the handle itself, without the
// runtime's text-mode translation.
//
// Files are opened for reading with read sharing only: while one is open
// nobody can write it, and creating the packed file over the source fails with
// a sharing violation instead of destroying the input.
#define _CRT_RAND_S  // rand_s: the system's random generator
#include "../DosTime.h"
#include "../File.h"

#include <cstdlib>

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winnetwk.h>

namespace vorka::platform {

namespace {

constexpr DWORD kMaxChunk = 1u << 30;

HANDLE HandleOf(const TFile& file) {
  if (!file.IsOpen()) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(file.Fd));
}

// Hands the handle over to a descriptor; the handle is closed when that fails.
bool Adopt(TFile& file, HANDLE handle, int flags) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return false;
  }
  file.Fd = fd;
  return true;
}

bool IsDiskFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ValidDosDateTime(std::uint32_t v) {
  TDosFields fields;
  return SplitDosTime(v, fields);
}

// The network form of a full path on a mapped drive ("\\server\share\...");
// the path itself for a local drive or when the network cannot tell.
std::string UniversalName(const std::string& full) {
  if (full.size() < 3 || full[1] != ':' || full[2] != '\\') return full;
  const std::string root = full.substr(0, 3);
  if (GetDriveTypeA(root.c_str()) != DRIVE_REMOTE) return full;
  DWORD size = 1024;
  std::vector<char> buf(size);
  DWORD rc = WNetGetUniversalNameA(full.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buf.data(), &size);
  if (rc == ERROR_MORE_DATA) {
    buf.resize(size);
    rc = WNetGetUniversalNameA(full.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buf.data(), &size);
  }
  if (rc != NO_ERROR) return full;
  const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buf.data());
  return info->lpUniversalName != nullptr ? std::string(info->lpUniversalName) : full;
}

// Temporary files that Ctrl-C, Ctrl-Break or closing the console takes away
// with them. The handler runs on a thread of its own while the threads that
// write outputs may still hold their files open; each file is opened with
// delete sharing, so the deletion completes when the process ends and closes
// it. Each output holds its own slot, so outputs of several threads never
// share one; the handler takes no lock and skips a slot being written.
struct TCtrlSlot {
  volatile LONG State;  // 0 free, 1 being written, 2 armed
  char Temp[MAX_PATH];
};
TCtrlSlot CtrlSlots[32];
volatile LONG CtrlInstalled = 0;

BOOL WINAPI OnCtrl(DWORD) {
  for (TCtrlSlot& slot : CtrlSlots)
    if (InterlockedCompareExchange(&slot.State, 2, 2) == 2) DeleteFileA(slot.Temp);
  return FALSE;  // the default handling then ends the process
}

// The slot that now removes temp on a console event; -1 when all are taken.
int ArmCtrl(const char* temp) {
  for (int i = 0; i < static_cast<int>(sizeof CtrlSlots / sizeof CtrlSlots[0]); ++i) {
    TCtrlSlot& slot = CtrlSlots[i];
    if (InterlockedCompareExchange(&slot.State, 1, 0) != 0) continue;
    lstrcpynA(slot.Temp, temp, MAX_PATH);
    InterlockedExchange(&slot.State, 2);
    if (InterlockedCompareExchange(&CtrlInstalled, 1, 0) == 0) SetConsoleCtrlHandler(OnCtrl, TRUE);
    return i;
  }
  return -1;
}

void DisarmCtrl(int& slot) {
  if (slot >= 0) InterlockedExchange(&CtrlSlots[slot].State, 0);
  slot = -1;
}

// Creates a new temporary file ".vorka-<16 random hex digits>.tmp" in folder
// (which ends in a delimiter); a taken name is tried again with new digits.
// The random part comes from the system's generator, so another user cannot
// name it in advance. INVALID_HANDLE_VALUE on failure, GetLastError telling why.
HANDLE CreateTemporary(const std::string& folder, TOutput& out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int hi = 0;
    unsigned int lo = 0;
    if (rand_s(&hi) != 0 || rand_s(&lo) != 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
    }
    char leaf[40];
    wsprintfA(leaf, ".vorka-%08x%08x.tmp", hi, lo);
    const std::string name = folder + leaf;
    if (name.size() >= sizeof out.Temp) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    lstrcpynA(out.Temp, name.c_str(), sizeof out.Temp);
    const HANDLE h = CreateFileA(out.Temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    const DWORD why = GetLastError();
    if (why != ERROR_FILE_EXISTS && why != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

bool CopyName(char* to, std::size_t size, const std::string& from) {
  if (from.size() >= size) return false;
  std::memcpy(to, from.data(), from.size());
  to[from.size()] = '\0';
  return true;
}

void ApplyTime(HANDLE h, std::int32_t dosTime) {
  const auto v = static_cast<std::uint32_t>(dosTime);
  FILETIME local{};
  FILETIME utc{};
  if (ValidDosDateTime(v) &&
      DosDateTimeToFileTime(static_cast<WORD>(v >> 16), static_cast<WORD>(v & 0xFFFF), &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(h, nullptr, nullptr, &utc);
}

}  // namespace

bool CreateOutput(TFile& file, TOutput& out, const std::string& name) {
  file.Fd = -1;
  out.Mode = omNone;
  out.Fd = -1;
  out.Folder = -1;
  out.TempSlot = -1;
  out.TargetSlot = -1;
  out.HadOld = false;
  out.Created = false;
  if (name.empty()) return false;
  const DWORD attr = GetFileAttributesA(name.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  bool plain = false;
  bool movable = true;
  if (attr != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) {
    // An existing file must still be one this process may write (and nobody
    // holds it against writing, as the open source does); NUL and CON are
    // written as they are. Whether the move may replace it (delete access)
    // is decided here, before the work: a writable file that cannot be
    // replaced is written in place.
    HANDLE probe = CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      movable = false;
      probe = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (probe == INVALID_HANDLE_VALUE) return false;
    plain = !IsDiskFile(probe);
    CloseHandle(probe);
    out.HadOld = !plain;
    out.OldMode = attr;
  }
  const std::string full = FullPath(name);
  const std::size_t slash = full.find_last_of("\\/");
  if (!plain && movable && slash != std::string::npos && CopyName(out.Target, sizeof out.Target, full)) {
    const HANDLE h = CreateTemporary(full.substr(0, slash + 1), out);
    const DWORD why = GetLastError();
    if (h != INVALID_HANDLE_VALUE) {
      out.TempSlot = ArmCtrl(out.Temp);
      if (out.TempSlot >= 0 && Adopt(file, h, _O_WRONLY)) {
        out.Mode = omReplace;
        out.Fd = file.Fd;
        return true;
      }
      if (out.TempSlot < 0) CloseHandle(h);
      DeleteFileA(out.Temp);
      DisarmCtrl(out.TempSlot);
      return false;
    }
    // Only a folder that takes no new file lets an existing, writable target
    // be written in place; any other failure (no room, every name taken)
    // leaves the old target as it was.
    if (!out.HadOld || (why != ERROR_ACCESS_DENIED && why != ERROR_WRITE_PROTECT)) return false;
  }
  if (!CopyName(out.Target, sizeof out.Target, name) || !CreateWrite(file, name)) return false;
  out.Mode = omInPlace;
  out.Fd = file.Fd;
  return true;
}

bool CommitOutput(TFile& file, TOutput& out, bool restore, std::int32_t attr, std::int32_t dosTime) {
  if (out.Mode == omNone || file.Fd != out.Fd) return false;
  const HANDLE h = HandleOf(file);
  const bool disk = IsDiskFile(h);
  if (restore && disk) ApplyTime(h, dosTime);
  bool ok = Close(file);
  if (out.Mode == omReplace) {
    if (restore) {
      SetFileAttributesA(out.Temp, static_cast<DWORD>(attr));
    } else if (out.HadOld) {
      SetFileAttributesA(out.Temp, out.OldMode);
    }
    if (ok) ok = MoveFileExA(out.Temp, out.Target, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) {
      SetFileAttributesA(out.Temp, FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(out.Temp);
    }
    DisarmCtrl(out.TempSlot);
  } else if (restore && disk) {
    SetFileAttributesA(out.Target, static_cast<DWORD>(attr));
  }
  out.Mode = omNone;
  out.Fd = -1;
  return ok;
}

void AbandonOutput(TFile& file, TOutput& out) {
  if (out.Mode == omNone || file.Fd != out.Fd) return;
  Close(file);
  if (out.Mode == omReplace) {
    DeleteFileA(out.Temp);
    DisarmCtrl(out.TempSlot);
  }
  out.Mode = omNone;
  out.Fd = -1;
}

bool OpenRead(TFile& file, const std::string& name) {
  file.Fd = -1;
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A device (CON, NUL, a pipe) is no file to pack or compare.
  if (!IsDiskFile(h)) {
    CloseHandle(h);
    return false;
  }
  return Adopt(file, h, _O_RDONLY);
}

bool CreateWrite(TFile& file, const std::string& name) {
  file.Fd = -1;
  // Devices such as NUL are accepted on purpose, as on the other systems.
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  return Adopt(file, h, _O_WRONLY);
}

std::uint32_t Read(TFile& file, void* data, std::uint32_t count) {
  const HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return 0;
  auto* p = static_cast<char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    const DWORD want = count - done > kMaxChunk ? kMaxChunk : count - done;
    DWORD got = 0;
    if (!ReadFile(h, p + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

std::uint32_t Write(TFile& file, const void* data, std::uint32_t count) {
  const HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return 0;
  const auto* p = static_cast<const char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    const DWORD want = count - done > kMaxChunk ? kMaxChunk : count - done;
    DWORD put = 0;
    if (!WriteFile(h, p + done, want, &put, nullptr) || put == 0) break;
    done += put;
  }
  return done;
}

std::int64_t Position(const TFile& file) {
  const HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER zero{};
  LARGE_INTEGER pos{};
  if (!SetFilePointerEx(h, zero, &pos, FILE_CURRENT)) return -1;
  return static_cast<std::int64_t>(pos.QuadPart);
}

std::int64_t Length(const TFile& file) {
  const HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) return -1;
  return static_cast<std::int64_t>(size.QuadPart);
}

bool Close(TFile& file) {
  if (!file.IsOpen()) return false;
  const int fd = file.Fd;
  file.Fd = -1;
  // Closes the Win32 handle as well.
  return _close(fd) == 0;
}

bool IsSameFile(const TFile& file, const std::string& name) {
  const HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return false;
  // No access asked for and every sharing allowed: this open disturbs nobody,
  // and a folder opens too.
  const HANDLE other = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

namespace {

bool SameIdentity(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// Opened without access and with every sharing: disturbs nobody.
HANDLE OpenForIdentity(const std::string& name) {
  return CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool IsSameFile(const std::string& name1, const std::string& name2) {
  const HANDLE a = OpenForIdentity(name1);
  if (a == INVALID_HANDLE_VALUE) return false;
  const HANDLE b = OpenForIdentity(name2);
  const bool same = b != INVALID_HANDLE_VALUE && SameIdentity(a, b);
  if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
  CloseHandle(a);
  return same;
}

bool IsSameFile(const TFile& file1, const TFile& file2) {
  const HANDLE a = HandleOf(file1);
  const HANDLE b = HandleOf(file2);
  return a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE && SameIdentity(a, b);
}

bool ExistsNotDirectory(const std::string& name) {
  const DWORD attr = GetFileAttributesA(name.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsRegularFile(const TFile& file) {
  const HANDLE h = HandleOf(file);
  return h != INVALID_HANDLE_VALUE && IsDiskFile(h);
}

std::int32_t GetAttributes(const std::string& name) {
  const DWORD attr = GetFileAttributesA(name.c_str());
  return attr == INVALID_FILE_ATTRIBUTES ? 0 : static_cast<std::int32_t>(attr);
}

bool SetAttributes(const std::string& name, std::int32_t attr) {
  return SetFileAttributesA(name.c_str(), static_cast<DWORD>(attr)) != 0;
}

std::int32_t GetDosTime(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return 0;
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  // FileTimeToDosDateTime refuses a year outside 1980 to 2107.
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

bool SetDosTime(const std::string& name, std::int32_t dosTime) {
  const auto v = static_cast<std::uint32_t>(dosTime);
  if (!ValidDosDateTime(v)) return false;
  FILETIME local{};
  FILETIME utc{};
  if (!DosDateTimeToFileTime(static_cast<WORD>(v >> 16), static_cast<WORD>(v & 0xFFFF), &local) ||
      !LocalFileTimeToFileTime(&local, &utc))
    return false;
  // Others may go on reading the file while its time is set.
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
  CloseHandle(h);
  return ok;
}

std::string FullPath(const std::string& name) {
  if (name.empty()) return name;
  const DWORD need = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  if (need == 0) return name;
  std::vector<char> buf(need + 1);
  const DWORD got = GetFullPathNameA(name.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
  if (got == 0 || got >= buf.size()) return name;
  return UniversalName(std::string(buf.data(), got));
}

}  // namespace vorka::platform
