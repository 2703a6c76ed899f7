#include "Memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace vorka::platform {
namespace {

constexpr std::size_t LargePage = std::size_t{2} << 20;
// Blocks from here on, asked for with large pages, start on a large-page
// boundary and are rounded up to whole large pages; the rounding is address
// space only until written.
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

}  // namespace

// A large block is cut from a larger one at a large-page boundary, the
// address of the larger one kept just before it.
void* AllocateStorage(std::size_t bytes, bool largePages) {
  if (bytes == 0) return nullptr;
  // Under the address sanitizer the block is exactly as large as asked, so
  // that its guards sit right behind it.
  if (!largePages || bytes < LargeBlock || Checked) return std::malloc(bytes);
  const std::size_t length = (bytes + LargePage - 1) / LargePage * LargePage;
  if (length < bytes || length + LargePage < length) return nullptr;
  auto* const raw = static_cast<std::uint8_t*>(std::malloc(length + LargePage));
  if (raw == nullptr) return nullptr;
  const auto at = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  auto* const p = raw + ((at + LargePage - 1) / LargePage * LargePage - reinterpret_cast<std::uintptr_t>(raw));
  std::memcpy(p - sizeof(void*), &raw, sizeof raw);
  return p;
}

void FreeStorage(void* p, std::size_t bytes, bool largePages) {
  if (p == nullptr) return;
  if (!largePages || bytes < LargeBlock || Checked) {
    std::free(p);
    return;
  }
  void* raw = nullptr;
  std::memcpy(&raw, static_cast<std::uint8_t*>(p) - sizeof(void*), sizeof raw);
  std::free(raw);
}

void UseLargePages(void* block, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  // Only a large block starts on a large page; it reaches up to the next
  // large-page boundary.
  if (Checked || block == nullptr || bytes < LargeBlock || reinterpret_cast<std::uintptr_t>(block) % LargePage != 0) {
    return;
  }
  ::madvise(block, (bytes + LargePage - 1) / LargePage * LargePage, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace vorka::platform
