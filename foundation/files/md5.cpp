// MD5 (RFC 1321).
//
// The message is cut into 64-byte blocks, each read as 16 little-endian
// 32-bit words and folded into the four-word state by 64 steps in four rounds
// of 16. The message ends with one 0x80 byte, zeros up to 56 bytes modulo 64,
// then its length in bits as 8 little-endian bytes; the digest is the state
// written as 16 little-endian bytes.
//
// Workload: whole files, so the block loop is the only hot code. Update
// hashes every full block straight from the caller's buffer; only a partial
// block is copied into _pending. The state stays in locals across the blocks
// of one call. The round functions use the forms that need the fewest
// dependent operations (F as a select through XOR, G as a sum of two
// disjoint masks).
#include <zorvane/exception.h>
#include <zorvane/md5.h>
#include <zorvane/string.h>

#include "platform/little_endian.h"

#include <cassert>
#include <cstring>

namespace zorvane {

namespace {

using platform::GetLE32;
using platform::PutLE32;

inline uint32_t Rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

inline uint32_t F(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t H(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t I(uint32_t b, uint32_t c, uint32_t d) { return c ^ (b | ~d); }

// One step of rounds 1, 3 and 4: a = b + ((a + f(b,c,d) + x + t) <<< s).
#define MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);           \
  a = Rotl(a, s) + b;

// Round 2: G(b,c,d) = (b & d) | (c & ~d); the two masks never overlap, so
// they can be added to a separately.
#define MD5_STEP_G(a, b, c, d, x, t, s) \
  a += (x) + (t) + (c & ~d);            \
  a += b & d;                           \
  a = Rotl(a, s) + b;

void ProcessBlocks(uint32_t state[4], const uint8_t* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
#define X(k) GetLE32(p + 4 * (k))
    MD5_STEP(F, a, b, c, d, X(0), 0xd76aa478, 7)
    MD5_STEP(F, d, a, b, c, X(1), 0xe8c7b756, 12)
    MD5_STEP(F, c, d, a, b, X(2), 0x242070db, 17)
    MD5_STEP(F, b, c, d, a, X(3), 0xc1bdceee, 22)
    MD5_STEP(F, a, b, c, d, X(4), 0xf57c0faf, 7)
    MD5_STEP(F, d, a, b, c, X(5), 0x4787c62a, 12)
    MD5_STEP(F, c, d, a, b, X(6), 0xa8304613, 17)
    MD5_STEP(F, b, c, d, a, X(7), 0xfd469501, 22)
    MD5_STEP(F, a, b, c, d, X(8), 0x698098d8, 7)
    MD5_STEP(F, d, a, b, c, X(9), 0x8b44f7af, 12)
    MD5_STEP(F, c, d, a, b, X(10), 0xffff5bb1, 17)
    MD5_STEP(F, b, c, d, a, X(11), 0x895cd7be, 22)
    MD5_STEP(F, a, b, c, d, X(12), 0x6b901122, 7)
    MD5_STEP(F, d, a, b, c, X(13), 0xfd987193, 12)
    MD5_STEP(F, c, d, a, b, X(14), 0xa679438e, 17)
    MD5_STEP(F, b, c, d, a, X(15), 0x49b40821, 22)

    MD5_STEP_G(a, b, c, d, X(1), 0xf61e2562, 5)
    MD5_STEP_G(d, a, b, c, X(6), 0xc040b340, 9)
    MD5_STEP_G(c, d, a, b, X(11), 0x265e5a51, 14)
    MD5_STEP_G(b, c, d, a, X(0), 0xe9b6c7aa, 20)
    MD5_STEP_G(a, b, c, d, X(5), 0xd62f105d, 5)
    MD5_STEP_G(d, a, b, c, X(10), 0x02441453, 9)
    MD5_STEP_G(c, d, a, b, X(15), 0xd8a1e681, 14)
    MD5_STEP_G(b, c, d, a, X(4), 0xe7d3fbc8, 20)
    MD5_STEP_G(a, b, c, d, X(9), 0x21e1cde6, 5)
    MD5_STEP_G(d, a, b, c, X(14), 0xc33707d6, 9)
    MD5_STEP_G(c, d, a, b, X(3), 0xf4d50d87, 14)
    MD5_STEP_G(b, c, d, a, X(8), 0x455a14ed, 20)
    MD5_STEP_G(a, b, c, d, X(13), 0xa9e3e905, 5)
    MD5_STEP_G(d, a, b, c, X(2), 0xfcefa3f8, 9)
    MD5_STEP_G(c, d, a, b, X(7), 0x676f02d9, 14)
    MD5_STEP_G(b, c, d, a, X(12), 0x8d2a4c8a, 20)

    MD5_STEP(H, a, b, c, d, X(5), 0xfffa3942, 4)
    MD5_STEP(H, d, a, b, c, X(8), 0x8771f681, 11)
    MD5_STEP(H, c, d, a, b, X(11), 0x6d9d6122, 16)
    MD5_STEP(H, b, c, d, a, X(14), 0xfde5380c, 23)
    MD5_STEP(H, a, b, c, d, X(1), 0xa4beea44, 4)
    MD5_STEP(H, d, a, b, c, X(4), 0x4bdecfa9, 11)
    MD5_STEP(H, c, d, a, b, X(7), 0xf6bb4b60, 16)
    MD5_STEP(H, b, c, d, a, X(10), 0xbebfbc70, 23)
    MD5_STEP(H, a, b, c, d, X(13), 0x289b7ec6, 4)
    MD5_STEP(H, d, a, b, c, X(0), 0xeaa127fa, 11)
    MD5_STEP(H, c, d, a, b, X(3), 0xd4ef3085, 16)
    MD5_STEP(H, b, c, d, a, X(6), 0x04881d05, 23)
    MD5_STEP(H, a, b, c, d, X(9), 0xd9d4d039, 4)
    MD5_STEP(H, d, a, b, c, X(12), 0xe6db99e5, 11)
    MD5_STEP(H, c, d, a, b, X(15), 0x1fa27cf8, 16)
    MD5_STEP(H, b, c, d, a, X(2), 0xc4ac5665, 23)

    MD5_STEP(I, a, b, c, d, X(0), 0xf4292244, 6)
    MD5_STEP(I, d, a, b, c, X(7), 0x432aff97, 10)
    MD5_STEP(I, c, d, a, b, X(14), 0xab9423a7, 15)
    MD5_STEP(I, b, c, d, a, X(5), 0xfc93a039, 21)
    MD5_STEP(I, a, b, c, d, X(12), 0x655b59c3, 6)
    MD5_STEP(I, d, a, b, c, X(3), 0x8f0ccc92, 10)
    MD5_STEP(I, c, d, a, b, X(10), 0xffeff47d, 15)
    MD5_STEP(I, b, c, d, a, X(1), 0x85845dd1, 21)
    MD5_STEP(I, a, b, c, d, X(8), 0x6fa87e4f, 6)
    MD5_STEP(I, d, a, b, c, X(15), 0xfe2ce6e0, 10)
    MD5_STEP(I, c, d, a, b, X(6), 0xa3014314, 15)
    MD5_STEP(I, b, c, d, a, X(13), 0x4e0811a1, 21)
    MD5_STEP(I, a, b, c, d, X(4), 0xf7537e82, 6)
    MD5_STEP(I, d, a, b, c, X(11), 0xbd3af235, 10)
    MD5_STEP(I, c, d, a, b, X(2), 0x2ad7d2bb, 15)
    MD5_STEP(I, b, c, d, a, X(9), 0xeb86d391, 21)
#undef X
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_STEP
#undef MD5_STEP_G

}  // namespace

void ZorMD5::Init() {
  _state[0] = 0x67452301;
  _state[1] = 0xefcdab89;
  _state[2] = 0x98badcfe;
  _state[3] = 0x10325476;
  _count = 0;
}

void ZorMD5::Update(const void* data, uint32_t n) {
  if (n == 0) return;
  const auto* p = static_cast<const uint8_t*>(ZorNotNull(data, "ZorMD5"));
  const uint32_t used = static_cast<uint32_t>(_count % 64);
  _count += n;
  if (used != 0) {
    const uint32_t take = n < 64 - used ? n : 64 - used;
    std::memcpy(_pending + used, p, take);
    p += take;
    n -= take;
    if (used + take < 64) return;
    ProcessBlocks(_state, _pending, 1);
  }
  ProcessBlocks(_state, p, n / 64);
  std::memcpy(_pending, p + (n & ~63u), n % 64);
}

void ZorMD5::Final(uint8_t digest[kDigestSize]) {
  const uint64_t bits = _count * 8;
  uint8_t tail[72] = {0x80};
  // Pad to 56 bytes modulo 64, then the bit length.
  const uint32_t used = static_cast<uint32_t>(_count % 64);
  const uint32_t padLen = used < 56 ? 56 - used : 120 - used;
  platform::PutLE64(tail + padLen, bits);
  Update(tail, padLen + 8);
  assert(_count % 64 == 0);
  for (int i = 0; i < 4; ++i) PutLE32(digest + 4 * i, _state[i]);
  Init();
}

const char* ZorMD5::FinalHex(string* dst) {
  uint8_t digest[kDigestSize];
  Final(digest);
  return S_ToHex(digest, dst);
}

const char* ZorMD5::S_Digest(const void* data, uint32_t n, string* dst) {
  ZorMD5 md5;
  md5.Update(data, n);
  return md5.FinalHex(dst);
}

const char* ZorMD5::S_ToHex(const uint8_t digest[kDigestSize], string* dst) {
  static constexpr char kDigits[] = "0123456789abcdef";
  ZorNotNull(digest, "ZorMD5");
  char* out = ZorNotNull(dst, "ZorMD5")->BufferAlloc(kHexSize);
  for (uint32_t i = 0; i < kDigestSize; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return dst->CStr();
}

}  // namespace zorvane
