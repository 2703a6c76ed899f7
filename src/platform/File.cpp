// POSIX side of the file layer. Windows attribute bits and MS-DOS date-times
// are mapped onto permission bits and the modification time here, so that the
// layers above keep the stored format's view of a file.
#include "File.h"
#include "DosTime.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorka::platform {

namespace {

constexpr std::int32_t attrReadOnly = 0x01;
constexpr std::int32_t attrArchive = 0x20;

// Permission bits after applying attribute bits: read-only takes every write
// permission away, its absence gives the owner's back.
mode_t ModeForAttributes(mode_t perms, std::int32_t attr) {
  if ((attr & attrReadOnly) != 0) return perms & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  return (perms & S_IWUSR) == 0 ? perms | S_IWUSR : perms;
}

// An MS-DOS date-time read as local time; false for a value that is no date.
bool DosToTime(std::int32_t dosTime, time_t& result) {
  TDosFields f;
  if (!SplitDosTime(static_cast<std::uint32_t>(dosTime), f)) return false;
  struct tm lt {};
  lt.tm_year = f.Year - 1900;
  lt.tm_mon = f.Month - 1;
  lt.tm_mday = f.Day;
  lt.tm_hour = f.Hour;
  lt.tm_min = f.Minute;
  lt.tm_sec = f.Second;
  lt.tm_isdst = -1;
  result = ::mktime(&lt);
  return result != static_cast<time_t>(-1);
}

// ---------------------------------------------------------------------------
// The temporary file that a signal takes away with it. The handler may only
// make async-signal-safe calls, so the name lives in static storage: the
// folder's descriptor and the last name part. The folder is set last when a
// file is registered and cleared first when it is released.

volatile sig_atomic_t SignalFolder = -1;
char SignalLeaf[64];
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnCleanupSignal(int sig) {
  const int folder = SignalFolder;
  if (folder >= 0) ::unlinkat(folder, SignalLeaf, 0);
  // SA_RESETHAND has put the default action back and the signal stays
  // blocked until the handler returns: it then ends the program as it would
  // have without the handler.
  ::raise(sig);
}

// Looked at for every temporary file, so that a disposition the host set
// since is respected: only a signal left at its default action gets the
// handler.
void InstallCleanupHandlers() {
  for (const int sig : kCleanupSignals) {
    struct sigaction old {};
    // An ignored signal stays ignored (nohup), and a handler of the
    // program's host stays in charge.
    if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
        old.sa_handler != SIG_DFL)
      continue;
    struct sigaction sa {};
    sa.sa_handler = OnCleanupSignal;
    sigemptyset(&sa.sa_mask);
    for (const int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    sa.sa_flags = SA_RESETHAND;
    ::sigaction(sig, &sa, nullptr);
  }
}

// Blocks the cleanup signals for its lifetime, so that a temporary file is
// never created without being registered.
class TSignalBlock {
public:
  TSignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanupSignals) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &Old);
  }
  ~TSignalBlock() { ::sigprocmask(SIG_SETMASK, &Old, nullptr); }
  TSignalBlock(const TSignalBlock&) = delete;
  TSignalBlock& operator=(const TSignalBlock&) = delete;

private:
  sigset_t Old;
};

void ReleaseSignalCleanup() { SignalFolder = -1; }

void RegisterSignalCleanup(int folder, const char* leaf) {
  SignalFolder = -1;
  std::size_t i = 0;
  for (; leaf[i] != '\0' && i + 1 < sizeof SignalLeaf; ++i) SignalLeaf[i] = leaf[i];
  SignalLeaf[i] = '\0';
  SignalFolder = folder;
}

// ---------------------------------------------------------------------------
// Outputs

// Follows symbolic links that form the last part of the name, as open does,
// leaving the folders before it to the kernel. False for a loop or a link
// that cannot be read.
bool FollowFinalLinks(std::string& path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return false;
    std::string next(link, static_cast<std::size_t>(n));
    // A relative link is read from the folder that holds the link.
    if (next[0] != '/') {
      const std::size_t slash = path.rfind('/');
      if (slash != std::string::npos) next.insert(0, path, 0, slash + 1);
    }
    path = std::move(next);
  }
  return false;
}

