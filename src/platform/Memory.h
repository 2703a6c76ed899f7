// Storage for the dictionary's large arrays, taken from the system directly.
#pragma once

#include <cstddef>

namespace vorka::platform {

// Zero-filled storage of bytes bytes, touched lazily: pages cost memory only
// once written. nullptr when the system refuses (an address-space limit).
// Large blocks start on a large-page boundary, so that UseLargePages can work.
void* AllocateStorage(std::size_t bytes);
// Gives back what AllocateStorage gave, with the same bytes.
void FreeStorage(void* p, std::size_t bytes);

// Asks for large pages over the first bytes of a block of AllocateStorage,
// where the system has them. A large page is cleared whole at its first
// touch, which costs about what 20 small pages' first touches cost here;
// ask only where much of each 2 MiB will be written.
void UseLargePages(void* p, std::size_t bytes);

}  // namespace vorka::platform
