// POSIX side of the file layer. Windows attribute bits and MS-DOS date-times
// are mapped onto permission bits and the modification time here, so that the
// layers above keep the stored format's view of a file.
#include "File.h"
#include "DosTime.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
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
// Files that a terminating signal takes away with it: the temporary files, and
// targets created empty for a run that has not ended. Each thread writing an
// output holds its own slots, so outputs of several threads never share one.
// The handler may make only async-signal-safe calls and take no lock: it reads
// a slot like a sequence lock (a write in progress makes the sequence odd, a
// finished one moves it on) and skips any slot that changed under it.

constexpr int kCleanupSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2,
                                   SIGALRM, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF};
constexpr std::size_t kLeafMax = 256;  // NAME_MAX and the terminating zero

struct TCleanupSlot {
  std::atomic<bool> Taken{false};   // owned by one output
  std::atomic<bool> Live{false};    // the handler removes the file
  std::atomic<unsigned> Seq{0};     // odd while the fields below are written
  std::atomic<int> Folder{-1};
  std::atomic<bool> OnlyIfSame{false};  // remove only while the name reaches Dev and Ino
  std::atomic<std::uint64_t> Dev{0};
  std::atomic<std::uint64_t> Ino{0};
  std::atomic<char> Leaf[kLeafMax]{};
};

static_assert(std::atomic<unsigned>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<char>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler reads the slots without locks");

TCleanupSlot CleanupSlots[64];

void CleanSlot(TCleanupSlot& slot) {
  const unsigned seq = slot.Seq.load(std::memory_order_acquire);
  if ((seq & 1u) != 0 || !slot.Live.load(std::memory_order_acquire)) return;
  char leaf[kLeafMax];
  for (std::size_t i = 0; i < kLeafMax; ++i) leaf[i] = slot.Leaf[i].load(std::memory_order_relaxed);
  leaf[kLeafMax - 1] = '\0';
  const int folder = slot.Folder.load(std::memory_order_relaxed);
  const bool onlyIfSame = slot.OnlyIfSame.load(std::memory_order_relaxed);
  const std::uint64_t dev = slot.Dev.load(std::memory_order_relaxed);
  const std::uint64_t ino = slot.Ino.load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (slot.Seq.load(std::memory_order_relaxed) != seq) return;
  if (onlyIfSame) {
    struct stat st {};
    if (::fstatat(folder, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != dev || st.st_ino != ino) return;
  }
  ::unlinkat(folder, leaf, 0);
}

void OnCleanupSignal(int sig) {
  for (TCleanupSlot& slot : CleanupSlots) CleanSlot(slot);
  // SA_RESETHAND has put the default action back and the signal stays
  // blocked until the handler returns: it then ends the program as it would
  // have without the handler.
  ::raise(sig);
}

// Looked at for every output, so that a disposition the host set since is
// respected: only a signal left at its default action gets the handler. A
// file-size limit then makes a write fail instead of ending the program.
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
  struct sigaction old {};
  if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_DFL) {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGXFSZ, &sa, nullptr);
  }
}

// Blocks the cleanup signals in this thread for its lifetime, so that a file
// is never created without being registered.
class TSignalBlock {
public:
  TSignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanupSignals) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &Old);
  }
  ~TSignalBlock() { ::pthread_sigmask(SIG_SETMASK, &Old, nullptr); }
  TSignalBlock(const TSignalBlock&) = delete;
  TSignalBlock& operator=(const TSignalBlock&) = delete;

private:
  sigset_t Old;
};