bool CopyName(char* to, std::size_t size, const std::string& from) {
  if (from.size() >= size) return false;
  std::memcpy(to, from.data(), from.size());
  to[from.size()] = '\0';
  return true;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Creates a new temporary file in the folder; its name goes to out.Temp.
int CreateTemporary(TOutput& out) {
  static std::uint32_t counter = 0;
  const auto pid = static_cast<std::uint32_t>(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".vorka-%x-%x.tmp", pid, counter++);
    const int fd = ::openat(out.Folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      CopyName(out.Temp, sizeof out.Temp, name);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  return -1;
}

void ForgetOutput(TOutput& out) {
  if (out.Mode == omReplace) {
    ReleaseSignalCleanup();
    ::close(out.Folder);
  }
  out.Mode = omNone;
  out.Fd = -1;
  out.Folder = -1;
}

// Time and attribute bits by descriptor, for a regular file only.
void ApplyInfo(int fd, std::int32_t attr, std::int32_t dosTime) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  time_t t = 0;
  if (DosToTime(dosTime, t)) {
    struct timespec times[2] {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    ::futimens(fd, times);
  }
  const mode_t perms = st.st_mode & 07777;
  const mode_t wanted = ModeForAttributes(perms, attr);
  if (wanted != perms) ::fchmod(fd, wanted);
}

}  // namespace

bool CreateOutput(TFile& file, TOutput& out, const std::string& name) {
  file.Fd = -1;
  out.Mode = omNone;
  out.Fd = -1;
  out.Folder = -1;
  out.HadOld = false;
  std::string path = name;
  if (path.empty() || !FollowFinalLinks(path)) return false;
  const std::size_t slash = path.rfind('/');
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string folder =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);

  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && S_ISDIR(st.st_mode)) return false;
  // A device, FIFO or socket, or a name whose last part is no file name of
  // its own ("x/.."), is opened as it is.
  const bool plain = leaf.empty() || leaf == "." || leaf == ".." || (exists && !S_ISREG(st.st_mode));
  if (!plain && exists) {
    // The replacement needs only the folder's permission; the old file must
    // still be one this process may write, as when it was written in place.
    const int probe = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) return false;
    ::close(probe);
    out.HadOld = true;
    out.OldMode = st.st_mode & 07777;
    out.OldOwner = st.st_uid;
    out.OldGroup = st.st_gid;
  }
  if (!plain && CopyName(out.Target, sizeof out.Target, leaf)) {
    InstallCleanupHandlers();
    TSignalBlock block;
    out.Folder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int fd = out.Folder >= 0 ? CreateTemporary(out) : -1;
    if (fd >= 0) {
      RegisterSignalCleanup(out.Folder, out.Temp);
      out.Mode = omReplace;
      out.Fd = fd;
      file.Fd = fd;
      return true;
    }
    if (out.Folder >= 0) ::close(out.Folder);
    out.Folder = -1;
    // A folder that takes no new file: an existing, writable target is
    // written in place as it always was; a new one cannot be made.
    if (!out.HadOld) return false;
  }
  if (!CreateWrite(file, path)) return false;
  out.Mode = omInPlace;
  out.Fd = file.Fd;
  return true;
}

bool CommitOutput(TFile& file, TOutput& out, bool restore, std::int32_t attr, std::int32_t dosTime) {
  if (out.Mode == omNone || file.Fd != out.Fd) return false;
  const int fd = file.Fd;
  if (out.Mode == omReplace) {
    if (out.HadOld) {
      // Owner and group first: a change of owner clears the set-id bits,
      // which are carried over only together with the owner and group.
      bool sameOwners = ::fchown(fd, static_cast<uid_t>(out.OldOwner), static_cast<gid_t>(out.OldGroup)) == 0;
      if (!sameOwners) ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(out.OldGroup));
      const mode_t keep = sameOwners ? 07777 : 00777;
      ::fchmod(fd, static_cast<mode_t>(out.OldMode) & keep);
    } else {
      ::fchmod(fd, 0666 & ~CurrentUmask());
    }
  }
  if (restore) ApplyInfo(fd, attr, dosTime);
  file.Fd = -1;
  // Linux releases the descriptor even when close reports EINTR: never retry.
  bool ok = ::close(fd) == 0;
  if (out.Mode == omReplace) {
    if (ok) ok = ::renameat(out.Folder, out.Temp, out.Folder, out.Target) == 0;
    if (!ok) ::unlinkat(out.Folder, out.Temp, 0);
  }
  ForgetOutput(out);
  return ok;
}

