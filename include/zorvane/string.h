// `string`: the library's one text type, and the C-string functions beside it.
//
// A `string` is a growable, NUL-terminated text of code page 1252 bytes with a
// 36-byte inline buffer. It owns its storage: texts of up to 35 characters
// live in the inline buffer, longer ones in one heap block from ZorMemAlloc.
// The pointer returned by CStr() (and by every operation that returns the
// text) stays valid until the next non-const operation on the object.
//
// Positions are 0-based and unsigned 32-bit; operations that take a range take
// a start and an exclusive end, and an end of -1 (0xFFFFFFFF) means "to the
// end of the text". Comparison operators ignore case and order texts by the
// library's collation table; Cmp() is the case-sensitive comparison.
//
// Text conversions (UTF-8, OEM code page 850, Base64, keyed scrambling) are
// explicit; there is no UTF-8 inside a `string`.
#pragma once

#include <zorvane/form_args.h>
#include <zorvane/types.h>

#include <cstdarg>

namespace zorvane {

class ZOR_API string {
 public:
  // Size of the inline buffer; also the smallest allocation size.
  static constexpr uint32_t kInlineSize = 36;
  // The one length whose capacity is smaller than that of the length before.
  static constexpr uint32_t kCapacityDrop = 511;

  // The allocation size that a text of `length` characters needs: length + 1
  // rounded up to a multiple of 36 below 512, of 256 below 4096, of 512 below
  // 16384 and of 1024 from there on.
  static constexpr uint32_t AllocSizeFor(uint32_t length) {
    const uint32_t n = length + 1;
    if (n < 512) return (n + 35) / 36 * 36;
    if (n < 4096) return (n + 255) & ~255u;
    if (n < 16384) return (n + 511) & ~511u;
    return (n + 1023) & ~1023u;
  }

  // ------------------------------------------------------------ construction
  string();
  // n < 0 copies up to the terminator; n >= 0 copies n characters or up to the
  // first NUL among them. A null p gives the empty string.
  string(const char* p, int32_t n = -1);  // NOLINT(runtime/explicit)
  explicit string(const string* s);
  string(const string& s);
  string(string&& s) noexcept;
  ~string();

  string& operator=(const string& s);
  string& operator=(string&& s) noexcept;
  string& operator=(const char* p);
  string& operator=(char c);  // a 0 character gives the empty string

  // ------------------------------------------------------------ raw storage
  void BufferInit();                // empty inline state, frees nothing
  void BufferFree();                // frees the heap block, fields untouched
  char* BufferAlloc(int32_t n);     // length n, terminated at n, writable
  uint32_t BufferCalcLen();         // length := position of the first NUL

  // ------------------------------------------------------------ access
  uint32_t Len() const { return _len; }
  uint32_t StrSize() const { return _len + 1; }
  bool IsEmpty() const { return _text[0] == 0; }
  const char* CStr() const { return _text; }
  uint32_t Capacity() const { return _cap; }
  char& operator[](uint32_t i) { return _text[i]; }
  const char& operator[](uint32_t i) const { return _text[i]; }
  // Copies at most size - 1 characters and terminates; size >= 1.
  char* CopyToBuffer(char* dst, uint32_t size) const;

  // ------------------------------------------------------------ assignment
  const char* Assign(const char* p, int32_t n = -1);
  const char* Assign(const string& s) { return Assign(s._text, static_cast<int32_t>(s._len)); }

  string& operator+=(const string& s);
  string& operator+=(const char* p);
  // Appending one character stores it in place when the capacity allows.
  // The capacity rule shrinks once while growing (a length of 511 needs 512
  // bytes, one of 510 needs 540), so that length takes the general path.
  string& operator+=(char c) {
    if (c != 0 && _len + 2 <= _cap && _len != kCapacityDrop - 1) {
      _text[_len++] = c;
      _text[_len] = 0;
      return *this;
    }
    return AppendCharSlow(c);
  }

