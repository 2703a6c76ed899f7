#include "support/LzChild.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorka::test {

int RunInChild(const ChildLimits& limits, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (limits.FileSize != 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit r{limits.FileSize, limits.FileSize};
      if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(250);
    }
    if (limits.AddressSpace != 0) {
      const rlimit r{limits.AddressSpace, limits.AddressSpace};
      if (setrlimit(RLIMIT_AS, &r) != 0) _exit(251);
    }
    int result = 252;
    try {
      result = body();
    } catch (...) {
      result = 253;
    }
    _exit(result);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace vorka::test
