// Digits of integers written into caller buffers, without allocation: the
// building blocks of the number-to-text functions and of the formatter.
// Every writer returns the number of characters written and never writes a
// terminator; kNumberTextMax bytes always suffice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvane::numtext {

constexpr size_t kNumberTextMax = 24;

// Signed decimal, "-" for negatives.
size_t WriteSigned(int64_t v, char* out);
// Unsigned decimal.
size_t WriteUnsigned(uint64_t v, char* out);
// Upper-case hexadecimal with at least minDigits digits (leading zeros),
// "0x" in front when prefix.
size_t WriteHex(uint64_t v, char* out, bool prefix, int minDigits);

}  // namespace zorvane::numtext
