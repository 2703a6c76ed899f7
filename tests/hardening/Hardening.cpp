#include "Hardening.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorka::hard {

namespace {

// Between fork and exec (or _exit) only async-signal-safe calls are made.
bool DropToNobody() {
  if (setgroups(0, nullptr) != 0) return false;
  if (setgid(kNobody) != 0) return false;
  return setuid(kNobody) == 0;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

bool IsRoot() { return geteuid() == 0; }
bool CanDropPrivileges() { return IsRoot(); }

bool SetAddressSpaceLimit(std::uint64_t bytes) {
  rlimit r{};
  if (getrlimit(RLIMIT_AS, &r) != 0) return false;
  r.rlim_cur = bytes == 0 ? r.rlim_max : static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_AS, &r) == 0;
}

int InChild(const Child& child, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!child.Stdout.empty()) {
      const int fd = open(child.Stdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(250);
      close(fd);
    }
    if (child.Unprivileged && IsRoot() && !DropToNobody()) _exit(254);
    if (child.AddressSpace != 0 && !SetAddressSpaceLimit(child.AddressSpace)) _exit(251);
    int result = 252;
    try {
      result = body();
    } catch (...) {
      result = 253;
    }
    std::fflush(nullptr);
    _exit(result);
  }
  const int status = Wait(pid);
  return status == 254 && child.Unprivileged ? -2 : status;
}

ProgramRun RunVorka(const std::vector<std::string>& args, std::uint64_t addressSpace,
                    bool unprivileged) {
  char outName[] = "/tmp/vorka-hard-out-XXXXXX";
  const int outFd = mkstemp(outName);
  if (outFd < 0) throw std::runtime_error("mkstemp failed");

  std::vector<std::string> argStrings{VORKA_EXE};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::string locale = "LC_ALL=C.UTF-8";
  std::string path = "PATH=/usr/bin:/bin";
  char* envp[] = {locale.data(), path.data(), nullptr};

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 || dup2(outFd, 2) < 0) _exit(250);
    if (unprivileged && IsRoot() && !DropToNobody()) _exit(254);
    if (addressSpace != 0) {
      rlimit r{};
      getrlimit(RLIMIT_AS, &r);
      r.rlim_cur = static_cast<rlim_t>(addressSpace);
      if (setrlimit(RLIMIT_AS, &r) != 0) _exit(251);
    }
    // A hang shows as death by SIGALRM instead of stopping the test run.
    alarm(120);
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  ProgramRun run;
  run.Status = Wait(pid);
  close(outFd);
  run.Stdout = Slurp(outName);
  unlink(outName);
  return run;
}

std::string Slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + name);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + name);
}

bool Exists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}

void MakeOpenToAll(const std::string& folder) {
  std::filesystem::permissions(folder, std::filesystem::perms::all);
}

std::string ErrorLine(unsigned code, const std::string& message) {
  return "\a  ОШИБКА: " + std::to_string(code) + " " + message + "\n";
}

}  // namespace vorka::hard
