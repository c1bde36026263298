// Code pages of the Linux layer: cp1252 (the text of every `string`) and
// cp850 (the OEM code page) to and from UTF-16, and the character-class flags
// (the CT_CTYPE1 bits) of each cp1252 byte.
//
// The tables are generated from Python's codecs and Unicode database by
// platform/gen_codepage_tables.py. The five bytes that cp1252 leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the
// same value, so every byte round-trips.
#pragma once

#include <cstdint>

namespace zorvane::platform {

extern const char16_t kCp1252ToUtf16[256];
extern const char16_t kCp850ToUtf16[256];
extern const uint16_t kCharType1[256];

// Character-class flags of kCharType1.
enum : uint16_t {
  kCtUpper = 0x1,
  kCtLower = 0x2,
  kCtDigit = 0x4,
  kCtSpace = 0x8,
  kCtPunct = 0x10,
  kCtCntrl = 0x20,
  kCtBlank = 0x40,
  kCtXDigit = 0x80,
  kCtAlpha = 0x100,
  kCtDefined = 0x200,
};

inline char16_t Cp1252ToUtf16(uint8_t b) { return kCp1252ToUtf16[b]; }
inline char16_t Cp850ToUtf16(uint8_t b) { return kCp850ToUtf16[b]; }
inline uint16_t CharType1(uint8_t b) { return kCharType1[b]; }

// The byte of a UTF-16 unit in the code page, or -1 when the page lacks it.
int Utf16ToCp1252(char16_t u);
int Utf16ToCp850(char16_t u);

}  // namespace zorvane::platform
