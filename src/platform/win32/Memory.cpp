#include "../Memory.h"

#include <windows.h>

namespace vorka::platform {

void* AllocateStorage(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeStorage(void* p, std::size_t) {
  if (p != nullptr) VirtualFree(p, 0, MEM_RELEASE);
}

// Large pages on Windows need a privilege an ordinary user lacks.
void UseLargePages(void*, std::size_t) {}

}  // namespace vorka::platform
