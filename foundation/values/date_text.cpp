// `date` as text: the pattern formatter, parsing in the six field orders,
// time stamps, names and the small texts of times, delays and relative days.
//
// Formatting walks the pattern once and writes every piece into a buffer on
// the stack; the caller's string is assigned once at the end (or fed in
// chunks of the buffer's size for very long outputs), so no piece allocates.
// Names and AM/PM come from the catalogue, module 1, group 105: weekdays
// 1-7 short and 8-14 long (Sunday first), months 15-26 short and 27-38 long,
// 39-42 "AM", "PM", "am", "pm", 43-49 the relative-day texts.
//
// Parsing splits the text into at most three numbers: digits accumulate into
// the current field, which ends at one separator of the accepted list or by
// itself when it reaches the width that the order gives it (so "050324"
// reads like "05/03/24"). A separator right after a field that ended by its
// width only confirms that end. The fields are then assigned by the order,
// completed from a reference date (or the work date) and checked. The rules
// travel in a ParseRules value so that the kernel form (day-month-year, "/")
// never touches the global configuration.
//
// Choices of this library where the date rules leave them open:
// - A null or empty reference date counts as no reference: missing parts come
//   from the document's work date.
// - Time stamps are the ISO 8601 text "YYYY-MM-DDTHH:MM:SS"; SetTimeStamp also
//   takes a space for the "T" and the date alone.
// - DelayStr reads the value as a duration in days and writes the total hours,
//   minutes and seconds ("-26:03:04").
#include <zorvane/date.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>

#include <cstring>

#include "foundation/values/date_calendar.h"
#include "foundation/services/text_source.h"

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorDates";
constexpr int32_t kNamesGroup = 105;
constexpr int32_t kShortWeekDay = 1;   // + weekday (0 = Sunday)
constexpr int32_t kLongWeekDay = 8;
constexpr int32_t kShortMonth = 14;    // + month (1 = January)
constexpr int32_t kLongMonth = 26;
constexpr int32_t kAmPm = 39;          // AM, PM, am, pm
constexpr int32_t kToday = 43;         // today, yesterday, tomorrow, 2 days ago, in 2 days
constexpr int32_t kDaysAgo = 48;       // "Il y a ^0i jours"
constexpr int32_t kInDays = 49;        // "Dans ^0i jours"

// ---------------------------------------------------------------- output

