// The path tree (see path_tree.h for the interface).
//
// Layout: `entries` is the array of entries, entry i at entries[i - 1]. An
// entry is live while its count is above 0; its count is the number of ZorFsa
// holding it plus the number of live children (each live child holds one
// reference on its parent). A free entry has count 0, an empty name and is in
// no index; free slots are kept in a max-heap so that an addition reuses the
// highest one, and free slots at the end of the array are cut off, so the
// array never ends with a free entry.
//
// Lookup: `slots` is an open-addressing hash set (linear probing, capacity a
// power of two, at most half full) of the indexes of live entries, hashed on
// (parent index, name). Below a parent that folds case the name is hashed
// upper-cased, with the same table as the library's case-insensitive
// comparison, so two names that ZorStrIEq finds equal always hash alike;
// below one that does not, the bytes are hashed and compared as they are.
// Removal shifts the following run back, so no tombstones are needed.
//
// Case rules: an entry learns how its children compare (`children`) the first
// time a name is looked up below it, so an entry with children always knows,
// and its children's hashes were made by that answer. The rule may ask the
// file system, so Acquire drops the lock around it, holding a reference on
// the entry meanwhile so that nobody frees it; two threads may both ask, the
// first answer stays. An entry the rule finds absent passes that on: its
// children are absent too and take its answer without asking.
//
// Every public member takes `mutex`; nothing inside calls back out of this
// file while holding it except the allocator.
#include "foundation/files/path_tree.h"

#include <cassert>
#include <cstring>
#include <mutex>
#include <queue>
#include <vector>

namespace zorvane {

namespace {

using NameCase = platform::NameCase;

struct Entry {
  int32_t parent = 0;
  int32_t refs = 0;
  uint32_t hash = 0;
  NameCase children = NameCase::kUnknown;  // how the names below compare
  bool absent = false;  // names nothing: neither do its children, who are not asked
  string name;
};

// The upper-case table of the collation, read once.
struct UpperTable {
  uint8_t map[256];
  UpperTable() {
    for (int c = 0; c < 256; ++c) map[c] = static_cast<uint8_t>(ZorToUpper(static_cast<char>(c)));
  }
};

const UpperTable& Upper() {
  static const UpperTable table;
  return table;
}

uint32_t HashName(int32_t parent, std::string_view name, bool fold) {
  uint32_t h = 2166136261u ^ static_cast<uint32_t>(parent) * 0x9E3779B1u;
  if (fold) {
    const uint8_t* up = Upper().map;
    for (char c : name) h = (h ^ up[static_cast<uint8_t>(c)]) * 16777619u;
  } else {
    for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  }
  return h ^ (h >> 15);
}

bool SameName(const string& a, std::string_view b, bool fold) {
  if (a.Len() != b.size()) return false;
  const uint32_t n = static_cast<uint32_t>(b.size());
  return fold ? ZorStrIEqN(a.CStr(), b.data(), n) : std::memcmp(a.CStr(), b.data(), n) == 0;
}

}  // namespace

// A slot of the index keeps the hash beside the index, so that probing
// touches the entries only on a full hash match.
struct Slot {
  int32_t index = 0;
  uint32_t hash = 0;
};

struct ZorPathTree::State {
  CaseRule rule = nullptr;
  mutable std::mutex mutex;
  std::vector<Entry> entries;
  std::priority_queue<int32_t> freeSlots;
  std::vector<Slot> slots = std::vector<Slot>(64);
  uint32_t live = 0;

  Entry& At(int32_t index) {
    assert(index > 0 && static_cast<size_t>(index) <= entries.size());
    return entries[static_cast<size_t>(index) - 1];
  }
  const Entry& At(int32_t index) const {
    assert(index > 0 && static_cast<size_t>(index) <= entries.size());
    return entries[static_cast<size_t>(index) - 1];
  }
  size_t Mask() const { return slots.size() - 1; }

  int32_t Find(int32_t parent, std::string_view name, uint32_t hash, bool fold) const {
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = slots[i];
      if (slot.index == 0) return 0;
      if (slot.hash != hash) continue;
      const Entry& e = At(slot.index);
      if (e.parent == parent && SameName(e.name, name, fold)) return slot.index;
    }
  }

  // How the children of `index` compare, when known (roots: without case).
  NameCase ChildrenOf(int32_t index) const { return index == 0 ? NameCase::kFolded : At(index).children; }

  void InsertSlot(Slot slot) {
    size_t i = slot.hash & Mask();
    while (slots[i].index != 0) i = (i + 1) & Mask();
    slots[i] = slot;
  }

  void GrowSlots() {
    std::vector<Slot> old(slots.size() * 2);
    old.swap(slots);
    for (const Slot& slot : old)
      if (slot.index != 0) InsertSlot(slot);
  }

  // Backward-shift deletion: later members of the probe run move into the
  // hole when their home position allows it.
  void EraseSlot(int32_t index) {
    size_t hole = At(index).hash & Mask();
    while (slots[hole].index != index) hole = (hole + 1) & Mask();
    for (size_t i = (hole + 1) & Mask(); slots[i].index != 0; i = (i + 1) & Mask()) {
      const size_t home = slots[i].hash & Mask();
      const bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
      if (movable) {
        slots[hole] = slots[i];
        hole = i;
      }
    }
    slots[hole] = Slot();
  }

  int32_t TakeSlot() {
    if (!freeSlots.empty()) {
      const int32_t index = freeSlots.top();
      freeSlots.pop();
      return index;
    }
    entries.emplace_back();
    return static_cast<int32_t>(entries.size());
  }

