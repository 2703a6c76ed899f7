// The millisecond timer of the timed runs.
#pragma once

#include <cstdint>

namespace vorka::platform {

// Monotonic clock in milliseconds, taken modulo 2^32: differences of two
// readings are right across a wrap when computed in unsigned 32-bit.
std::uint32_t MilliTicks();

}  // namespace vorka::platform
