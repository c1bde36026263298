// The number-to-text functions: decimal and hexadecimal digits of 32- and
// 64-bit integers, the reverse hexadecimal reader, and sizes for people.
//
// Digits are produced backwards into a small stack buffer, two at a time
// from a table, and copied once into the destination; nothing here allocates
// except the destination string's own growth.
#include "foundation/text/number_text.h"
#include "foundation/services/text_source.h"

#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/string.h>

#include <cstring>

namespace zorvane {

namespace numtext {

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
constexpr char kHexUpper[] = "0123456789ABCDEF";

// Writes the digits of v so that they end at `end`; returns their start.
char* DigitsBackwards(uint64_t v, char* end) {
  while (v >= 100) {
    const char* pair = kDigitPairs + (v % 100) * 2;
    v /= 100;
    *--end = pair[1];
    *--end = pair[0];
  }
  if (v >= 10) {
    const char* pair = kDigitPairs + v * 2;
    *--end = pair[1];
    *--end = pair[0];
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

}  // namespace

size_t WriteUnsigned(uint64_t v, char* out) {
  char buf[kNumberTextMax];
  char* end = buf + sizeof buf;
  char* start = DigitsBackwards(v, end);
  size_t n = static_cast<size_t>(end - start);
  memcpy(out, start, n);
  return n;
}

size_t WriteSigned(int64_t v, char* out) {
  if (v >= 0) return WriteUnsigned(static_cast<uint64_t>(v), out);
  *out = '-';
  return 1 + WriteUnsigned(0 - static_cast<uint64_t>(v), out + 1);
}

size_t WriteHex(uint64_t v, char* out, bool prefix, int minDigits) {
  char buf[kNumberTextMax];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = kHexUpper[v & 0xF];
    v >>= 4;
  } while (v != 0);
  while (end - p < minDigits) *--p = '0';
  if (prefix) {
    *--p = 'x';
    *--p = '0';
  }
  size_t n = static_cast<size_t>(end - p);
  memcpy(out, p, n);
  return n;
}

}  // namespace numtext

namespace {

constexpr const char* kSource = "string\\ZorString";

const char* AssignDigits(string* dst, const char* digits, size_t n) {
  return ZorNotNull(dst, kSource)->Assign(digits, static_cast<int32_t>(n));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const char* ZorLongToStr(int32_t v, string* dst) {
  char buf[numtext::kNumberTextMax];
  return AssignDigits(dst, buf, numtext::WriteSigned(v, buf));
}

const char* ZorLongToStrNz(int32_t v, string* dst) {
  if (v == 0) return ZorNotNull(dst, kSource)->Clear();
  return ZorLongToStr(v, dst);
}

const char* ZorLongToStrHex(uint32_t v, string* dst, bool prefix, bool eightDigits) {
  char buf[numtext::kNumberTextMax];
  return AssignDigits(dst, buf, numtext::WriteHex(v, buf, prefix, eightDigits ? 8 : 1));
}

const char* ZorQuadToStr(int64_t v, string* dst) {
  char buf[numtext::kNumberTextMax];
  return AssignDigits(dst, buf, numtext::WriteSigned(v, buf));
}

const char* ZorQuadToStrNz(int64_t v, string* dst) {
  if (v == 0) return ZorNotNull(dst, kSource)->Clear();
  return ZorQuadToStr(v, dst);
}

const char* ZorQuadToStrHex(uint64_t v, string* dst, bool prefix) {
  char buf[numtext::kNumberTextMax];
  return AssignDigits(dst, buf, numtext::WriteHex(v, buf, prefix, 1));
}

int64_t ZorStrHexToQuad(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  uint64_t v = 0;
  for (int d; (d = HexValue(*text)) >= 0; ++text) v = (v << 4) | static_cast<uint64_t>(d);
  return static_cast<int64_t>(v);
}

// Sizes: the unit index starts at 1 (0 and 1 byte, singular) or 2, and
// rises by one for each division by 1024 while the value is 1024 or more.
// The remainder of the last division becomes a two-digit fraction with its
// trailing zeros removed, when it shows at all.
const char* ZorLongToSize(int32_t bytes, string* dst) {
  constexpr int32_t kUnitModule = 1, kUnitGroup = 106;
  ZorNotNull(dst, kSource);
  uint32_t value = bytes < 0 ? 0u - static_cast<uint32_t>(bytes) : static_cast<uint32_t>(bytes);
  int32_t unit = value <= 1 ? 1 : 2;
  uint32_t remainder = 0;
  while (value >= 1024) {
    remainder = value % 1024;
    value /= 1024;
    ++unit;
  }
  const char* unitName = texts::Defined(kUnitModule, kUnitGroup, unit);
  const int32_t shown = static_cast<int32_t>(value);  // below 1024 or at most 2^31 / 1024
  const uint32_t fraction = remainder * 100 / 1024;
  if (fraction == 0) {
    ZorFormString(dst, "^0i ^1s", shown, unitName);
  } else {
    char digits[3] = {static_cast<char>('0' + fraction / 10), static_cast<char>('0' + fraction % 10), 0};
    if (digits[1] == '0') digits[1] = 0;
    ZorFormString(dst, "^0i.^1s ^2s", shown, digits, unitName);
  }
  if (bytes < 0) dst->Insert(0, '-');
  return dst->CStr();
}

}  // namespace zorvane
