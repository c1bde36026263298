// ZorUuid: a 16-byte unique identifier (a GUID) and its text form.
//
// The bytes are kept as stored: Data1 (4 bytes), Data2 and Data3 (2 bytes
// each) are little-endian integers, the last 8 bytes a plain sequence. GUID
// order compares Data1, Data2 and Data3 as unsigned integers, then the 8
// bytes one by one. The text form is
//   {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
// with Data1, Data2 and Data3 written as numbers (most significant digit
// first), the last 8 bytes in order, upper-case hex; the braces are optional.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;

class ZOR_API ZorUuid {
 public:
  static constexpr uint32_t kSize = 16;
  // Characters of the text form without and with braces.
  static constexpr uint32_t kTextLen = 36;
  static constexpr uint32_t kBracedTextLen = 38;

  ZorUuid() = default;
  explicit ZorUuid(const void* bytes) { SetBytes(bytes); }

  const uint8_t* GetBytes() const { return _bytes; }
  void SetBytes(const void* bytes);
  void Clear();
  bool IsNull() const;

  // A new random (version 4) identifier.
  void New();
  static ZorUuid S_New();

  // The text form, with or without braces, into dst; returns dst's text.
  const char* GetValueStr(string* dst, bool braces = true) const;
  // Reads the text form (braces optional, hex digits of either case, no
  // blanks). False, and the value left unchanged, when the text is not one.
  bool SetValueStr(const char* text);

  // GUID order of two 16-byte values: -1, 0 or 1.
  static int32_t S_CmpGuid(const void* a, const void* b);
  static bool S_IsGuidEqual(const void* a, const void* b);
  // Writes the text form of the 16 bytes at guid into out (kTextLen or
  // kBracedTextLen characters, no terminator) and returns its length.
  static uint32_t S_GuidToText(const void* guid, char* out, bool braces);

  // Writes the 32-character index key of the 16 bytes at guid into out (no
  // terminator): Data1 (8), Data2 (4), Data3 (4) as numbers, then the last
  // 8 bytes in order (16), every nibble written as 'A' + nibble, most
  // significant first. Keys compared with ZorCompIndex sort in GUID order.
  static void S_GuidToIndex(const void* guid, char* out);

  friend bool operator==(const ZorUuid& a, const ZorUuid& b) { return S_IsGuidEqual(a._bytes, b._bytes); }
  friend bool operator!=(const ZorUuid& a, const ZorUuid& b) { return !(a == b); }
  friend bool operator<(const ZorUuid& a, const ZorUuid& b) { return S_CmpGuid(a._bytes, b._bytes) < 0; }

 private:
  uint8_t _bytes[kSize] = {};
};

}  // namespace zorvane
