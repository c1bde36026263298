// Text conversions of `string`: UTF-8, the OEM code page, Base64 and the
// keyed scrambler behind Encrypt / Decrypt.
//
// UTF-8 goes through UTF-16 units, as the code-page tables of the platform
// layer are indexed by them. Encoding cp1252 is total (every byte has a unit,
// the five unassigned bytes their C1 control). Decoding is strict: a
// malformed sequence (stray continuation byte, truncated sequence, overlong
// form, encoded surrogate, value above U+10FFFF) makes the whole result
// empty; a well-formed character that cp1252 lacks becomes one "?", and a
// character above U+FFFF counts as one character.
//
// The scrambler is a keyed stream over the bytes 1-255: byte i becomes
// ((p - 1 + k_i + c_{i-1}) mod 255) + 1, where k_i comes from a generator
// seeded by a hash of the key and c_{i-1} is the previous output byte. A
// non-zero byte therefore stays non-zero (a scrambled text is still a C string
// of the same length), a zero byte passes unchanged, and chaining on the
// output makes one changed byte alter everything after it.
#include <zorvane/exception.h>
#include <zorvane/memory.h>
#include <zorvane/string.h>

#include <array>
#include <cstring>

#include "platform/codepage.h"

namespace zorvane {

namespace {

constexpr const char* kSource = "string\\ZorString";

// ---------------------------------------------------------------- UTF-8

// Writes the UTF-8 form of a code point below 0x10000; returns the end.
char* PutUtf8(char* w, uint32_t u) {
  if (u < 0x80) {
    *w++ = static_cast<char>(u);
  } else if (u < 0x800) {
    *w++ = static_cast<char>(0xC0 | (u >> 6));
    *w++ = static_cast<char>(0x80 | (u & 0x3F));
  } else {
    *w++ = static_cast<char>(0xE0 | (u >> 12));
    *w++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (u & 0x3F));
  }
  return w;
}

constexpr uint32_t kBadSequence = 0xFFFFFFFF;

// Decodes one code point at p (not at the terminator) and advances p; gives
// kBadSequence for a malformed sequence.
uint32_t NextCodePoint(const uint8_t*& p) {
  const uint8_t lead = *p++;
  if (lead < 0x80) return lead;
  uint32_t extra, cp, min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return kBadSequence;
  }
  for (uint32_t i = 0; i < extra; ++i, ++p) {
    if ((*p & 0xC0) != 0x80) return kBadSequence;  // also stops at the terminator
    cp = (cp << 6) | (*p & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kBadSequence;
  return cp;
}

char ToCp1252(uint32_t cp) {
  const int b = cp > 0xFFFF ? -1 : platform::Utf16ToCp1252(static_cast<char16_t>(cp));
  return b < 0 ? '?' : static_cast<char>(b);
}

// ---------------------------------------------------------------- Base64

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int8_t kNotB64 = -1, kB64Space = -2, kB64Pad = -3;

constexpr std::array<int8_t, 256> MakeB64Values() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = kNotB64;
  for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(kB64[i])] = static_cast<int8_t>(i);
  t[' '] = t['\t'] = t['\r'] = t['\n'] = kB64Space;
  t['='] = kB64Pad;
  return t;
}
constexpr std::array<int8_t, 256> kB64Values = MakeB64Values();

// ---------------------------------------------------------------- scrambler

// FNV-1a of the key; the empty key has a fixed seed like any other.
uint64_t KeySeed(const char* key) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (const char* p = key ? key : ""; *p; ++p) h = (h ^ static_cast<uint8_t>(*p)) * 0x100000001B3ull;
  return h;
}

// splitmix64: one 64-bit output per step.
uint32_t NextKeyByte(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>((z ^ (z >> 31)) % 255);
}

}  // namespace

const char* ZorEncodeToUTF8(const char* text, string* out) {
  ZorNotNull(out, kSource);
  const uint32_t n = text ? ZorStrLen(text) : 0;
  string r;
  char* w = r.BufferAlloc(static_cast<int32_t>(3 * n));
  for (uint32_t i = 0; i < n; ++i) w = PutUtf8(w, platform::Cp1252ToUtf16(static_cast<uint8_t>(text[i])));
  *w = 0;
  r.BufferCalcLen();
  *out = static_cast<string&&>(r);
  return out->CStr();
}

const char* ZorDecodefromUTF8(const char* utf8, string* out) {
  ZorNotNull(out, kSource);
  const uint32_t n = utf8 ? ZorStrLen(utf8) : 0;
  string r;
  char* w = r.BufferAlloc(static_cast<int32_t>(n));
  for (const uint8_t* p = reinterpret_cast<const uint8_t*>(n ? utf8 : ""); *p;) {
    const uint32_t cp = NextCodePoint(p);
    if (cp == kBadSequence) return out->Clear();
    *w++ = ToCp1252(cp);
  }
  *w = 0;
  r.BufferCalcLen();
  *out = static_cast<string&&>(r);
  return out->CStr();
}

const char* ZorGetUTF8FromCode(uint32_t code, string* out) {
  ZorNotNull(out, kSource);
  uint32_t u = code & 0xFFFF;
  if (u == 0) return out->Clear();
  if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // a lone surrogate has no UTF-8 form
  char bytes[4];
  const char* end = PutUtf8(bytes, u);
  return out->Assign(bytes, static_cast<int32_t>(end - bytes));
}

