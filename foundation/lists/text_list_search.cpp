// ZorTxtList: searching, uniqueness, sorting and renumbering.
//
// Find compares a "subject" with a "pattern": normally the item's part is
// the subject and the search text the pattern; the swap offset exchanges
// them. Text comparisons ignore case through the `string` operators and
// Contain/StartWith/EndWith (whose empty pattern matches the empty subject
// only). For the identifier kind with a non-empty search text the ordering
// operators compare numbers: the identifier with the text's leading decimal
// value; an item without identifier then falls back to the text comparison
// of its empty part.
//
// Uniqueness uses one hash table of case-folded parts (ZorToUpper is the
// fold of the case-insensitive equality), so it stays linear in the count.
#include <zorvane/format.h>
#include <zorvane/string.h>
#include <zorvane/text_list.h>

#include "foundation/lists/text_list_item.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace zorvane {

namespace {

constexpr char kFindIdSep = ':';

enum class Order { kLess, kEqual, kGreater };

bool IsOrdering(int32_t op) {
  return op == ZorTxtOpGreater || op == ZorTxtOpLess || op == ZorTxtOpLessEqual || op == ZorTxtOpGreaterEqual;
}

// The leading value of a text: optional blanks and sign, then digits
// (saturated far beyond the 32-bit range).
int64_t LeadingValue(const char* text) {
  while (*text == ' ') ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t v = 0;
  for (; ZorIsDigit(*text); ++text)
    if (v < (int64_t{1} << 40)) v = v * 10 + (*text - '0');
  return negative ? -v : v;
}

bool OrderSatisfies(Order o, int32_t op) {
  switch (op) {
    case ZorTxtOpGreater: return o == Order::kGreater;
    case ZorTxtOpLess: return o == Order::kLess;
    case ZorTxtOpLessEqual: return o != Order::kGreater;
    default: return o != Order::kLess;  // ZorTxtOpGreaterEqual
  }
}

Order TextOrder(const string& subject, const string& pattern) {
  if (subject == pattern) return Order::kEqual;
  return subject < pattern ? Order::kLess : Order::kGreater;
}

bool TextSatisfies(const string& subject, const string& pattern, int32_t op) {
  switch (op) {
    case ZorTxtOpGreater:
    case ZorTxtOpLess:
    case ZorTxtOpLessEqual:
    case ZorTxtOpGreaterEqual: return OrderSatisfies(TextOrder(subject, pattern), op);
    case ZorTxtOpContains: return subject.Contain(pattern.CStr(), true) >= 0;
    case ZorTxtOpStartsWith: return subject.StartWith(pattern.CStr(), true);
    case ZorTxtOpEndsWith: return subject.EndWith(pattern.CStr(), true);
    case ZorTxtOpNotEqual: return subject != pattern;
    case ZorTxtOpNotContains: return subject.Contain(pattern.CStr(), true) < 0;
    case ZorTxtOpNotStartsWith: return !subject.StartWith(pattern.CStr(), true);
    case ZorTxtOpNotEndsWith: return !subject.EndWith(pattern.CStr(), true);
    default: return subject == pattern;
  }
}

// One Find: the operator without its swap offset, the search text and, for
// numeric ordering, its value.
struct Query {
  int32_t op;
  bool swapped;
  bool numeric;
  string text;
  int64_t value;
};

bool Matches(const sZorTxtItem& it, uint32_t kind, const Query& q, string* part) {
  if (q.numeric && (it.flags & ZorTxtHasId)) {
    const int64_t a = q.swapped ? q.value : it.id, b = q.swapped ? it.id : q.value;
    return OrderSatisfies(a < b ? Order::kLess : (a > b ? Order::kGreater : Order::kEqual), q.op);
  }
  txt_item::Part(it, kind, kFindIdSep, part);
  return q.swapped ? TextSatisfies(q.text, *part, q.op) : TextSatisfies(*part, q.text, q.op);
}

std::string FoldedKey(const char* text) {
  std::string key(text);
  for (char& c : key) c = ZorToUpper(c);
  return key;
}

}  // namespace

// ---------------------------------------------------------------- Find

