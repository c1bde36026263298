// The block-file test kit (see block_file_kit.h).
#include "support/block_file_kit.h"

#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <algorithm>
#include <cstring>

using namespace zorvane;
using zorvane::test::BytesOf;
using zorvane::test::HandleOf;

namespace zortest {

// ---------------------------------------------------------------- the format

uint32_t Le32(const std::string& img, size_t at) {
  if (at + 4 > img.size()) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(img[at + static_cast<size_t>(i)]);
  return v;
}

uint64_t Le64(const std::string& img, size_t at) { return Le32(img, at) | (uint64_t{Le32(img, at + 4)} << 32); }

void PutLe32(std::string* img, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) (*img)[at + i] = static_cast<char>(v >> (8 * i));
}

RawEntry EntryAt(const std::string& img, int32_t id) {
  const size_t at = kZorBfHeaderSize + static_cast<size_t>(id - 1) * kZorBfEntrySize;
  RawEntry e{};
  if (at + kZorBfEntrySize > img.size()) return e;
  e.pos = Le32(img, at) | (uint64_t{static_cast<uint8_t>(img[at + 23])} << 32);
  e.capacity = Le32(img, at + 4);
  e.size = Le32(img, at + 8);
  e.owner = static_cast<int32_t>(Le32(img, at + 12));
  e.slot = Le32(img, at + 16);
  e.type = static_cast<int16_t>(Le32(img, at + 20) & 0xFFFF);
  e.flags = static_cast<uint8_t>(img[at + 22]);
  return e;
}

// ---------------------------------------------------------------- the model

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return s;
}

uint32_t CapacityOf(ZorBFile& f, int32_t id) {
  uint32_t capacity = 0;
  f.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr);
  return capacity;
}

Model ReadAll(ZorBFile& f, std::vector<int32_t>* unreadable) {
  Model m;
  for (int32_t id = 1, n = f.GetNbBlock(nullptr, nullptr); id <= n; ++id) {
    Block b;
    uint8_t flags = 0;
    if (!f.GetBlockInfo(id, &b.owner, &b.type, nullptr, nullptr, &flags)) continue;
    b.compact = !(flags & ZorBfFlagNoCompact);
    ZorHandle h;
    try {
      f.BReadCopy(id, &h);
    } catch (const ZorException&) {
      if (!unreadable) throw;
      unreadable->push_back(id);
      continue;
    }
    b.bytes = BytesOf(h);
    m[id] = b;
  }
  return m;
}

std::optional<Block> Look(const Model& m, int32_t id) {
  const auto it = m.find(id);
  return it == m.end() ? std::nullopt : std::optional<Block>(it->second);
}

std::string Describe(const std::optional<Block>& b) {
  if (!b) return "none";
  return "owner " + std::to_string(b->owner) + " type " + std::to_string(b->type) + " compact " +
         std::to_string(b->compact) + ", " + std::to_string(b->bytes.size()) + " bytes";
}

std::set<int32_t> IdsOf(std::initializer_list<const Model*> models) {
  std::set<int32_t> ids;
  for (const Model* m : models)
    for (const auto& [id, unused] : *m) ids.insert(id);
  return ids;
}

::testing::AssertionResult SameBlocks(const Model& got, const Model& want) {
  for (int32_t id : IdsOf({&got, &want}))
    if (Look(got, id) != Look(want, id))
      return ::testing::AssertionFailure() << "block " << id << ": got " << Describe(Look(got, id)) << "; want "
                                           << Describe(Look(want, id));
  return ::testing::AssertionSuccess();
}

std::string CheckFaults(ZorBFile& f, int counts[3]) {
  std::string report;
  int i = 0;
  for (auto check : {&ZorBFile::CheckDir, &ZorBFile::CheckCrossBlock, &ZorBFile::CheckLostSpace}) {
    ZorVerif v;
    v.Init(false, 0);
    const bool passed = (f.*check)(&v);
    string text;
    if (v.GetNbFault()) report += std::string(v.GetText(&text)) + "\n";
    if (!passed && !v.GetNbFault()) report += "check " + std::to_string(i) + " failed without a fault\n";
    if (counts) counts[i] = v.GetNbFault();
    ++i;
  }
  return report;
}