  // Inserts n characters (n = -1: up to the terminator) at min(pos, length);
  // p may point inside this string's own text.
  const char* Insert(uint32_t pos, const char* p, int32_t n = -1);
  // Inserts n copies of c; nothing when c is 0 or n <= 0.
  const char* Insert(uint32_t pos, char c, int32_t n = 1);

  // ------------------------------------------------------------ editing
  const char* Delete(uint32_t from, uint32_t to = 0xFFFFFFFFu);
  const char* Trunc(uint32_t n);
  const char* Clear();
  const char* Fill(char c, int32_t n);
  const char* Pad(int32_t n, char c = ' ');
  const char* Trim(char lead = ' ', char trail = ' ');
  const char* ClipTo(const char* set);
  const char* TruncDot(uint32_t n, int32_t mode = 1);

  const char* Left(string* dst, uint32_t n) const;
  const char* Right(string* dst, uint32_t n) const;
  const char* Mid(string* dst, uint32_t from, uint32_t to = 0xFFFFFFFFu) const;

  bool Split(const char* sep, string* left, string* right, uint32_t start = 0, bool ignoreCase = false);
  bool Split(char sep, string* left, string* right, uint32_t start = 0);

  // ------------------------------------------------------------ case and conversion
  const char* Lower(const char* src = nullptr);
  const char* Upper(const char* src = nullptr, bool plain = false);
  const char* Title(bool lowerFirst = false);

  const char* StdEmpty();
  const char* Load(int32_t module, int32_t group, int32_t index);

  const char* DosToWchar(const char* src = nullptr);  // OEM (cp850) to ANSI
  const char* WcharToDos(const char* src = nullptr);  // ANSI to OEM (cp850)

  // Scrambles with ZorRandString and, for mode 0, encodes in Base64; the result
  // goes to dst, or replaces this text when dst is null. Decrypt undoes it; a
  // text that is not valid Base64 (mode 0) gives the empty result.
  const char* Encrypt(const char* key, uint32_t mode, string* dst = nullptr);
  const char* Decrypt(const char* key, uint32_t mode, string* dst = nullptr);

  // Message formatting (see zorvane/format.h for the pattern syntax and for
  // the counting of the arguments).
  template <class... A>
  const char* Format(const char* pattern, A... args) {
    return FormatArgs(pattern, ZorFormArgs::Of(args...));
  }
  // The pattern is entry (module, group, index) of the message catalogue.
  template <class... A>
  const char* Format(int32_t module, int32_t group, int32_t index, A... args) {
    return FormatArgs(module, group, index, ZorFormArgs::Of(args...));
  }
  const char* FormatV(const char* pattern, va_list args);
  const char* FormatArgs(const char* pattern, const ZorFormArgs& args);
  const char* FormatArgs(int32_t module, int32_t group, int32_t index, const ZorFormArgs& args);

  // ------------------------------------------------------------ search and comparison
  bool StartWith(const char* s, bool ignoreCase = false) const;
  bool EndWith(const char* s, bool ignoreCase = false) const;
  int32_t Contain(const char* s, bool ignoreCase = false, int32_t start = 0) const;
  int32_t PosCh(char c, int32_t start = 0) const;
  int32_t PosRCh(char c, int32_t start = -1) const;

  bool ReplaceAll(char from, char to);
  int32_t ReplaceStr(const char* find, const char* repl, bool caseSensitive = true, int32_t count = 0x7FFFFFFF);

  int32_t Cmp(const char* s) const;
  int32_t Cmp(const char* s, uint32_t n) const;
  int32_t ICmp(const char* s) const;
  int32_t ICmp(const char* s, uint32_t n) const;

 private:
  string& AppendCharSlow(char c);
  void _fixSize(uint32_t newLength);
  void ReplaceRange(uint32_t from, uint32_t to, const char* p, uint32_t n);

