#include "Memory.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace vorka::platform {
namespace {

// Blocks of LargePagesFrom bytes or more, asked for with large pages, start
// on a large-page boundary and are rounded up to whole large pages; the
// rounding is address space only until written.
constexpr std::size_t LargePage = std::size_t{2} << 20;

std::size_t WholeLargePages(std::size_t bytes) { return (bytes + LargePage - 1) / LargePage * LargePage; }

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Checked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Checked = true;
#else
constexpr bool Checked = false;
#endif
#else
constexpr bool Checked = false;
#endif

}  // namespace

// A large block with large pages is mapped on its own, a large page more
// than it needs, and the ends are cut off to align it; nothing is written
// outside the block, so no page is touched before the caller's first write.
void* AllocateStorage(std::size_t bytes, bool largePages) {
  if (bytes == 0) return nullptr;
  // Under the address sanitizer the block is exactly as large as asked, so
  // that its guards sit right behind it.
  if (!largePages || bytes < LargePagesFrom || Checked) return std::malloc(bytes);
  const std::size_t length = WholeLargePages(bytes);
  if (length < bytes || length + LargePage < length) return nullptr;
  void* raw = ::mmap(nullptr, length + LargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw != MAP_FAILED) {
    const auto at = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t start = (at + LargePage - 1) & ~(LargePage - 1);
    if (start > at) ::munmap(raw, start - at);
    ::munmap(reinterpret_cast<void*>(start + length), at + LargePage - start);
    return reinterpret_cast<void*>(start);
  }
  // Near an address-space limit: no room to align.
  raw = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return raw == MAP_FAILED ? nullptr : raw;
}

void FreeStorage(void* p, std::size_t bytes, bool largePages) {
  if (p == nullptr) return;
  if (!largePages || bytes < LargePagesFrom || Checked) {
    std::free(p);
    return;
  }
  ::munmap(p, WholeLargePages(bytes));
}

void UseLargePages(void* block, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  // Only a large block starts on a large page; it reaches up to the next
  // large-page boundary.
  if (Checked || block == nullptr || bytes < LargePagesFrom || reinterpret_cast<std::uintptr_t>(block) % LargePage != 0) {
    return;
  }
  ::madvise(block, WholeLargePages(bytes), MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace vorka::platform
