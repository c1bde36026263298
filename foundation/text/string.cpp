// The dynamic string.
//
// Storage: `_text` points to the 36-byte inline buffer `_buf` while the
// allocation size `_cap` is 36, otherwise to a heap block of exactly `_cap`
// bytes from ZorMemAlloc. `_cap` is always AllocSizeFor(_len), so storage
// changes only when a length crosses a capacity step (36 bytes below 512,
// then 256, 512 and 1024); every operation that changes the length goes
// through _fixSize, which moves the text between the inline buffer and the
// heap and keeps the old bytes up to the smaller of the two lengths. _fixSize
// never writes the terminator: the operation that called it does, so that
// `_text[_len] == 0` holds again when the operation returns.
//
// Operations that take a pointer may be handed a pointer into this string's
// own text; Assign and Insert detect it and work from a copy or in place.
// Ranges are clamped to the text wherever the interface says so.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/memory.h>
#include <zorvane/string.h>

#include "foundation/services/text_source.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "string\\ZorString";

// Length of p limited to n characters (n < 0: no limit).
uint32_t BoundedLen(const char* p, int32_t n) {
  if (n < 0) return static_cast<uint32_t>(std::strlen(p));
  return static_cast<uint32_t>(strnlen(p, static_cast<size_t>(n)));
}

// Absolute value of a 32-bit count without overflow at INT32_MIN.
uint32_t Magnitude(int32_t n) {
  return n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
}

constexpr uint32_t kStackCopyMax = 65535;

// The in-place test of operator+=(char) is exact: one more character keeps
// the capacity precisely when it fits and the length is not the drop point.
constexpr bool AppendTestIsExact() {
  for (uint32_t len = 0; len < 40000; ++len) {
    const uint32_t cap = string::AllocSizeFor(len);
    const bool fast = len + 2 <= cap && len != string::kCapacityDrop - 1;
    if (fast != (string::AllocSizeFor(len + 1) == cap)) return false;
  }
  return true;
}
static_assert(AppendTestIsExact());

// True when p points into the block [text, text + cap).
bool PointsInto(const char* p, const char* text, uint32_t cap) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  const auto t = reinterpret_cast<uintptr_t>(text);
  return a >= t && a - t < cap;
}

}  // namespace

// ---------------------------------------------------------------- storage

void string::_fixSize(uint32_t newLength) {
  const uint32_t newCap = AllocSizeFor(newLength);
  if (newCap != _cap) {
    if (newCap == kInlineSize) {
      std::memcpy(_buf, _text, newLength);
      ZorMemFree(_text);
      _text = _buf;
    } else if (_cap == kInlineSize) {
      char* block = static_cast<char*>(ZorMemAlloc(newCap));
      std::memcpy(block, _buf, _len);
      _text = block;
    } else {
      _text = static_cast<char*>(ZorMemRealloc(_text, newCap));
    }
    _cap = newCap;
  }
  _len = newLength;
}

string::string() : _text(_buf), _len(0), _cap(kInlineSize) { _buf[0] = 0; }

string::string(const char* p, int32_t n) : string() { Assign(p, n); }

string::string(const string* s) : string() {
  if (s) Assign(s->_text, static_cast<int32_t>(s->_len));
}

// A copy takes the same capacity directly, without going through Assign.
string::string(const string& s) : _len(s._len), _cap(s._cap) {
  _text = _cap == kInlineSize ? _buf : static_cast<char*>(ZorMemAlloc(_cap));
  std::memcpy(_text, s._text, _len + 1);
}

string::string(string&& s) noexcept : string() { *this = static_cast<string&&>(s); }

string::~string() { BufferFree(); }

string& string::operator=(const string& s) {
  if (this != &s) Assign(s._text, static_cast<int32_t>(s._len));
  return *this;
}

// A heap block changes owner; an inline text is copied.
string& string::operator=(string&& s) noexcept {
  if (this == &s) return *this;
  BufferFree();
  if (s._text == s._buf) {
    std::memcpy(_buf, s._buf, s._len + 1);
    _text = _buf;
  } else {
    _text = s._text;
  }
  _len = s._len;
  _cap = s._cap;
  s.BufferInit();
  return *this;
}

