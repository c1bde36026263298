// The message formatter, the number-to-text functions and option strings.
//
// Message patterns. A pattern is copied to the result as it stands, except for
// its placeholders:
//   "^^"                    one "^";
//   "^" index [just width] type
//     index                 the argument, one digit 0-9 (arguments are taken
//                           by position, so one may be used several times);
//     just width            optional: C, L, R or Z (either case: centre,
//                           left, right, right with zeros) and a width of one
//                           or two digits; a letter alone sets no width;
//     type                  s S text; i I signed 32-bit decimal; x "0x" and 8
//                           hexadecimal digits; a 8 hexadecimal digits; p
//                           minimal hexadecimal digits; b low byte as two
//                           lower-case digits; w one character (0-255); q Q
//                           pointer to a 64-bit value, decimal; X A the same
//                           in hexadecimal, with and without "0x"; .d !d f F
//                           m M pointer to a decimal; d D t T h H pointer to a
//                           date; g G pointer to a 16-byte GUID, with and
//                           without braces; o O a byte count for people; y
//                           pointer to four 32-bit values, or null.
// A text longer than the width is cut with "..." (type s) or replaced by
// "#" characters (other types). A malformed placeholder is copied literally
// and reported on the debug channel; a bad argument (unreadable pointer,
// character above 255) stops the formatting: the rest of the pattern is
// copied from the failing "^" on. The formatter never throws.
//
// Argument passing: 32-bit integers are passed as such, everything 64-bit or
// larger by pointer, never a floating-point value. The variadic entry points
// are templates that count their arguments (zorvane/form_args.h): a
// placeholder past the arguments given is copied as it stands, like a
// malformed one. The va_list forms cannot know the count: they read as many
// arguments as the pattern names, which their caller must have passed.
//
// Option strings. A list of options separated by spaces or line feeds, each
// "-name" (a flag) or "-name=value", the value being a number, a quoted text
// ('...' or "...", with backslash escapes of the quote and of the backslash)
// or a tagged block $tag$text$tag$. Names match without regard to case.
// The writers take an optional `base`: when given, dst is first set to it.
// The readers return false, with the output empty or 0, when the option is
// missing.
#pragma once

#include <zorvane/form_args.h>
#include <zorvane/types.h>

#include <cstdarg>

namespace zorvane {

class string;
class decimal;

// ---------------------------------------------------------------- formatting
ZOR_API const char* ZorFormStringArgs(string* dst, const char* pattern, const ZorFormArgs& args);
ZOR_API const char* ZorFormStringV(string* dst, const char* pattern, va_list args);
// The pattern is entry (module, group, index) of the message catalogue.
ZOR_API const char* ZorFormStringArgs(string* dst, int32_t module, int32_t group, int32_t index,
                                      const ZorFormArgs& args);
// Into a caller's buffer, which must be large enough; returns dst.
ZOR_API char* ZorFormStringArgs(char* dst, const char* pattern, const ZorFormArgs& args);
ZOR_API char* ZorFormStringV(char* dst, const char* pattern, va_list args);

template <class... A>
const char* ZorFormString(string* dst, const char* pattern, A... args) {
  return ZorFormStringArgs(dst, pattern, ZorFormArgs::Of(args...));
}
template <class... A>
const char* ZorFormString(string* dst, int32_t module, int32_t group, int32_t index, A... args) {
  return ZorFormStringArgs(dst, module, group, index, ZorFormArgs::Of(args...));
}
template <class... A>
char* ZorFormString(char* dst, const char* pattern, A... args) {
  return ZorFormStringArgs(dst, pattern, ZorFormArgs::Of(args...));
}

// ---------------------------------------------------------------- numbers to text
// Each fills dst and returns its text.
ZOR_API const char* ZorLongToStr(int32_t v, string* dst);
ZOR_API const char* ZorLongToStrNz(int32_t v, string* dst);  // empty for 0
// Upper-case digits; eightDigits: exactly 8 with leading zeros, else minimal.
ZOR_API const char* ZorLongToStrHex(uint32_t v, string* dst, bool prefix = false, bool eightDigits = false);
ZOR_API const char* ZorQuadToStr(int64_t v, string* dst);
ZOR_API const char* ZorQuadToStrNz(int64_t v, string* dst);  // empty for 0
ZOR_API const char* ZorQuadToStrHex(uint64_t v, string* dst, bool prefix = false);
// Skips leading spaces, TABs, CRs and LFs, then reads hexadecimal digits
// (either case) up to the first other character; wraps beyond 16 digits.
ZOR_API int64_t ZorStrHexToQuad(const char* text);
// A size for people: "1 octet", "512 octets", "1.5 Ko", "-2 Mo" ...
ZOR_API const char* ZorLongToSize(int32_t bytes, string* dst);

// ---------------------------------------------------------------- option strings
// Writes "-name='value'" (or a bare flag "-name" for a null value) after
// removing any option of that name; an empty name only removes nothing.
ZOR_API const char* ZorAddStrOpt(string* dst, const char* name, const char* value, const char* base = nullptr);
// True writes the flag "-name", false removes the option.
ZOR_API const char* ZorAddStrOptBool(string* dst, const char* name, bool value, const char* base = nullptr);
ZOR_API const char* ZorAddStrOptLong(string* dst, const char* name, int32_t value, const char* base = nullptr);
ZOR_API const char* ZorAddStrOptQuad(string* dst, const char* name, int64_t value, const char* base = nullptr);
// The value in the decimal's canonical (kernel) form of the float type.
ZOR_API const char* ZorAddStrOptDecimal(string* dst, const char* name, const decimal* value,
                                        const char* base = nullptr);
// The value as a tagged block $tag$value$tag$, the tag chosen so that the
// value needs no escaping whatever it holds.
ZOR_API const char* ZorAddStrCDataOpt(string* dst, const char* name, const char* value,
                                      const char* base = nullptr);
// Removes every option of that name.
ZOR_API const char* ZorDelStrOpt(string* dst, const char* name, const char* base = nullptr);

// Whether the option is present; value (may be null) receives its text: a
// quoted value unquoted and unescaped, a tagged block's text, a plain value
// up to the next space or control character, empty for a flag.
ZOR_API bool ZorGetStrOpt(const char* options, const char* name, string* value);
// Whether the option is present (with or without a value).
ZOR_API bool ZorGetStrOptBool(const char* options, const char* name);
// Numeric values: an optional leading "-", the digits and the decimal point
// ("," read as "."), other characters skipped, up to the next "-" or the end.
// The integer readers drop the fraction and wrap on overflow. Every output
// pointer may be null (the result then only tells presence).
ZOR_API bool ZorGetStrOptLong(const char* options, const char* name, int32_t* value);
ZOR_API bool ZorGetStrOptQuad(const char* options, const char* name, int64_t* value);
ZOR_API bool ZorGetStrOptDecimal(const char* options, const char* name, decimal* value);

}  // namespace zorvane
