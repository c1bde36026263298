// Option strings: lists of named values such as
//     -Mode=2 -Title='l\'an' -Verbose -Body=$x$any text$x$
// Options are separated by a space or a line feed; each is "-" and a name,
// optionally "=" and a value. A value is plain (a number), quoted (between
// apostrophes or double quotes, the quote and the backslash escaped by a
// backslash) or a tagged block: "$", a tag, "$", the text, and the same
// "$tag$" again.
//
// Searching scans the text from the start: a "-" followed by the name (any
// case, same length) and by "=", a space, "-", a control character or the end
// is the option. Quoted values and tagged blocks (recognised right after an
// "=") are skipped whole, so that nothing inside them ever matches; plain
// values are scanned like the rest, which is why a numeric value ends at the
// next "-".
//
// Writers replace: an option is always removed (every occurrence) before it
// is written again, so a name occurs at most once in what they build.
#include <zorvane/decimal.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/string.h>

#include <cstring>

#include "foundation/text/number_text.h"

namespace zorvane {

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);
constexpr const char* kSource = "string\\ZorStrOpt";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }
bool IsQuote(char c) { return c == '\'' || c == '"'; }
bool IsNameEnd(char c) { return c == '=' || c == ' ' || c == '-' || IsControl(c); }
bool IsPlainEnd(char c) { return c == ' ' || IsControl(c); }

// The end of the quoted value whose opening quote is at text[at] (past the
// closing quote, or the end of the text).
size_t EndOfQuoted(const char* text, size_t at) {
  const char quote = text[at++];
  while (text[at] != 0 && text[at] != quote) {
    if (text[at] == '\\' && (text[at + 1] == quote || text[at + 1] == '\\'))
      at += 2;
    else
      ++at;
  }
  return text[at] == quote ? at + 1 : at;
}

// A tagged block starting at text[at] (a "$"): its text lies in
// [*inner, *innerEnd) and the block ends at *end. False when text[at] does not
// open a block (no second "$"); an unclosed block runs to the end.
bool ScanTagged(const char* text, size_t at, size_t* inner, size_t* innerEnd, size_t* end) {
  const char* open = text + at;
  const char* tagEnd = strchr(open + 1, '$');
  if (tagEnd == nullptr) return false;
  const size_t delimLen = static_cast<size_t>(tagEnd - open) + 1;  // "$tag$"
  *inner = static_cast<size_t>(tagEnd + 1 - text);
  for (const char* p = strchr(tagEnd + 1, '$'); p != nullptr; p = strchr(p + 1, '$')) {
    if (strncmp(p, open, delimLen) == 0) {
      *innerEnd = static_cast<size_t>(p - text);
      *end = *innerEnd + delimLen;
      return true;
    }
  }
  *innerEnd = *end = strlen(text);
  return true;
}

// Where a quoted value or tagged block starting at text[at] ends; `at` itself
// when none starts there.
size_t SkipEnclosedValue(const char* text, size_t at) {
  if (IsQuote(text[at])) return EndOfQuoted(text, at);
  size_t inner, innerEnd, end;
  if (text[at] == '$' && ScanTagged(text, at, &inner, &innerEnd, &end)) return end;
  return at;
}

bool NameAt(const char* text, const char* name, size_t nameLen) {
  for (size_t i = 0; i < nameLen; ++i)
    if (text[i] == 0 || ZorToUpper(text[i]) != ZorToUpper(name[i])) return false;
  return IsNameEnd(text[nameLen]);
}

// Position of the "-" of the first option `name` at or after `from`.
size_t FindOption(const char* text, const char* name, size_t from = 0) {
  const size_t nameLen = strlen(name);
  if (text == nullptr || nameLen == 0) return kNotFound;
  size_t i = from;
  while (text[i] != 0) {
    if (text[i] == '=') {
      i = SkipEnclosedValue(text, i + 1);
    } else if (text[i] == '-' && NameAt(text + i + 1, name, nameLen)) {
      return i;
    } else {
      ++i;
    }
  }
  return kNotFound;
}

// The end of the option whose "-" is at `start`.
size_t EndOfOption(const char* text, size_t start, size_t nameLen) {
  size_t at = start + 1 + nameLen;
  if (text[at] != '=') return at;
  ++at;
  const size_t enclosed = SkipEnclosedValue(text, at);
  if (enclosed != at) return enclosed;
  while (!IsPlainEnd(text[at])) ++at;
  return at;
}

