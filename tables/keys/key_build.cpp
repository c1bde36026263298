// Building index keys from a record's fixed buffer.
//
// A key is assembled in a scratch buffer with room past its end, so that
// letters are stored eight at a time without minding where a part ends;
// the next part overwrites what spilled over, and only keyLen bytes reach
// the caller's buffer. Parts are clipped to the key length: a definition
// whose part lengths add up to more than keyLen never writes past it.
//
// Reading the record: a field is read in place when it lies inside
// recordSize bytes, otherwise from a zeroed copy of what does, so a part
// reaching past the end reads zeros there.
//
// Decisions where the stored definition leaves a choice:
// - binary64 values are truncated to int64 with saturation: NaN gives 0,
//   +inf and values from 2^63 up give INT64_MAX, -inf and values below
//   -2^63 give INT64_MIN (then, as always, only the low 32 bits are written);
//   the fraction of an infinity or a NaN is 0.
// - a fixed-length part (integers, UUID, binary64) whose length exceeds the
//   letters it has is filled with 0x01 after them, like a short text; a
//   binary64 part longer than 16 writes 8 fraction letters.
// - a part of a type that has no key form (Blob, BlobRef, unknown) leaves its
//   bytes as they were, descending or not; so do the bytes past the last
//   part when the parts add up to less than keyLen.
#include <zorvane/exception.h>
#include <zorvane/string.h>
#include <zorvane/table_key.h>
#include <zorvane/uuid.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/text/key_letters.h"
#include "platform/little_endian.h"