  // _text is _buf while _cap is kInlineSize, else a heap block of _cap bytes;
  // _cap is always AllocSizeFor(_len).
  char* _text;
  uint32_t _len;
  uint32_t _cap;
  char _buf[kInlineSize];
};

ZOR_API string operator+(const string& a, const string& b);
ZOR_API string operator+(const string& a, const char* b);
ZOR_API string operator+(const char* a, const string& b);

// Case-insensitive comparisons: == and != by ZorStrIEq, the others by ZorStrICmp.
ZOR_API bool operator==(const string& a, const string& b);
ZOR_API bool operator==(const string& a, const char* b);
ZOR_API bool operator==(const char* a, const string& b);
ZOR_API bool operator!=(const string& a, const string& b);
ZOR_API bool operator!=(const string& a, const char* b);
ZOR_API bool operator!=(const char* a, const string& b);
ZOR_API bool operator<(const string& a, const string& b);
ZOR_API bool operator<(const string& a, const char* b);
ZOR_API bool operator<(const char* a, const string& b);
ZOR_API bool operator<=(const string& a, const string& b);
ZOR_API bool operator<=(const string& a, const char* b);
ZOR_API bool operator<=(const char* a, const string& b);
ZOR_API bool operator>(const string& a, const string& b);
ZOR_API bool operator>(const string& a, const char* b);
ZOR_API bool operator>(const char* a, const string& b);
ZOR_API bool operator>=(const string& a, const string& b);
ZOR_API bool operator>=(const string& a, const char* b);
ZOR_API bool operator>=(const char* a, const string& b);

// ---------------------------------------------------------------- characters
// Case mappings of code page 1252; `plain` folds accents and maps every other
// byte from 0x80 up to "_" (used to build codes and identifiers).
ZOR_API char ZorToLower(char c);
ZOR_API char ZorToUpper(char c, bool plain = false);
// Collation weight of a byte (a permutation of 0-255).
ZOR_API uint8_t ZorCharWeight(char c);

ZOR_API bool ZorIsDigit(char c);
ZOR_API bool ZorIsXDigit(char c);
ZOR_API bool ZorIsUpper(char c);
ZOR_API bool ZorIsLower(char c);
ZOR_API bool ZorIsSpace(char c);
ZOR_API bool ZorIsPunct(char c);
ZOR_API bool ZorIsCtrl(char c);
ZOR_API bool ZorIsAlpha(char c);
ZOR_API bool ZorIsAlNum(char c);
ZOR_API uint16_t ZorGetChType(char c);  // the CT_CTYPE1 flag word

// ---------------------------------------------------------------- C strings
ZOR_API uint32_t ZorStrLen(const char* s);
ZOR_API uint32_t ZorStrSize(const char* s);
ZOR_API bool ZorStrIsEmpty(const char* s);
ZOR_API char* ZorStrCpy(char* dst, const char* src);
ZOR_API char* ZorStrCat(char* dst, const char* src);
ZOR_API char* ZorStrCpyN(char* dst, const char* src, uint32_t size);
ZOR_API char* ZorStrFill(char* dst, uint32_t n, char c);  // no terminator
ZOR_API char* ZorStrUpper(char* s, bool plain = false);
ZOR_API char* ZorStrLower(char* s);

// Orderings: the weight difference at the first differing byte; a text that
// ends first is below (-1), the other one above (1). The "I" forms take two
// bytes as equal when their upper-case mappings are. The "N" forms look at
// most n bytes; all but ZorStrCmpN stop at the end of a text.
ZOR_API int32_t ZorStrCmp(const char* a, const char* b);
ZOR_API int32_t ZorStrCmpN(const char* a, const char* b, uint32_t n);  // over n bytes, NULs included
ZOR_API int32_t ZorStrICmp(const char* a, const char* b);
ZOR_API int32_t ZorStrICmpN(const char* a, const char* b, uint32_t n);
ZOR_API bool ZorStrEq(const char* a, const char* b);
ZOR_API bool ZorStrEqN(const char* a, const char* b, uint32_t n);
ZOR_API bool ZorStrIEq(const char* a, const char* b);
ZOR_API bool ZorStrIEqN(const char* a, const char* b, uint32_t n);
// The collation of index keys: len bytes compared as ZorStrICmpN compares
// characters, but without stopping at a 0 byte (keys are fixed-length byte
// strings); the weight difference of the original bytes at the first
// position whose upper-case mappings differ, else 0. The signature is that of
// a caller's comparison (ZorCompareFn), so it can be handed to DicoEx.
ZOR_API int32_t ZorCompIndex(const void* a, const void* b, int32_t len);

ZOR_API const char* ZorStrChr(const char* s, char c);
ZOR_API const char* ZorStrRChr(const char* s, char c);
ZOR_API const char* ZorStrStr(const char* hay, const char* needle);
ZOR_API const char* ZorStrFind(const char* hay, const char* needle, bool ignoreCase = false);
inline char* ZorStrChr(char* s, char c) { return const_cast<char*>(ZorStrChr(static_cast<const char*>(s), c)); }
inline char* ZorStrRChr(char* s, char c) { return const_cast<char*>(ZorStrRChr(static_cast<const char*>(s), c)); }
inline char* ZorStrStr(char* hay, const char* needle) {
  return const_cast<char*>(ZorStrStr(static_cast<const char*>(hay), needle));
}
ZOR_API bool ZorStrContains(const char* hay, const char* needle, bool ignoreCase = false);
// Replaces every `from` by `to` in place; a 0 `to` removes them. True when any was found.
ZOR_API bool ZorStrReplace(char* s, char from, char to);
ZOR_API char* ZorStrDup(const char* s);  // free with ZorMemFree
// TAB, LF, VT, FF, CR become \t \n \v \f \r; with `quotes` a double quote or
// an apostrophe gets a backslash in front. dst must hold 2 * len + 1 bytes.
ZOR_API char* ZorEscapeString(const char* src, char* dst, bool quotes);
ZOR_API const char* ZorEscapeString(const char* src, string* dst, bool quotes);
// The reverse: a backslash followed by t n v f r, a double quote or an
// apostrophe gives that character; any other backslash stays. dst must hold
// len + 1 bytes and may be src itself.
ZOR_API char* ZorUnEscapeString(const char* src, char* dst);
ZOR_API const char* ZorUnEscapeString(const char* src, string* dst);

// ---------------------------------------------------------------- conversions
// cp1252 to UTF-8 and back; a character that cp1252 lacks becomes "?" and an
// invalid UTF-8 input gives the empty result.
ZOR_API const char* ZorEncodeToUTF8(const char* text, string* out);
ZOR_API const char* ZorDecodefromUTF8(const char* utf8, string* out);
// The UTF-8 bytes of one UTF-16 unit (the low 16 bits of code).
ZOR_API const char* ZorGetUTF8FromCode(uint32_t code, string* out);

// Base64 (standard alphabet, "=" padding). The decoder ignores ASCII white
// space, writes at most dstSize bytes and returns the decoded size, or -1 for
// a text that is not Base64 or a result that does not fit.
ZOR_API const char* ZorBase64Encode(const void* data, uint32_t size, string* out);
ZOR_API uint32_t ZorBase64DecodedMax(uint32_t textLen);
ZOR_API int32_t ZorBase64Decode(const char* text, uint32_t textLen, void* dst, uint32_t dstSize);

// The library's keyed byte scrambler: ZorRandString scrambles `len` bytes in
// place, ZorRandString2 restores them. A non-zero byte always scrambles to a
// non-zero byte, so a scrambled text stays a C string of the same length.
ZOR_API char* ZorRandString(char* data, uint32_t len, const char* key);
ZOR_API char* ZorRandString2(char* data, uint32_t len, const char* key);

}  // namespace zorvane
