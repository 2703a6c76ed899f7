// The suite's one owner of a file object, and the child index the file tests
// pack with: the one VORKA_INDEX names, as for the program, so that CI runs
// the file tests again with the hash index.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

#include "lzfile/LZFile.h"

namespace vorka::test {

inline TChildIndex IndexUnderTest() {
  const char* value = std::getenv("VORKA_INDEX");
  return value != nullptr && std::strcmp(value, "hash") == 0 ? TChildIndex::Hash : TChildIndex::Tree;
}

struct TLZFileDeleter {
  void operator()(TLZFile* file) const { TLZFile::Destroy(file); }
};

// A file object from TLZFile::Create (or nullptr), set to the index under
// test and destroyed with the owner.
class Owned : public std::unique_ptr<TLZFile, TLZFileDeleter> {
public:
  explicit Owned(TLZFile* file = nullptr) : std::unique_ptr<TLZFile, TLZFileDeleter>(file) {
    if (file != nullptr) file->Index = IndexUnderTest();
  }
};

}  // namespace vorka::test
