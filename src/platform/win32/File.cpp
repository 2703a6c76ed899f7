// Win32 side of the file layer. A TFile carries a C runtime descriptor made
// from the Win32 handle (_open_osfhandle), so the shared declaration needs no
// Windows type; every transfer goes to the handle itself, without the
// runtime's text-mode translation.
//
// Files are opened for reading with read sharing only: while one is open
// nobody can write it, and creating the packed file over the source fails with
// a sharing violation instead of destroying the input.
#include "../DosTime.h"
#include "../File.h"

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

// The temporary file that Ctrl-C, Ctrl-Break or closing the console takes
// away with it. The handler runs on a thread of its own while the main thread
// may still hold the file open; the file is opened with delete sharing, so
// the deletion completes when the process ends and closes it.
char CtrlTemp[MAX_PATH];
volatile LONG CtrlArmed = 0;
bool CtrlInstalled = false;

BOOL WINAPI OnCtrl(DWORD) {
  if (CtrlArmed != 0) DeleteFileA(CtrlTemp);
  return FALSE;  // the default handling then ends the process
}

void ArmCtrl(const char* temp) {
  InterlockedExchange(&CtrlArmed, 0);
  lstrcpynA(CtrlTemp, temp, MAX_PATH);
  InterlockedExchange(&CtrlArmed, 1);
  if (!CtrlInstalled) CtrlInstalled = SetConsoleCtrlHandler(OnCtrl, TRUE) != 0;
}

void DisarmCtrl() { InterlockedExchange(&CtrlArmed, 0); }

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
  out.HadOld = false;
  if (name.empty()) return false;
  const DWORD attr = GetFileAttributesA(name.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  bool plain = false;
  if (attr != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) {
    // An existing file must still be one this process may write (and nobody
    // holds it against writing, as the open source does); NUL and CON are
    // written as they are.
    const HANDLE probe = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    plain = !IsDiskFile(probe);
    CloseHandle(probe);
    out.HadOld = !plain;
    out.OldMode = attr;
  }
  const std::string full = FullPath(name);
  const std::size_t slash = full.find_last_of("\\/");
  if (!plain && slash != std::string::npos && CopyName(out.Target, sizeof out.Target, full)) {
    const std::string folder = full.substr(0, slash + 1);
    if (GetTempFileNameA(folder.c_str(), "vrk", 0, out.Temp) != 0) {
      ArmCtrl(out.Temp);
      const HANDLE h = CreateFileA(out.Temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (Adopt(file, h, _O_WRONLY)) {
        out.Mode = omReplace;
        out.Fd = file.Fd;
        return true;
      }
      DeleteFileA(out.Temp);
      DisarmCtrl();
    }
    // A folder that takes no new file: an existing, writable target is
    // written in place as it always was; a new one cannot be made.
    if (!out.HadOld) return false;
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
    DisarmCtrl();
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
    DisarmCtrl();
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
