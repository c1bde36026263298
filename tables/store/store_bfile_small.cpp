// ZorTSBFileSmall: a whole table in its directory block.
//
// Directory header: 0 last unique id | 4 change counter | 8 last dynamic-
// part number | 12 data-version GUID (128-byte header only). Items: the
// records in storage order; UD = place. Dynamic parts live in one type-102
// block, a ZorDyna holding part n at (0, n, 0); a record's leading word is
// its n (0: none).
//
// Key order comes from a sorted array of [key, UD] built for one index at
// a time and kept while the index and the change counter are unchanged.
// Equal keys (stored by Add) keep storage order there, so that the first
// record of a key is the same with or without the sorted array.
#include <algorithm>
#include <numeric>

#include "tables/store/store_bfile_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/verification.h>

namespace zorvane {

using namespace tbf;

namespace {

constexpr uint32_t kRuid = 0, kCounter = 4, kDynNum = 8, kVersion = 12;
constexpr uint32_t kShortHeader = 12, kLongHeader = 128;
constexpr int32_t kInsertReserve = 100;  // records of spare room after an insertion

using Rep = ZorTSBFile::Rep;

int32_t Count(const Rep& r) { return r.dir.IsInit() ? r.dir.GetNbItem() : 0; }
bool Valid(const Rep& r, uint32_t ud) { return ud >= 1 && ud <= static_cast<uint32_t>(Count(r)); }
uint8_t* Item(const Rep& r, uint32_t ud) { return static_cast<uint8_t*>(r.dir[static_cast<int32_t>(ud)]); }

// The key of a record (the fixed part, after the leading word) into r.key.
const uint8_t* KeyOf(Rep& r, int32_t index, const uint8_t* record, std::vector<uint8_t>* out) {
  out->resize(static_cast<size_t>(r.KeyLen(index)));
  r.table->BuildKey(index, record, out->data());
  return out->data();
}

int Compare(const uint8_t* a, const uint8_t* b, int32_t len) { return ZorCompIndex(a, b, len); }

// The sorted [key, UD] array of an index, built when it is stale.
void EnsureCache(Rep& r, int32_t index) {
  const uint32_t counter = r.HdrGet(kCounter);
  if (r.cacheIndex == index && r.cacheCounter == counter && r.cache.IsInit()) return;
  const int32_t len = r.KeyLen(index), count = Count(r);
  std::vector<uint8_t> keys(static_cast<size_t>(count) * len);
  for (int32_t ud = 1; ud <= count; ++ud) {
    r.table->BuildKey(index, Item(r, ud) + 4, keys.data() + static_cast<size_t>(ud - 1) * len);
  }
  std::vector<int32_t> order(static_cast<size_t>(count));
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return Compare(&keys[static_cast<size_t>(a - 1) * len], &keys[static_cast<size_t>(b - 1) * len], len) < 0;
  });
  r.cache.Reset(0, static_cast<uint32_t>(len) + 4);
  r.cache.SetNbItem(count, false);
  for (int32_t i = 1; i <= count; ++i) {
    auto* at = static_cast<uint8_t*>(r.cache[i]);
    std::memcpy(at, &keys[static_cast<size_t>(order[i - 1] - 1) * len], len);
    Put32(at + len, static_cast<uint32_t>(order[i - 1]));
  }
  r.cacheIndex = index;
  r.cacheCounter = counter;
}

