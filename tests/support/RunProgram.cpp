#include "support/RunProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/ScratchDir.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vorka::test {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& locale,
                     const std::string& stdinBytes, const std::string& workDir, const ChildLimits& limits) {
  int in[2], out[2], err[2];
  if (::pipe(in) != 0) throw std::runtime_error("pipe failed");
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  if (::pipe(err) != 0) throw std::runtime_error("pipe failed");

  // Everything the child needs is built before fork: only async-signal-safe
  // calls happen between fork and exec.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "LC_ALL=", 7) == 0) continue;
    envStrings.emplace_back(*e);
  }
  envStrings.push_back("LC_ALL=" + locale);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(limits.Stdin >= 0 ? limits.Stdin : in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(126);
    const int setup = detail::ApplyInChild(limits);
    if (setup != 0) ::_exit(setup);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);

  // Feed stdin and drain both outputs together, so that no pipe fills up
  // and blocks the child.
  int inFd = in[1], outFd = out[0], errFd = err[0];
  ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  std::size_t fed = 0;
  if (stdinBytes.empty()) CloseFd(inFd);
  RunResult result;
  ::signal(SIGPIPE, SIG_IGN);
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3];
    nfds_t n = 0;
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        const ssize_t w = ::write(inFd, stdinBytes.data() + fed, stdinBytes.size() - fed);
        if (w > 0) fed += static_cast<std::size_t>(w);
        if (w < 0 && errno != EAGAIN && errno != EINTR) fed = stdinBytes.size();
        if (fed == stdinBytes.size()) CloseFd(inFd);
        continue;
      }
      char buf[65536];
      const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
      if (r > 0) {
        (fds[i].fd == outFd ? result.Stdout : result.Stderr).append(buf, static_cast<std::size_t>(r));
      } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
        if (fds[i].fd == outFd) CloseFd(outFd); else CloseFd(errFd);
      }
    }
  }
  CloseFd(inFd);
  result.ExitStatus = detail::WaitForChild(pid);
  return result;
}

int BackgroundProgram::Wait() {
  if (Pid <= 0) return -1;
  const int status = detail::WaitForChild(Pid);
  Pid = -1;
  return status;
}

std::string BackgroundProgram::Output() const { return ReadFile(OutName); }

BackgroundProgram::~BackgroundProgram() {
  if (Pid > 0) {
    ::kill(Pid, SIGKILL);
    Wait();
  }
  if (!OutName.empty()) ::unlink(OutName.c_str());
}

void StartProgram(BackgroundProgram& child, const std::string& program, const std::vector<std::string>& args,
                  const std::string& workDir, const ChildLimits& limits, int passFd) {
  char outName[] = "/tmp/vorka-child-out-XXXXXX";
  const int outFd = ::mkstemp(outName);
  if (outFd < 0) throw std::runtime_error("mkstemp failed");
  child.OutName = outName;
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::string locale = "LC_ALL=C.UTF-8";
  std::string path = "PATH=/usr/bin:/bin";
  char* envp[] = {locale.data(), path.data(), nullptr};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(outFd);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(outFd, 2) < 0) ::_exit(kChildCannotRedirect);
    // dup2 leaves the copy open across exec; a descriptor that already is 3
    // has the flag cleared instead.
    if (passFd >= 0 && (passFd == 3 ? ::fcntl(3, F_SETFD, 0) : ::dup2(passFd, 3)) < 0) ::_exit(kChildCannotRedirect);
    ::close_range(passFd >= 0 ? 4 : 3, ~0u, 0);
    // The signals under test reach the program with their default action,
    // whatever the test runner ignores or blocks.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU,
                          SIGVTALRM, SIGPROF, SIGXFSZ})
      ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(126);
    const int setup = detail::ApplyInChild(limits);
    if (setup != 0) ::_exit(setup);
    ::execve(argv[0], argv.data(), envp);
    ::_exit(127);
  }
  ::close(outFd);
  child.Pid = pid;
}

}  // namespace vorka::test