std::string Describe(const ZorException& e) {
  string s;
  return "library error " + std::to_string(e.GetError()) + " " + e.GetMsg(&s) + " at " + e.GetFileText() + ":" +
         std::to_string(e.GetLine());
}

void ExpectImage(const std::string& img, const Model* model, bool closed, const int32_t* user) {
  ASSERT_GE(img.size(), size_t{kZorBfInitialDataStart});
  ASSERT_EQ(img.substr(0, 8), "ZorBFile");
  ASSERT_EQ(Le32(img, kZorBfHdrVersion), 1u);
  ASSERT_EQ(Le32(img, kZorBfHdrCrash), 0u);
  ASSERT_EQ(Le32(img, kZorBfHdrState) & kZorBfStateOpenMarker, closed ? 0u : kZorBfStateOpenMarker) << "open marker";
  for (int i = 0; user && i < 64; ++i) ASSERT_EQ(static_cast<int32_t>(Le32(img, kZorBfHdrUserArray + 4 * i)), user[i]);
  const uint32_t count = DirCount(img), dataStart = DataStart(img);
  ASSERT_GE(dataStart, kZorBfHeaderSize + count * kZorBfEntrySize);
  ASSERT_EQ(dataStart % 1024, 0u);
  std::vector<std::pair<uint64_t, uint64_t>> extents;  // (position, capacity)
  Model stored;
  for (int32_t id = 1; id <= static_cast<int32_t>(count); ++id) {
    SCOPED_TRACE("entry " + std::to_string(id));
    const RawEntry e = EntryAt(img, id);
    ASSERT_EQ(e.slot, 0u) << "cache slot stored";
    ASSERT_EQ(e.flags & ZorBfFlagMemoryOnly, 0) << "memory-only flags stored";
    if (e.pos) extents.emplace_back(e.pos, e.capacity);  // below data start fails the tiling below
    if (e.flags & ZorBfFlagFree) {
      ASSERT_EQ(e.flags, ZorBfFlagFree);
      continue;
    }
    ASSERT_LE(e.size, e.capacity);
    ASSERT_TRUE(e.pos || !e.size) << "stored data without a position";
    stored[id] = Block{e.owner, e.type, img.substr(std::min<uint64_t>(e.pos, img.size()), e.size),
                       !(e.flags & ZorBfFlagNoCompact)};
  }
  if (model) { ASSERT_TRUE(SameBlocks(stored, *model)); }
  std::sort(extents.begin(), extents.end());
  uint64_t at = dataStart;
  for (const auto& [pos, capacity] : extents) {
    ASSERT_GE(pos, at) << "overlapping extents at " << pos;
    ASSERT_EQ(pos, at) << "lost space from " << at << " to " << pos;
    at = pos + capacity;
  }
  ASSERT_EQ(at, img.size()) << "lost space at the end of the file";
}

// ---------------------------------------------------------------- the workload

//                           create shared copy dup del multi range retag tags flag uncache purge read compact empty
const Mix kEveryOp =        {100,   90,    45,  30, 40, 10,   10,   25,   15,  15,  20,     10,   65,  10,      1};
const Mix kSingleBlockOps = {40,    0,     35,  0,  13, 0,    0,    0,    0,   0,   0,      0,    12,  0,       0};

namespace {

const int32_t kOwners[] = {1, 2, 3, 7, 500, -2, 0x10000};
const int16_t kTypes[] = {0, 1, 2, 5, 100, -1};

}  // namespace

Op Workload::Draw(const Mix& mix) {
  int total = 0;
  for (int w : mix) total += w;
  int r = static_cast<int>(rng() % static_cast<uint32_t>(total));
  size_t op = 0;
  while (r >= mix[op]) r -= mix[op++];
  return static_cast<Op>(op);
}