// Collects the pieces of one text and hands them to the caller's string.
class Writer {
 public:
  explicit Writer(string* dst) : _dst(ZorNotNull(dst, kSource)) {}
  void Put(char c) {
    if (_n == sizeof(_buf)) Flush();
    _buf[_n++] = c;
  }
  void Put(const char* p) {
    while (*p) Put(*p++);
  }
  void Two(int32_t v) {  // two digits, for values 0..99
    Put(static_cast<char>('0' + v / 10 % 10));
    Put(static_cast<char>('0' + v % 10));
  }
  void Number(int64_t v) {
    char tmp[24];
    int n = 0;
    const bool negative = v < 0;
    uint64_t u = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
      tmp[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (negative) Put('-');
    while (n) Put(tmp[--n]);
  }
  const char* Finish() {
    if (!_flushed) return _dst->Assign(_buf, static_cast<int32_t>(_n));
    Flush();
    return _dst->CStr();
  }

 private:
  void Flush() {
    if (!_flushed) {
      _dst->Assign(_buf, static_cast<int32_t>(_n));
      _flushed = true;
    } else {
      _dst->Insert(_dst->Len(), _buf, static_cast<int32_t>(_n));
    }
    _n = 0;
  }

  string* _dst;
  char _buf[256];
  size_t _n = 0;
  bool _flushed = false;
};

void PutCatalogue(Writer* out, int32_t id) {
  string text;
  texts::Load(1, kNamesGroup, id, &text);
  out->Put(text.CStr());
}

// ---------------------------------------------------------------- formatting

struct Moment {
  int64_t day;
  int32_t d, m, y, h, min, s;
};

Moment ReadMoment(double v) {
  const calendar::Split sp = calendar::SplitValue(v);
  const calendar::Civil c = calendar::CivilFromDay(sp.day);
  return {sp.day, c.d, c.m, c.y, sp.second / 3600, sp.second / 60 % 60, sp.second % 60};
}

struct FormatRules {
  char dateSep;
  char timeSep;
  int32_t pivot;
};

FormatRules ConfiguredFormat() {
  const ZorDocConfig& config = ZorGetDocConfig();
  return {config.dateSeps[0], config.timeSep, config.yearPivot};
}

// Copies a quoted run starting after its opening quote; two quotes in a row
// give one quote, there as outside a quoted run. Returns the position after
// the closing quote.
const char* PutQuoted(Writer* out, const char* p) {
  for (; *p; ++p) {
    if (*p != '\'') {
      out->Put(*p);
    } else if (p[1] == '\'') {
      out->Put('\'');
      ++p;
    } else {
      return p + 1;
    }
  }
  return p;
}

void PutUnknown(char c) { ZorDebugPrint("ZorDates: no date piece for the pattern character ^0i\n", int32_t{c}); }

bool PutNumberPiece(Writer* out, char c, const Moment& t, const date& value) {
  switch (c) {
    case 'D': out->Two(t.d); return true;
    case 'd': out->Number(t.d); return true;
    case 'M': out->Two(t.m); return true;
    case 'm': out->Number(t.m); return true;
    case 'H': out->Two(t.h); return true;
    case 'h': out->Number(t.h); return true;
    case 'I': out->Two(t.min); return true;
    case 'i': out->Number(t.min); return true;
    case 'S': out->Two(t.s); return true;
    case 's': out->Number(t.s); return true;
    case 'V': out->Two(t.h % 12); return true;
    case 'v': out->Number(t.h % 12); return true;
    case 'C': out->Number(t.y / 100); return true;
    case 'Y': out->Two(((t.y % 100) + 100) % 100); return true;
    case 'y': out->Number(((t.y % 10) + 10) % 10); return true;
    case 'W': out->Two(value.Get(ZorDateGetWeek)); return true;
    case 'w': out->Number(value.Get(ZorDateGetWeek)); return true;
    case 'x': out->Number(value.Get(ZorDateGetDayOfYear)); return true;
    default: return false;
  }
}

bool PutTextPiece(Writer* out, char c, const Moment& t, const FormatRules& rules) {
  switch (c) {
    case ' ': out->Put(' '); return true;
    case '/': out->Put(rules.dateSep); return true;
    case ':': out->Put(rules.timeSep); return true;
    case 'c':
      if (t.y <= 1900 + rules.pivot || t.y > 2000 + rules.pivot) out->Number(t.y / 100);
      return true;
    case 'T': out->Number((t.m + 2) / 3); out->Put("/4"); return true;
    case 't': out->Number((t.m + 2) / 3); return true;
    case 'E': out->Number((t.m + 5) / 6); out->Put("/2"); return true;
    case 'e': out->Number((t.m + 5) / 6); return true;
    case 'J': PutCatalogue(out, kLongWeekDay + calendar::SundayIndex(t.day)); return true;
    case 'j': PutCatalogue(out, kShortWeekDay + calendar::SundayIndex(t.day)); return true;
    case 'O': PutCatalogue(out, kLongMonth + t.m); return true;
    case 'o': PutCatalogue(out, kShortMonth + t.m); return true;
    case 'Z': PutCatalogue(out, kAmPm + (t.h > 12 ? 1 : 0)); return true;
    case 'z': PutCatalogue(out, kAmPm + 2 + (t.h > 12 ? 1 : 0)); return true;
    default: return false;
  }
}

const char* FormatValue(const date& value, const char* pattern, const FormatRules& rules, string* dst) {
  ZorNotNull(dst, kSource);
  if (!calendar::Readable(value.GetValue()) || pattern == nullptr) return dst->Clear();
  // The pattern may live in dst itself: read it from a copy then.
  string copy;
  if (pattern >= dst->CStr() && pattern <= dst->CStr() + dst->Len()) pattern = copy.Assign(pattern);
  const Moment t = ReadMoment(value.GetValue());
  Writer out(dst);
  for (const char* p = pattern; *p;) {
    const char c = *p++;
    if (c == '\'' && *p == '\'') {
      out.Put(*p++);
    } else if (c == '\'') {
      p = PutQuoted(&out, p);
    } else if (!PutNumberPiece(&out, c, t, value) && !PutTextPiece(&out, c, t, rules)) {
      PutUnknown(c);
    }
  }
  return out.Finish();
}

// ---------------------------------------------------------------- parsing

struct ParseRules {
  const char* seps;
  eZorDateOrder order;
  bool twoDigitYear;
  int32_t pivot;
  bool endOfMonth;
};

ParseRules ConfiguredParse(eZorDateOrder order) {
  const ZorDocConfig& config = ZorGetDocConfig();
  return {config.dateSeps, order, config.twoDigitYearRule, config.yearPivot, config.endOfMonthCorrection};
}

struct Fields {
  int32_t value[3] = {0, 0, 0};
  int32_t count = 0;
};

bool IsSeparator(const char* seps, char c) {
  for (size_t i = 0; i < sizeof(ZorDocConfig::dateSeps) && seps[i]; ++i) {
    if (seps[i] == c) return true;
  }
  return false;
}

void FieldWidths(eZorDateOrder order, int32_t widths[3]) {
  const bool yearFirst = order == ZorDateOrderYDM || order == ZorDateOrderYMD;
  const bool yearSecond = order == ZorDateOrderDYM || order == ZorDateOrderMYD;
  widths[0] = yearFirst ? 4 : 2;
  widths[1] = yearSecond ? 4 : 2;
  widths[2] = yearFirst || yearSecond ? 2 : 4;
}

// Splits the text into at most three numbers (see the top of this file).
bool Decode(const char* text, const ParseRules& rules, Fields* f) {
  int32_t widths[3];
  FieldWidths(rules.order, widths);
  int32_t digits = 0;
  bool closedByWidth = false;
  char last = 0;
  for (const char* p = text; *p; last = *p++) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      if (f->count == 3) return false;
      f->value[f->count] = f->value[f->count] * 10 + (c - '0');
      closedByWidth = ++digits == widths[f->count];
      if (closedByWidth) {
        ++f->count;
        digits = 0;
      }
    } else if (c != 0 && IsSeparator(rules.seps, c)) {
      if (digits > 0) {
        ++f->count;
        digits = 0;
      } else if (!closedByWidth) {
        return false;
      }
      closedByWidth = false;
    } else {
      return false;
    }
  }
  if (digits > 0) ++f->count;
  return !IsSeparator(rules.seps, last) || last == 0;
}

