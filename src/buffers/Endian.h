// Little-endian loads and stores, the byte order of the code stream and of
// every header field, whatever the host's order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vorka::le {

inline constexpr bool kSwap = std::endian::native == std::endian::big;

inline std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t w;
  std::memcpy(&w, p, 2);
  if constexpr (kSwap) w = __builtin_bswap16(w);
  return w;
}
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  if constexpr (kSwap) w = __builtin_bswap32(w);
  return w;
}
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (kSwap) w = __builtin_bswap64(w);
  return w;
}
// The stores take the low bytes of v.
inline void Store16(std::uint8_t* p, std::uint64_t v) {
  auto w = static_cast<std::uint16_t>(v);
  if constexpr (kSwap) w = __builtin_bswap16(w);
  std::memcpy(p, &w, 2);
}
inline void Store32(std::uint8_t* p, std::uint64_t v) {
  auto w = static_cast<std::uint32_t>(v);
  if constexpr (kSwap) w = __builtin_bswap32(w);
  std::memcpy(p, &w, 4);
}
inline void Store64(std::uint8_t* p, std::uint64_t v) {
  if constexpr (kSwap) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

}  // namespace vorka::le