const char* ZorBase64Encode(const void* data, uint32_t size, string* out) {
  ZorNotNull(out, kSource);
  const auto* in = static_cast<const uint8_t*>(size ? ZorNotNull(data, kSource) : data);
  string r;
  char* w = r.BufferAlloc(static_cast<int32_t>((size + 2) / 3 * 4));
  for (uint32_t i = 0; i < size; i += 3) {
    const uint32_t rest = size - i;
    const uint32_t v = (in[i] << 16) | (rest > 1 ? in[i + 1] << 8 : 0) | (rest > 2 ? in[i + 2] : 0);
    *w++ = kB64[v >> 18];
    *w++ = kB64[(v >> 12) & 63];
    *w++ = rest > 1 ? kB64[(v >> 6) & 63] : '=';
    *w++ = rest > 2 ? kB64[v & 63] : '=';
  }
  *out = static_cast<string&&>(r);
  return out->CStr();
}

uint32_t ZorBase64DecodedMax(uint32_t textLen) { return textLen / 4 * 3 + 3; }

// Four symbols give three bytes; the padding may only close the text, and a
// final group of two or three symbols stands for one or two bytes.
int32_t ZorBase64Decode(const char* text, uint32_t textLen, void* dst, uint32_t dstSize) {
  if (textLen) ZorNotNull(text, kSource);
  auto* w = static_cast<uint8_t*>(dstSize ? ZorNotNull(dst, kSource) : dst);
  uint32_t written = 0, acc = 0, symbols = 0, pads = 0;
  for (uint32_t i = 0; i < textLen; ++i) {
    const int8_t v = kB64Values[static_cast<uint8_t>(text[i])];
    if (v == kB64Space) continue;
    if (v == kNotB64) return -1;
    if (v == kB64Pad) {
      ++pads;
      continue;
    }
    if (pads) return -1;  // a symbol after the padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    if (++symbols % 4 == 0) {
      if (written + 3 > dstSize) return -1;
      w[written++] = static_cast<uint8_t>(acc >> 16);
      w[written++] = static_cast<uint8_t>(acc >> 8);
      w[written++] = static_cast<uint8_t>(acc);
      acc = 0;
    }
  }
  const uint32_t tail = symbols % 4;
  if (tail == 1 || (pads && (tail == 0 || tail + pads != 4))) return -1;
  const uint32_t extra = tail ? tail - 1 : 0;
  if (written + extra > dstSize) return -1;
  acc <<= 6 * (4 - tail);
  for (uint32_t k = 0; k < extra; ++k) w[written++] = static_cast<uint8_t>(acc >> (16 - 8 * k));
  return static_cast<int32_t>(written);
}

char* ZorRandString(char* data, uint32_t len, const char* key) {
  if (len) ZorNotNull(data, kSource);
  uint64_t state = KeySeed(key);
  uint32_t prev = 0;
  for (uint32_t i = 0; i < len; ++i) {
    const uint32_t k = NextKeyByte(state);
    const uint32_t p = static_cast<uint8_t>(data[i]);
    if (p != 0) data[i] = static_cast<char>((p - 1 + k + prev) % 255 + 1);
    prev = static_cast<uint8_t>(data[i]);
  }
  return data;
}

char* ZorRandString2(char* data, uint32_t len, const char* key) {
  if (len) ZorNotNull(data, kSource);
  uint64_t state = KeySeed(key);
  uint32_t prev = 0;
  for (uint32_t i = 0; i < len; ++i) {
    const uint32_t k = NextKeyByte(state);
    const uint32_t c = static_cast<uint8_t>(data[i]);
    if (c != 0) data[i] = static_cast<char>((c - 1 + 2 * 255 - k - prev) % 255 + 1);
    prev = c;
  }
  return data;
}

// ---------------------------------------------------------------- members

const char* string::DosToWchar(const char* src) {
  if (src) Assign(src);
  for (uint32_t i = 0; i < _len; ++i) {
    const int b = platform::Utf16ToCp1252(platform::Cp850ToUtf16(static_cast<uint8_t>(_text[i])));
    _text[i] = b < 0 ? '?' : static_cast<char>(b);
  }
  return _text;
}

const char* string::WcharToDos(const char* src) {
  if (src) Assign(src);
  for (uint32_t i = 0; i < _len; ++i) {
    const int b = platform::Utf16ToCp850(platform::Cp1252ToUtf16(static_cast<uint8_t>(_text[i])));
    _text[i] = b < 0 ? '?' : static_cast<char>(b);
  }
  return _text;
}

const char* string::Encrypt(const char* key, uint32_t mode, string* dst) {
  string scrambled(*this);
  ZorRandString(scrambled._text, scrambled._len, key);
  string* target = dst ? dst : this;
  if (mode == 0) return ZorBase64Encode(scrambled._text, scrambled._len, target);
  *target = static_cast<string&&>(scrambled);
  return target->CStr();
}

const char* string::Decrypt(const char* key, uint32_t mode, string* dst) {
  string* target = dst ? dst : this;
  string bytes;
  if (mode == 0) {
    char* w = bytes.BufferAlloc(static_cast<int32_t>(ZorBase64DecodedMax(_len)));
    const int32_t n = ZorBase64Decode(_text, _len, w, bytes._len);
    if (n < 0) return target->Clear();
    bytes._fixSize(static_cast<uint32_t>(n));
    bytes._text[n] = 0;
  } else {
    bytes = *this;
  }
  ZorRandString2(bytes._text, bytes._len, key);
  return target->Assign(bytes._text, static_cast<int32_t>(bytes._len));
}

}  // namespace zorvane