void AbandonOutput(TFile& file, TOutput& out) {
  if (out.Mode == omNone || file.Fd != out.Fd) return;
  ::close(file.Fd);
  file.Fd = -1;
  if (out.Mode == omReplace) ::unlinkat(out.Folder, out.Temp, 0);
  ForgetOutput(out);
}

bool OpenRead(TFile& file, const std::string& name) {
  file.Fd = -1;
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below anyway.
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  file.Fd = fd;
  return true;
}

bool CreateWrite(TFile& file, const std::string& name) {
  file.Fd = -1;
  // Devices such as /dev/full or /dev/null are accepted on purpose: writing
  // to them is a legitimate way to test or discard output. O_NONBLOCK makes a
  // FIFO without a reader fail instead of blocking the open.
  const int fd =
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  file.Fd = fd;
  return true;
}

std::uint32_t Read(TFile& file, void* data, std::uint32_t count) {
  if (!file.IsOpen()) return 0;
  auto* p = static_cast<char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(file.Fd, p + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}

std::uint32_t Write(TFile& file, const void* data, std::uint32_t count) {
  if (!file.IsOpen()) return 0;
  const auto* p = static_cast<const char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(file.Fd, p + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<std::uint32_t>(put);
  }
  return done;
}

std::int64_t Position(const TFile& file) {
  if (!file.IsOpen()) return -1;
  const off_t pos = ::lseek(file.Fd, 0, SEEK_CUR);
  return pos < 0 ? -1 : static_cast<std::int64_t>(pos);
}

std::int64_t Length(const TFile& file) {
  if (!file.IsOpen()) return -1;
  struct stat st {};
  if (::fstat(file.Fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool Close(TFile& file) {
  if (!file.IsOpen()) return false;
  const int fd = file.Fd;
  file.Fd = -1;
  // Linux releases the descriptor even when close reports EINTR: never retry.
  return ::close(fd) == 0;
}

bool IsSameFile(const TFile& file, const std::string& name) {
  if (!file.IsOpen()) return false;
  struct stat a {}, b {};
  if (::fstat(file.Fd, &a) != 0 || ::stat(name.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ExistsNotDirectory(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const TFile& file) {
  if (!file.IsOpen()) return false;
  struct stat st {};
  return ::fstat(file.Fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::int32_t GetAttributes(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return 0;
  std::int32_t attr = S_ISREG(st.st_mode) ? attrArchive : 0;
  if ((st.st_mode & S_IWUSR) == 0) attr |= attrReadOnly;
  return attr;
}

bool SetAttributes(const std::string& name, std::int32_t attr) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  const mode_t perms = st.st_mode & 07777;
  const mode_t wanted = ModeForAttributes(perms, attr);
  if (wanted == perms) return true;
  return ::chmod(name.c_str(), wanted) == 0;
}

std::int32_t GetDosTime(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  struct tm lt {};
  const time_t t = st.st_mtime;
  if (::localtime_r(&t, &lt) == nullptr) return 0;
  return JoinDosTime({lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec});
}

bool SetDosTime(const std::string& name, std::int32_t dosTime) {
  time_t t = 0;
  if (!DosToTime(dosTime, t)) return false;
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

std::string FullPath(const std::string& name) {
  if (name.empty() || name[0] == '/') return name;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return name;
  std::string full = cwd;
  if (full.back() != '/') full.push_back('/');
  return full + name;
}

}  // namespace vorka::platform