// The first entry whose key is not below key (upper: above), 1..count + 1.
int32_t Bound(const Rep& r, const uint8_t* key, int32_t len, bool upper) {
  int32_t lo = 1, hi = r.cache.GetNbItem() + 1;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int c = Compare(static_cast<const uint8_t*>(r.cache[mid]), key, len);
    if (upper ? c <= 0 : c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

uint32_t CacheUD(const Rep& r, int32_t entry, int32_t len) {
  return Get32(static_cast<const uint8_t*>(r.cache[entry]) + len);
}

// The first record in storage order (other than except) whose key on index
// equals key; 0 when none.
uint32_t FindEqual(Rep& r, int32_t index, const uint8_t* key, uint32_t except) {
  const int32_t len = r.KeyLen(index);
  if (r.cacheIndex == index && r.cacheCounter == r.HdrGet(kCounter) && r.cache.IsInit()) {
    for (int32_t e = Bound(r, key, len, false); e <= r.cache.GetNbItem(); ++e) {
      if (Compare(static_cast<const uint8_t*>(r.cache[e]), key, len) != 0) break;
      if (CacheUD(r, e, len) != except) return CacheUD(r, e, len);
    }
    return 0;
  }
  for (int32_t ud = 1, count = Count(r); ud <= count; ++ud) {
    if (static_cast<uint32_t>(ud) == except) continue;
    if (Compare(KeyOf(r, index, Item(r, ud) + 4, &r.key2), key, len) == 0) return static_cast<uint32_t>(ud);
  }
  return 0;
}

// ------------------------------------------------------------------ dynamic parts

int32_t DynaBlock(const Rep& r) { return r.file->BGetOTBlockId(r.owner, kZorTbBlkDyna, 0); }

void EnsureDynaBlock(Rep& r) {
  if (DynaBlock(r)) return;
  ZorHandle empty;
  empty.Init(0);
  r.file->BCreate(&empty, r.owner, kZorTbBlkDyna, kDynaReserve, true);
}

// Stores part n (replacing it), or removes it for an empty part. Removing the
// last part empties the block and restarts the numbering.
void PutDyna(Rep& r, uint32_t n, const ZorHandle* part) {
  EnsureDynaBlock(r);
  const int32_t id = DynaBlock(r);
  ZorHandle h;
  r.file->BRead(id, &h);
  ZorDyna d;
  d.Init(&h);
  if (part) {
    d.SetData(0, static_cast<int32_t>(n), 0, part);
  } else {
    d.SetData(0, static_cast<int32_t>(n), 0, uint32_t{0}, nullptr);
  }
  if (d.GetHandle()->GetSize() == 0) r.HdrPut(kDynNum, 0);
  r.file->BWrite(id, 0);
}

bool PartIsEmpty(const ZorHandle* part) { return !part || !part->IsInit() || part->GetSize() == 0; }

}  // namespace

// ------------------------------------------------------------------ open

void ZorTSBFileSmall::ShOpen(ZorTable* table) {
  Attach(table);
  Rep& r = *_rep;
  table->SetModeFlags(kZorTblMfAddOk | kZorTblMfSwapOk, true);
  r.headerSize = r.versioned ? kLongHeader : kShortHeader;
  r.dir.Reset(r.headerSize, r.itemSize);
  if (r.dirId) {
    r.LoadDir();
    if ((r.dir.GetHandle()->GetSize() - r.headerSize) % r.itemSize != 0) Raise(kErrBadData);
  } else {
    r.dir.Init();
    r.HdrPut(kCounter, 1);
    r.NewVersion(kVersion);
    r.CreateDir();
  }
  if (r.withDyna && r.writable && !DynaBlock(r)) {
    Txn txn(r.file);
    EnsureDynaBlock(r);
    txn.Commit();
  }
}

bool ZorTSBFileSmall::GetDataVersion(ZorTable*, ZorUuid* out) { return _rep->DataVersion(kVersion, out); }

// ------------------------------------------------------------------ access

int32_t ZorTSBFileSmall::PrimGetTNbr(ZorTable*, bool) {
  _rep->LoadDir();
  return Count(*_rep);
}

uint32_t ZorTSBFileSmall::PrimTNToUD(ZorTable* table, int32_t n) {
  Rep& r = *_rep;
  r.LoadDir();
  if (n < 1 || n > Count(r)) return 0;
  const int32_t index = table->GetCurIndex();
  if (r.KeyLen(index) == 0) return static_cast<uint32_t>(n);
  EnsureCache(r, index);
  return CacheUD(r, n, r.KeyLen(index));
}

int32_t ZorTSBFileSmall::PrimUDToTN(ZorTable* table, uint32_t ud) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!Valid(r, ud)) return 0;
  const int32_t index = table->GetCurIndex();
  const int32_t len = r.KeyLen(index);
  if (len == 0) return static_cast<int32_t>(ud);
  EnsureCache(r, index);
  for (int32_t e = 1; e <= r.cache.GetNbItem(); ++e) {
    if (CacheUD(r, e, len) == ud) return e;
  }
  return 0;
}

uint32_t ZorTSBFileSmall::PrimReadUD(ZorTable* table, uint32_t ud, bool load) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!Valid(r, ud)) return 0;
  if (load) std::memcpy(table->GetRecordItem(), Item(r, ud), r.itemSize);
  return ud;
}

bool ZorTSBFileSmall::PrimRdDyna(ZorTable*, uint32_t ud, ZorDyna* out) {
  Rep& r = *_rep;
  if (!out) return false;
  out->Init();
  r.LoadDir();
  if (!Valid(r, ud)) return false;
  const uint32_t n = Get32(Item(r, ud));
  return n != 0 && n <= INT32_MAX && r.ReadDynaCell(DynaBlock(r), static_cast<int32_t>(n), out);
}

