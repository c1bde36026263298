// The C-string functions, the case tables and the collation of code page 1252.
//
// Three byte-to-byte tables drive everything, built at compile time from the
// case pairs of cp1252: lower case, upper case (the exact inverse of the
// lower-case pairs, accents kept) and "plain" upper case, which folds accented
// letters to their base letter and turns every other byte from 0x80 up into
// "_". No locale is consulted. Ordering goes through a 256-entry weight table,
// a permutation of 0-255 that puts, for each letter, the lower-case form, the
// upper-case form and then the accented forms next to each other; equal
// weights therefore mean equal bytes.
//
// Ordering functions return the weight difference at the first differing byte
// and -1 / 1 when one side ends first. The case-insensitive forms treat two
// bytes as equal when their upper-case mappings are equal, and otherwise
// return the weight difference of the unmapped bytes.
//
// Character classes come from the platform's CT_CTYPE1 table of cp1252.
//
// A null text reads as the empty text; a null destination, and a null
// source where bytes must be read past any terminator (the "N" forms that
// ignore terminators), are refused with (1, 23).
#include <zorvane/exception.h>
#include <zorvane/memory.h>
#include <zorvane/string.h>
#include "foundation/text/collation.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/codepage.h"

namespace zorvane {

namespace {

using Table = std::array<uint8_t, 256>;

constexpr bool InRange(int b, int lo, int hi) { return b >= lo && b <= hi; }

// The upper-case partner of a lower-case byte, or 0 when it has none.
constexpr int UpperPartner(int b) {
  if (InRange(b, 'a', 'z') || InRange(b, 0xE0, 0xF6) || InRange(b, 0xF9, 0xFE)) return b - 0x20;
  if (b == 0x9A || b == 0x9C || b == 0x9E) return b - 0x10;
  if (b == 0xFF) return 0x9F;
  return 0;
}

constexpr Table MakeUpper() {
  Table t{};
  for (int b = 0; b < 256; ++b) {
    const int u = UpperPartner(b);
    t[b] = static_cast<uint8_t>(u ? u : b);
  }
  return t;
}

constexpr Table MakeLower() {
  Table t{};
  for (int b = 0; b < 256; ++b) t[b] = static_cast<uint8_t>(b);
  for (int b = 0; b < 256; ++b)
    if (const int u = UpperPartner(b)) t[u] = static_cast<uint8_t>(b);
  return t;
}

// Base letter of an accented cp1252 letter (either case), "_" for any other
// byte from 0x80 up.
constexpr uint8_t PlainHigh(int b) {
  const int f = b >= 0xE0 ? b - 0x20 : b;  // fold 0xE0-0xFF onto 0xC0-0xDF
  if (b == 0x8A || b == 0x9A) return 'S';
  if (b == 0x8E || b == 0x9E) return 'Z';
  if (b == 0x9F || b == 0xFF || f == 0xDD) return 'Y';
  if (InRange(f, 0xC0, 0xC5)) return 'A';
  if (f == 0xC7) return 'C';
  if (InRange(f, 0xC8, 0xCB)) return 'E';
  if (InRange(f, 0xCC, 0xCF)) return 'I';
  if (f == 0xD1) return 'N';
  if (InRange(f, 0xD2, 0xD6)) return 'O';
  if (InRange(f, 0xD9, 0xDC)) return 'U';
  return '_';
}

constexpr Table MakePlainUpper() {
  Table t = MakeUpper();
  for (int b = 0x80; b < 256; ++b) t[b] = PlainHigh(b);
  return t;
}

constexpr Table kLower = MakeLower();
constexpr Table kUpper = MakeUpper();
constexpr Table kPlainUpper = MakePlainUpper();

constexpr Table kWeight = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x31, 0x3C, 0x3D, 0x3E, 0x61, 0x3F, 0x32, 0x40, 0x41,
    0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x42, 0x43, 0x62, 0x63, 0x64, 0x44,
    0x45, 0x84, 0x94, 0x96, 0x9A, 0x9E, 0xAA, 0xAC, 0xAE, 0xB0, 0xBA, 0xBC, 0xBE, 0xC0, 0xC2, 0xC7,
    0xD7, 0xD9, 0xDB, 0xDD, 0xE2, 0xE7, 0xF1, 0xF3, 0xF5, 0xF7, 0xFD, 0x46, 0x47, 0x48, 0x49, 0x4B,
    0x4C, 0x83, 0x93, 0x95, 0x99, 0x9D, 0xA9, 0xAB, 0xAD, 0xAF, 0xB9, 0xBB, 0xBD, 0xBF, 0xC1, 0xC6,
    0xD6, 0xD8, 0xDA, 0xDC, 0xE1, 0xE6, 0xF0, 0xF2, 0xF4, 0xF6, 0xFC, 0x4D, 0x4E, 0x4F, 0x50, 0x9F,
    0x7B, 0x2C, 0x5B, 0xA8, 0x5E, 0x79, 0x76, 0x77, 0x4A, 0x7A, 0xDF, 0x5F, 0xD5, 0x2D, 0xFF, 0x2E,
    0x2F, 0x59, 0x5A, 0x5C, 0x5D, 0x78, 0x34, 0x35, 0x58, 0xE5, 0xDE, 0x60, 0xD4, 0x30, 0xFE, 0xFB,
    0x21, 0x51, 0x6A, 0x6B, 0x6C, 0x6D, 0x52, 0x6E, 0x53, 0x6F, 0x82, 0x66, 0x70, 0x33, 0x71, 0x54,
    0x72, 0x65, 0x80, 0x81, 0x55, 0x73, 0x74, 0x75, 0x56, 0x7F, 0xC5, 0x67, 0x7C, 0x7D, 0x7E, 0x57,
    0x88, 0x86, 0x8A, 0x8E, 0x8C, 0x90, 0x92, 0x98, 0xA3, 0xA1, 0xA5, 0xA7, 0xB4, 0xB2, 0xB6, 0xB8,
    0x9C, 0xC4, 0xCB, 0xC9, 0xCD, 0xD1, 0xCF, 0x69, 0xD3, 0xEB, 0xE9, 0xED, 0xEF, 0xF9, 0xE3, 0xE0,
    0x87, 0x85, 0x89, 0x8D, 0x8B, 0x8F, 0x91, 0x97, 0xA2, 0xA0, 0xA4, 0xA6, 0xB3, 0xB1, 0xB5, 0xB7,
    0x9B, 0xC3, 0xCA, 0xC8, 0xCC, 0xD0, 0xCE, 0x68, 0xD2, 0xEA, 0xE8, 0xEC, 0xEE, 0xF8, 0xE4, 0xFA,
};

constexpr bool IsPermutation(const Table& t) {
  std::array<bool, 256> seen{};
  for (uint8_t w : t) {
    if (seen[w]) return false;
    seen[w] = true;
  }
  return true;
}
static_assert(IsPermutation(kWeight), "collation weights must be a permutation");
static_assert(kUpper['a'] == 'A' && kLower[0x9F] == 0xFF && kLower[0xD8] == 0xD8 && kUpper[0xDF] == 0xDF);

// Index keys compare case-insensitively, by the weight of the first pair of
// bytes whose upper-case forms differ. Because every case class holds
// neighbouring weights, that order is the plain byte order of the keys with
// each byte replaced by the weight of its upper-case form (ZorIndexSortKey).
constexpr bool CaseClassesAreContiguous() {
  Table byWeight{};
  for (int b = 0; b < 256; ++b) byWeight[kWeight[b]] = static_cast<uint8_t>(b);
  std::array<bool, 256> finished{};
  int previous = -1;
  for (int w = 0; w < 256; ++w) {
    const int cls = kUpper[byWeight[w]];
    if (kUpper[cls] != cls) return false;  // the upper-case form is in its own class
    if (cls == previous) continue;
    if (finished[cls]) return false;  // the class came back after another one
    if (previous >= 0) finished[previous] = true;
    previous = cls;
  }
  return true;
}
static_assert(CaseClassesAreContiguous(), "index keys must sort as their normalised bytes");

constexpr Table MakeSortWeight() {
  Table t{};
  for (int b = 0; b < 256; ++b) t[b] = kWeight[kUpper[b]];
  return t;
}
constexpr Table kSortWeight = MakeSortWeight();

inline uint8_t U8(char c) { return static_cast<uint8_t>(c); }

constexpr const char* kSource = "string\\ZorString";

inline const char* Text(const char* s) { return s ? s : ""; }

// Result at the first position where a and b differ (a != b as bytes).
inline int32_t Difference(uint8_t a, uint8_t b) {
  if (a == 0) return -1;
  if (b == 0) return 1;
  return static_cast<int32_t>(kWeight[a]) - static_cast<int32_t>(kWeight[b]);
}

uint16_t CharType(char c) { return platform::CharType1(U8(c)); }

// Sixteen bytes at a time for the case-insensitive comparison. A block may
// be read past the terminator, but never across a page end, so it cannot
// fault; bytes after the first NUL never decide a result.
constexpr uintptr_t kBlock = 16;

inline bool BlockFitsInPage(const char* p) { return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - kBlock; }

#if defined(__SSE2__)
__attribute__((no_sanitize("address"))) inline __m128i LoadBlock(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Upper case of the ASCII letters of a block (other bytes unchanged).
inline __m128i FoldAsciiBlock(__m128i v) {
  const __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('a' - 1)),
                                      _mm_cmplt_epi8(v, _mm_set1_epi8('z' + 1)));
  return _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(0x20)));
}