struct Dmy {
  int32_t d = 0, m = 0, y = 0;  // 0 = missing
};

Dmy Assign(const Fields& f, eZorDateOrder order) {
  const int32_t a = f.value[0], b = f.value[1], c = f.value[2];
  const bool monthFirst = order >= ZorDateOrderMDY;
  if (f.count == 1) return {a, 0, 0};
  if (f.count == 2) return monthFirst ? Dmy{b, a, 0} : Dmy{a, b, 0};
  switch (order) {
    case ZorDateOrderDYM: return {a, c, b};
    case ZorDateOrderYDM: return {b, c, a};
    case ZorDateOrderMDY: return {b, a, c};
    case ZorDateOrderYMD: return {c, b, a};
    case ZorDateOrderMYD: return {c, a, b};
    default: return {a, b, c};
  }
}

// Month and year of the reference, or of the work date without one.
void Completion(const date* ref, int32_t* m, int32_t* y) {
  date source;
  if (ref != nullptr && calendar::Readable(ref->GetValue())) {
    source = *ref;
  } else {
    source.WorkDate();
  }
  source.Get(nullptr, m, y);
}

bool ParseText(date* out, const char* text, const ParseRules& rules, const date* ref) {
  out->Clear();
  if (text == nullptr || *text == 0) return true;
  Fields f;
  if (!Decode(text, rules, &f) || f.count == 0) return false;
  Dmy v = Assign(f, rules.order);
  if (v.d == 0 || (f.count >= 2 && v.m == 0)) return false;
  const bool yearGiven = f.count == 3 && (v.y != 0 || rules.twoDigitYear);
  if (yearGiven && rules.twoDigitYear && v.y <= 99) v.y += v.y > rules.pivot ? 1900 : 2000;
  if (!yearGiven || v.m == 0) {
    int32_t refMonth = 0, refYear = 0;
    Completion(ref, &refMonth, &refYear);
    if (!yearGiven) v.y = refYear;
    if (v.m == 0) v.m = refMonth;
  }
  if (v.d > 31 || v.m < 1 || v.m > 12 || v.y < calendar::kFirstYear || v.y > calendar::kLastYear) return false;
  out->Set(v.d, v.m, v.y);
  for (int32_t d = v.d - 1; out->IsEmpty() && rules.endOfMonth && v.d >= 29 && d >= 28; --d) out->Set(d, v.m, v.y);
  return !out->IsEmpty();
}