uint32_t ZorTSBFileSmall::PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n) {
  Rep& r = *_rep;
  if (n) *n = 0;
  r.LoadDir();
  const int32_t len = r.KeyLen(index);
  if (len == 0 || Count(r) == 0) return 0;
  KeyOf(r, index, table->GetRecord(), &r.key);
  const bool cached = r.cacheIndex == index && r.cacheCounter == r.HdrGet(kCounter) && r.cache.IsInit();
  if (mode == kZorTblFindEqual && !cached) return FindEqual(r, index, r.key.data(), 0);
  EnsureCache(r, index);
  int32_t e = 0;
  if (mode == kZorTblFindEqual || mode == kZorTblFindGreater) {
    e = Bound(r, r.key.data(), len, false);
    if (e > r.cache.GetNbItem()) return 0;
    if (mode == kZorTblFindEqual && Compare(static_cast<const uint8_t*>(r.cache[e]), r.key.data(), len) != 0) {
      return 0;
    }
  } else if (mode == kZorTblFindLess) {
    e = Bound(r, r.key.data(), len, true) - 1;
    if (e < 1) return 0;
  } else {
    return 0;
  }
  if (n) *n = e;
  return CacheUD(r, e, len);
}

uint32_t ZorTSBFileSmall::PrimExist(ZorTable* table, int32_t firstIndex, int32_t lastIndex) {
  Rep& r = *_rep;
  r.LoadDir();
  for (int32_t i = std::max(firstIndex, 1); i <= std::min(lastIndex, r.NbIndex()); ++i) {
    if (r.KeyLen(i) == 0) continue;
    if (const uint32_t ud = FindEqual(r, i, KeyOf(r, i, table->GetRecord(), &r.key), 0)) return ud;
  }
  return 0;
}

// ------------------------------------------------------------------ changes

uint32_t ZorTSBFileSmall::PrimWrite(ZorTable* table, bool add) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!add && PrimExist(table, 1, r.NbIndex())) Raise(kErrExist);
  if (uint64_t{r.headerSize} + uint64_t{r.itemSize} * (static_cast<uint64_t>(Count(r)) + 1) > kZorBfMaxBlockSize) {
    ZorRaise(kSource, ZorErr(1, 16));
  }
  table->DoBlob(1, table->GetRecord());
  uint8_t* item = table->GetRecordItem();
  Put32(item, 0);
  if (r.withDyna && table->GetDynaState() != 0 && !PartIsEmpty(table->GetDyna()->GetHandle())) {
    const uint32_t n = r.HdrGet(kDynNum) + 1;
    PutDyna(r, n, table->GetDyna()->GetHandle());
    r.HdrPut(kDynNum, n);
    Put32(item, n);
  }
  r.dir.Ins(0, item);
  if (r.withUid) r.HdrPut(kRuid, r.HdrGet(kRuid) + 1);
  r.HdrPut(kCounter, r.HdrGet(kCounter) + 1);
  r.NewVersion(kVersion);
  r.SaveDir(kInsertReserve * static_cast<int32_t>(r.itemSize));
  const auto ud = static_cast<uint32_t>(Count(r));
  table->_SetLastUD(ud);
  return ud;
}

// An update must not give the record a key another record holds; keeping
// its own key (even one it shares since an Add) is always allowed.
void ZorTSBFileSmall::PrimUpd(ZorTable* table, bool dynaChanged) {
  Rep& r = *_rep;
  r.LoadDir();
  const uint32_t ud = table->GetCurUD();
  if (!Valid(r, ud)) Raise(kErrNoRecord);
  for (int32_t i = 1; i <= r.NbIndex(); ++i) {
    const int32_t len = r.KeyLen(i);
    if (len == 0) continue;
    KeyOf(r, i, table->GetRecord(), &r.key);
    KeyOf(r, i, Item(r, ud) + 4, &r.probe);
    if (Compare(r.key.data(), r.probe.data(), len) != 0 && FindEqual(r, i, r.key.data(), ud)) Raise(kErrExist);
  }
  table->DoBlob(3, Item(r, ud) + 4);
  uint8_t* item = table->GetRecordItem();
  uint32_t n = Get32(Item(r, ud));
  if (r.withDyna && dynaChanged) {
    const ZorHandle* part = table->GetDyna()->GetHandle();
    if (PartIsEmpty(part)) {
      if (n) PutDyna(r, n, nullptr);
      n = 0;
    } else {
      if (n == 0) {
        n = r.HdrGet(kDynNum) + 1;
        r.HdrPut(kDynNum, n);
      }
      PutDyna(r, n, part);
    }
  }
  Put32(item, n);
  std::memcpy(Item(r, ud), item, r.itemSize);
  r.HdrPut(kCounter, r.HdrGet(kCounter) + 1);
  r.NewVersion(kVersion);
  r.SaveDir();
}

void ZorTSBFileSmall::PrimDel(ZorTable* table) {
  Rep& r = *_rep;
  r.LoadDir();
  const uint32_t ud = table->GetCurUD();
  if (!Valid(r, ud)) Raise(kErrNoRecord);
  table->DoBlob(4, Item(r, ud) + 4);
  if (const uint32_t n = Get32(Item(r, ud))) {
    if (DynaBlock(r)) PutDyna(r, n, nullptr);
  }
  r.dir.Del(static_cast<int32_t>(ud));
  r.HdrPut(kCounter, r.HdrGet(kCounter) + 1);
  r.NewVersion(kVersion);
  r.SaveDir();
}

