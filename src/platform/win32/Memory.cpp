#include "../Memory.h"

#include <cstdlib>

namespace vorka::platform {

void* AllocateStorage(std::size_t bytes, bool) { return bytes == 0 ? nullptr : std::malloc(bytes); }

void FreeStorage(void* p, std::size_t, bool) { std::free(p); }

// Large pages on Windows need a privilege an ordinary user lacks.
void UseLargePages(void*, std::size_t) {}

}  // namespace vorka::platform