// Logs the operation and the ids it touched, whether it returns or not.
void Workload::Apply(ZorBFile& f, Op op) {
  static const char* const kNames[] = {"create", "write shared", "write copy", "duplicate", "delete",
                                       "delete by tags", "delete by ranges", "retag", "change tags", "compactable",
                                       "uncache", "purge", "read", "compact", "empty"};
  touched.clear();
  struct Note {
    Workload* w;
    Op op;
    ~Note() {
      std::string line = kNames[static_cast<size_t>(op)];
      for (int32_t id : w->touched) line += " " + std::to_string(id);
      w->_log.push_back(line);
      if (w->_log.size() > 40) w->_log.pop_front();
    }
  } note{this, op};
  switch (op) {
    case Op::kCreate: return _create(f);
    case Op::kWriteShared: return _writeShared(f);
    case Op::kWriteCopy: return _writeCopy(f);
    case Op::kDuplicate: return _duplicate(f);
    case Op::kDelete: return _delete(f);
    case Op::kMultiDelete: return _multiDelete(f, false);
    case Op::kRangeDelete: return _multiDelete(f, true);
    case Op::kRetag: return _retag(f, false);
    case Op::kChangeTags: return _retag(f, true);
    case Op::kSetCompact: return _setCompact(f);
    case Op::kUncache:
      if (rng() % 2) {
        touched.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(f.GetDirCount() + 2)));
        f.BUncach(touched.back());
      } else {
        f.BMultiUncach(rng() % 2 ? Owner() : int32_t{ZorBfAnyOwner}, rng() % 2 ? Type() : int16_t{ZorBfAnyType});
      }
      return;
    case Op::kPurge:
      f.Purge(static_cast<int32_t>(rng() % 200000));
      return;
    case Op::kRead: return _read(f);
    case Op::kCompact: return _compact(f);
    case Op::kEmpty:
      _held.clear();
      f.EmptyFile(rng() % 2);
      model.clear();
      // With copy-on-write the old area stays referenced until the flush.
      if (!(f.GetOpenFlags() & ZorBfOpenCopyOnWrite)) { EXPECT_EQ(f.GetNbBlock(nullptr, nullptr), 0); }
      return;
    case Op::kCount: break;
  }
}

std::string Workload::_data() {
  const uint32_t k = rng() % 40;
  const size_t n = k == 0 ? 0 : k < 28 ? rng() % 200 : k < 39 ? rng() % 5000 : 60000 + rng() % 20000;
  std::string b(n, '\0');
  for (char& c : b) c = static_cast<char>(rng());
  return b;
}

int32_t Workload::Owner() { return kOwners[rng() % std::size(kOwners)]; }
int16_t Workload::Type() { return kTypes[rng() % std::size(kTypes)]; }

Selection Workload::Ranges(bool single) {
  Selection s;
  s.oLo = Owner();
  s.oHi = single ? s.oLo : Owner();
  s.tLo = Type();
  s.tHi = single ? s.tLo : Type();
  if (s.oLo > s.oHi) std::swap(s.oLo, s.oHi);
  if (s.tLo > s.tHi) std::swap(s.tLo, s.tHi);
  return s;
}

int32_t Workload::Pick() {
  if (model.empty()) return 0;
  return std::next(model.begin(), static_cast<ptrdiff_t>(rng() % model.size()))->first;
}

std::string Workload::Log() const {
  std::string s;
  for (const std::string& line : _log) s += "  " + line + "\n";
  return s;
}

void Workload::_create(ZorBFile& f) {
  const bool withData = rng() % 4 != 0;
  const Block b{Owner(), Type(), withData ? _data() : std::string(), rng() % 3 != 0};
  const uint32_t kind = rng() % 4;
  const uint32_t reserve = kind == 0 ? 0 : kind == 1 ? static_cast<uint32_t>(b.bytes.size() + rng() % 2000)
                                                     : kind == 2 ? rng() % 3000 : static_cast<uint32_t>(b.bytes.size() / 2);
  ZorHandle h = HandleOf(b.bytes);
  pending = {0, b};
  const int32_t id = f.BCreate(withData ? &h : nullptr, b.owner, b.type, reserve, b.compact);
  pending.first = -1;
  ASSERT_GE(id, 1);
  ASSERT_EQ(model.count(id), 0u) << "id " << id << " given twice";
  model[id] = b;
  touched.push_back(id);
  // The cache shares the caller's handle: one reference outside it.
  if (!b.bytes.empty()) { EXPECT_EQ(f.BUsed(id), 1); }
  h.Trash();
  EXPECT_EQ(f.BUsed(id), 0);
  uint32_t capacity = 0;
  ASSERT_TRUE(f.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr));
  const uint32_t least = std::max(reserve, static_cast<uint32_t>(b.bytes.size()));
  EXPECT_GE(capacity, least ? least : 1024u);
}

