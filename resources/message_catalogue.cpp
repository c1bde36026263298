// The message catalogue and its look-ups.
//
// The library's own string lists are compiled into one constant table
// (catalogue::kEntries, generated from resources/messages/ at build time),
// sorted by (module, group, number) with no duplicates, so a look-up is a
// binary search. A number without an entry reads as the empty text, whether
// it lies inside the list's range or past its end.
//
// Keyed lists hold entries "<key>:<text>" at places 1, 2, 3 ...; the keyed
// look-up walks the places from 1 up to the first empty one (at most 1000)
// and answers the text after the colon of the first entry with that key.
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

const Entry* Find(int32_t module, int32_t group, int32_t number) {
  const auto key = std::make_tuple(module, group, number);
  const Entry* end = kEntries + kEntryCount;
  const Entry* e = std::lower_bound(kEntries, end, key, [](const Entry& entry, const auto& k) {
    return std::make_tuple(entry.module, entry.group, entry.number) < k;
  });
  if (e == end || e->module != module || e->group != group || e->number != number) return nullptr;
  return e;
}

const char* Text(int32_t module, int32_t group, int32_t number) {
  const Entry* e = Find(module, group, number);
  return e ? e->text : "";
}

}  // namespace catalogue

namespace {

constexpr int32_t kMaxKeyedPlaces = 1000;

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

// Whether a keyed entry "<key>:<text>" (the key may be negative) has this
// key; *rest then points after the colon.
bool HasKey(const char* text, int32_t key, const char** rest) {
  const bool negative = *text == '-';
  int32_t value = 0;
  const char* p = ReadNumber(text + (negative ? 1 : 0), &value);
  if (!p || *p != ':' || (negative ? -static_cast<int64_t>(value) : value) != key) return false;
  *rest = p + 1;
  return true;
}

}  // namespace

const char* ZorLoadString(int32_t module, int32_t group, int32_t id, string* out) {
  return out->Assign(catalogue::Text(module, group, id));
}

const char* ZorLoadString(const char* ref, string* out) {
  int32_t module = 0, group = 0, id = 0;
  if (ZorParseMessageRef(ref, &module, &group, &id)) return ZorLoadString(module, group, id, out);
  return out->Assign(ref);
}

const char* ZorLoadStringIndex(int32_t module, int32_t group, int32_t key, string* out) {
  for (int32_t place = 1; place <= kMaxKeyedPlaces; ++place) {
    const char* text = catalogue::Text(module, group, place);
    if (!*text) break;
    const char* rest = nullptr;
    if (HasKey(text, key, &rest)) return out->Assign(rest);
  }
  return out->Clear();
}

const char* ZorGetStringIndexCst(int32_t module, int32_t group, int32_t place, string* out) {
  const catalogue::Entry* e = catalogue::Find(module, group, place);
  return out->Assign(e ? e->symbol : "");
}

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