// Compares the blocks at a and b. Returns false when a byte from 0x80 up
// comes before the decision (the table must decide); otherwise sets *at to
// the index of the first byte that differs ignoring ASCII case or ends a, or
// to kBlock when all sixteen are equal and none ends the text.
inline bool CompareAsciiBlock(const char* a, const char* b, uint32_t* at) {
  const __m128i x = LoadBlock(a), y = LoadBlock(b);
  const uint32_t differs = ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(FoldAsciiBlock(x), FoldAsciiBlock(y)))) & 0xFFFF;
  const uint32_t ends = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128())));
  const uint32_t high = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(x, y)));
  const uint32_t stop = differs | ends;
  const uint32_t upTo = stop ? (stop ^ (stop - 1)) : 0xFFFF;  // bytes up to the stop
  if (high & upTo) return false;
  *at = stop ? static_cast<uint32_t>(__builtin_ctz(stop)) : kBlock;
  return true;
}
#endif

}  // namespace

// ---------------------------------------------------------------- characters

char ZorToLower(char c) { return static_cast<char>(kLower[U8(c)]); }
char ZorToUpper(char c, bool plain) { return static_cast<char>((plain ? kPlainUpper : kUpper)[U8(c)]); }
uint8_t ZorCharWeight(char c) { return kWeight[U8(c)]; }

