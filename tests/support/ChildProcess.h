// Runs a piece of a test in a forked child process under chosen limits and
// hands back its exit status. Allocation failures, partial writes and denied
// permissions are provoked there, never in the test process itself, so that
// the test process stays sound whatever the code under test does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vorka::test {

// True when the tests are built with AddressSanitizer, whose shadow memory
// cannot live under an address-space limit.
constexpr bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

// The unprivileged user that permission tests switch to when they run as root
// (root may write into read-only folders, which would hide the fault).
constexpr unsigned kNobody = 65534;

// What a child gets before it runs its body (or the program, see RunProgram).
// Every field left at its default changes nothing.
struct ChildLimits {
  // Soft RLIMIT_AS in bytes. The hard limit stays, so a child may raise the
  // soft one again to check that it recovers.
  std::uint64_t AddressSpace = 0;
  // RLIMIT_FSIZE in bytes; SIGXFSZ is ignored, so a write beyond it is short.
  std::uint64_t FileSize = 0;
  // Switch to kNobody first when running as root.
  bool Unprivileged = false;
  // File that receives the child's standard output (RunInChild only).
  std::string Stdout = {};
  // Seconds until SIGALRM ends the child, so a hang shows as status
  // 128 + SIGALRM instead of stopping the test run.
  unsigned TimeLimit = 0;
  // Under FileSize, leave SIGXFSZ at its default action, as a shell's
  // "ulimit -f" does, instead of ignoring it.
  bool FileSizeSignal = false;
  // RLIMIT_NOFILE: the lowest descriptor number the child may not open.
  std::uint64_t OpenFiles = 0;
  // Descriptor that becomes the program's standard input in place of the
  // bytes given (RunProgram only); the caller keeps it open.
  int Stdin = -1;
};

// Exit statuses of a child that could not set itself up.
constexpr int kChildCannotRedirect = 250;
constexpr int kChildCannotLimit = 251;
constexpr int kChildCannotDropPrivileges = 254;

// Forks, applies the limits in the child, runs body and exits with its result
// (0 to 255; 253 when it threw). Returns that status, 128 + the signal number
// when the child was killed, -1 when it did not start, and -2 when it could
// not take the requested user.
int RunInChild(const ChildLimits& limits, const std::function<int()>& body);

// Soft address-space limit of the calling process in bytes (0 = back to the
// hard limit). Meant for a child's body.
bool SetAddressSpaceLimit(std::uint64_t bytes);

// Current address-space size of this process in bytes (VmSize), 0 if unknown.
std::uint64_t CurrentAddressSpace();

bool IsRoot();
// Whether a switch to kNobody is possible (running as root).
bool CanDropPrivileges();

namespace detail {
// The child's side of ChildLimits other than Stdout, between fork and exec or
// _exit: only async-signal-safe calls. Returns 0 or a kChildCannot* status.
int ApplyInChild(const ChildLimits& limits);
// Waits for a child and turns its status into RunInChild's numbers.
int WaitForChild(int pid);
}  // namespace detail

}  // namespace vorka::test
