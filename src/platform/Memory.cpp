#include "Memory.h"

#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace vorka::platform {
namespace {

constexpr std::size_t LargePage = std::size_t{2} << 20;
constexpr std::size_t SmallPage = 4096;
// Blocks from here on are rounded to whole large pages; the rounding is
// address space only until written.
constexpr std::size_t LargeBlock = std::size_t{256} << 10;

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

std::size_t MappedLength(std::size_t bytes) {
  const std::size_t unit = bytes >= LargeBlock ? LargePage : SmallPage;
  return (bytes + unit - 1) / unit * unit;
}

}  // namespace

void* AllocateStorage(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  // Under the address sanitizer the heap's guards watch every access.
  if constexpr (Checked) return new (std::nothrow) std::uint8_t[bytes]();
  const std::size_t length = MappedLength(bytes);
  if (length < bytes) return nullptr;
  if (bytes >= LargeBlock) {
    // Map a large page more and cut the ends off to align the block.
    void* raw = ::mmap(nullptr, length + LargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw != MAP_FAILED) {
      const auto at = reinterpret_cast<std::uintptr_t>(raw);
      const std::uintptr_t start = (at + LargePage - 1) & ~(LargePage - 1);
      if (start > at) ::munmap(raw, start - at);
      ::munmap(reinterpret_cast<void*>(start + length), at + LargePage - start);
      return reinterpret_cast<void*>(start);
    }
  }
  // Near an address-space limit: no room to align.
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void FreeStorage(void* p, std::size_t bytes) {
  if (p == nullptr) return;
  if constexpr (Checked) {
    delete[] static_cast<std::uint8_t*>(p);
  } else {
    ::munmap(p, MappedLength(bytes));
  }
}

void UseLargePages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  if constexpr (Checked) return;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t start = (at + LargePage - 1) & ~(LargePage - 1);
  const std::uintptr_t end = (at + bytes + LargePage - 1) & ~(LargePage - 1);
  // Only whole large pages of the block: it is mapped up to a large-page
  // boundary when it is large, and an unaligned start leaves no whole page.
  if (p == nullptr || start != at || bytes < LargeBlock) return;
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace vorka::platform
