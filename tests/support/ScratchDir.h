// A fresh, empty folder per test under the system's temporary folder,
// removed with everything in it when the object goes out of scope.
#pragma once

#include <filesystem>
#include <string>

namespace vorka::test {

class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Full path of a name inside the folder, as a string for the library calls.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// Whole-file helpers for tests: they throw on failure so that a test cannot
// silently go on with missing data.
std::string ReadFile(const std::string& name);
void WriteFile(const std::string& name, const std::string& bytes);
// Whether anything is there, a dangling symbolic link included.
bool Exists(const std::string& name);
// Gives everyone every permission on a folder, so that a child that dropped
// its privileges can work in it.
void MakeOpenToAll(const std::string& folder);

}  // namespace vorka::test
