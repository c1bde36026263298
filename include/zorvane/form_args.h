// ZorFormArgs: the arguments of one message formatting call, as the
// formatter reads them, and how many there are.
//
// A pattern names its arguments by index ("^3s"), and a pattern often comes
// from data (a catalogue entry, a named text, a caller's message), so the
// formatter must know which arguments were really passed: a C variadic
// call cannot tell it. The formatting entry points are therefore templates
// that pack their arguments here, each into one 64-bit slot (integers
// widened, pointers as addresses), with their count; a placeholder whose
// index is not below the count is treated as a malformed one (copied as it
// stands), never read.
//
// Accepted argument types are those of the pattern types: integers, enums
// and pointers. A floating-point value or an object is refused at compile
// time, as passing one through "..." was.
#pragma once

#include <zorvane/types.h>

#include <cstdint>
#include <type_traits>

namespace zorvane {

class ZorFormArgs {
 public:
  // Indexes are one digit.
  static constexpr int32_t kMaxArgs = 10;

  template <class... A>
  static ZorFormArgs Of(A... args) {
    static_assert(sizeof...(A) <= kMaxArgs, "a pattern addresses at most ten arguments");
    ZorFormArgs out;
    out._count = static_cast<int32_t>(sizeof...(A));
    int32_t i = 0;
    ((out._slots[i++] = ToSlot(args)), ...);
    return out;
  }

  int32_t Count() const { return _count; }
  const uint64_t* Slots() const { return _slots; }

 private:
  template <class T>
  static uint64_t ToSlot(T v) {
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<uintptr_t>(v);
    } else if constexpr (std::is_null_pointer_v<T>) {
      return 0;
    } else if constexpr (std::is_enum_v<T>) {
      return static_cast<uint64_t>(static_cast<std::underlying_type_t<T>>(v));
    } else {
      static_assert(std::is_integral_v<T>, "format arguments are integers or pointers");
      return static_cast<uint64_t>(v);
    }
  }

  int32_t _count = 0;
  uint64_t _slots[kMaxArgs] = {};
};

}  // namespace zorvane
