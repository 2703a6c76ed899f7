// Child processes for the program-level tests, on Windows: CreateProcessA
// with the arguments quoted by the rules the C runtime uses to split them
// again, and three pipes. The locale argument has no effect here: a Windows
// console program writes the system's OEM code page whatever the environment
// says. Of the limits only the time limit exists here; a test that asks for
// another is a test that cannot run on Windows, and it is told so.
#include "support/RunProgram.h"

#include <stdexcept>
#include <thread>

#include <windows.h>

namespace vorka::test {

namespace {

// One argument as the C runtime reads it back: quotes around it when it holds
// a blank or a quote, a backslash before each quote, and backslashes doubled
// where they stand before a quote.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t slashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') out.append(slashes * 2 + 1, '\\');
    else out.append(slashes, '\\');
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::string ReadAll(HANDLE pipe) {
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

struct Pipe {
  HANDLE Read = nullptr;
  HANDLE Write = nullptr;
};

Pipe MakePipe(bool childReads) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  Pipe p;
  if (!CreatePipe(&p.Read, &p.Write, &sa, 0)) throw std::runtime_error("CreatePipe failed");
  // Only the child's end is inherited.
  SetHandleInformation(childReads ? p.Write : p.Read, HANDLE_FLAG_INHERIT, 0);
  return p;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& /*locale*/, const std::string& stdinBytes,
                     const std::string& workDir, const ChildLimits& limits) {
  if (limits.AddressSpace != 0 || limits.FileSize != 0 || limits.Unprivileged)
    throw std::logic_error("RunProgram: only the time limit exists on Windows");
  std::string commandLine = Quote(program);
  for (const std::string& a : args) {
    commandLine.push_back(' ');
    commandLine += Quote(a);
  }

  Pipe in = MakePipe(true);
  Pipe out = MakePipe(false);
  Pipe err = MakePipe(false);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in.Read;
  si.hStdOutput = out.Write;
  si.hStdError = err.Write;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      workDir.empty() ? nullptr : workDir.c_str(), &si, &pi);
  CloseHandle(in.Read);
  CloseHandle(out.Write);
  CloseHandle(err.Write);
  if (!started) {
    CloseHandle(in.Write);
    CloseHandle(out.Read);
    CloseHandle(err.Read);
    throw std::runtime_error("cannot start " + program);
  }

  RunResult result;
  std::thread watchdog;
  if (limits.TimeLimit != 0) {
    watchdog = std::thread([&] {
      // Ends a hung child with the status a POSIX child gets from SIGALRM.
      if (WaitForSingleObject(pi.hProcess, limits.TimeLimit * 1000u) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 128 + 14);
    });
  }
  std::thread errReader([&] { result.Stderr = ReadAll(err.Read); });
  std::thread inWriter([&] {
    DWORD put = 0;
    if (!stdinBytes.empty()) WriteFile(in.Write, stdinBytes.data(), static_cast<DWORD>(stdinBytes.size()), &put, nullptr);
    CloseHandle(in.Write);
  });
  result.Stdout = ReadAll(out.Read);
  inWriter.join();
  errReader.join();
  WaitForSingleObject(pi.hProcess, INFINITE);
  if (watchdog.joinable()) watchdog.join();
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.ExitStatus = static_cast<int>(code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(out.Read);
  CloseHandle(err.Read);
  return result;
}

}  // namespace vorka::test
