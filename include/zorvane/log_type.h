// The logical type of a value (eZorLogType) and its classification helpers.
//
// A logical type says how a value is to be read and shown: 0 to 4 are numbers
// with that many decimals, 5 a free-precision number (8 decimals), 6 money
// (resolved through the document configuration's money type), 7 an integer;
// 8 and above are dates, texts and binary kinds, 19 a boolean. The type is
// stored as a 32-bit value (one byte in field descriptions).
#pragma once

#include <zorvane/types.h>

namespace zorvane {

enum eZorLogType : int32_t {
  kZorLogTypeDec0 = 0,
  kZorLogTypeDec1 = 1,
  kZorLogTypeDec2 = 2,
  kZorLogTypeDec3 = 3,
  kZorLogTypeDec4 = 4,
  kZorLogTypeFloat = 5,
  kZorLogTypeMoney = 6,
  kZorLogTypeInt = 7,
  kZorLogTypeDate = 8,
  kZorLogTypeText = 9,
  kZorLogTypeTime = 10,
  kZorLogTypeDelay = 11,
  kZorLogTypeData = 12,
  kZorLogTypePict = 13,
  kZorLogTypeSound = 14,
  kZorLogTypeRichTxt = 15,
  kZorLogTypeColor = 16,
  kZorLogTypeIcon = 17,
  kZorLogTypePassWord = 18,
  kZorLogTypeBoolean = 19,
};

// The class of a type for comparisons: numbers (0-7 and 19) give Int, a date
// gives Date, everything else Text.
ZOR_API eZorLogType ZorReduceLogType(eZorLogType type);

// `type` when it is a numeric type (7 or below), else `dflt`.
ZOR_API eZorLogType ZorForceLogTypeNum(eZorLogType type, eZorLogType dflt);

// Classifies a text typed by a user: Int for a number (read with the
// configuration's separators), Time for h:mm[:ss], Date for two or three
// groups of digits joined by the configuration's date separators, Text for
// anything else (the empty text included).
ZOR_API eZorLogType ZorExpToLogType(const char* text);

}  // namespace zorvane
