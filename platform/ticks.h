// Tick counts of the Linux layer: milliseconds of the steady clock, as a
// 32-bit value that wraps after about 49 days like the Windows tick count.
#pragma once

#include <cstdint>

namespace zorvane::platform {

uint32_t TickCount();

}  // namespace zorvane::platform