// ---------------------------------------------------------------- small texts

const char* PutClock(int32_t seconds, bool withSeconds, char sep, string* dst) {
  Writer out(dst);
  out.Two(seconds / 3600);
  out.Put(sep);
  out.Two(seconds / 60 % 60);
  if (withSeconds) {
    out.Put(sep);
    out.Two(seconds % 60);
  }
  return out.Finish();
}

// Reads exactly `width` digits.
bool ReadDigits(const char*& p, int width, int32_t* value) {
  *value = 0;
  for (int i = 0; i < width; ++i, ++p) {
    if (*p < '0' || *p > '9') return false;
    *value = *value * 10 + (*p - '0');
  }
  return true;
}

bool ReadChar(const char*& p, char c) { return *p == c ? (++p, true) : false; }

}  // namespace

// ---------------------------------------------------------------- date members

const char* date::Format(const char* pattern, string* dst) const {
  return FormatValue(*this, pattern, ConfiguredFormat(), dst);
}

const char* date::ToStr(string* dst) const { return Format(ZorGetDocConfig().datePattern, dst); }

const char* date::ToKernel(string* dst) const {
  FormatRules rules = ConfiguredFormat();
  rules.dateSep = '/';
  return FormatValue(*this, "D/M/CY", rules, dst);
}

const char* date::ToStrForm(string* dst, int32_t form) const {
  const ZorDocConfig& config = ZorGetDocConfig();
  switch (form) {
    case 1: return Format(config.datePattern2, dst);
    case 2: {
      string pattern(config.datePattern);
      pattern += " H:I:S";
      return Format(pattern.CStr(), dst);
    }
    case 3: return ToTimeStr(dst, true);
    case 4: return ToTimeStampStr(dst);
    default: return ToStr(dst);
  }
}

const char* date::ToTimeStr(string* dst, bool withSeconds) const {
  return PutClock(calendar::SplitValue(_value).second, withSeconds, ZorGetDocConfig().timeSep, dst);
}

const char* date::TimeStr(int32_t seconds, string* dst, bool withSeconds) {
  seconds = ((seconds % 86400) + 86400) % 86400;
  return PutClock(seconds, withSeconds, ZorGetDocConfig().timeSep, dst);
}

const char* date::DelayStr(string* dst) const {
  const double seconds = _value * 86400.0;
  const bool negative = seconds < 0;
  const int64_t total = static_cast<int64_t>((negative ? -seconds : seconds) + 0.5);
  const char sep = ZorGetDocConfig().timeSep;
  Writer out(dst);
  if (negative && total != 0) out.Put('-');
  out.Number(total / 3600);
  out.Put(sep);
  out.Two(static_cast<int32_t>(total / 60 % 60));
  out.Put(sep);
  out.Two(static_cast<int32_t>(total % 60));
  return out.Finish();
}

