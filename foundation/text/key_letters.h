// Numbers written as index-key letters: each 4-bit nibble n becomes the
// byte 'A' + n, most significant nibble first. The letters 'A' to 'P' have
// rising collation weights and no case partner among themselves, so such
// keys sort in the order of the unsigned numbers.
#pragma once

#include <cstdint>

#include "platform/little_endian.h"

namespace zorvane {

// The eight letters of v as a word that, stored little-endian, puts them in
// writing order. No branch and no table: the nibbles are spread one per
// byte, shifted to letters, and the bytes reversed.
[[gnu::always_inline]] inline uint64_t ZorKeyLetters8(uint32_t v) {
  uint64_t t = v;
  t = (t | t << 16) & 0x0000FFFF0000FFFFull;
  t = (t | t << 8) & 0x00FF00FF00FF00FFull;
  t = (t | t << 4) & 0x0F0F0F0F0F0F0F0Full;
  return __builtin_bswap64(t + 0x4141414141414141ull);
}

// Writes the eight letters of v at out (8 bytes).
[[gnu::always_inline]] inline void ZorPutKeyLetters8(uint8_t* out, uint32_t v) {
  platform::PutLE64(out, ZorKeyLetters8(v));
}

// Writes the sixteen letters of v at out (16 bytes).
[[gnu::always_inline]] inline void ZorPutKeyLetters16(uint8_t* out, uint64_t v) {
  ZorPutKeyLetters8(out, static_cast<uint32_t>(v >> 32));
  ZorPutKeyLetters8(out + 8, static_cast<uint32_t>(v));
}

}  // namespace zorvane
