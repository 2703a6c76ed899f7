// POSIX side of the file layer. Windows attribute bits and MS-DOS date-times
// are mapped onto permission bits and the modification time here, so that the
// layers above keep the stored format's view of a file.
#include "File.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorka::platform {

namespace {

constexpr std::int32_t attrReadOnly = 0x01;
constexpr std::int32_t attrArchive = 0x20;

}  // namespace

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

bool AtEnd(const TFile& file) {
  const std::int64_t pos = Position(file);
  const std::int64_t len = Length(file);
  return pos < 0 || len < 0 || pos >= len;
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
  mode_t wanted = perms;
  if ((attr & attrReadOnly) != 0) {
    wanted = perms & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((perms & S_IWUSR) == 0) {
    wanted = perms | S_IWUSR;
  }
  if (wanted == perms) return true;
  return ::chmod(name.c_str(), wanted) == 0;
}

std::int32_t GetDosTime(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  struct tm lt {};
  const time_t t = st.st_mtime;
  if (::localtime_r(&t, &lt) == nullptr) return 0;
  const int year = lt.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const auto dos = (static_cast<std::uint32_t>(year - 1980) << 25) |
                   (static_cast<std::uint32_t>(lt.tm_mon + 1) << 21) |
                   (static_cast<std::uint32_t>(lt.tm_mday) << 16) |
                   (static_cast<std::uint32_t>(lt.tm_hour) << 11) |
                   (static_cast<std::uint32_t>(lt.tm_min) << 5) |
                   (static_cast<std::uint32_t>(lt.tm_sec / 2));
  return static_cast<std::int32_t>(dos);
}

bool SetDosTime(const std::string& name, std::int32_t dosTime) {
  const auto v = static_cast<std::uint32_t>(dosTime);
  const int year = static_cast<int>(v >> 25) + 1980;
  const int month = static_cast<int>((v >> 21) & 0x0F);
  const int day = static_cast<int>((v >> 16) & 0x1F);
  const int hour = static_cast<int>((v >> 11) & 0x1F);
  const int minute = static_cast<int>((v >> 5) & 0x3F);
  const int second = static_cast<int>(v & 0x1F) * 2;
  static constexpr int daysIn[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > daysIn[month - 1] || hour > 23 ||
      minute > 59 || second > 59)
    return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  struct tm lt {};
  lt.tm_year = year - 1900;
  lt.tm_mon = month - 1;
  lt.tm_mday = day;
  lt.tm_hour = hour;
  lt.tm_min = minute;
  lt.tm_sec = second;
  lt.tm_isdst = -1;
  const time_t t = ::mktime(&lt);
  if (t == static_cast<time_t>(-1)) return false;
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

std::string FullPath(const std::string& name) {
  if (name.empty()) return name;
  std::filesystem::path p(name);
  if (!p.is_absolute()) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return name;
    p = std::filesystem::path(cwd) / p;
  }
  return p.lexically_normal().string();
}

}  // namespace vorka::platform
