#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorka::test {

namespace detail {

int ApplyInChild(const ChildLimits& limits) {
  if (limits.Unprivileged && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
      return kChildCannotDropPrivileges;
  }
  if (limits.FileSize != 0) {
    std::signal(SIGXFSZ, limits.FileSizeSignal ? SIG_DFL : SIG_IGN);
    rlimit r{};
    if (getrlimit(RLIMIT_FSIZE, &r) != 0) return kChildCannotLimit;
    r.rlim_cur = static_cast<rlim_t>(limits.FileSize);
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) return kChildCannotLimit;
  }
  if (limits.AddressSpace != 0 && !SetAddressSpaceLimit(limits.AddressSpace)) return kChildCannotLimit;
  if (limits.OpenFiles != 0) {
    const rlimit r{static_cast<rlim_t>(limits.OpenFiles), static_cast<rlim_t>(limits.OpenFiles)};
    if (setrlimit(RLIMIT_NOFILE, &r) != 0) return kChildCannotLimit;
  }
  if (limits.TimeLimit != 0) alarm(limits.TimeLimit);
  return 0;
}

int WaitForChild(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace detail

int RunInChild(const ChildLimits& limits, const std::function<int()>& body) {
  // Output buffered now would otherwise be written twice, once by each process.
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!limits.Stdout.empty()) {
      const int fd = open(limits.Stdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(kChildCannotRedirect);
      close(fd);
    }
    const int setup = detail::ApplyInChild(limits);
    if (setup != 0) _exit(setup);
    int result = 252;
    try {
      result = body();
    } catch (...) {
      result = 253;
    }
    std::fflush(nullptr);
    _exit(result);
  }
  const int status = detail::WaitForChild(pid);
  return status == kChildCannotDropPrivileges && limits.Unprivileged ? -2 : status;
}

bool SetAddressSpaceLimit(std::uint64_t bytes) {
  rlimit r{};
  if (getrlimit(RLIMIT_AS, &r) != 0) return false;
  r.rlim_cur = bytes == 0 ? r.rlim_max : static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_AS, &r) == 0;
}

std::uint64_t CurrentAddressSpace() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  std::uint64_t kb = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmSize:", 7) == 0) {
      kb = std::strtoull(line + 7, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}

bool IsRoot() { return geteuid() == 0; }
bool CanDropPrivileges() { return IsRoot(); }

}  // namespace vorka::test