int32_t ZorTxtList::Find(const char* text, uint32_t kind, int32_t start, int32_t op) const {
  if (GetNbItem() == 0) return -1;
  Query q;
  q.swapped = op >= ZorTxtOpSwap;
  q.op = q.swapped ? op - ZorTxtOpSwap : op;
  if (q.op == ZorTxtOpFirst) return 1;
  if (q.op == ZorTxtOpNone) return -1;
  q.text = text ? text : "";
  q.numeric = kind == ZorTxtKindId && !q.text.IsEmpty() && IsOrdering(q.op);
  q.value = q.numeric ? LeadingValue(q.text.CStr()) : 0;
  string part;
  const sZorTxtItem* slots = _slots();
  for (int32_t i = start < 1 ? 1 : start; i <= GetNbItem(); ++i)
    if (Matches(slots[i - 1], kind, q, &part)) return i;
  return -1;
}

int32_t ZorTxtList::GetLine(int32_t id, int32_t start) const {
  string text;
  return Find(ZorLongToStr(id, &text), ZorTxtKindId, start, ZorTxtOpEqual);
}

// ---------------------------------------------------------------- uniqueness

int32_t ZorTxtList::IsUnicItem(uint32_t kind, ZorTxtList* duplicates, char sep) const {
  if (duplicates) duplicates->Init(static_cast<const char*>(nullptr), 0, 0);
  if (GetNbItem() < 2) return 0;
  std::vector<std::string> keys(static_cast<size_t>(GetNbItem()));
  std::unordered_map<std::string, int32_t> first;
  string part;
  const sZorTxtItem* slots = _slots();
  for (int32_t i = 0; i < GetNbItem(); ++i) {
    keys[i] = FoldedKey(txt_item::Part(slots[i], kind, sep, &part));
    first.emplace(keys[i], i);
  }
  for (int32_t i = GetNbItem() - 1; i >= 1; --i) {
    if (first[keys[i]] == i) continue;
    if (!duplicates) return i + 1;
    duplicates->Add(txt_item::Part(slots[i], kind, sep, &part), i + 1, false);
  }
  return duplicates ? duplicates->GetNbItem() : 0;
}

// ---------------------------------------------------------------- ordering

void ZorTxtList::Sort(bool descending, bool byId) {
  if (GetNbItem() < 2) return;
  sZorTxtItem* slots = _slots();
  std::vector<string> codes;
  if (!byId) {
    codes.resize(static_cast<size_t>(GetNbItem()));
    for (int32_t i = 0; i < GetNbItem(); ++i) txt_item::Part(slots[i], ZorTxtKindCode, 0, &codes[i]);
  }
  std::vector<int32_t> order(static_cast<size_t>(GetNbItem()));
  for (int32_t i = 0; i < GetNbItem(); ++i) order[i] = i;
  auto before = [&](int32_t a, int32_t b) {
    if (descending) std::swap(a, b);
    return byId ? slots[a].id < slots[b].id : ZorStrICmp(codes[a].CStr(), codes[b].CStr()) < 0;
  };
  std::stable_sort(order.begin(), order.end(), before);
  std::vector<sZorTxtItem> sorted(static_cast<size_t>(GetNbItem()));
  for (int32_t i = 0; i < GetNbItem(); ++i) sorted[i] = slots[order[i]];
  std::copy(sorted.begin(), sorted.end(), slots);  // the heap strings move with their records
}

void ZorTxtList::Renum(int32_t first, int32_t step, int32_t from, int32_t to, bool all) {
  uint32_t next = static_cast<uint32_t>(first);  // wraps like the 32-bit identifiers it fills
  const int32_t last = to < GetNbItem() ? to : GetNbItem();
  sZorTxtItem* slots = _slots();
  for (int32_t i = from < 1 ? 1 : from; i <= last; ++i) {
    sZorTxtItem& it = slots[i - 1];
    if (!(it.flags & ZorTxtHasId) && !all) continue;
    it.flags |= ZorTxtHasId;
    it.id = static_cast<int32_t>(next);
    next += static_cast<uint32_t>(step);
  }
}

}  // namespace zorvane
