// ZorTable: values as text and as handles, text edits of a field, and the
// record's readable name.
//
// The text of a value, by physical type (the document configuration gives
// separators, date order and patterns):
// - integers (and enumerations, string lists): the signed decimal digits;
//   a boolean (logical type 19) is "1" or the empty text; a character
//   (AnsiChar or UnicodeChar of a logical type that is no number) is that
//   character, the empty text for 0;
// - Double and Decimal: decimal::ToStr with the field's numeric type (types
//   0 to 7, Float for the others), rounded to it; reading rounds the same way;
// - Date: the default pattern, followed by " H:I:S" when the value has a
//   time of day; reading takes a date, optionally followed by a blank and
//   H:I or H:I:S with the configured time separator;
// - texts: as they are (writing into the record buffer cuts them to the
//   declared length; the dynamic part keeps them whole);
// - Blob and BlobRef: the bytes up to the first 0 byte;
// - UUID: the 36-character form without braces, the empty text when null.
// A text the field cannot hold (a bad number or date, an integer outside
// the type's range) is refused.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "foundation/text/number_text.h"
#include "platform/codepage.h"
#include "platform/little_endian.h"
#include "tables/cursor/table_values.h"

namespace zorvane {

using namespace tcur;

namespace {

bool IsCharacter(const ValueRef& ref) {
  return !ref.word && (ref.type == kZorPhysTypeAnsiChar || ref.type == kZorPhysTypeUnicodeChar) &&
         ref.tfi.logType > kZorLogTypeInt && ref.tfi.logType != kZorLogTypeBoolean;
}

bool IsBoolean(const ValueRef& ref) { return ref.tfi.logType == kZorLogTypeBoolean; }

void CharacterText(const ValueRef& ref, int64_t code, string* out) {
  out->Clear();
  if (code == 0) return;
  if (ref.type == kZorPhysTypeAnsiChar) {
    *out += static_cast<char>(code);
  } else {
    const int b = platform::Utf16ToCp1252(static_cast<char16_t>(code));
    *out += b < 0 ? '?' : static_cast<char>(b);
  }
}

void DateText(double value, string* out) {
  date d;
  d.SetValue(value);
  if (d.IsEmpty() || !d.IsValid()) {
    out->Clear();
  } else {
    d.ToStrForm(out, value == std::floor(value) ? 0 : 2);
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// An integer text: blanks, a sign and digits read exactly; anything else
// through decimal's reading (separators, a fraction rounded away).
bool ParseInteger(const char* text, int64_t* out) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  const char* end = p + std::strlen(p);
  while (end > p && IsBlank(end[-1])) --end;
  const char* digits = *p == '+' ? p + 1 : p;
  auto [stop, err] = std::from_chars(digits, end, *out);
  if (err == std::errc() && stop == end && digits != end) return true;
  if (err == std::errc::result_out_of_range) return false;
  decimal d;
  if (!d.Set(text, kZorLogTypeInt) || !(std::fabs(d._getDouble()) < 9.2e18)) return false;
  *out = static_cast<int64_t>(d._getDouble());
  return true;
}

// "H:I" or "H:I:S" with the configured separator.
bool ParseClock(const char* p, int32_t* h, int32_t* m, int32_t* s) {
  const char sep = ZorGetDocConfig().timeSep;
  int32_t parts[3] = {0, 0, 0};
  int32_t count = 0;
  for (;;) {
    const char* start = p;
    while (*p >= '0' && *p <= '9' && p - start < 2) parts[count] = parts[count] * 10 + (*p++ - '0');
    if (p == start || ++count == 3 || *p != sep) break;
    ++p;
  }
  *h = parts[0], *m = parts[1], *s = parts[2];
  return count >= 2 && *p == 0;
}

bool ParseDate(const char* text, double* out) {
  string day(text);
  day.Trim();
  int32_t h = 0, m = 0, s = 0;
  const int32_t blank = day.PosRCh(' ');
  bool timed = false;
  if (blank > 0 && ParseClock(day.CStr() + blank + 1, &h, &m, &s)) {
    day.Trunc(static_cast<uint32_t>(blank));
    day.Trim();
    timed = true;
  }
  date d;
  if (!d.Set(day.CStr()) || (timed && (d.IsEmpty() || !d.SetTime(h, m, s)))) return false;
  *out = d.GetValue();
  return true;
}

}  // namespace

namespace tcur {

void ValueToText(const ValueRef& ref, const Value& v, string* out) {
  if (IsIntegerType(ref.type)) {
    if (IsBoolean(ref)) {
      *out = v.i ? "1" : "";
    } else if (IsCharacter(ref)) {
      CharacterText(ref, v.i, out);
    } else {
      char digits[numtext::kNumberTextMax];
      out->Assign(digits, static_cast<int32_t>(numtext::WriteSigned(v.i, digits)));
    }
  } else if (ref.type == kZorPhysTypeDate) {
    DateText(v.d, out);
  } else if (IsRealType(ref.type)) {
    decimal d;
    d._setDouble(v.d);
    if (std::isfinite(v.d)) d.ToStr(out, NumberType(ref.tfi));
    else out->Clear();
  } else if (IsTextType(ref.type)) {
    *out = v.s;
  } else if (ref.type == kZorPhysTypeUuid) {
    if (v.u.IsNull()) out->Clear();
    else v.u.GetValueStr(out, false);
  } else {
    const auto* p = static_cast<const char*>(v.h.GetDatas());
    const uint32_t n = v.h.GetSize();
    const void* end = n ? std::memchr(p, 0, n) : nullptr;
    out->Assign(p, static_cast<int32_t>(end ? static_cast<const char*>(end) - p : n));
  }
}

bool TextToValue(const ValueRef& ref, const char* text, Value* v) {
  if (!text) text = "";
  if (IsIntegerType(ref.type)) {
    if (IsCharacter(ref)) {
      const auto c = static_cast<uint8_t>(text[0]);
      v->i = ref.type == kZorPhysTypeAnsiChar || c == 0 ? c : platform::Cp1252ToUtf16(c);
      return true;
    }
    int64_t lo, hi;
    if (!ParseInteger(text, &v->i)) return false;
    if (IsBoolean(ref)) v->i = v->i != 0;
    return IntegerRange(ref, &lo, &hi) && v->i >= lo && v->i <= hi;
  }
  if (ref.type == kZorPhysTypeDate) return ParseDate(text, &v->d);
  if (IsRealType(ref.type)) {
    decimal d;
    if (!d.Set(text, NumberType(ref.tfi))) return false;
    v->d = d._getDouble();
    return true;
  }
  if (IsTextType(ref.type)) {
    v->s = text;
    return true;
  }
  if (ref.type == kZorPhysTypeUuid) {
    v->u.Clear();
    return *text == 0 || v->u.SetValueStr(text);
  }
  v->h.Init(text, static_cast<uint32_t>(std::strlen(text)));
  return true;
}

// Integers and binary64 values travel as their little-endian bytes in the
// element's width, texts as their characters, the rest as they are.
void ValueToHandle(const ValueRef& ref, const Value& v, ZorHandle* out) {
  uint8_t bytes[8];
  if (IsIntegerType(ref.type) || IsRealType(ref.type)) {
    const uint64_t raw = IsRealType(ref.type) ? std::bit_cast<uint64_t>(v.d) : static_cast<uint64_t>(v.i);
    platform::PutLE64(bytes, raw);
    const uint32_t width = ref.word ? 2 : IsRealType(ref.type) ? 8
                           : static_cast<uint32_t>(ZorGetPhysTypeSize(static_cast<eZorPhysType>(ref.type), 0));
    out->Init(bytes, width);
  } else if (IsTextType(ref.type)) {
    out->Init(v.s.CStr(), v.s.Len());
  } else if (ref.type == kZorPhysTypeUuid) {
    out->Init(v.u.GetBytes(), ZorUuid::kSize);
  } else {
    out->Copy(&v.h);
  }
}

bool HandleToValue(const ValueRef& ref, const ZorHandle* h, Value* v) {
  const auto* p = static_cast<const uint8_t*>(h->GetDatas());
  const uint32_t n = h->GetSize();
  if (IsIntegerType(ref.type) || IsRealType(ref.type)) {
    ZorHandle model;
    ValueToHandle(ref, *v, &model);
    if (n != model.GetSize()) return false;
    uint8_t bytes[8] = {};
    std::memcpy(bytes, p, n);
    const uint64_t raw = platform::GetLE64(bytes);
    if (IsRealType(ref.type)) {
      v->d = std::bit_cast<double>(raw);
    } else {
      const int shift = 64 - 8 * static_cast<int>(n);  // sign-extend the signed types
      v->i = ref.type == kZorPhysTypeAnsiChar || ref.type == kZorPhysTypeUnicodeChar || ref.word
                 ? static_cast<int64_t>(raw)
                 : static_cast<int64_t>(raw << shift) >> shift;
    }
    return true;
  }
  if (IsTextType(ref.type)) {
    v->s.Assign(reinterpret_cast<const char*>(p), static_cast<int32_t>(n));
    return true;
  }
  if (ref.type == kZorPhysTypeUuid) {
    if (n != ZorUuid::kSize) return false;
    v->u.SetBytes(p);
    return true;
  }
  v->h.Copy(h);
  return true;
}

}  // namespace tcur

// ------------------------------------------------------------------ members

const char* ZorTable::GetValStr(int32_t field, string* out, int32_t line, int32_t col) {
  GetVal(field, kZorTblFormText, ZorNotNull(out, kSource), line, col);
  return out->CStr();
}

bool ZorTable::SetValStr(int32_t field, const char* text, int32_t line, int32_t col) {
  return SetVal(field, kZorTblFormText, text ? text : "", line, col);
}

namespace {

// Each letter that follows no letter goes to upper case, the others to
// lower case.
void TitleWords(string* s) {
  bool inWord = false;
  for (uint32_t i = 0; i < s->Len(); ++i) {
    const char c = (*s)[i];
    (*s)[i] = inWord ? ZorToLower(c) : ZorToUpper(c);
    inWord = ZorIsAlpha(c);
  }
}

}  // namespace

bool ZorTable::ChangeVal(int32_t field, eZorTblChgVal how) {
  ValueRef ref;
  Value v;
  if (how < kZorTblChgTrim || how > kZorTblChgTitle1 || !ZorTableValues::Get(this, field, 0, 0, &ref, &v) ||
      !IsTextType(ref.type) || ref.where == ValueRef::kVirtual || (ref.tfi.flags & kZorTblFfRdOnly)) {
    return false;
  }
  switch (how) {
    case kZorTblChgTrim: v.s.Trim(); break;
    case kZorTblChgUpper: v.s.Upper(); break;
    case kZorTblChgLower: v.s.Lower(); break;
    case kZorTblChgTitle: TitleWords(&v.s); break;
    case kZorTblChgTitle1: v.s.Title(true); break;
  }
  return ZorTableValues::Write(this, ref, v);
}

const char* ZorTable::GetRecordName(string* out) {
  ZorNotNull(out, kSource)->Clear();
  if (!_desc || (_handler && _handler->GetRecordName(this, out))) return out->CStr();
  string part;
  for (int32_t which = 1; which <= 3; ++which) {
    const int32_t field = _desc->GetRecNameFid(which);
    if (field == 0 || GetValStr(field, &part)[0] == 0) continue;
    if (!out->IsEmpty()) *out += ' ';
    *out += part;
  }
  return out->CStr();
}

}  // namespace zorvane
