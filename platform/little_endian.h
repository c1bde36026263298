// Little-endian access to stored bytes: every stored or exchanged layout is
// read and written through these, never through a cast of a buffer, so that
// it stays byte-exact and unaligned whatever the host. They are forced
// inline: each compiles to one load or store, which the inliner's size
// estimate does not see inside large callers (sort and search loops).
#pragma once

#include <cstdint>

namespace zorvane::platform {

[[gnu::always_inline]] inline uint16_t GetLE16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
[[gnu::always_inline]] inline uint32_t GetLE32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}
[[gnu::always_inline]] inline uint64_t GetLE64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return GetLE32(b) | (static_cast<uint64_t>(GetLE32(b + 4)) << 32);
}
[[gnu::always_inline]] inline void PutLE16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
[[gnu::always_inline]] inline void PutLE32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
[[gnu::always_inline]] inline void PutLE64(void* p, uint64_t v) {
  auto* b = static_cast<uint8_t*>(p);
  PutLE32(b, static_cast<uint32_t>(v));
  PutLE32(b + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace zorvane::platform
