// The multimedia timer: it counts milliseconds since the system started and
// wraps at 2^32 by itself, which is what the timed runs expect.
#include "../Clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace vorka::platform {

std::uint32_t MilliTicks() { return static_cast<std::uint32_t>(timeGetTime()); }

}  // namespace vorka::platform
