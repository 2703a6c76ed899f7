// The limits that the hardening tests rely on: if one did not take effect, a
// test that expects a fault under it would look at a run without the fault.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/ChildProcess.h"
#include "support/RunProgram.h"
#include "support/ScratchDir.h"

namespace vorka {
namespace {

TEST(ChildProcess, StatusOfEachWayToEnd) {
  test::ScratchDir dir;
  const std::string out = dir / "out";
  const struct {
    const char* What;
    test::ChildLimits Limits;
    std::function<int()> Body;
    int Status;
  } cases[] = {
      {"result", {}, [] { return 42; }, 42},
      {"exception", {}, []() -> int { throw 1; }, 253},
      {"signal", {}, [] { std::raise(SIGTERM); return 0; }, 128 + SIGTERM},
      {"time limit", {.TimeLimit = 1}, [] { pause(); return 0; }, 128 + SIGALRM},
      {"file size", {.FileSize = 100, .Stdout = out},
       [] {
         // A write across the limit is cut short instead of killing the child.
         const std::string line(150, 'x');
         return write(1, line.data(), line.size()) == 100 ? 0 : 1;
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(test::RunInChild(c.Limits, c.Body), c.Status);
  }
  EXPECT_EQ(test::ReadFile(out).size(), 100u);
}

TEST(ChildProcess, AddressSpaceLimitFailsAllocationsAndCanBeRaisedAgain) {
  if (test::UnderAddressSanitizer()) GTEST_SKIP() << "no address-space limit under ASan";
  const int status = test::RunInChild({.AddressSpace = test::CurrentAddressSpace() + (64u << 20)}, [] {
    if (new (std::nothrow) char[256u << 20] != nullptr) return 1;
    if (!test::SetAddressSpaceLimit(0)) return 2;
    char* block = new (std::nothrow) char[256u << 20];
    if (block == nullptr) return 3;
    delete[] block;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(RunProgram, LimitsReachTheProgram) {
  // A shell stands in for the program: it reports what it was given.
  const test::RunResult hung = test::RunProgram("/bin/sh", {"-c", "exec sleep 30"}, "C", "", "", {.TimeLimit = 1});
  EXPECT_EQ(hung.ExitStatus, 128 + SIGALRM);
  const test::RunResult limited = test::RunProgram("/bin/sh", {"-c", "ulimit -v; ulimit -f"}, "C", "", "",
                                                   {.AddressSpace = 1u << 30, .FileSize = 1u << 20});
  EXPECT_EQ(limited.ExitStatus, 0) << limited.Stderr;
  EXPECT_EQ(limited.Stdout, "1048576\n2048\n");
}

}  // namespace
}  // namespace vorka