string& string::operator=(const char* p) {
  Assign(p, -1);
  return *this;
}

string& string::operator=(char c) {
  Fill(c, 1);
  return *this;
}

void string::BufferInit() {
  _text = _buf;
  _len = 0;
  _cap = kInlineSize;
  _buf[0] = 0;
}

void string::BufferFree() {
  if (_text != _buf) ZorMemFree(_text);
}

char* string::BufferAlloc(int32_t n) {
  const uint32_t len = n < 0 ? 0 : static_cast<uint32_t>(n);
  _fixSize(len);
  _text[len] = 0;
  return _text;
}

// The block was sized for the length given to BufferAlloc; _fixSize brings it
// to the size of the length found.
uint32_t string::BufferCalcLen() {
  _fixSize(static_cast<uint32_t>(strnlen(_text, _len)));
  _text[_len] = 0;
  return _len;
}

// Size 0 leaves no room even for the terminator: nothing is written.
char* string::CopyToBuffer(char* dst, uint32_t size) const {
  if (size == 0) return dst;
  ZorNotNull(dst, kSource);
  const uint32_t n = _len < size - 1 ? _len : size - 1;
  std::memcpy(dst, _text, n);
  dst[n] = 0;
  return dst;
}

// ---------------------------------------------------------------- assignment

// Replaces [from, to) by n bytes of p (p outside the own text, or null when n
// is 0): the tail moves before a shrink and after a growth.
void string::ReplaceRange(uint32_t from, uint32_t to, const char* p, uint32_t n) {
  const uint32_t oldLen = _len;
  const uint32_t tail = oldLen - to;
  const uint32_t newLen = oldLen - (to - from) + n;
  if (newLen > oldLen) {
    _fixSize(newLen);
    std::memmove(_text + from + n, _text + to, tail);
  } else {
    std::memmove(_text + from + n, _text + to, tail);
    _fixSize(newLen);
  }
  if (n) std::memcpy(_text + from, p, n);
  _text[newLen] = 0;
}

const char* string::Assign(const char* p, int32_t n) {
  if (!p) return Clear();
  const uint32_t len = BoundedLen(p, n);
  if (PointsInto(p, _text, _cap)) {  // a part of the own text
    std::memmove(_text, p, len);
    _fixSize(len);
    _text[len] = 0;
    return _text;
  }
  if (AllocSizeFor(len) != _cap) {  // the old content is not worth keeping
    Clear();
    _fixSize(len);
  }
  _len = len;
  std::memcpy(_text, p, len);
  _text[len] = 0;
  return _text;
}

string& string::operator+=(const string& s) {
  Insert(_len, s._text, static_cast<int32_t>(s._len));
  return *this;
}

string& string::operator+=(const char* p) {
  Insert(_len, p, -1);
  return *this;
}

string& string::AppendCharSlow(char c) {
  Insert(_len, c, 1);
  return *this;
}

const char* string::Insert(uint32_t pos, const char* p, int32_t n) {
  if (!p) return _text;
  const uint32_t len = BoundedLen(p, n);
  if (len == 0) return _text;
  if (_len == 0) return Assign(p, static_cast<int32_t>(len));
  if (pos > _len) pos = _len;
  if (PointsInto(p, _text, _cap)) {
    if (len <= kStackCopyMax) {
      char copy[kStackCopyMax];
      std::memcpy(copy, p, len);
      ReplaceRange(pos, pos, copy, len);
    } else {
      char* copy = static_cast<char*>(ZorMemAlloc(len));
      std::memcpy(copy, p, len);
      ReplaceRange(pos, pos, copy, len);
      ZorMemFree(copy);
    }
    return _text;
  }
  ReplaceRange(pos, pos, p, len);
  return _text;
}

const char* string::Insert(uint32_t pos, char c, int32_t n) {
  if (c == 0 || n <= 0) return _text;
  if (pos > _len) pos = _len;
  const uint32_t count = static_cast<uint32_t>(n);
  const uint32_t oldLen = _len;
  _fixSize(oldLen + count);
  std::memmove(_text + pos + count, _text + pos, oldLen - pos);
  std::memset(_text + pos, static_cast<unsigned char>(c), count);
  _text[_len] = 0;
  return _text;
}