const char* date::GetRelativeStr(string* dst, const date* ref) const {
  ZorNotNull(dst, kSource);
  if (!calendar::Readable(_value)) return dst->Clear();
  date base;
  if (ref != nullptr && calendar::Readable(ref->_value)) {
    base = *ref;
  } else {
    base.Today(false, true);
  }
  const int64_t days = Diff(&base, ZorDateDiffDays);
  // 0, -1, +1, -2, +2 have their own words.
  constexpr int32_t kWord[5] = {kToday + 3, kToday + 1, kToday, kToday + 2, kToday + 4};
  if (days >= -2 && days <= 2) return texts::Load(1, kNamesGroup, kWord[days + 2], dst);
  const int32_t count = static_cast<int32_t>(days < 0 ? -days : days);
  return dst->Format(1, kNamesGroup, days < 0 ? kDaysAgo : kInDays, count);
}

const char* date::GetDayName(int32_t weekday, string* dst, bool longName, bool mondayFirst) {
  ZorNotNull(dst, kSource);
  if (weekday < 0 || weekday > 6) return dst->Clear();
  const int32_t sunday0 = mondayFirst ? (weekday + 1) % 7 : weekday;
  return texts::Load(1, kNamesGroup, (longName ? kLongWeekDay : kShortWeekDay) + sunday0, dst);
}

const char* date::GetMonthName(int32_t month, string* dst, bool longName) {
  ZorNotNull(dst, kSource);
  if (month < 1 || month > 12) return dst->Clear();
  return texts::Load(1, kNamesGroup, (longName ? kLongMonth : kShortMonth) + month, dst);
}

bool date::Set(const char* text, const date* ref, bool /*strict*/) {
  return ParseText(this, text, ConfiguredParse(ZorGetDocConfig().dateOrder), ref);
}

bool date::Set(const char* text, eZorDateOrder order, const date* ref, bool /*strict*/) {
  if (order < ZorDateOrderDMY || order > ZorDateOrderMYD) order = ZorDateOrderDMY;
  return ParseText(this, text, ConfiguredParse(order), ref);
}

bool date::SetKernel(const char* text, const date* ref, bool /*strict*/) {
  ParseRules rules = ConfiguredParse(ZorDateOrderDMY);
  rules.seps = "/";
  return ParseText(this, text, rules, ref);
}

bool date::SetTimeStamp(const char* text) {
  _value = 0;
  if (text == nullptr || *text == 0) return true;
  const char* p = text;
  int32_t y, m, d, h = 0, min = 0, s = 0;
  if (!ReadDigits(p, 4, &y) || !ReadChar(p, '-') || !ReadDigits(p, 2, &m) || !ReadChar(p, '-') ||
      !ReadDigits(p, 2, &d)) {
    return false;
  }
  if (*p != 0 && (!(ReadChar(p, 'T') || ReadChar(p, ' ')) || !ReadDigits(p, 2, &h) || !ReadChar(p, ':') ||
                  !ReadDigits(p, 2, &min) || !ReadChar(p, ':') || !ReadDigits(p, 2, &s) || *p != 0)) {
    return false;
  }
  return Set(d, m, y, nullptr, h, min, s);
}

const char* date::ToTimeStampStr(string* dst) const {
  ZorNotNull(dst, kSource);
  if (!calendar::Readable(_value)) return dst->Clear();
  const Moment t = ReadMoment(_value);
  Writer out(dst);
  out.Number(t.y);
  out.Put('-');
  out.Two(t.m);
  out.Put('-');
  out.Two(t.d);
  out.Put('T');
  out.Two(t.h);
  out.Put(':');
  out.Two(t.min);
  out.Put(':');
  out.Two(t.s);
  return out.Finish();
}

}  // namespace zorvane
