// ZorTSMem: records kept in memory, saved into the table's description.
//
// Layout while open: the fixed records one after another in UD order (UD =
// place), the dynamic part of each record (when the table has dynamic
// fields), the blobs by reference, and per index:
//   keys    the sort key (collation.h) of every record, in UD order;
//   hash    open addressing over the keys: UD + 1 per slot, 0 free;
//   order   the UDs in key order (equal keys by UD), sortedKeys the keys in
//           that order, rank the position of every UD.
// Each part is built on first use and then kept up to date: an append
// costs O(1) without an order and O(n) moves with one; an update, a delete
// (which renumbers every later record) or a swap costs O(n) at most. Only
// where two records share a key (stored by Add) are the hash (after an
// update or delete) and the order (after a swap) built again.
#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <vector>

#include "foundation/errors/raise.h"
#include "foundation/text/collation.h"
#include "platform/little_endian.h"
#include <zorvane/cell_container.h>
#include <zorvane/table.h>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorTablesHA";
constexpr int32_t kStoreKind = 3;
constexpr int32_t kLineRecords = 1, kLineDyna = 2, kLineRuid = 3, kLineVersion = 4, kLineBlobs = 5,
                  kLineLastBlob = 6;

uint64_t HashBytes(const uint8_t* p, int32_t len) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (int32_t i = 0; i < len; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h ^ (h >> 29);
}

// Every blob cell (3, 5, ref): one walk over the stored cells (kind, line,
// column, size, bytes), so that the cost follows the container, whatever the
// last reference says. The first cell of a place is the one that counts.
void LoadBlobs(const ZorDyna& home, std::map<uint32_t, ZorHandle>* blobs) {
  const ZorHandle* all = home.GetHandle();
  if (!all->IsInit()) return;
  const auto* p = static_cast<const uint8_t*>(all->GetDatas());
  const uint32_t n = all->GetSize();
  for (uint32_t at = 0; n - at >= 16;) {
    const uint32_t size = platform::GetLE32(p + at + 12);
    if (size > n - at - 16) break;
    const int32_t kind = static_cast<int32_t>(platform::GetLE32(p + at));
    const int32_t line = static_cast<int32_t>(platform::GetLE32(p + at + 4));
    const uint32_t ref = platform::GetLE32(p + at + 8);
    if (kind == kStoreKind && line == kLineBlobs && ref >= 1 && ref <= INT32_MAX && !blobs->count(ref)) {
      (*blobs)[ref].Init(p + at + 16, size);
    }
    at += 16 + size;
  }
}

}  // namespace

struct ZorTSMem::Rep {
  struct Index {
    int32_t len = 0;  // 0: the index has no key and is never searched
    bool keysValid = false, hashValid = false, orderValid = false;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> hash;
    uint32_t hashUsed = 0;
    bool duplicates = false;  // the hash met two records with one key (Add)
    std::vector<uint32_t> order, rank;
    std::vector<uint8_t> sortedKeys;
  };

  uint32_t recSize = 1;
  uint32_t count = 0;
  std::vector<uint8_t> records;
  bool withDyna = false;
  std::vector<ZorHandle> dyna;
  int32_t ruid = 0;
  ZorUuid version;
  bool isEnum = false;
  std::map<uint32_t, ZorHandle> blobs;
  uint32_t lastBlob = 0;
  std::vector<Index> indexes;  // index i at i - 1
  std::vector<uint8_t> scratch, probe;

  uint8_t* Record(uint32_t ud) { return records.data() + size_t{ud - 1} * recSize; }
  bool Valid(uint32_t ud) const { return ud >= 1 && ud <= count; }

  void KeyOf(ZorTable* table, int32_t index, const uint8_t* record, uint8_t* out) {
    const int32_t len = indexes[index - 1].len;
    scratch.resize(static_cast<size_t>(len));
    table->BuildKey(index, record, scratch.data());
    ZorIndexSortKey(scratch.data(), len, out);
  }