// ---------------------------------------------------------------- editing

const char* string::Delete(uint32_t from, uint32_t to) {
  if (to > _len) to = _len;
  if (from >= to) return _text;
  ReplaceRange(from, to, nullptr, 0);
  return _text;
}

const char* string::Trunc(uint32_t n) {
  if (n < _len) {
    _fixSize(n);
    _text[n] = 0;
  }
  return _text;
}

const char* string::Clear() {
  BufferFree();
  BufferInit();
  return _text;
}

const char* string::Fill(char c, int32_t n) {
  if (c == 0 || n <= 0) return Clear();
  const uint32_t len = static_cast<uint32_t>(n);
  if (AllocSizeFor(len) != _cap) Clear();
  _fixSize(len);
  std::memset(_text, static_cast<unsigned char>(c), len);
  _text[len] = 0;
  return _text;
}

const char* string::Pad(int32_t n, char c) {
  const uint32_t target = Magnitude(n);
  if (_len >= target) return Trunc(target);
  const uint32_t missing = target - _len;
  const uint32_t oldLen = _len;
  _fixSize(target);
  if (n < 0) {
    std::memmove(_text + missing, _text, oldLen);
    std::memset(_text, static_cast<unsigned char>(c), missing);
  } else {
    std::memset(_text + oldLen, static_cast<unsigned char>(c), missing);
  }
  _text[target] = 0;
  return _text;
}

const char* string::Trim(char lead, char trail) {
  uint32_t end = _len;
  if (trail != 0)
    while (end > 0 && _text[end - 1] == trail) --end;
  uint32_t begin = 0;
  if (lead != 0)
    while (begin < end && _text[begin] == lead) ++begin;
  Trunc(end);
  return Delete(0, begin);
}

const char* string::ClipTo(const char* set) {
  if (!set || !*set) return _text;
  return Trunc(static_cast<uint32_t>(std::strcspn(_text, set)));
}

const char* string::TruncDot(uint32_t n, int32_t mode) {
  if (_len <= n) return _text;
  if (n == 0) return Clear();
  if (n <= 3) return Fill('.', static_cast<int32_t>(n));
  if (mode > 0 || (mode == 0 && n == 4)) {
    Trunc(n - 3);
    return Insert(_len, "...", 3);
  }
  if (mode < 0) {
    Delete(0, _len - (n - 3));
    return Insert(0, "...", 3);
  }
  const uint32_t tail = n / 2 - 1;
  const uint32_t head = n - tail - 3;
  Delete(head, _len - tail);
  return Insert(head, "...", 3);
}

const char* string::Left(string* dst, uint32_t n) const {
  return ZorNotNull(dst, kSource)->Assign(_text, static_cast<int32_t>(n < _len ? n : _len));
}

const char* string::Right(string* dst, uint32_t n) const {
  ZorNotNull(dst, kSource);
  const uint32_t count = n < _len ? n : _len;
  return dst->Assign(_text + (_len - count), static_cast<int32_t>(count));
}

const char* string::Mid(string* dst, uint32_t from, uint32_t to) const {
  ZorNotNull(dst, kSource);
  if (to > _len) to = _len;
  if (from > _len || to <= from) return dst->Clear();
  return dst->Assign(_text + from, static_cast<int32_t>(to - from));
}

// The pieces are cut before any output is written, so left or right may be
// this string itself.
bool string::Split(const char* sep, string* left, string* right, uint32_t start, bool ignoreCase) {
  const int32_t pos = Contain(sep, ignoreCase, static_cast<int32_t>(start));
  if (pos < 0) {
    if (right && right != this) *right = *this;
    if (left && left != right) left->Clear();
    return false;
  }
  string before(_text, pos);
  string after(_text + pos + ZorStrLen(sep));
  if (left) *left = static_cast<string&&>(before);
  *(right ? right : this) = static_cast<string&&>(after);
  return true;
}

bool string::Split(char sep, string* left, string* right, uint32_t start) {
  const char text[2] = {sep, 0};
  return Split(text, left, right, start, false);
}

// ---------------------------------------------------------------- case

const char* string::Lower(const char* src) {
  if (src) Assign(src);
  ZorStrLower(_text);
  return _text;
}

