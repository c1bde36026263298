// The physical type of a value (eZorPhysType): how a field is laid out in a
// record buffer, and which comparison searching and sorting use on it.
//
// The values are stored (one byte in field descriptions): keep them. 254 and
// 255 are generic types that resolve to 1 and 6. kZorPhysTypeCustom is no
// stored type: it stands for a caller's comparison function in the search
// and sort operations of arrays.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

enum eZorPhysType : int32_t {
  kZorPhysTypeCustom = -1,
  kZorPhysTypeAnsiChar = 1,     // one 8-bit character
  kZorPhysTypeUnicodeChar = 2,  // one UTF-16 code unit
  kZorPhysTypeShort = 3,        // signed 16-bit
  kZorPhysTypeLong = 4,         // signed 32-bit
  kZorPhysTypeQuad = 5,         // signed 64-bit
  kZorPhysTypeAnsiString = 6,   // 8-bit text, NUL-terminated
  kZorPhysTypeUnicodeStr = 7,   // UTF-16 text, NUL-terminated
  kZorPhysTypeDouble = 8,       // IEEE-754 binary64
  kZorPhysTypeDecimal = 9,      // a decimal's stored form (binary64)
  kZorPhysTypeDate = 10,        // a date's stored form (binary64)
  kZorPhysTypeBlob = 11,        // raw bytes of a given length
  kZorPhysTypeUuid = 12,        // a 16-byte GUID
  kZorPhysTypeBlobRef = 13,     // 32-bit reference to a blob kept elsewhere
  kZorPhysTypeChar = 254,       // generic character, resolves to AnsiChar
  kZorPhysTypeString = 255,     // generic string, resolves to AnsiString
};

}  // namespace zorvane