  int32_t Add(int32_t parent, std::string_view name, uint32_t hash) {
    if ((live + 1) * 2 > slots.size()) GrowSlots();
    const int32_t index = TakeSlot();
    Entry& e = At(index);
    e.name.Assign(name.data(), static_cast<int32_t>(name.size()));
    e.parent = parent;
    e.hash = hash;
    e.refs = 0;
    e.children = NameCase::kUnknown;
    e.absent = false;
    InsertSlot(Slot{index, hash});
    ++live;
    if (parent != 0) ++At(parent).refs;
    return index;
  }

  void Free(int32_t index) {
    EraseSlot(index);
    Entry& e = At(index);
    e.name.Clear();
    e.parent = 0;
    e.children = NameCase::kUnknown;
    --live;
    if (static_cast<size_t>(index) != entries.size()) {
      freeSlots.push(index);
      return;
    }
    entries.pop_back();
    while (!freeSlots.empty() && static_cast<size_t>(freeSlots.top()) == entries.size()) {
      freeSlots.pop();
      entries.pop_back();
    }
  }

  uint32_t DepthOf(int32_t index) const {
    uint32_t depth = 0;
    for (; index != 0; index = At(index).parent) ++depth;
    return depth;
  }

  void AppendPath(int32_t index, std::string* dst) const {
    const Entry* chain[kMaxDepth];
    uint32_t n = 0;
    for (; index != 0 && n < kMaxDepth; index = At(index).parent) chain[n++] = &At(index);
    while (n > 0) {
      const Entry& e = *chain[--n];
      dst->append(e.name.CStr(), e.name.Len());
      if (n > 0) dst->push_back('/');
    }
  }

  // True when the children of `index` compare without case. `lock` holds
  // `mutex`.
  bool ChildrenFold(int32_t index, std::unique_lock<std::mutex>& lock) {
    const NameCase known = ChildrenOf(index);
    return (known != NameCase::kUnknown ? known : LearnChildren(index, lock)) == NameCase::kFolded;
  }

  // Asks the rule how the children of `index` compare (see the top of the
  // file); once per entry, so kept out of the look-up loop.
  [[gnu::noinline]] NameCase LearnChildren(int32_t index, std::unique_lock<std::mutex>& lock) {
    NameCase answer = NameCase::kFolded;
    if (index != 0 && At(index).parent != 0 && At(At(index).parent).absent) {
      answer = NameCase::kUnknown;
    } else if (rule) {
      std::string path;
      AppendPath(index, &path);
      ++At(index).refs;
      lock.unlock();
      answer = rule(path);
      lock.lock();
      --At(index).refs;  // a child is found or added next, which holds it
    }
    Entry& e = At(index);
    if (e.children == NameCase::kUnknown) {
      e.absent = answer == NameCase::kUnknown;
      e.children = e.absent ? ChildrenOf(e.parent) : answer;
    }
    return e.children;
  }
};

ZorPathTree::ZorPathTree(CaseRule rule) : _state(std::make_unique<State>()) { _state->rule = rule; }
ZorPathTree::~ZorPathTree() = default;

int32_t ZorPathTree::Acquire(int32_t parent, const std::string_view* names, size_t n) {
  State& s = *_state;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.DepthOf(parent) + n > kMaxDepth) return 0;
  int32_t cur = parent;
  for (size_t i = 0; i < n; ++i) {
    assert(!names[i].empty());
    const bool fold = s.ChildrenFold(cur, lock);
    const uint32_t hash = HashName(cur, names[i], fold);
    const int32_t found = s.Find(cur, names[i], hash, fold);
    cur = found != 0 ? found : s.Add(cur, names[i], hash);
  }
  if (cur != 0) ++s.At(cur).refs;
  return cur;
}

void ZorPathTree::AddRef(int32_t index) {
  std::lock_guard<std::mutex> lock(_state->mutex);
  assert(_state->At(index).refs > 0);
  ++_state->At(index).refs;
}

void ZorPathTree::Release(int32_t index) {
  State& s = *_state;
  std::lock_guard<std::mutex> lock(s.mutex);
  while (index != 0) {
    Entry& e = s.At(index);
    assert(e.refs > 0);
    if (--e.refs > 0) return;
    const int32_t parent = e.parent;
    s.Free(index);
    index = parent;
  }
}

int32_t ZorPathTree::Parent(int32_t index) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  return _state->At(index).parent;
}

int32_t ZorPathTree::Root(int32_t index) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  while (_state->At(index).parent != 0) index = _state->At(index).parent;
  return index;
}

uint32_t ZorPathTree::Depth(int32_t index) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  return _state->DepthOf(index);
}

void ZorPathTree::AppendPath(int32_t index, std::string* dst) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  _state->AppendPath(index, dst);
}

const char* ZorPathTree::Name(int32_t index, string* dst) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  return dst->Assign(_state->At(index).name);
}

bool ZorPathTree::IsAncestor(int32_t ancestor, int32_t index) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  if (ancestor == 0 || index == 0) return false;
  for (index = _state->At(index).parent; index != 0; index = _state->At(index).parent)
    if (index == ancestor) return true;
  return false;
}

uint32_t ZorPathTree::Size() const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  return static_cast<uint32_t>(_state->entries.size());
}

uint32_t ZorPathTree::LiveCount() const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  return _state->live;
}

int32_t ZorPathTree::RefCount(int32_t index) const {
  std::lock_guard<std::mutex> lock(_state->mutex);
  if (index <= 0 || static_cast<size_t>(index) > _state->entries.size()) return 0;
  return _state->At(index).refs;
}

}  // namespace zorvane