// BRead, change the shared memory (grow, shrink, same length with a few
// bytes or none changed), BWrite.
void Workload::_writeShared(ZorBFile& f) {
  const int32_t id = Pick();
  if (!id) return;
  Block b = model[id];
  ZorHandle h;
  f.BRead(id, &h);
  ASSERT_EQ(BytesOf(h), b.bytes);
  EXPECT_EQ(f.BUsed(id), 1 + static_cast<int32_t>(_held.count(id)));
  const size_t old = b.bytes.size();
  const uint32_t k = rng() % 6;
  const size_t lengths[] = {old, old, old / 2, old + 1 + rng() % 100, old + 1000 + rng() % 3000,
                            rng() % 10 ? rng() % 400 : 0};
  const size_t len = lengths[k];
  b.bytes.resize(len, '\0');
  for (size_t i = old; i < len; ++i) b.bytes[i] = static_cast<char>(i * 7 + static_cast<size_t>(id));
  if (len && k != 0)
    for (size_t n = 1 + rng() % 300, at = rng() % len; n > 0 && at < len; --n) b.bytes[at++] = static_cast<char>(rng());
  h.SetSize(static_cast<uint32_t>(len));
  if (len) memcpy(h.GetDatas(), b.bytes.data(), len);
  const int32_t reserve = static_cast<int32_t>(rng() % 3 == 0 ? rng() % 5000 : 0);
  pending = {id, b};
  f.BWrite(id, reserve);
  pending.first = -1;
  model[id] = b;
  touched.push_back(id);
  if (holdShared && rng() % 5 == 0) {
    // Kept for a while: the cache must not drop it.
    if (_held.size() >= 3) _held.erase(_held.begin());
    _held[id] = std::move(h);
  }
}

void Workload::_writeCopy(ZorBFile& f) {
  const int32_t id = Pick();
  if (!id) return;
  Block b = model[id];
  b.bytes = _data();
  ZorHandle h = HandleOf(b.bytes);
  _held.erase(id);
  const int32_t reserve = static_cast<int32_t>(rng() % 2 ? 0 : rng() % 3000);
  pending = {id, b};
  f.BWriteCopy(id, &h, reserve);
  pending.first = -1;
  if (h.GetSize()) static_cast<char*>(h.GetDatas())[0] ^= 1;  // the file keeps a copy, not this memory
  model[id] = b;
  touched.push_back(id);
}

void Workload::_duplicate(ZorBFile& f) {
  const int32_t src = Pick();
  if (!src) return;
  const int32_t owner = rng() % 2 ? int32_t{ZorBfKeepOwner} : Owner();
  const int16_t type = rng() % 2 ? int16_t{ZorBfKeepType} : Type();
  const uint32_t kind = rng() % 3;
  const uint32_t reserve = kind == 0 ? 0 : kind == 1 ? 0xFFFFFFFFu : rng() % 4000;
  const uint32_t srcCapacity = CapacityOf(f, src);
  const int32_t id = f.BDuplicate(src, owner, type, reserve);
  ASSERT_EQ(model.count(id), 0u) << "duplicate " << id << " of " << src << " reuses a used id";
  Block b = model[src];
  if (owner != ZorBfKeepOwner) b.owner = owner;
  if (type != ZorBfKeepType) b.type = type;
  model[id] = b;
  touched = {id, src};
  const uint32_t capacity = CapacityOf(f, id);
  if (kind == 1) { EXPECT_GE(capacity, srcCapacity); }
}