void ZorTSBFileSmall::PrimEmpty(ZorTable* table) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!r.dirId) r.CheckWritable();
  empty(table);
  r.dir.Clear();
  r.HdrPut(kDynNum, 0);
  r.HdrPut(kCounter, r.HdrGet(kCounter) + 1);
  r.NewVersion(kVersion);
  r.SaveDir();
  if (r.withDyna) EnsureDynaBlock(r);
}

void ZorTSBFileSmall::PrimSwap(ZorTable*, uint32_t ud1, uint32_t ud2) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!Valid(r, ud1) || !Valid(r, ud2)) Raise(kErrNoRecord);
  if (ud1 == ud2) return;
  r.dir.Swap(static_cast<int32_t>(ud1), static_cast<int32_t>(ud2));
  r.HdrPut(kCounter, r.HdrGet(kCounter) + 1);
  r.NewVersion(kVersion);
  r.SaveDir();
}

// ------------------------------------------------------------------ upgrade, checks

// Records that keep their bytes stay in place (others are copied): the directory's room follows
// the new "Data max", the description is rewritten, and a new table id gives
// the blocks a new owner.
void ZorTSBFileSmall::upgrade(sZorUpgrade* upgrade) {
  Rep& r = *_rep;
  if (!SameRecordLayout(upgrade)) {
    sZorUpgrade copy = *upgrade;
    copy.flags |= kZorUpgCopy;
    Upgrade(&copy);
    return;
  }
  ZorTableDesc* to = upgrade->to->GetDesc();
  const int32_t maxData = to->GetMaxData();
  if (maxData != r.maxData) {
    const uint32_t itemSize = upgrade->to->GetBufferSize() + 4;
    const uint64_t wanted = Rep::DirCapacity(itemSize, maxData);
    int32_t o = 0, s = 0;
    int16_t t = 0;
    uint32_t capacity = 0;
    uint8_t flags = 0;
    r.file->GetBlockInfo(r.dirId, &o, &t, &s, &capacity, &flags);
    if (wanted > capacity && wanted <= kZorBfMaxBlockSize) {
      r.LoadDir();
      r.SaveDir(static_cast<int32_t>(wanted - static_cast<uint64_t>(s)));
    }
  }
  ZorTableDesc stored;
  stored.BuildFromHdl(to->GetHandle());
  stored.SetStorage(kZorTblStorBFile);
  const int32_t newOwner = ZorTableOwner(stored.GetTId());
  ShClose(upgrade->from);
  if (newOwner != r.owner) r.file->BChangeOwner(r.owner, newOwner, -32768, 32767);
  ZorWriteTableDescBlock(r.file, stored.GetTId(), stored.GetHandle());
}

bool ZorTSBFileSmall::Verify(ZorTable*, ZorVerif* report) {
  Rep& r = *_rep;
  r.LoadDir();
  bool ok = true;
  auto fail = [&](int32_t message, int32_t a = 0, int32_t b = 0) {
    ok = false;
    if (report) report->AddItemMsg(kZorVerifError, 0, 0, 1, 120, message, a, b);
  };
  if (r.dir.IsInit() && (r.dir.GetHandle()->GetSize() - r.headerSize) % r.itemSize != 0) fail(74);
  const int32_t id = DynaBlock(r);
  ZorDyna d;
  ZorHandle h, part;
  if (id) {
    r.file->BRead(id, &h);
    d.Init(&h);
  }
  for (int32_t ud = 1; ud <= Count(r); ++ud) {
    const uint32_t n = Get32(Item(r, ud));
    if (n == 0) continue;
    if (!id || n > r.HdrGet(kDynNum) || !d.GetData(0, static_cast<int32_t>(n), 0, &part)) fail(65, ud, id);
  }
  return ok;
}

}  // namespace zorvane

namespace zorvane {

// ------------------------------------------------------------------ links

void ZorTSBFileSmall::VisitItems(const ItemVisitor& visit) {
  Rep& r = *_rep;
  bool changed = false;
  for (int32_t n = 1; n <= Count(r); ++n) changed |= visit(static_cast<uint32_t>(n), Item(r, static_cast<uint32_t>(n)));
  if (changed) r.SaveDir();
}

bool ZorTSBFileSmall::DynaCell(uint32_t, uint32_t lead, int32_t* block, int32_t* line) const {
  if (lead == 0 || lead > INT32_MAX) return false;
  *block = DynaBlock(*_rep);
  *line = static_cast<int32_t>(lead);
  return true;
}

}  // namespace zorvane