namespace zorvane {

namespace {

constexpr const char* kSource = "tables\\ZorKey";
constexpr uint32_t kMaxPart = 255;
// A part starts before keyLen (at most 254) and takes at most 255 bytes;
// letters may spill 8 bytes past its end.
constexpr uint32_t kScratch = 2 * kMaxPart + 16;

// rev[b]: the byte whose weight is 255 - weight(b); 0x00 and 0xFF give 0x00.
std::array<uint8_t, 256> MakeRevert() {
  std::array<uint8_t, 256> byWeight{}, rev{};
  for (int b = 0; b < 256; ++b) byWeight[ZorCharWeight(static_cast<char>(b))] = static_cast<uint8_t>(b);
  for (int b = 0; b < 256; ++b) rev[b] = byWeight[255 - ZorCharWeight(static_cast<char>(b))];
  rev[0x00] = rev[0xFF] = 0x00;
  return rev;
}
const std::array<uint8_t, 256> kRevert = MakeRevert();

int64_t TruncSaturated(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

// Exact powers of ten for the fraction letters (10^2 is exactly 100).
constexpr double kPow10[9] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// The field's bytes at offset: in place when size bytes lie inside the
// record, else a copy in tmp of those that do, zeros after.
const uint8_t* FieldBytes(const uint8_t* record, uint32_t recordSize, uint32_t offset, uint32_t size,
                          uint8_t* tmp) {
  if (offset <= recordSize && size <= recordSize - offset) return record + offset;
  std::memset(tmp, 0, size);
  if (offset < recordSize) std::memcpy(tmp, record + offset, recordSize - offset);
  return tmp;
}

// A signed integer of `bytes` bytes as 2 * bytes letters, sign bit inverted.
uint32_t PutInteger(uint8_t* out, const uint8_t* field, uint32_t bytes) {
  switch (bytes) {
    case 1: ZorPutKeyLetters8(out, static_cast<uint32_t>(field[0] ^ 0x80u) << 24); break;
    case 2: ZorPutKeyLetters8(out, static_cast<uint32_t>(platform::GetLE16(field) ^ 0x8000u) << 16); break;
    case 4: ZorPutKeyLetters8(out, platform::GetLE32(field) ^ 0x80000000u); break;
    default: ZorPutKeyLetters16(out, platform::GetLE64(field) ^ 0x8000000000000000ull); break;
  }
  return 2 * bytes;
}

// A binary64 as 8 integer letters and len - 8 fraction letters (at most 8).
uint32_t PutBinary64(uint8_t* out, const uint8_t* field, uint32_t len) {
  uint64_t bits = platform::GetLE64(field);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  const double whole = std::trunc(d);
  ZorPutKeyLetters8(out, static_cast<uint32_t>(TruncSaturated(whole)) ^ 0x80000000u);
  if (len <= 8) return 8;
  const uint32_t digits = len - 8 < 8 ? len - 8 : 8;
  const uint32_t fraction = static_cast<uint32_t>(TruncSaturated((d - whole) * kPow10[digits]));
  // The fraction's 4 * digits low bits, its sign bit inverted, moved to the
  // top so that its letters come first.
  const uint32_t shift = 32 - 4 * digits;
  ZorPutKeyLetters8(out + 8, (fraction << shift) ^ 0x80000000u);
  return 8 + digits;
}

// Text up to len bytes or its first 0 byte, filled with 0x01.
void PutText(uint8_t* out, const uint8_t* record, uint32_t recordSize, uint32_t offset, uint32_t len) {
  const uint32_t avail = offset < recordSize ? recordSize - offset : 0;
  const uint32_t most = len < avail ? len : avail;
  const void* end = most ? std::memchr(record + offset, 0, most) : nullptr;
  const uint32_t n = end ? static_cast<uint32_t>(static_cast<const uint8_t*>(end) - (record + offset)) : most;
  if (n) std::memcpy(out, record + offset, n);
  std::memset(out + n, 0x01, len - n);
}

// Writes one part of length len at out; false when its type has no key form.
bool PutPart(uint8_t* out, int32_t type, uint32_t len, const uint8_t* record, uint32_t recordSize,
             uint32_t offset) {
  uint8_t tmp[16];
  uint32_t written;
  switch (type) {
    case kZorPhysTypeAnsiChar:
      written = PutInteger(out, FieldBytes(record, recordSize, offset, 1, tmp), 1);
      break;
    case kZorPhysTypeUnicodeChar:
    case kZorPhysTypeShort:
      written = PutInteger(out, FieldBytes(record, recordSize, offset, 2, tmp), 2);
      break;
    case kZorPhysTypeLong:
      written = PutInteger(out, FieldBytes(record, recordSize, offset, 4, tmp), 4);
      break;
    case kZorPhysTypeQuad:
      written = PutInteger(out, FieldBytes(record, recordSize, offset, 8, tmp), 8);
      break;
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr:  // measured and copied as 8-bit text
      PutText(out, record, recordSize, offset, len);
      return true;
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate:
      written = PutBinary64(out, FieldBytes(record, recordSize, offset, 8, tmp), len);
      break;
    case kZorPhysTypeUuid:
      ZorUuid::S_GuidToIndex(FieldBytes(record, recordSize, offset, 16, tmp), reinterpret_cast<char*>(out));
      written = 32;
      break;
    default:
      return false;
  }
  if (len > written) std::memset(out + written, 0x01, len - written);
  return true;
}

}  // namespace

void ZorBuildIndex(const sZorKey* key, const void* record, uint32_t recordSize, void* out) {
  ZorNotNull(key, kSource);
  const uint32_t keyLen = key->keyLen;
  if (keyLen == 0) return;
  ZorNotNull(out, kSource);
  if (recordSize) ZorNotNull(record, kSource);
  const auto* rec = static_cast<const uint8_t*>(record);
  auto* dst = static_cast<uint8_t*>(out);
  uint8_t scratch[kScratch];
  const int32_t nbPart = key->nbPart < kZorKeyMaxParts ? key->nbPart : kZorKeyMaxParts;
  uint32_t pos = 0;
  for (int32_t i = 0; i < nbPart && pos < keyLen; ++i) {
    const uint32_t len = key->partLen[i];
    const uint32_t kept = len < keyLen - pos ? len : keyLen - pos;
    int32_t type = key->partType[i];
    const bool descending = type > kZorKeyDescending;
    if (descending) type -= kZorKeyDescending;
    if (!PutPart(scratch + pos, type, len, rec, recordSize, key->partOffset[i]))
      std::memcpy(scratch + pos, dst + pos, kept);
    else if (descending)
      ZorRevertIndex(scratch + pos, static_cast<int32_t>(kept));
    pos += kept;
  }
  std::memcpy(dst, scratch, pos);
}

void ZorRevertIndex(uint8_t* bytes, int32_t len) {
  if (len <= 0) return;
  ZorNotNull(bytes, kSource);
  for (int32_t i = 0; i < len; ++i) bytes[i] = kRevert[bytes[i]];
}

}  // namespace zorvane