const char* string::Upper(const char* src, bool plain) {
  if (src) Assign(src);
  ZorStrUpper(_text, plain);
  return _text;
}

const char* string::Title(bool lowerFirst) {
  if (lowerFirst) ZorStrLower(_text);
  if (_len) _text[0] = ZorToUpper(_text[0]);
  return _text;
}

// ---------------------------------------------------------------- catalogue

namespace {
constexpr int32_t kStandardGroup = 100;  // library texts of module 1
constexpr int32_t kEmptyValueText = 15;  // shown for an empty value
}  // namespace

const char* string::Load(int32_t module, int32_t group, int32_t index) {
  return texts::Load(module, group, index, this);
}

const char* string::StdEmpty() {
  if (IsEmpty()) Load(1, kStandardGroup, kEmptyValueText);
  return _text;
}

// ---------------------------------------------------------------- search

bool string::StartWith(const char* s, bool ignoreCase) const {
  const uint32_t n = s ? ZorStrLen(s) : 0;
  if (n == 0) return _len == 0;
  if (n > _len) return false;
  return ignoreCase ? ZorStrIEqN(_text, s, n) : std::memcmp(_text, s, n) == 0;
}

bool string::EndWith(const char* s, bool ignoreCase) const {
  const uint32_t n = s ? ZorStrLen(s) : 0;
  if (n == 0) return _len == 0;
  if (n > _len) return false;
  const char* tail = _text + (_len - n);
  return ignoreCase ? ZorStrIEqN(tail, s, n) : std::memcmp(tail, s, n) == 0;
}

int32_t string::Contain(const char* s, bool ignoreCase, int32_t start) const {
  const uint32_t n = s ? ZorStrLen(s) : 0;
  if (n == 0) return _len == 0 ? 0 : -1;
  if (n > _len) return -1;
  auto matchAt = [&](uint32_t i) {
    return ignoreCase ? ZorStrIEqN(_text + i, s, n) : std::memcmp(_text + i, s, n) == 0;
  };
  if (start >= 0) {
    const uint32_t from = static_cast<uint32_t>(start);
    if (from > _len - n) return -1;
    if (!ignoreCase) {
      const char* hit = static_cast<const char*>(memmem(_text + from, _len - from, s, n));
      return hit ? static_cast<int32_t>(hit - _text) : -1;
    }
    for (uint32_t i = from; i <= _len - n; ++i)
      if (matchAt(i)) return static_cast<int32_t>(i);
    return -1;
  }
  uint32_t from = Magnitude(start);
  if (from > _len - n) from = _len - n;
  for (uint32_t i = from + 1; i-- > 0;)
    if (matchAt(i)) return static_cast<int32_t>(i);
  return -1;
}

int32_t string::PosCh(char c, int32_t start) const {
  const uint32_t from = start < 0 ? 0 : static_cast<uint32_t>(start);
  if (from >= _len) return -1;
  const void* hit = std::memchr(_text + from, static_cast<unsigned char>(c), _len - from);
  return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - _text) : -1;
}

int32_t string::PosRCh(char c, int32_t start) const {
  if (_len == 0) return -1;
  uint32_t i = (start < 0 || static_cast<uint32_t>(start) >= _len) ? _len - 1 : static_cast<uint32_t>(start);
  for (++i; i-- > 0;)
    if (_text[i] == c) return static_cast<int32_t>(i);
  return -1;
}

bool string::ReplaceAll(char from, char to) {
  const bool found = ZorStrReplace(_text, from, to);
  if (found && to == 0) {
    _fixSize(ZorStrLen(_text));
    _text[_len] = 0;
  }
  return found;
}

// Match positions of `find`, non-overlapping, at most `limit`, scanning
// forwards or (backwards) from the end; returned in increasing order.
static std::vector<uint32_t> FindMatches(const char* text, uint32_t len, const char* find, uint32_t n,
                                         bool caseSensitive, uint32_t limit, bool backwards) {
  std::vector<uint32_t> hits;
  auto matchAt = [&](uint32_t i) {
    return caseSensitive ? std::memcmp(text + i, find, n) == 0 : ZorStrIEqN(text + i, find, n);
  };
  if (!backwards) {
    for (uint32_t i = 0; i + n <= len && hits.size() < limit;)
      if (matchAt(i)) {
        hits.push_back(i);
        i += n;
      } else {
        ++i;
      }
    return hits;
  }
  for (int64_t i = static_cast<int64_t>(len) - n; i >= 0 && hits.size() < limit;)
    if (matchAt(static_cast<uint32_t>(i))) {
      hits.push_back(static_cast<uint32_t>(i));
      i -= n;
    } else {
      --i;
    }
  std::reverse(hits.begin(), hits.end());
  return hits;
}