bool ZorIsDigit(char c) { return c >= '0' && c <= '9'; }
bool ZorIsXDigit(char c) { return ZorIsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool ZorIsUpper(char c) { return CharType(c) & platform::kCtUpper; }
bool ZorIsLower(char c) { return CharType(c) & platform::kCtLower; }
bool ZorIsSpace(char c) { return CharType(c) & platform::kCtSpace; }
bool ZorIsPunct(char c) { return CharType(c) & platform::kCtPunct; }
bool ZorIsCtrl(char c) { return CharType(c) & platform::kCtCntrl; }
bool ZorIsAlpha(char c) { return CharType(c) & platform::kCtAlpha; }
bool ZorIsAlNum(char c) { return ZorIsAlpha(c) || ZorIsDigit(c); }
uint16_t ZorGetChType(char c) { return CharType(c); }

// ---------------------------------------------------------------- C strings

uint32_t ZorStrLen(const char* s) { return s ? static_cast<uint32_t>(std::strlen(s)) : 0; }
uint32_t ZorStrSize(const char* s) { return ZorStrLen(s) + 1; }
bool ZorStrIsEmpty(const char* s) { return !s || !*s; }
char* ZorStrCpy(char* dst, const char* src) { return std::strcpy(ZorNotNull(dst, kSource), Text(src)); }
char* ZorStrCat(char* dst, const char* src) { return std::strcat(ZorNotNull(dst, kSource), Text(src)); }

// Size 0 leaves no room even for the terminator: nothing is written.
char* ZorStrCpyN(char* dst, const char* src, uint32_t size) {
  if (size == 0) return dst;
  ZorNotNull(dst, kSource);
  src = Text(src);
  const size_t n = strnlen(src, size - 1);
  std::memcpy(dst, src, n);
  dst[n] = 0;
  return dst;
}

char* ZorStrFill(char* dst, uint32_t n, char c) {
  if (n) std::memset(ZorNotNull(dst, kSource), U8(c), n);
  return dst;
}

char* ZorStrUpper(char* s, bool plain) {
  const Table& t = plain ? kPlainUpper : kUpper;
  for (char* p = s; p && *p; ++p) *p = static_cast<char>(t[U8(*p)]);
  return s;
}

char* ZorStrLower(char* s) {
  for (char* p = s; p && *p; ++p) *p = static_cast<char>(kLower[U8(*p)]);
  return s;
}

int32_t ZorStrCmp(const char* a, const char* b) {
  for (a = Text(a), b = Text(b);; ++a, ++b) {
    const uint8_t x = U8(*a), y = U8(*b);
    if (x != y) return Difference(x, y);
    if (x == 0) return 0;
  }
}

int32_t ZorStrCmpN(const char* a, const char* b, uint32_t n) {
  if (n && (!a || !b)) ZorRaiseBadParam(kSource);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t x = U8(a[i]), y = U8(b[i]);
    if (x != y) return static_cast<int32_t>(kWeight[x]) - static_cast<int32_t>(kWeight[y]);
  }
  return 0;
}