void Workload::_delete(ZorBFile& f) {
  // Now and then a free entry, which BDelete ignores.
  const int32_t n = f.GetDirCount();
  const int32_t id = rng() % 4 || n == 0 ? Pick() : static_cast<int32_t>(1 + rng() % static_cast<uint32_t>(n));
  if (!id) return;
  _held.clear();
  pending = {id, std::nullopt};
  f.BDelete(id);
  pending.first = -1;
  model.erase(id);
  touched.push_back(id);
}

// BMultiDelete with its wildcards, or BRangeDelete over ranges of both tags.
void Workload::_multiDelete(ZorBFile& f, bool ranges) {
  Selection s = Ranges(!ranges);
  const uint32_t k = rng() % 10;
  if (k == 0) s.oLo = ZorBfAnyOwner;
  if (k == 1 || k == 2) s.tLo = ZorBfAnyType;
  if (!ranges && k == 3) s.oLo = ZorBfKeepOwner;  // selects nothing
  if (!ranges && k == 4) s.tLo = ZorBfKeepType;
  if (s.oLo == ZorBfAnyOwner && s.tLo == ZorBfAnyType && rng() % 3) return;  // empties the file: rarely
  _held.clear();
  if (ranges)
    f.BRangeDelete(s.oLo, s.oHi, s.tLo, s.tHi);
  else
    f.BMultiDelete(s.oLo, s.tLo);
  if (s.oLo == ZorBfKeepOwner || s.tLo == ZorBfKeepType) return;
  std::erase_if(model, [&](const auto& kv) { return s.Holds(kv.second); });
}

// BSetOwner / BSetType of one block, or BChangeOwner / BChangeType over a
// range of the other tag.
void Workload::_retag(ZorBFile& f, bool ranges) {
  const bool owners = rng() % 2;
  if (!ranges) {
    const int32_t id = Pick();
    if (!id) return;
    if (owners)
      f.BSetOwner(id, model[id].owner = Owner());
    else
      f.BSetType(id, model[id].type = Type());
    touched.push_back(id);
    return;
  }
  const Selection s = Ranges();
  const bool any = rng() % 4 == 0;
  if (owners) {
    const int32_t from = any ? int32_t{ZorBfAnyOwner} : Owner(), to = Owner();
    f.BChangeOwner(from, to, s.tLo, s.tHi);
    for (auto& [id, b] : model)
      if ((any || b.owner == from) && b.type >= s.tLo && b.type <= s.tHi) b.owner = to;
  } else {
    const int16_t from = any ? int16_t{ZorBfAnyType} : Type(), to = Type();
    f.BChangeType(from, to, s.oLo, s.oHi);
    for (auto& [id, b] : model)
      if ((any || b.type == from) && b.owner >= s.oLo && b.owner <= s.oHi) b.type = to;
  }
}

void Workload::_setCompact(ZorBFile& f) {
  const bool compact = rng() % 2;
  if (rng() % 3) {
    const int32_t id = Pick();
    if (!id) return;
    f.BSetCompact(id, compact, 0, 0);
    model[id].compact = compact;
    touched.push_back(id);
    return;
  }
  const int32_t owner = rng() % 3 ? Owner() : int32_t{ZorBfAnyOwner};
  const int16_t type = rng() % 3 ? Type() : int16_t{ZorBfAnyType};
  f.BSetCompact(0, compact, owner, type);
  for (auto& [id, b] : model)
    if ((owner == ZorBfAnyOwner || b.owner == owner) && (type == ZorBfAnyType || b.type == type)) b.compact = compact;
}