// A slot that removes folder/leaf on a signal (only while it is still the
// file dev/ino when onlyIfSame); -1 when every slot is taken.
int RegisterCleanup(int folder, const char* leaf, bool onlyIfSame, dev_t dev, ino_t ino) {
  for (int i = 0; i < static_cast<int>(std::size(CleanupSlots)); ++i) {
    TCleanupSlot& slot = CleanupSlots[i];
    bool expected = false;
    if (!slot.Taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) continue;
    slot.Seq.fetch_add(1, std::memory_order_acq_rel);
    slot.Folder.store(folder, std::memory_order_relaxed);
    slot.OnlyIfSame.store(onlyIfSame, std::memory_order_relaxed);
    slot.Dev.store(static_cast<std::uint64_t>(dev), std::memory_order_relaxed);
    slot.Ino.store(static_cast<std::uint64_t>(ino), std::memory_order_relaxed);
    std::size_t n = 0;
    for (; leaf[n] != '\0' && n + 1 < kLeafMax; ++n) slot.Leaf[n].store(leaf[n], std::memory_order_relaxed);
    slot.Leaf[n].store('\0', std::memory_order_relaxed);
    slot.Seq.fetch_add(1, std::memory_order_release);
    slot.Live.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void ReleaseCleanup(int& index) {
  if (index < 0) return;
  TCleanupSlot& slot = CleanupSlots[index];
  slot.Live.store(false, std::memory_order_release);
  slot.Seq.fetch_add(2, std::memory_order_acq_rel);
  slot.Taken.store(false, std::memory_order_release);
  index = -1;
}

// ---------------------------------------------------------------------------
// Outputs

// Follows symbolic links that form the last part of the name, as open does,
// leaving the folders before it to the kernel. This reading only proposes a
// folder: the kernel's open has decided the file, and a name in that folder
// is used only once it is seen to reach the file opened.
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

bool SameIdentity(const struct stat& a, const TOutput& out) {
  return static_cast<std::uint64_t>(a.st_dev) == out.TargetDev && static_cast<std::uint64_t>(a.st_ino) == out.TargetIno;
}

enum class TReach { Reached, NoName, Failed };

bool OutOfResources(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM; }

// Opens the folder in which a name reaches the opened file (dev and ino in
// out) and keeps that name. NoName for a file that no name reaches any more
// (deleted, a memory file) or one the name's reading does not lead to;
// Failed when the system ran out of descriptors or memory on the way.
TReach FindTargetFolder(const std::string& name, TOutput& out) {
  std::string path = name;
  if (!FollowFinalLinks(path)) return OutOfResources(errno) ? TReach::Failed : TReach::NoName;
  const std::size_t slash = path.rfind('/');
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == ".." || !CopyName(out.Target, kLeafMax, leaf)) return TReach::NoName;
  const std::string folder =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return OutOfResources(errno) ? TReach::Failed : TReach::NoName;
  struct stat st {};
  const bool found = ::fstatat(fd, out.Target, &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!found || !SameIdentity(st, out)) {
    const int why = found ? 0 : errno;
    ::close(fd);
    return OutOfResources(why) ? TReach::Failed : TReach::NoName;
  }
  out.Folder = fd;
  return TReach::Reached;
}

// Whether the kernel will let this process rename a new file over the target:
// not over another user's file in a sticky folder that is not this user's
// either, and never over a mount point. Decided before any work is done.
bool RenameAllowed(const TOutput& out) {
  struct stat folder {};
  if (::fstat(out.Folder, &folder) != 0) return false;
  const uid_t me = ::geteuid();
  if ((folder.st_mode & S_ISVTX) != 0 && me != 0 && out.OldOwner != me && folder.st_uid != me) return false;
  struct statx sx {};
  if (::statx(out.Folder, out.Target, AT_SYMLINK_NOFOLLOW, STATX_INO, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) == 0;
  // Without the attribute, a file on another device than its folder is one.
  return static_cast<std::uint64_t>(folder.st_dev) == out.TargetDev;
}

// Random bytes another user cannot predict.
bool RandomBytes(void* data, std::size_t size) {
  auto* p = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::getrandom(p + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Creates a new temporary file ".vorka-<16 random hex digits>.tmp" in the
// target's folder; its name goes to out.Temp. A taken name is tried again
// with new random digits. On failure errno tells why.
int CreateTemporary(TOutput& out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t random = 0;
    if (!RandomBytes(&random, sizeof random)) return -1;
    char name[40];
    std::snprintf(name, sizeof name, ".vorka-%016llx.tmp", static_cast<unsigned long long>(random));
    const int fd = ::openat(out.Folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      CopyName(out.Temp, sizeof out.Temp, name);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

// Removes the target this run created empty, while its name still reaches it.
void RemoveCreatedTarget(const TOutput& out) {
  if (!out.Created || out.Folder < 0) return;
  struct stat st {};
  if (::fstatat(out.Folder, out.Target, &st, AT_SYMLINK_NOFOLLOW) == 0 && SameIdentity(st, out))
    ::unlinkat(out.Folder, out.Target, 0);
}

void ForgetOutput(TOutput& out) {
  ReleaseCleanup(out.TempSlot);
  ReleaseCleanup(out.TargetSlot);
  if (out.Folder >= 0) ::close(out.Folder);
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

// Opens name as a shell's "> name" would, without cutting it: the kernel
// applies links, permissions, fs.protected_symlinks and fs.protected_regular.
// created tells whether this open made the file.
int OpenAsShell(const std::string& name, bool& created) {
  constexpr int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  created = false;
  int fd = ::open(name.c_str(), flags | O_EXCL, 0666);
  if (fd >= 0) {
    created = true;
    return fd;
  }
  if (errno != EEXIST) return -1;
  // Taken: an existing file, or a symbolic link, which a dangling one makes
  // this open create at its end.
  struct stat st {};
  const bool missing = ::stat(name.c_str(), &st) != 0 && errno == ENOENT;
  fd = ::open(name.c_str(), flags, 0666);
  if (fd >= 0 && missing && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) created = true;
  return fd;
}

// The regular target goes in place through its own descriptor: cut to
// nothing, and without the set-id bits a write by another user would clear.
void StartInPlace(int fd, TOutput& out) {
  ::ftruncate(fd, 0);
  if ((out.OldMode & (S_ISUID | S_ISGID)) != 0) ::fchmod(fd, static_cast<mode_t>(out.OldMode) & 01777);
  out.Mode = omInPlace;
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
  out.Target[0] = '\0';
  out.Temp[0] = '\0';
  if (name.empty()) return false;
  InstallCleanupHandlers();
  TSignalBlock block;
  bool created = false;
  const int fd = OpenAsShell(name, created);
  if (fd < 0) return false;
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  out.Fd = fd;
  file.Fd = fd;
  // A pipe, device or socket is written as it is.
  if (!S_ISREG(st.st_mode)) {
    out.Mode = omInPlace;
    return true;
  }
  out.HadOld = !created;
  out.OldMode = st.st_mode & 07777;
  out.OldOwner = st.st_uid;
  out.OldGroup = st.st_gid;
  out.TargetDev = static_cast<std::uint64_t>(st.st_dev);
  out.TargetIno = static_cast<std::uint64_t>(st.st_ino);
  // A deleted file or a memory file reached through /proc/self/fd: no name
  // to rename onto; the same for a file another user keeps in a sticky
  // folder, or a mount point.
  const TReach reach = FindTargetFolder(name, out);
  if (reach == TReach::Failed) {
    ::close(fd);
    file.Fd = -1;
    struct stat now {};
    if (created && ::lstat(name.c_str(), &now) == 0 && SameIdentity(now, out)) ::unlink(name.c_str());
    ForgetOutput(out);
    return false;
  }
  if (reach == TReach::NoName || !RenameAllowed(out)) {
    StartInPlace(fd, out);
    return true;
  }
  out.Created = created;
  if (created) {
    out.TargetSlot = RegisterCleanup(out.Folder, out.Target, true, st.st_dev, st.st_ino);
  }
  const int temp = CreateTemporary(out);
  const int why = errno;
  if (temp >= 0) out.TempSlot = RegisterCleanup(out.Folder, out.Temp, false, 0, 0);
  if (temp >= 0 && out.TempSlot >= 0 && (!created || out.TargetSlot >= 0)) {
    ::close(fd);
    out.Mode = omReplace;
    out.Fd = temp;
    file.Fd = temp;
    return true;
  }
  if (temp >= 0) {
    ::close(temp);
    ::unlinkat(out.Folder, out.Temp, 0);
  } else if (why == EACCES || why == EPERM || why == EROFS) {
    // A folder that takes no new file while the target is writable: in place.
    StartInPlace(fd, out);
    return true;
  }
  // No room, no inodes, a quota, no descriptors, every name taken, or no
  // slot to clean it up: the old target stays as it was.
  ::close(fd);
  file.Fd = -1;
  RemoveCreatedTarget(out);
  ForgetOutput(out);
  return false;
}

bool CommitOutput(TFile& file, TOutput& out, bool restore, std::int32_t attr, std::int32_t dosTime) {
  if (out.Mode == omNone || file.Fd != out.Fd) return false;
  const int fd = file.Fd;
  if (out.Mode == omReplace) {
    // Owner and group where this process may set them; the set-id bits are
    // never carried, as a write by another user would clear them.
    if (out.HadOld && ::fchown(fd, static_cast<uid_t>(out.OldOwner), static_cast<gid_t>(out.OldGroup)) != 0)
      ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(out.OldGroup));
    ::fchmod(fd, static_cast<mode_t>(out.OldMode) & 01777);
  }
  if (restore) ApplyInfo(fd, attr, dosTime);
  file.Fd = -1;
  // Linux releases the descriptor even when close reports EINTR: never retry.
  bool ok = ::close(fd) == 0;
  if (out.Mode == omReplace) {
    // A target this run created empty goes first, so that the rename
    // replaces nothing: a rename over a file makes ext4 start writing the new
    // data out at once (its auto_da_alloc), a cost a new output need not pay,
    // and its disk's completions land on whatever runs next. The name is
    // free for an instant, as it was before the run.
    if (ok) RemoveCreatedTarget(out);
    if (ok) ok = ::renameat(out.Folder, out.Temp, out.Folder, out.Target) == 0;
    if (!ok) ::unlinkat(out.Folder, out.Temp, 0);
  }
  if (!ok) RemoveCreatedTarget(out);
  ForgetOutput(out);
  return ok;
}

void AbandonOutput(TFile& file, TOutput& out) {
  if (out.Mode == omNone || file.Fd != out.Fd) return;
  ::close(file.Fd);
  file.Fd = -1;
  if (out.Mode == omReplace) ::unlinkat(out.Folder, out.Temp, 0);
  RemoveCreatedTarget(out);
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

bool IsSameFile(const std::string& name1, const std::string& name2) {
  struct stat a {}, b {};
  if (::stat(name1.c_str(), &a) != 0 || ::stat(name2.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsSameFile(const TFile& file1, const TFile& file2) {
  if (!file1.IsOpen() || !file2.IsOpen()) return false;
  struct stat a {}, b {};
  if (::fstat(file1.Fd, &a) != 0 || ::fstat(file2.Fd, &b) != 0) return false;
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