// ASCII blocks are folded and compared sixteen bytes at a time; the first
// byte that differs or ends the text decides. Other bytes go through the
// table.
int32_t ZorStrICmp(const char* a, const char* b) {
  a = Text(a);
  b = Text(b);
  for (;;) {
#if defined(__SSE2__)
    uint32_t k;
    if (BlockFitsInPage(a) && BlockFitsInPage(b) && CompareAsciiBlock(a, b, &k)) {
      if (k == kBlock) {
        a += kBlock;
        b += kBlock;
        continue;
      }
      return a[k] == b[k] || kUpper[U8(a[k])] == kUpper[U8(b[k])] ? 0 : Difference(U8(a[k]), U8(b[k]));
    }
#endif
    for (uint32_t i = 0; i < kBlock; ++i, ++a, ++b) {
      const uint8_t x = U8(*a), y = U8(*b);
      if (kUpper[x] != kUpper[y]) return Difference(x, y);
      if (x == 0) return 0;
    }
  }
}

int32_t ZorStrICmpN(const char* a, const char* b, uint32_t n) {
  a = Text(a);
  b = Text(b);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t x = U8(a[i]), y = U8(b[i]);
    if (kUpper[x] != kUpper[y]) return Difference(x, y);
    if (x == 0) return 0;
  }
  return 0;
}

// Keys are fixed-length byte strings: a 0 byte is a byte like any other.
int32_t ZorCompIndex(const void* a, const void* b, int32_t len) {
  if (len > 0 && (!a || !b)) ZorRaiseBadParam(kSource);
  const auto* p = static_cast<const uint8_t*>(a);
  const auto* q = static_cast<const uint8_t*>(b);
  for (int32_t i = 0; i < len; ++i) {
    const uint8_t x = p[i], y = q[i];
    if (kUpper[x] != kUpper[y]) return static_cast<int32_t>(kWeight[x]) - static_cast<int32_t>(kWeight[y]);
  }
  return 0;
}

void ZorIndexSortKey(const void* key, int32_t len, void* out) {
  const auto* p = static_cast<const uint8_t*>(key);
  auto* q = static_cast<uint8_t*>(out);
  for (int32_t i = 0; i < len; ++i) q[i] = kSortWeight[p[i]];
}

bool ZorStrEq(const char* a, const char* b) { return std::strcmp(Text(a), Text(b)) == 0; }
bool ZorStrEqN(const char* a, const char* b, uint32_t n) { return ZorCmpMemory(a, b, n) == 0; }

bool ZorStrIEq(const char* a, const char* b) {
  for (a = Text(a), b = Text(b);; ++a, ++b) {
    const uint8_t x = U8(*a), y = U8(*b);
    if (kUpper[x] != kUpper[y]) return false;
    if (x == 0) return true;
  }
}

bool ZorStrIEqN(const char* a, const char* b, uint32_t n) {
  a = Text(a);
  b = Text(b);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t x = U8(a[i]);
    if (kUpper[x] != kUpper[U8(b[i])]) return false;
    if (x == 0) return true;
  }
  return true;
}

