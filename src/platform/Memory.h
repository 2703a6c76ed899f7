// Storage for the dictionary's large arrays.
#pragma once

#include <cstddef>

namespace vorka::platform {

// Storage of bytes bytes, not cleared; nullptr when there is none (0 bytes,
// or an address-space limit). From the C heap, so that a process that
// allocates again gets back pages it has already touched. With largePages a
// large block is mapped from the system on its own and starts on a
// large-page boundary, so that UseLargePages can work: for a process whose
// storage is fresh anyway (one job, then the end).
void* AllocateStorage(std::size_t bytes, bool largePages);
// Gives back what AllocateStorage gave, with the same bytes and largePages.
void FreeStorage(void* p, std::size_t bytes, bool largePages);

// Asks for large pages over the first bytes of a block that AllocateStorage
// gave with largePages, where the system has them and they are not touched
// yet. A large page is cleared whole at its first touch, which costs about
// what 20 small pages' first touches cost; ask only where much of each 2 MiB
// will be written.
void UseLargePages(void* block, std::size_t bytes);
// UseLargePages does nothing for fewer bytes than this.
constexpr std::size_t LargePagesFrom = std::size_t{256} << 10;
// A large page's first touch costs about what this much storage first touched
// in small pages costs (measured: 170 to 200 against 10 to 11 microseconds).
constexpr std::size_t LargePageCost = std::size_t{80} << 10;

}  // namespace vorka::platform
