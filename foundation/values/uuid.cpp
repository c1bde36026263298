// ZorUuid: GUID values, their order and their text form.
//
// The text form writes the three leading integers most significant digit
// first, so the stored little-endian bytes 0-3, 4-5 and 6-7 are read in
// reverse; bytes 8-15 are written in order, split 2 + 6 by a dash.
#include <zorvane/exception.h>
#include <zorvane/string.h>
#include <zorvane/uuid.h>

#include "foundation/text/key_letters.h"
#include "platform/little_endian.h"

#include <cstring>
#include <random>

namespace zorvane {

namespace {

// Byte of the value shown at each of the 16 two-digit places of the text.
constexpr int kTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr const char* kSource = "ZorUuid";

bool DashBefore(int place) { return place == 4 || place == 6 || place == 8 || place == 10; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the 36 characters without braces; false on any misplaced character.
bool ParseBare(const char* text, uint8_t* out) {
  const char* p = text;
  for (int place = 0; place < 16; ++place) {
    if (DashBefore(place) && *p++ != '-') return false;
    const int hi = HexValue(p[0]);
    const int lo = hi < 0 ? -1 : HexValue(p[1]);
    if (lo < 0) return false;
    out[kTextOrder[place]] = static_cast<uint8_t>(hi << 4 | lo);
    p += 2;
  }
  return true;
}

}  // namespace

// A null source is no identifier: the nil one.
void ZorUuid::SetBytes(const void* bytes) {
  if (bytes)
    std::memcpy(_bytes, bytes, kSize);
  else
    Clear();
}

void ZorUuid::Clear() { std::memset(_bytes, 0, kSize); }

bool ZorUuid::IsNull() const {
  static constexpr uint8_t kZero[kSize] = {};
  return std::memcmp(_bytes, kZero, kSize) == 0;
}

void ZorUuid::New() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  platform::PutLE64(_bytes, rng());
  platform::PutLE64(_bytes + 8, rng());
  _bytes[7] = static_cast<uint8_t>((_bytes[7] & 0x0F) | 0x40);  // version 4 (Data3's high nibble)
  _bytes[8] = static_cast<uint8_t>((_bytes[8] & 0x3F) | 0x80);  // the standard variant
}

ZorUuid ZorUuid::S_New() {
  ZorUuid u;
  u.New();
  return u;
}

uint32_t ZorUuid::S_GuidToText(const void* guid, char* out, bool braces) {
  const auto* g = static_cast<const uint8_t*>(ZorNotNull(guid, kSource));
  ZorNotNull(out, kSource);
  uint32_t len = 0;
  if (braces) out[len++] = '{';
  for (int place = 0; place < 16; ++place) {
    if (DashBefore(place)) out[len++] = '-';
    const uint8_t byte = g[kTextOrder[place]];
    out[len++] = kHexUpper[byte >> 4];
    out[len++] = kHexUpper[byte & 0xF];
  }
  if (braces) out[len++] = '}';
  return len;
}

const char* ZorUuid::GetValueStr(string* dst, bool braces) const {
  char text[kBracedTextLen];
  const uint32_t len = S_GuidToText(_bytes, text, braces);
  return ZorNotNull(dst, kSource)->Assign(text, static_cast<int32_t>(len));
}

bool ZorUuid::SetValueStr(const char* text) {
  if (!text) return false;
  const size_t len = std::strlen(text);
  uint8_t parsed[kSize];
  bool ok = false;
  if (len == kTextLen)
    ok = ParseBare(text, parsed);
  else if (len == kBracedTextLen && text[0] == '{' && text[len - 1] == '}')
    ok = ParseBare(text + 1, parsed);
  if (ok) SetBytes(parsed);
  return ok;
}

int32_t ZorUuid::S_CmpGuid(const void* a, const void* b) {
  const auto* x = static_cast<const uint8_t*>(ZorNotNull(a, kSource));
  const auto* y = static_cast<const uint8_t*>(ZorNotNull(b, kSource));
  const uint32_t d1x = platform::GetLE32(x), d1y = platform::GetLE32(y);
  if (d1x != d1y) return d1x < d1y ? -1 : 1;
  for (int at = 4; at < 8; at += 2) {
    const uint16_t dx = platform::GetLE16(x + at), dy = platform::GetLE16(y + at);
    if (dx != dy) return dx < dy ? -1 : 1;
  }
  const int tail = std::memcmp(x + 8, y + 8, 8);
  return tail < 0 ? -1 : (tail > 0 ? 1 : 0);
}

// Data1, then Data2 and Data3 as one 32-bit number, then the 8 bytes as one
// big-endian 64-bit number: each as letters, in GUID order.
void ZorUuid::S_GuidToIndex(const void* guid, char* out) {
  const auto* x = static_cast<const uint8_t*>(ZorNotNull(guid, kSource));
  auto* o = reinterpret_cast<uint8_t*>(ZorNotNull(out, kSource));
  uint64_t tail = 0;
  for (int i = 8; i < 16; ++i) tail = tail << 8 | x[i];
  ZorPutKeyLetters8(o, platform::GetLE32(x));
  ZorPutKeyLetters8(o + 8, static_cast<uint32_t>(platform::GetLE16(x + 4)) << 16 | platform::GetLE16(x + 6));
  ZorPutKeyLetters16(o + 16, tail);
}

bool ZorUuid::S_IsGuidEqual(const void* a, const void* b) {
  return std::memcmp(ZorNotNull(a, kSource), ZorNotNull(b, kSource), kSize) == 0;
}

}  // namespace zorvane