// Searches in a null text find nothing; a null needle is the empty text.
const char* ZorStrChr(const char* s, char c) { return s ? std::strchr(s, c) : nullptr; }
const char* ZorStrRChr(const char* s, char c) { return s ? std::strrchr(s, c) : nullptr; }
const char* ZorStrStr(const char* hay, const char* needle) { return hay ? std::strstr(hay, Text(needle)) : nullptr; }

const char* ZorStrFind(const char* hay, const char* needle, bool ignoreCase) {
  if (!hay) return nullptr;
  needle = Text(needle);
  if (!ignoreCase) return std::strstr(hay, needle);
  const size_t n = std::strlen(needle);
  const uint8_t first = kUpper[U8(needle[0])];
  for (const char* p = hay; *p; ++p)
    if (kUpper[U8(*p)] == first && ZorStrIEqN(p, needle, static_cast<uint32_t>(n))) return p;
  return n == 0 ? hay : nullptr;
}

bool ZorStrContains(const char* hay, const char* needle, bool ignoreCase) {
  return ZorStrFind(hay, needle, ignoreCase) != nullptr;
}

bool ZorStrReplace(char* s, char from, char to) {
  if (from == 0 || !s) return false;
  char* p = std::strchr(s, from);
  if (!p) return false;
  if (to != 0) {
    for (; p; p = std::strchr(p + 1, from)) *p = to;
    return true;
  }
  char* w = p;
  for (; *p; ++p)
    if (*p != from) *w++ = *p;
  *w = 0;
  return true;
}

char* ZorStrDup(const char* s) {
  s = Text(s);
  const uint32_t size = ZorStrSize(s);
  char* copy = static_cast<char*>(ZorMemAlloc(size));
  std::memcpy(copy, s, size);
  return copy;
}

namespace {

// The letter after the backslash for a byte that is escaped, or 0.
char EscapeLetter(char c, bool quotes) {
  switch (c) {
    case '\t': return 't';
    case '\n': return 'n';
    case '\v': return 'v';
    case '\f': return 'f';
    case '\r': return 'r';
    case '"':
    case '\'': return quotes ? c : 0;
    default: return 0;
  }
}

}  // namespace

char* ZorEscapeString(const char* src, char* dst, bool quotes) {
  char* w = ZorNotNull(dst, kSource);
  for (src = Text(src); *src; ++src) {
    if (const char e = EscapeLetter(*src, quotes)) {
      *w++ = '\\';
      *w++ = e;
    } else {
      *w++ = *src;
    }
  }
  *w = 0;
  return dst;
}

const char* ZorEscapeString(const char* src, string* dst, bool quotes) {
  ZorNotNull(dst, kSource);
  string out;
  char* buf = out.BufferAlloc(static_cast<int32_t>(2 * ZorStrLen(src)));
  ZorEscapeString(src, buf, quotes);
  out.BufferCalcLen();
  *dst = static_cast<string&&>(out);
  return dst->CStr();
}

// The reverse of EscapeLetter for either quote setting; 0 for a letter that
// no escape produces (the backslash then stays as it stands).
static char UnEscapeLetter(char e) {
  switch (e) {
    case 't': return '\t';
    case 'n': return '\n';
    case 'v': return '\v';
    case 'f': return '\f';
    case 'r': return '\r';
    case '"':
    case '\'': return e;
    default: return 0;
  }
}

char* ZorUnEscapeString(const char* src, char* dst) {
  char* w = ZorNotNull(dst, kSource);
  for (src = Text(src); *src; ++src) {
    const char c = src[0] == '\\' ? UnEscapeLetter(src[1]) : 0;
    *w++ = c ? c : *src;
    if (c) ++src;
  }
  *w = 0;
  return dst;
}

const char* ZorUnEscapeString(const char* src, string* dst) {
  ZorNotNull(dst, kSource);
  string out;
  char* buf = out.BufferAlloc(static_cast<int32_t>(ZorStrLen(src)));
  ZorUnEscapeString(src, buf);
  out.BufferCalcLen();
  *dst = static_cast<string&&>(out);
  return dst->CStr();
}

}  // namespace zorvane
