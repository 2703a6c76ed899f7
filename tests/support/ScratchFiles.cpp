// The whole-file helpers of ScratchDir.h and the program copy of RunProgram.h:
// standard C++ only, so that the POSIX and the Windows test builds share them.
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "support/RunProgram.h"
#include "support/ScratchDir.h"

namespace vorka::test {

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + name);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("short write to " + name);
}

bool Exists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}

void MakeOpenToAll(const std::string& folder) {
  std::filesystem::permissions(folder, std::filesystem::perms::all);
}

std::string CopyProgramInto(const std::string& folder) {
  // The copy keeps the program's file name ("vorka", "vorka.exe").
  const std::filesystem::path target = std::filesystem::path(folder) / std::filesystem::path(VORKA_EXE).filename();
  std::filesystem::copy_file(VORKA_EXE, target, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(target, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
  return target.string();
}

}  // namespace vorka::test