// Removes one option and the one separator that kept it from its neighbours.
void RemoveAt(string* dst, size_t start, size_t nameLen) {
  const char* text = dst->CStr();
  size_t end = EndOfOption(text, start, nameLen);
  if (start > 0 && text[start - 1] == ' ')
    --start;
  else if (text[end] == ' ' || text[end] == '\n')
    ++end;
  dst->Delete(static_cast<uint32_t>(start), static_cast<uint32_t>(end));
}

void RemoveAll(string* dst, const char* name) {
  const size_t nameLen = strlen(name);
  for (size_t at; (at = FindOption(dst->CStr(), name)) != kNotFound;) RemoveAt(dst, at, nameLen);
}

// The common start of every writer: base, removal, then " -name" when the
// name is not empty (false when it is).
bool BeginOption(string* dst, const char* name, const char* base) {
  if (base != nullptr) ZorNotNull(dst, kSource)->Assign(base);
  ZorNotNull(dst, kSource);
  if (name == nullptr || *name == 0) return false;
  RemoveAll(dst, name);
  if (!dst->IsEmpty() && (*dst)[dst->Len() - 1] != '\n') *dst += ' ';
  *dst += '-';
  *dst += name;
  return true;
}

void AppendQuoted(string* dst, const char* value) {
  const char quote = strchr(value, '\'') != nullptr && strchr(value, '"') == nullptr ? '"' : '\'';
  *dst += quote;
  for (const char* p = value; *p != 0; ++p) {
    if (*p == quote || *p == '\\') *dst += '\\';
    *dst += *p;
  }
  *dst += quote;
}

// Builds "$tag$value$tag$" with the first tag of "", "1", "2", ... for which
// the reader gives the whole value back (the value may hold any "$tag$").
void BuildBlock(const char* value, string* block) {
  const size_t valueLen = strlen(value);
  char tag[numtext::kNumberTextMax];
  for (uint64_t n = 0;; ++n) {
    const int32_t tagLen = n == 0 ? 0 : static_cast<int32_t>(numtext::WriteUnsigned(n, tag));
    block->Assign("$");
    block->Insert(block->Len(), tag, tagLen);
    *block += '$';
    *block += value;
    *block += '$';
    block->Insert(block->Len(), tag, tagLen);
    *block += '$';
    size_t inner, innerEnd, end;
    if (ScanTagged(block->CStr(), 0, &inner, &innerEnd, &end) && innerEnd - inner == valueLen) return;
  }
}

// Where the value of the option named `name` starts (just past "="); the
// length of the text when the option is a flag. False when it is missing.
bool FindValue(const char* options, const char* name, size_t* valueAt, bool* hasValue) {
  if (name == nullptr) return false;
  const size_t at = FindOption(options, name);
  if (at == kNotFound) return false;
  const size_t afterName = at + 1 + strlen(name);
  *hasValue = options[afterName] == '=';
  *valueAt = *hasValue ? afterName + 1 : afterName;
  return true;
}

void Unquote(const char* text, size_t at, string* value) {
  const char quote = text[at];
  value->Clear();
  for (size_t i = at + 1; text[i] != 0 && text[i] != quote; ++i) {
    if (text[i] == '\\' && (text[i + 1] == quote || text[i + 1] == '\\')) ++i;
    *value += text[i];
  }
}

void ValueText(const char* text, size_t at, string* value) {
  size_t inner, innerEnd, end;
  if (IsQuote(text[at])) {
    Unquote(text, at, value);
  } else if (text[at] == '$' && ScanTagged(text, at, &inner, &innerEnd, &end)) {
    value->Assign(text + inner, static_cast<int32_t>(innerEnd - inner));
  } else {
    size_t stop = at;
    while (!IsPlainEnd(text[stop])) ++stop;
    value->Assign(text + at, static_cast<int32_t>(stop - at));
  }
}

// The numeric text of a value: an optional leading "-", then the digits and
// decimal points ("," read as ".") up to the next "-" or the end.
void NumericText(const char* text, size_t at, string* number) {
  number->Clear();
  if (text[at] == '-') *number += text[at++];
  for (; text[at] != 0 && text[at] != '-'; ++at) {
    const char c = text[at];
    if (c >= '0' && c <= '9') *number += c;
    else if (c == '.' || c == ',') *number += '.';
  }
}

