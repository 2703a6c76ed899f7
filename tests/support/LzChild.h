// Runs a piece of a test in a forked child process, optionally under an
// address-space or file-size limit, and hands back its exit status. Used for
// allocation failures and partial writes, which a test must not provoke in the
// test process itself.
#pragma once

#include <cstdint>
#include <functional>

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

struct ChildLimits {
  std::uint64_t AddressSpace = 0;  // RLIMIT_AS in bytes; 0 = unchanged
  std::uint64_t FileSize = 0;      // RLIMIT_FSIZE in bytes; 0 = unchanged (SIGXFSZ ignored)
};

// Forks, applies the limits in the child, runs body and exits with its result.
// Returns the child's exit status, or -1 when it did not exit normally.
int RunInChild(const ChildLimits& limits, const std::function<int()>& body);

// Current address-space size of this process in bytes (VmSize), 0 if unknown.
std::uint64_t CurrentAddressSpace();

}  // namespace vorka::test