  void EnsureKeys(ZorTable* table, int32_t index) {
    Index& ix = indexes[index - 1];
    if (ix.keysValid) return;
    ix.keys.resize(size_t{count} * ix.len);
    for (uint32_t ud = 1; ud <= count; ++ud) KeyOf(table, index, Record(ud), ix.keys.data() + size_t{ud - 1} * ix.len);
    ix.keysValid = true;
  }

  const uint8_t* KeyAt(const Index& ix, uint32_t ud) const { return ix.keys.data() + size_t{ud - 1} * ix.len; }

  // The slot holding key, or the free slot where it would go.
  size_t HashSlot(const Index& ix, const uint8_t* key) const {
    const size_t mask = ix.hash.size() - 1;
    for (size_t s = HashBytes(key, ix.len) & mask;; s = (s + 1) & mask) {
      const uint32_t v = ix.hash[s];
      if (v == 0 || std::memcmp(KeyAt(ix, v), key, ix.len) == 0) return s;
    }
  }

  void HashInsert(Index& ix, uint32_t ud) {
    if ((ix.hashUsed + 1) * 2 > ix.hash.size()) {
      RebuildHash(ix, std::max<size_t>(64, ix.hash.size() * 2));
    }
    HashPut(ix, ud);
  }

  // Keeps the first record of a key: the hash is filled in UD order.
  void HashPut(Index& ix, uint32_t ud) {
    const size_t s = HashSlot(ix, KeyAt(ix, ud));
    if (ix.hash[s] == 0) {
      ix.hash[s] = ud;
      ++ix.hashUsed;
    } else {
      ix.duplicates = true;
    }
  }

  void RebuildHash(Index& ix, size_t size) {
    ix.hash.assign(size, 0);
    ix.hashUsed = 0;
    ix.duplicates = false;
    for (uint32_t ud = 1; ud <= count; ++ud) HashPut(ix, ud);
  }

  // Removes ud, whose key is still at KeyAt, closing the gap of the probe
  // run (linear probing: entries whose home lies outside the gap move in).
  void HashErase(Index& ix, uint32_t ud) {
    const size_t mask = ix.hash.size() - 1;
    size_t hole = HashSlot(ix, KeyAt(ix, ud));
    if (ix.hash[hole] != ud) return;
    for (size_t j = (hole + 1) & mask; ix.hash[j] != 0; j = (j + 1) & mask) {
      const size_t home = HashBytes(KeyAt(ix, ix.hash[j]), ix.len) & mask;
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (!stays) {
        ix.hash[hole] = ix.hash[j];
        hole = j;
      }
    }
    ix.hash[hole] = 0;
    --ix.hashUsed;
  }

  void EnsureHash(ZorTable* table, int32_t index) {
    Index& ix = indexes[index - 1];
    EnsureKeys(table, index);
    if (ix.hashValid) return;
    size_t size = 64;
    while (size < size_t{count} * 2 + 2) size *= 2;
    RebuildHash(ix, size);
    ix.hashValid = true;
  }

  void EnsureOrder(ZorTable* table, int32_t index) {
    Index& ix = indexes[index - 1];
    EnsureKeys(table, index);
    if (ix.orderValid) return;
    ix.order.resize(count);
    std::iota(ix.order.begin(), ix.order.end(), 1u);
    const int32_t len = ix.len;
    std::sort(ix.order.begin(), ix.order.end(), [&](uint32_t a, uint32_t b) {
      const int c = std::memcmp(KeyAt(ix, a), KeyAt(ix, b), len);
      return c < 0 || (c == 0 && a < b);
    });
    ix.rank.resize(count);
    ix.sortedKeys.resize(size_t{count} * len);
    for (uint32_t i = 0; i < count; ++i) {
      ix.rank[ix.order[i] - 1] = i + 1;
      std::memcpy(ix.sortedKeys.data() + size_t{i} * len, KeyAt(ix, ix.order[i]), len);
    }
    ix.orderValid = true;
  }

