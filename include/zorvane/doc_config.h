// The current document configuration: the separators, date order, money type,
// euro rate and date rules that number and date conversions read.
//
// There is one process-wide settings object. Its defaults are those of a
// French document. Conversions read it without locking, so it must not change
// while other threads convert; tests change it through ZorDocConfigScope,
// which restores the previous settings when it goes out of scope.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

// Order of the day, month and year fields of a date typed as text.
enum eZorDateOrder : int32_t {
  ZorDateOrderDMY = 1,
  ZorDateOrderDYM = 2,
  ZorDateOrderYDM = 3,
  ZorDateOrderMDY = 4,
  ZorDateOrderYMD = 5,
  ZorDateOrderMYD = 6,
};

struct ZOR_API ZorDocConfig {
  // Numbers: up to three accepted decimal separators and up to two accepted
  // thousands separators, NUL-terminated; the first of each is the one shown.
  char decimalSeps[4] = {',', '.', 0, 0};
  char thousandsSeps[3] = {' ', 0, 0};
  int32_t moneyType = 2;            // logical type that money (type 6) resolves to
  double euroRate = 6.55957;        // francs per euro

  // Dates: the accepted date separators (NUL-terminated, the first is shown),
  // the time separator, the field order and the two-digit-year rule.
  char dateSeps[8] = {'/', '-', '.', 0, 0, 0, 0, 0};
  char timeSep = ':';
  eZorDateOrder dateOrder = ZorDateOrderDMY;
  bool twoDigitYearRule = true;     // years 0..99 map to 19xx / 20xx by the pivot
  int32_t yearPivot = 50;           // two-digit years above the pivot become 19xx
  bool endOfMonthCorrection = false;// 31/04 becomes 30/04 instead of failing
  bool weekRule = true;             // a year starting on Thursday has a week 1 on 1 January
  char datePattern[32] = "D/M/CY";  // the default pattern (ToStr, formatter type d)
  char datePattern2[32] = "J D O CY";  // the second pattern (formatter type D)
  double storedDate1 = 0;           // the two stored dates of the move codes -9 and -8
  double storedDate2 = 0;
  double workDate = 0;              // 0: today

  int32_t debugLevel = 0;           // 2 and more add the source location to error texts
};

// The current settings (never null).
ZOR_API const ZorDocConfig& ZorGetDocConfig();
// Replaces the current settings.
ZOR_API void ZorSetDocConfig(const ZorDocConfig& config);

// Sets other settings for its lifetime, then puts the previous ones back.
class ZOR_API ZorDocConfigScope {
 public:
  explicit ZorDocConfigScope(const ZorDocConfig& config);
  ~ZorDocConfigScope();
  ZorDocConfigScope(const ZorDocConfigScope&) = delete;
  ZorDocConfigScope& operator=(const ZorDocConfigScope&) = delete;

 private:
  ZorDocConfig _saved;
};

}  // namespace zorvane
