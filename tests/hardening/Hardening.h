// Helpers of the hardening tests: child processes with an address-space
// limit or another user, the real program run under such limits, and small
// file helpers. Everything that may fail badly (memory exhausted, a denied
// write) happens in a forked child, so the test process itself stays sound.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorka::hard {

// The unprivileged user that permission tests switch to when they run as root
// (root may write into read-only folders, which would hide the fault).
constexpr unsigned kNobody = 65534;

struct Child {
  // Soft RLIMIT_AS in bytes, 0 = unchanged. The hard limit stays, so the
  // child may raise the soft one again to check that it recovers.
  std::uint64_t AddressSpace = 0;
  // Switch to kNobody first when running as root.
  bool Unprivileged = false;
  // File that receives the child's standard output; empty = unchanged.
  std::string Stdout;
};

// Runs body in a forked child and returns its exit status (the body's
// result, 0 to 255), or -1 when the child was killed or did not start, or
// -2 when it could not take the requested user.
int InChild(const Child& child, const std::function<int()>& body);

// Soft address-space limit of the calling process, in bytes (0 = unlimited).
bool SetAddressSpaceLimit(std::uint64_t bytes);

struct ProgramRun {
  std::string Stdout;
  int Status = -1;  // exit status, or 128 + signal number
};

// Runs the built program with args and end of input on standard input, in
// the C.UTF-8 locale, with the given limit (0 = none) and user. A run that
// takes more than two minutes is killed (status 128 + SIGALRM).
ProgramRun RunVorka(const std::vector<std::string>& args, std::uint64_t addressSpace = 0,
                    bool unprivileged = false);

// Whether a switch to kNobody is possible (running as root) or needed at all.
bool CanDropPrivileges();
bool IsRoot();

std::string Slurp(const std::string& name);
void Spit(const std::string& name, const std::string& bytes);
bool Exists(const std::string& name);
void MakeOpenToAll(const std::string& folder);

// The error line the program prints for a code and its message.
std::string ErrorLine(unsigned code, const std::string& message);

}  // namespace vorka::hard