  // The place (0-based) of (key, ud) in the order: by key, then by UD.
  size_t OrderSlot(const Index& ix, const uint8_t* key, uint32_t ud) const {
    size_t lo = 0, hi = ix.order.size();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const int c = std::memcmp(ix.sortedKeys.data() + mid * ix.len, key, ix.len);
      if (c < 0 || (c == 0 && ix.order[mid] < ud)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  static void RankFrom(Index& ix, size_t from) {
    for (size_t i = from; i < ix.order.size(); ++i) ix.rank[ix.order[i] - 1] = static_cast<uint32_t>(i + 1);
  }

  // ud's key is at KeyAt; rank has an item for ud.
  void OrderInsert(Index& ix, uint32_t ud) {
    const uint8_t* key = KeyAt(ix, ud);
    const size_t pos = OrderSlot(ix, key, ud);
    ix.order.insert(ix.order.begin() + static_cast<std::ptrdiff_t>(pos), ud);
    ix.sortedKeys.insert(ix.sortedKeys.begin() + static_cast<std::ptrdiff_t>(pos * ix.len), key, key + ix.len);
    RankFrom(ix, pos);
  }

  void OrderErase(Index& ix, uint32_t ud) {
    const size_t pos = ix.rank[ud - 1] - 1;
    ix.order.erase(ix.order.begin() + static_cast<std::ptrdiff_t>(pos));
    const auto at = ix.sortedKeys.begin() + static_cast<std::ptrdiff_t>(pos * ix.len);
    ix.sortedKeys.erase(at, at + ix.len);
    RankFrom(ix, pos);
  }

  // After the append of record `count`.
  void Appended(ZorTable* table) {
    for (int32_t i = 1; i <= static_cast<int32_t>(indexes.size()); ++i) {
      Index& ix = indexes[i - 1];
      if (ix.len == 0 || !ix.keysValid) {
        ix.keysValid = ix.hashValid = ix.orderValid = false;
        continue;
      }
      ix.keys.resize(size_t{count} * ix.len);
      KeyOf(table, i, Record(count), ix.keys.data() + size_t{count - 1} * ix.len);
      if (ix.hashValid) HashInsert(ix, count);
      if (ix.orderValid) {
        ix.rank.push_back(0);
        OrderInsert(ix, count);
      }
    }
  }

  // Record ud now holds the new bytes; its old key is still in keys.
  void Updated(ZorTable* table, uint32_t ud) {
    for (int32_t i = 1; i <= static_cast<int32_t>(indexes.size()); ++i) {
      Index& ix = indexes[i - 1];
      if (ix.len == 0 || !ix.keysValid) continue;
      probe.resize(static_cast<size_t>(ix.len));
      KeyOf(table, i, Record(ud), probe.data());
      uint8_t* key = ix.keys.data() + size_t{ud - 1} * ix.len;
      if (std::memcmp(key, probe.data(), ix.len) == 0) continue;
      if (ix.hashValid && ix.duplicates) ix.hashValid = false;
      if (ix.hashValid) HashErase(ix, ud);
      if (ix.orderValid) OrderErase(ix, ud);
      std::memcpy(key, probe.data(), ix.len);
      if (ix.hashValid) HashInsert(ix, ud);
      if (ix.orderValid) OrderInsert(ix, ud);
    }
  }

  // Record ud is gone and later records moved down one place.
  void Deleted(uint32_t ud) {
    for (Index& ix : indexes) {
      if (ix.len == 0 || !ix.keysValid) continue;
      if (ix.hashValid && ix.duplicates) ix.hashValid = false;
      if (ix.hashValid) HashErase(ix, ud);
      if (ix.orderValid) OrderErase(ix, ud);
      const auto at = ix.keys.begin() + static_cast<std::ptrdiff_t>(size_t{ud - 1} * ix.len);
      ix.keys.erase(at, at + ix.len);
      for (uint32_t& v : ix.hash) v -= v > ud ? 1 : 0;
      if (ix.orderValid) {
        for (uint32_t& v : ix.order) v -= v > ud ? 1 : 0;
        ix.rank.erase(ix.rank.begin() + (ud - 1));
      }
    }
  }

  // Records ud1 and ud2 exchanged places. Keys that another record shares
  // may change their order by UD: that order is built again.
  void Swapped(uint32_t ud1, uint32_t ud2) {
    for (Index& ix : indexes) {
      if (ix.len == 0 || !ix.keysValid) continue;
      const bool exact = ix.hashValid && !ix.duplicates;
      if (exact) {
        const size_t s1 = HashSlot(ix, KeyAt(ix, ud1)), s2 = HashSlot(ix, KeyAt(ix, ud2));
        std::swap(ix.hash[s1], ix.hash[s2]);
      }
      if (exact && ix.orderValid) {
        std::swap(ix.order[ix.rank[ud1 - 1] - 1], ix.order[ix.rank[ud2 - 1] - 1]);
        std::swap(ix.rank[ud1 - 1], ix.rank[ud2 - 1]);
      } else {
        ix.orderValid = false;
      }
      ix.hashValid = exact;
      std::swap_ranges(ix.keys.begin() + static_cast<std::ptrdiff_t>(size_t{ud1 - 1} * ix.len),
                       ix.keys.begin() + static_cast<std::ptrdiff_t>(size_t{ud1} * ix.len),
                       ix.keys.begin() + static_cast<std::ptrdiff_t>(size_t{ud2 - 1} * ix.len));
    }
  }

  void DropAll() {
    for (Index& ix : indexes) ix.keysValid = ix.hashValid = ix.orderValid = false;
  }

  // The first position (1-based) whose key is >= key, count + 1 when none.
  uint32_t LowerBound(const Index& ix, const uint8_t* key) const {
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      if (std::memcmp(ix.sortedKeys.data() + size_t{mid} * ix.len, key, ix.len) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo + 1;
  }
  uint32_t UpperBound(const Index& ix, const uint8_t* key) const {
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      if (std::memcmp(ix.sortedKeys.data() + size_t{mid} * ix.len, key, ix.len) <= 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo + 1;
  }

  void NewVersionIfEnum() {
    if (isEnum) version.New();
  }
};

ZorTSMem::ZorTSMem() : _rep(std::make_unique<Rep>()) {}
ZorTSMem::~ZorTSMem() = default;

void ZorTSMem::ShOpen(ZorTable* table) {
  Rep& r = *_rep;
  r = Rep();
  r.recSize = std::max<uint32_t>(table->GetBufferSize(), 1);
  r.withDyna = (table->GetFlags() & kZorTblTfAsDyna) != 0;
  r.isEnum = table->GetType() == kZorTblTypeEnum;
  r.indexes.resize(static_cast<size_t>(std::max(table->GetNbIndex(), 0)));
  for (int32_t i = 1; i <= table->GetNbIndex(); ++i) {
    sZorKey key;
    table->GetIndexInfo(i, &key);
    r.indexes[i - 1].len = key.nbPart ? key.keyLen : 0;
  }
  table->SetModeFlags(kZorTblMfAddOk | kZorTblMfSwapOk, true);

  ZorDyna* home = table->GetDescDyna();
  if (!home) return;
  ZorHandle h;
  if (home->GetConstDataHandle(kStoreKind, kLineRecords, 1, &h)) {
    r.count = h.GetSize() / r.recSize;
    const auto* bytes = static_cast<const uint8_t*>(h.GetDatas());
    r.records.assign(bytes, bytes + size_t{r.count} * r.recSize);
  }
  if (r.withDyna) {
    r.dyna.resize(r.count);
    ZorHandle nested;
    if (home->GetData(kStoreKind, kLineDyna, 1, &nested)) {
      ZorDyna parts;
      parts.Init(&nested);
      for (uint32_t ud = 1; ud <= r.count; ++ud) parts.GetData(0, static_cast<int32_t>(ud), 1, &r.dyna[ud - 1]);
    }
  }
  home->GetData(kStoreKind, kLineRuid, 1, &r.ruid);
  home->GetDataUuid(kStoreKind, kLineVersion, 1, &r.version);
  int32_t lastBlob = 0;
  home->GetData(kStoreKind, kLineLastBlob, 1, &lastBlob);
  r.lastBlob = static_cast<uint32_t>(lastBlob);
  LoadBlobs(*home, &r.blobs);
}

void ZorTSMem::ShClose(ZorTable*) {}

void ZorTSMem::SaveInto(ZorTable* table) {
  Rep& r = *_rep;
  ZorDyna* home = table->GetDescDyna();
  if (!home) return;
  home->SetData(kStoreKind, kLineRecords, 1, static_cast<uint32_t>(size_t{r.count} * r.recSize), r.records.data());
  ZorDyna parts;
  parts.Init();
  for (uint32_t ud = 1; ud <= r.count && r.withDyna; ++ud) {
    if (r.dyna[ud - 1].GetSize()) parts.SetData(0, static_cast<int32_t>(ud), 1, &r.dyna[ud - 1]);
  }
  home->SetData(kStoreKind, kLineDyna, 1, parts.GetHandle());
  home->SetData(kStoreKind, kLineRuid, 1, r.ruid);
  if (r.version != ZorUuid()) home->SetDataUuid(kStoreKind, kLineVersion, 1, r.version);
  home->SetData(kStoreKind, kLineLastBlob, 1, static_cast<int32_t>(r.lastBlob));
  home->Clear(kStoreKind, kStoreKind, kLineBlobs, kLineBlobs, 1, INT32_MAX);
  for (auto& [ref, bytes] : r.blobs) home->SetData(kStoreKind, kLineBlobs, static_cast<int32_t>(ref), &bytes);
}

int32_t ZorTSMem::GetRuid(ZorTable*) { return _rep->ruid; }
void ZorTSMem::SetRuid(ZorTable*, int32_t ruid) { _rep->ruid = ruid; }

bool ZorTSMem::GetDataVersion(ZorTable*, ZorUuid* out) {
  if (out) *out = _rep->version;
  return _rep->version != ZorUuid();
}

int32_t ZorTSMem::PrimGetTNbr(ZorTable*, bool) { return static_cast<int32_t>(_rep->count); }

uint32_t ZorTSMem::PrimTNToUD(ZorTable* table, int32_t n) {
  Rep& r = *_rep;
  if (n < 1 || static_cast<uint32_t>(n) > r.count) return 0;
  const int32_t index = table->GetCurIndex();
  if (index < 1 || index > static_cast<int32_t>(r.indexes.size()) || r.indexes[index - 1].len == 0) {
    return static_cast<uint32_t>(n);
  }
  r.EnsureOrder(table, index);
  return r.indexes[index - 1].order[n - 1];
}

int32_t ZorTSMem::PrimUDToTN(ZorTable* table, uint32_t ud) {
  Rep& r = *_rep;
  if (!r.Valid(ud)) return 0;
  const int32_t index = table->GetCurIndex();
  if (index < 1 || index > static_cast<int32_t>(r.indexes.size()) || r.indexes[index - 1].len == 0) {
    return static_cast<int32_t>(ud);
  }
  r.EnsureOrder(table, index);
  return static_cast<int32_t>(r.indexes[index - 1].rank[ud - 1]);
}

uint32_t ZorTSMem::PrimReadUD(ZorTable* table, uint32_t ud, bool) {
  Rep& r = *_rep;
  if (!r.Valid(ud)) return 0;
  if (const uint32_t size = table->GetBufferSize()) std::memcpy(table->GetRecord(), r.Record(ud), size);
  return ud;
}

bool ZorTSMem::PrimRdDyna(ZorTable*, uint32_t ud, ZorDyna* out) {
  Rep& r = *_rep;
  if (!out) return false;
  out->Init();
  if (!r.withDyna || !r.Valid(ud) || !r.dyna[ud - 1].GetSize()) return false;
  ZorHandle copy;
  copy.Copy(&r.dyna[ud - 1]);
  out->Init(&copy);
  return true;
}

uint32_t ZorTSMem::PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n) {
  Rep& r = *_rep;
  if (n) *n = 0;
  if (index < 1 || index > static_cast<int32_t>(r.indexes.size())) return 0;
  Rep::Index& ix = r.indexes[index - 1];
  if (ix.len == 0 || r.count == 0) return 0;
  r.probe.resize(static_cast<size_t>(ix.len));
  r.KeyOf(table, index, table->GetRecord(), r.probe.data());
  if (mode == kZorTblFindEqual && !ix.orderValid) {
    r.EnsureHash(table, index);
    // Of equal keys (kept by Add) the hash holds the first in creation
    // order: it is filled in UD order and an insert keeps what it finds.
    return ix.hash[r.HashSlot(ix, r.probe.data())];
  }
  r.EnsureOrder(table, index);
  uint32_t pos = 0;
  if (mode == kZorTblFindEqual) {
    pos = r.LowerBound(ix, r.probe.data());
    if (pos > r.count || std::memcmp(ix.sortedKeys.data() + size_t{pos - 1} * ix.len, r.probe.data(), ix.len) != 0) {
      return 0;
    }
  } else if (mode == kZorTblFindGreater) {
    pos = r.LowerBound(ix, r.probe.data());
    if (pos > r.count) return 0;
  } else if (mode == kZorTblFindLess) {
    pos = r.UpperBound(ix, r.probe.data()) - 1;
    if (pos == 0) return 0;
  } else {
    return 0;
  }
  if (n) *n = static_cast<int32_t>(pos);
  return ix.order[pos - 1];
}

uint32_t ZorTSMem::PrimExist(ZorTable* table, int32_t firstIndex, int32_t lastIndex) {
  Rep& r = *_rep;
  firstIndex = std::max(firstIndex, 1);
  lastIndex = std::min(lastIndex, static_cast<int32_t>(r.indexes.size()));
  for (int32_t i = firstIndex; i <= lastIndex; ++i) {
    Rep::Index& ix = r.indexes[i - 1];
    if (ix.len == 0 || r.count == 0) continue;
    r.EnsureHash(table, i);
    r.probe.resize(static_cast<size_t>(ix.len));
    r.KeyOf(table, i, table->GetRecord(), r.probe.data());
    if (const uint32_t ud = ix.hash[r.HashSlot(ix, r.probe.data())]) return ud;
  }
  return 0;
}

uint32_t ZorTSMem::PrimWrite(ZorTable* table, bool add) {
  Rep& r = *_rep;
  if (!add && PrimExist(table, 1, static_cast<int32_t>(r.indexes.size()))) {
    ZorRaise({kSource, 582}, ZorErr(1, 48));
  }
  if (r.count == UINT32_MAX - 1 || size_t{r.count + 1} * r.recSize > UINT32_MAX) ZorRaise({kSource, 582}, ZorErr(1, 25));
  table->DoBlob(1, table->GetRecord());
  r.records.resize(size_t{r.count + 1} * r.recSize);
  ++r.count;
  std::memset(r.Record(r.count), 0, r.recSize);
  std::memcpy(r.Record(r.count), table->GetRecord(), table->GetBufferSize());
  if (r.withDyna) {
    r.dyna.emplace_back();
    if (table->GetDynaState() != 0) r.dyna.back().Copy(table->GetDyna()->GetHandle());
  }
  r.Appended(table);
  if (table->GetUniqueIdField() > 0) ++r.ruid;
  r.NewVersionIfEnum();
  table->_SetLastUD(r.count);
  return r.count;
}

// An update must not give a record the key another record holds.
void ZorTSMem::PrimUpd(ZorTable* table, bool dynaChanged) {
  Rep& r = *_rep;
  const uint32_t ud = table->GetCurUD();
  if (!r.Valid(ud)) ZorRaise({kSource, 706}, ZorErr(1, 49));
  for (int32_t i = 1; i <= static_cast<int32_t>(r.indexes.size()); ++i) {
    Rep::Index& ix = r.indexes[i - 1];
    if (ix.len == 0) continue;
    r.EnsureHash(table, i);
    r.probe.resize(static_cast<size_t>(ix.len));
    r.KeyOf(table, i, table->GetRecord(), r.probe.data());
    const uint32_t holder = ix.hash[r.HashSlot(ix, r.probe.data())];
    if (holder != 0 && holder != ud && std::memcmp(r.KeyAt(ix, ud), r.probe.data(), ix.len) != 0) {
      ZorRaise({kSource, 650}, ZorErr(1, 48));
    }
  }
  std::vector<uint8_t> stored(r.Record(ud), r.Record(ud) + r.recSize);
  table->DoBlob(3, stored.data());
  std::memcpy(r.Record(ud), table->GetRecord(), table->GetBufferSize());
  if (r.withDyna && dynaChanged) r.dyna[ud - 1].Copy(table->GetDyna()->GetHandle());
  r.Updated(table, ud);
  r.NewVersionIfEnum();
}

void ZorTSMem::PrimDel(ZorTable* table) {
  Rep& r = *_rep;
  const uint32_t ud = table->GetCurUD();
  if (!r.Valid(ud)) ZorRaise({kSource, 706}, ZorErr(1, 49));
  table->DoBlob(4, r.Record(ud));
  r.records.erase(r.records.begin() + static_cast<std::ptrdiff_t>(size_t{ud - 1} * r.recSize),
                  r.records.begin() + static_cast<std::ptrdiff_t>(size_t{ud} * r.recSize));
  if (r.withDyna) r.dyna.erase(r.dyna.begin() + (ud - 1));
  --r.count;
  r.Deleted(ud);
  r.NewVersionIfEnum();
}

void ZorTSMem::PrimEmpty(ZorTable*) {
  Rep& r = *_rep;
  r.records.clear();
  r.dyna.clear();
  r.blobs.clear();
  r.count = 0;
  r.DropAll();
  r.NewVersionIfEnum();
}

void ZorTSMem::PrimSwap(ZorTable*, uint32_t ud1, uint32_t ud2) {
  Rep& r = *_rep;
  if (!r.Valid(ud1) || !r.Valid(ud2)) ZorRaise({kSource, 760}, ZorErr(1, 49));
  if (ud1 == ud2) return;
  std::swap_ranges(r.Record(ud1), r.Record(ud1) + r.recSize, r.Record(ud2));
  if (r.withDyna) std::swap(r.dyna[ud1 - 1], r.dyna[ud2 - 1]);
  r.Swapped(ud1, ud2);
}

bool ZorTSMem::BlobRead(ZorTable*, int32_t, uint32_t ref, ZorHandle* out) {
  if (!out) return false;
  out->Trash();
  auto it = _rep->blobs.find(ref);
  if (it == _rep->blobs.end()) return false;
  out->Copy(&it->second);
  return true;
}

uint32_t ZorTSMem::BlobCreate(ZorTable*, int32_t, const ZorHandle* data) {
  Rep& r = *_rep;
  const uint32_t ref = ++r.lastBlob;
  if (data) r.blobs[ref].Copy(data);
  return ref;
}

uint32_t ZorTSMem::BlobUpdate(ZorTable* table, int32_t field, uint32_t ref, const ZorHandle* data) {
  auto it = _rep->blobs.find(ref);
  if (it == _rep->blobs.end()) return BlobCreate(table, field, data);
  if (data) {
    it->second.Copy(data);
  } else {
    it->second.Trash();
  }
  return ref;
}

void ZorTSMem::BlobDelete(ZorTable*, int32_t, uint32_t ref) { _rep->blobs.erase(ref); }

int32_t ZorTSMem::BlobInfo(ZorTable*, int32_t, uint32_t ref) {
  auto it = _rep->blobs.find(ref);
  return it == _rep->blobs.end() ? 0 : static_cast<int32_t>(it->second.GetSize());
}

// Compaction in memory: give back the spare capacity of the arrays.
bool ZorTSMem::Reorg(ZorTable*, bool) {
  Rep& r = *_rep;
  r.records.shrink_to_fit();
  r.dyna.shrink_to_fit();
  return true;
}

}  // namespace zorvane
