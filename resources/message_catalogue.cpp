// The message catalogue and its look-up.
//
// The library's own string lists are compiled into one constant table
// (catalogue::kEntries, generated from resources/messages/ at build time),
// sorted by (module, group, number) with no duplicates, so a look-up is a
// binary search. A list's "direct index" covers the numbers 1 to its highest
// message; numbers inside that range without a text read as the placeholder
// entry, numbers past it as nothing.
//
// A message reference is a text "]m,g,n": "]" followed by the module, the
// group and the number in decimal, separated by commas, each one non-zero
// and within 32 bits, and nothing after. Any other text is an ordinary text.
#include "resources/message_catalogue.h"

#include <zorvane/messages.h>
#include <zorvane/string.h>

#include <algorithm>
#include <tuple>

namespace zorvane {

namespace catalogue {

namespace {

// Where the placeholder of the direct index lives: list 100 ("standard
// texts") of the library, entry 16.
constexpr int32_t kUndefinedGroup = 100;
constexpr int32_t kUndefinedNumber = 16;

auto KeyOf(const Entry& e) { return std::make_tuple(e.module, e.group, e.number); }

// The first entry not below (module, group, number).
const Entry* LowerBound(int32_t module, int32_t group, int32_t number) {
  const auto key = std::make_tuple(module, group, number);
  return std::lower_bound(kEntries, kEntries + kEntryCount, key,
                          [](const Entry& e, const auto& k) { return KeyOf(e) < k; });
}

}  // namespace

const Entry* Find(int32_t module, int32_t group, int32_t number) {
  const Entry* e = LowerBound(module, group, number);
  if (e == kEntries + kEntryCount || e->module != module || e->group != group || e->number != number)
    return nullptr;
  return e;
}

const char* Text(int32_t module, int32_t group, int32_t number) {
  const Entry* e = Find(module, group, number);
  return e ? e->text : "";
}

int32_t HighestNumber(int32_t module, int32_t group) {
  if (group == INT32_MAX) return 0;
  const Entry* next = LowerBound(module, group + 1, INT32_MIN);
  if (next == kEntries) return 0;
  const Entry& last = next[-1];
  return (last.module == module && last.group == group) ? last.number : 0;
}

const char* UndefinedText() { return Text(1, kUndefinedGroup, kUndefinedNumber); }

}  // namespace catalogue

namespace {

// Reads a non-empty run of decimal digits into *value (at most INT32_MAX);
// returns the position after it, or null.
const char* ReadNumber(const char* p, int32_t* value) {
  if (*p < '0' || *p > '9') return nullptr;
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > INT32_MAX) return nullptr;
  }
  *value = static_cast<int32_t>(v);
  return p;
}

}  // namespace

bool ZorParseMessageRef(const char* text, int32_t* module, int32_t* group, int32_t* id) {
  if (!text || *text != ']') return false;
  int32_t m = 0, g = 0, n = 0;
  const char* p = ReadNumber(text + 1, &m);
  if (!p || m == 0 || *p != ',') return false;
  p = ReadNumber(p + 1, &g);
  if (!p || g == 0 || *p != ',') return false;
  p = ReadNumber(p + 1, &n);
  if (!p || n == 0 || *p != 0) return false;
  *module = m;
  *group = g;
  *id = n;
  return true;
}

}  // namespace zorvane