// The integer part of a numeric text, wrapping on overflow.
uint64_t IntegerPart(const char* number, bool* negative) {
  *negative = *number == '-';
  if (*negative) ++number;
  uint64_t v = 0;
  for (; *number >= '0' && *number <= '9'; ++number) v = v * 10 + static_cast<uint64_t>(*number - '0');
  return v;
}

bool ReadInteger(const char* options, const char* name, uint64_t* value, bool* negative) {
  *value = 0;
  *negative = false;
  size_t at;
  bool hasValue;
  if (!FindValue(options, name, &at, &hasValue)) return false;
  if (!hasValue) return true;
  string number;
  NumericText(options, at, &number);
  *value = IntegerPart(number.CStr(), negative);
  return true;
}

const char* AddRaw(string* dst, const char* name, const char* raw, size_t rawLen, const char* base) {
  if (BeginOption(dst, name, base)) {
    *dst += '=';
    dst->Insert(dst->Len(), raw, static_cast<int32_t>(rawLen));
  }
  return dst->CStr();
}

}  // namespace

// ---------------------------------------------------------------- writers

const char* ZorAddStrOpt(string* dst, const char* name, const char* value, const char* base) {
  if (BeginOption(dst, name, base) && value != nullptr) {
    *dst += '=';
    AppendQuoted(dst, value);
  }
  return dst->CStr();
}

const char* ZorAddStrOptBool(string* dst, const char* name, bool value, const char* base) {
  return value ? ZorAddStrOpt(dst, name, nullptr, base) : ZorDelStrOpt(dst, name, base);
}

const char* ZorAddStrOptLong(string* dst, const char* name, int32_t value, const char* base) {
  char digits[numtext::kNumberTextMax];
  return AddRaw(dst, name, digits, numtext::WriteSigned(value, digits), base);
}

const char* ZorAddStrOptQuad(string* dst, const char* name, int64_t value, const char* base) {
  char digits[numtext::kNumberTextMax];
  return AddRaw(dst, name, digits, numtext::WriteSigned(value, digits), base);
}

const char* ZorAddStrOptDecimal(string* dst, const char* name, const decimal* value, const char* base) {
  string number;
  if (value != nullptr) value->ToKernel(&number, kZorLogTypeFloat);
  return AddRaw(dst, name, number.CStr(), number.Len(), base);
}

const char* ZorAddStrCDataOpt(string* dst, const char* name, const char* value, const char* base) {
  string block;
  BuildBlock(value != nullptr ? value : "", &block);
  return AddRaw(dst, name, block.CStr(), block.Len(), base);
}

const char* ZorDelStrOpt(string* dst, const char* name, const char* base) {
  if (base != nullptr) ZorNotNull(dst, kSource)->Assign(base);
  ZorNotNull(dst, kSource);
  if (name != nullptr && *name != 0) RemoveAll(dst, name);
  return dst->CStr();
}

// ---------------------------------------------------------------- readers

bool ZorGetStrOpt(const char* options, const char* name, string* value) {
  if (value != nullptr) value->Clear();
  size_t at;
  bool hasValue;
  if (!FindValue(options, name, &at, &hasValue)) return false;
  if (hasValue && value != nullptr) ValueText(options, at, value);
  return true;
}

bool ZorGetStrOptBool(const char* options, const char* name) {
  size_t at;
  bool hasValue;
  return FindValue(options, name, &at, &hasValue);
}

bool ZorGetStrOptLong(const char* options, const char* name, int32_t* value) {
  uint64_t magnitude;
  bool negative;
  const bool found = ReadInteger(options, name, &magnitude, &negative);
  const uint32_t low = static_cast<uint32_t>(magnitude);
  if (value != nullptr) *value = static_cast<int32_t>(negative ? 0u - low : low);
  return found;
}

bool ZorGetStrOptQuad(const char* options, const char* name, int64_t* value) {
  uint64_t magnitude;
  bool negative;
  const bool found = ReadInteger(options, name, &magnitude, &negative);
  if (value != nullptr) *value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
  return found;
}

bool ZorGetStrOptDecimal(const char* options, const char* name, decimal* value) {
  if (value != nullptr) value->Clear();
  size_t at;
  bool hasValue;
  if (!FindValue(options, name, &at, &hasValue)) return false;
  if (hasValue && value != nullptr) {
    string number;
    NumericText(options, at, &number);
    value->SetKernel(number.CStr(), kZorLogTypeFloat);
  }
  return true;
}

}  // namespace zorvane