// Read traffic moves blocks through a small cache; BGetOTBlockId finds the
// first block of an owner and type with room to spare.
void Workload::_read(ZorBFile& f) {
  for (int k = 0; k < 4; ++k) {
    const int32_t id = Pick();
    if (!id) return;
    pending = {id, model[id]};
    ZorHandle h;
    f.BRead(id, &h);
    pending.first = -1;
    ASSERT_EQ(BytesOf(h), model[id].bytes) << "block " << id;
    touched.push_back(id);
  }
  const int32_t owner = Owner();
  const int16_t type = Type();
  const int32_t need = static_cast<int32_t>(rng() % 100);
  int32_t expected = 0;
  for (const auto& [id, b] : model) {
    if (b.bytes.size() + static_cast<size_t>(need) <= CapacityOf(f, id) && b.owner == owner && b.type == type) {
      expected = id;
      break;
    }
  }
  EXPECT_EQ(f.BGetOTBlockId(owner, type, need), expected);
}

// Modes 2 and 3. Outside a transaction nothing of that kind is wasted
// afterwards and the file ends at the last extent; blocks placed in an open
// transaction only get their extent at its flush.
void Workload::_compact(ZorBFile& f) {
  const eZorBfCompact mode = rng() % 2 ? ZorBfCompactAny : ZorBfCompactAll;
  _held.clear();
  const bool needed = f.NeedCompact(mode);
  compactions += needed;
  ASSERT_EQ(f.Compact(mode, false, false), needed);
  ASSERT_EQ(f.GetCrashFlag(false), 0);
  if (f.CountTransaction() != 0 || !needed) return;
  ASSERT_FALSE(f.NeedCompact(mode)) << "mode " << mode;
  uint32_t reserved = 0;
  const uint64_t size = f.GetSize(nullptr, nullptr, &reserved);
  ASSERT_EQ(size, f.GetDataStart() + uint64_t{reserved});
  for (const auto& [id, b] : model) {
    const uint32_t capacity = CapacityOf(f, id);
    if (b.compact || mode == ZorBfCompactAll) { ASSERT_EQ(capacity, b.bytes.size()) << "block " << id; }
  }
}

void Workload::ExpectHeld(ZorBFile& f) {
  ASSERT_EQ(f.BUsed(0), static_cast<int32_t>(_held.size()));
  for (const auto& [id, h] : _held) {
    ASSERT_EQ(f.BUsed(id), 1) << "held block " << id;
    ASSERT_EQ(BytesOf(h), model[id].bytes) << "held block " << id;
  }
}

// ---------------------------------------------------------------- DurableStream

std::vector<DurableStream::Extent> DurableStream::_usedExtents(const std::string& img) {
  std::vector<Extent> out;
  for (uint32_t id = 1, n = DirCount(img); id <= n && kZorBfHeaderSize + id * kZorBfEntrySize <= img.size(); ++id) {
    const RawEntry e = EntryAt(img, static_cast<int32_t>(id));
    if (!(e.flags & ZorBfFlagFree) && e.pos && e.capacity)
      out.push_back({e.pos, e.pos + e.capacity, static_cast<int32_t>(id)});
  }
  return out;
}

void DurableStream::Start() {
  ClearRecords();
  flushAfter.clear();
  _referenced.assign(1, _usedExtents(Image()));
}

void DurableStream::Flush() {
  FaultStream::Flush();
  flushAfter.push_back(Writes().size());
  _referenced.push_back(_usedExtents(Image()));
}

std::string DurableStream::Violation(uint32_t dataStart) const {
  size_t state = 0;
  bool dataPending = false, directoryPending = false;
  for (size_t i = 0; i < Writes().size(); ++i) {
    for (; state < flushAfter.size() && flushAfter[state] <= i; ++state) dataPending = directoryPending = false;
    const auto& w = Writes()[i];
    for (const Extent& x : _referenced[state])
      if (w.offset < x.end && x.begin < w.offset + w.length)
        return "write " + std::to_string(i) + " at " + std::to_string(w.offset) + " hits block " + std::to_string(x.id);
    const bool directory = w.offset >= kZorBfHeaderSize && w.offset < dataStart;
    if (directory && dataPending) return "directory write " + std::to_string(i) + " before the data barrier";
    if (w.offset == 0 && directoryPending) return "header write " + std::to_string(i) + " before the directory barrier";
    dataPending |= !directory && w.offset >= kZorBfHeaderSize;
    directoryPending |= directory;
  }
  return std::string();
}

}  // namespace zortest
