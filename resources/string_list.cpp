// Reading a string list (layout in <zorvane/string_list.h>).
//
// Init decodes everything once so that a look-up is a bounds check and an
// array read: the index's offsets become pointers (an offset is usable when
// a NUL follows it inside the index data, i.e. when it is at or before the
// last NUL there), and one walk over the cells marks the defined numbers and
// finds the symbolic names. The first cell at a place wins, as in every
// reader of the cell container; a count that claims more offsets than the
// index holds makes the whole index unusable. Bytes from outside are never
// read past their end.
#include <zorvane/string_list.h>

#include <zorvane/resource.h>

#include "platform/little_endian.h"
#include "resources/cell_layout.h"

#include <cstring>
#include <vector>

namespace zorvane {

namespace {

constexpr int32_t kIndexKind = 0;
constexpr int32_t kHeaderKind = 1;
constexpr int32_t kMessageKind = 2;
constexpr int32_t kGroupLine = 1;
constexpr int32_t kSymbolCol = 3;

// The text of a text cell, or null when its data holds no NUL.
const char* CellText(const dyna::Cell& c) {
  return std::memchr(c.data, 0, c.size) ? reinterpret_cast<const char*>(c.data) : nullptr;
}

}  // namespace

struct ZorStringList::State {
  std::vector<uint8_t> bytes;            // the unpacked cells
  std::vector<const char*> texts;        // by message number, [0] unused
  std::vector<const char*> symbols;      // by message number
  std::vector<bool> defined;             // by message number
  int32_t group = 0;

  bool ReadIndex(const dyna::Cell& c);
  void ReadCells();
};

bool ZorStringList::State::ReadIndex(const dyna::Cell& c) {
  if (c.size < 4) return false;
  const uint32_t count = platform::GetLE32(c.data);
  if (count > (c.size - 4) / 4 || count > INT32_MAX - 1) return false;
  const void* lastNul = nullptr;
  for (uint32_t at = c.size; at > 0 && !lastNul; --at) {
    if (c.data[at - 1] == 0) lastNul = c.data + at - 1;
  }
  texts.assign(count + 1, nullptr);
  for (uint32_t i = 1; i <= count; ++i) {
    const uint32_t offset = platform::GetLE32(c.data + 4 * i);
    if (lastNul && offset < c.size && c.data + offset <= lastNul) texts[i] = reinterpret_cast<const char*>(c.data + offset);
  }
  return true;
}

void ZorStringList::State::ReadCells() {
  const uint32_t n = static_cast<uint32_t>(bytes.size());
  bool haveIndex = false, haveGroup = false;
  std::vector<dyna::Cell> messages;
  dyna::Cell c;
  for (dyna::Walker w(bytes.data(), n); w.Next(&c);) {
    if (c.kind == kIndexKind && c.line == 0 && c.col == 0 && !haveIndex) {
      haveIndex = true;
      if (!ReadIndex(c)) texts.clear();
    } else if (c.kind == kHeaderKind && c.line == kGroupLine && c.col == 1 && !haveGroup) {
      haveGroup = true;
      if (c.size >= 4) group = static_cast<int32_t>(platform::GetLE32(c.data));
    } else if (c.kind == kMessageKind) {
      messages.push_back(c);
    }
  }
  const size_t slots = texts.empty() ? 0 : texts.size();
  defined.assign(slots, false);
  symbols.assign(slots, nullptr);
  std::vector<bool> symbolSeen(slots, false);
  for (const dyna::Cell& m : messages) {
    if (m.line <= 0 || static_cast<size_t>(m.line) >= slots) continue;
    defined[m.line] = true;
    if (m.col == kSymbolCol && !symbolSeen[m.line]) {
      symbolSeen[m.line] = true;
      symbols[m.line] = CellText(m);
    }
  }
}

ZorStringList::ZorStringList() : _s(std::make_unique<State>()) {}
ZorStringList::~ZorStringList() = default;

bool ZorStringList::Init(const void* data, uint32_t size) {
  ZorHandle h;
  h.Init(data, size);
  return Init(&h);
}

bool ZorStringList::Init(const ZorHandle* h) {
  _s = std::make_unique<State>();
  ZorHandle copy;
  copy.Init(h->GetSize());
  if (h->GetSize()) std::memcpy(copy.GetDatas(), h->GetDatas(), h->GetSize());
  ZorUnzipHandle(&copy);
  const auto* p = static_cast<const uint8_t*>(copy.GetDatas());
  _s->bytes.assign(p, p + copy.GetSize());
  _s->ReadCells();
  return !_s->texts.empty();
}

int32_t ZorStringList::GetCount() const {
  return _s->texts.empty() ? 0 : static_cast<int32_t>(_s->texts.size() - 1);
}

const char* ZorStringList::GetText(int32_t id) const {
  if (id <= 0 || static_cast<size_t>(id) >= _s->texts.size()) return nullptr;
  return _s->texts[id];
}

bool ZorStringList::IsDefined(int32_t id) const {
  return id > 0 && static_cast<size_t>(id) < _s->defined.size() && _s->defined[id];
}

const char* ZorStringList::GetSymbol(int32_t id) const {
  if (id <= 0 || static_cast<size_t>(id) >= _s->symbols.size() || !_s->symbols[id]) return "";
  return _s->symbols[id];
}

int32_t ZorStringList::GetGroup() const { return _s->group; }

}  // namespace zorvane