int32_t string::ReplaceStr(const char* find, const char* repl, bool caseSensitive, int32_t count) {
  const uint32_t n = find ? ZorStrLen(find) : 0;
  if (_len == 0 || n == 0 || count == 0 || _len < n) return 0;
  const std::vector<uint32_t> hits = FindMatches(_text, _len, find, n, caseSensitive, Magnitude(count), count < 0);
  if (hits.empty()) return 0;
  const int32_t replLen = repl ? static_cast<int32_t>(ZorStrLen(repl)) : 0;
  ZorTextBuf out;
  out.Init(false);
  uint32_t from = 0;
  for (uint32_t at : hits) {
    out.CatText(_text + from, static_cast<int32_t>(at - from));
    out.CatText(repl, replLen);
    from = at + n;
  }
  out.CatText(_text + from, static_cast<int32_t>(_len - from));
  out.GetString(this);
  return static_cast<int32_t>(hits.size());
}

int32_t string::Cmp(const char* s) const { return ZorStrCmp(_text, s ? s : ""); }
int32_t string::Cmp(const char* s, uint32_t n) const { return ZorStrCmpN(_text, s, n); }
int32_t string::ICmp(const char* s) const { return ZorStrICmp(_text, s ? s : ""); }
int32_t string::ICmp(const char* s, uint32_t n) const { return ZorStrICmpN(_text, s ? s : "", n); }

// ---------------------------------------------------------------- operators

string operator+(const string& a, const string& b) {
  string r(a);
  r += b;
  return r;
}

string operator+(const string& a, const char* b) {
  string r(a);
  r += b;
  return r;
}

string operator+(const char* a, const string& b) {
  string r(a);
  r += b;
  return r;
}

bool operator==(const string& a, const string& b) { return ZorStrIEq(a.CStr(), b.CStr()); }
bool operator==(const string& a, const char* b) { return ZorStrIEq(a.CStr(), b ? b : ""); }
bool operator==(const char* a, const string& b) { return ZorStrIEq(a ? a : "", b.CStr()); }
bool operator!=(const string& a, const string& b) { return !(a == b); }
bool operator!=(const string& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const string& b) { return !(a == b); }

bool operator<(const string& a, const string& b) { return ZorStrICmp(a.CStr(), b.CStr()) < 0; }
bool operator<(const string& a, const char* b) { return ZorStrICmp(a.CStr(), b ? b : "") < 0; }
bool operator<(const char* a, const string& b) { return ZorStrICmp(a ? a : "", b.CStr()) < 0; }
bool operator<=(const string& a, const string& b) { return ZorStrICmp(a.CStr(), b.CStr()) <= 0; }
bool operator<=(const string& a, const char* b) { return ZorStrICmp(a.CStr(), b ? b : "") <= 0; }
bool operator<=(const char* a, const string& b) { return ZorStrICmp(a ? a : "", b.CStr()) <= 0; }
bool operator>(const string& a, const string& b) { return ZorStrICmp(a.CStr(), b.CStr()) > 0; }
bool operator>(const string& a, const char* b) { return ZorStrICmp(a.CStr(), b ? b : "") > 0; }
bool operator>(const char* a, const string& b) { return ZorStrICmp(a ? a : "", b.CStr()) > 0; }
bool operator>=(const string& a, const string& b) { return ZorStrICmp(a.CStr(), b.CStr()) >= 0; }
bool operator>=(const string& a, const char* b) { return ZorStrICmp(a.CStr(), b ? b : "") >= 0; }
bool operator>=(const char* a, const string& b) { return ZorStrICmp(a ? a : "", b.CStr()) >= 0; }

}  // namespace zorvane
