// The scratch folders of the tests, for Windows: the folder gets a random
// name under the temporary folder (there is no mkdtemp), and removal first
// clears the read-only and hidden bits tests leave behind.
#include "support/ScratchDir.h"

#include <random>
#include <stdexcept>
#include <system_error>

#include <windows.h>

namespace vorka::test {

ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("vorka-test-" + std::to_string(random() % 1000000000u));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ec);
}

}  // namespace vorka::test
