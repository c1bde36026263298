// Rules of `decimal` shared by its arithmetic (decimal.cpp) and its text
// forms (decimal_text.cpp): how type 6 resolves, the rounding factor and the
// shown decimals of each logical type, and the null test.
#pragma once

#include <zorvane/decimal.h>
#include <zorvane/doc_config.h>

namespace zorvane::decimal_rules {

constexpr int32_t kTypeCount = 20;

// Type 6 (money) is the configuration's money type; others are themselves.
inline int32_t ResolveType(eZorLogType type) {
  return type == kZorLogTypeMoney ? ZorGetDocConfig().moneyType : static_cast<int32_t>(type);
}

// The factor of a resolved type, 0 when it has none.
inline double FactorOf(int32_t resolved) {
  return (resolved >= 0 && resolved < kTypeCount) ? kZorDecimalFactor[resolved] : 0;
}

// Decimals shown for a resolved type; -1 for a type without a text form
// (only 0-5 and 7 have one).
inline int32_t DecimalsOf(int32_t resolved) {
  if (resolved >= kZorLogTypeDec0 && resolved <= kZorLogTypeDec4) return resolved;
  if (resolved == kZorLogTypeFloat) return 8;
  return resolved == kZorLogTypeInt ? 0 : -1;
}

inline bool IsNullValue(double v) { return v >= -decimal::kNullEpsilon && v <= decimal::kNullEpsilon; }

}  // namespace zorvane::decimal_rules
