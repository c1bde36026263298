// Basic definitions shared by every public header: the export macro and the
// fixed integer widths of the interface.
//
// The interface counts in fixed widths: a "long" of the library is a signed
// 32-bit value (int32_t), an "unsigned long" an uint32_t and a "quad" an
// int64_t. The native `long` is never used in an interface or a stored
// layout. A -1 passed where an uint32_t is expected means 0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(ZOR_BUILDING_LIBRARY)
#define ZOR_API __attribute__((visibility("default")))
#else
#define ZOR_API __attribute__((visibility("default")))
#endif

namespace zorvane {

// Family and number of a 64-bit error code: the family sits in the high word
// (1 = the library, -1 = the operating system, otherwise a module id).
constexpr int64_t ZorErr(int32_t family, int32_t number) {
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(family)) << 32) |
                              static_cast<uint32_t>(number));
}
constexpr int32_t ZorErrFamily(int64_t err) { return static_cast<int32_t>(static_cast<uint64_t>(err) >> 32); }
constexpr int32_t ZorErrNumber(int64_t err) { return static_cast<int32_t>(static_cast<uint32_t>(err)); }

// The "no data" address of handles: all bits set, never null.
inline void* ZorNoData() { return reinterpret_cast<void*>(~static_cast<uintptr_t>(0)); }

}  // namespace zorvane
