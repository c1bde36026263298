// Reverse look-ups of the code-page tables. Units below 0x80 map to
// themselves in both pages; the others go through a sorted copy of the
// table's upper half built once.
#include "platform/codepage.h"

#include <algorithm>
#include <array>

namespace zorvane::platform {

namespace {

struct ReverseEntry {
  char16_t unit;
  uint8_t byte;
};

using ReverseTable = std::array<ReverseEntry, 128>;

ReverseTable BuildReverse(const char16_t* forward) {
  ReverseTable table{};
  for (int b = 128; b < 256; ++b) table[b - 128] = {forward[b], static_cast<uint8_t>(b)};
  std::sort(table.begin(), table.end(),
            [](const ReverseEntry& a, const ReverseEntry& b) { return a.unit < b.unit; });
  return table;
}

int Lookup(const ReverseTable& table, char16_t u) {
  if (u < 0x80) return u;
  auto it = std::lower_bound(table.begin(), table.end(), u,
                             [](const ReverseEntry& e, char16_t v) { return e.unit < v; });
  return (it != table.end() && it->unit == u) ? it->byte : -1;
}

}  // namespace

int Utf16ToCp1252(char16_t u) {
  static const ReverseTable table = BuildReverse(kCp1252ToUtf16);
  return Lookup(table, u);
}

int Utf16ToCp850(char16_t u) {
  static const ReverseTable table = BuildReverse(kCp850ToUtf16);
  return Lookup(table, u);
}

}  // namespace zorvane::platform
