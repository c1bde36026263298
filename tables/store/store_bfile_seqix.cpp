// ZorTSBFileSeqIx: records in data blocks, every index a run of sorted
// leaves listed in the directory block.
//
// A change first decides whether it is refused (a key another record holds:
// 48; no such record: 49; an index that does not lead to the entry it must
// change: 19), reading only; then it writes. So a refusal leaves the table
// and the file as they were. Index maintenance per index: insert the new
// entry (splitting a leaf that grows past C entries: its upper half moves
// to a new block that takes over the directory item, the lower half keeps
// the block under a new item before it), then remove the old one (a leaf
// left empty goes, unless it closes the run).
#include <algorithm>

#include "tables/store/store_bfile_seqix.h"
#include <zorvane/cell_container.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tbf;
using namespace seqix;

namespace seqix {

int32_t LeafCapacity(const Rep& r, int32_t index) { return std::max(1, gLeafBudget / (r.KeyLen(index) + 4)); }

namespace {

// The item at the insertion point of a 1-byte tag search: after an exact
// match, else where the tag would go.
int32_t AfterTag(const Rep& r, char tag) {
  if (NbItems(r) == 0) return 1;
  const int32_t pos = r.dir.DicoIndex(8, &tag, 1);
  return pos > 0 ? pos + 1 : -pos;
}

}  // namespace

int32_t NbDataItems(const Rep& r) { return AfterTag(r, '1') - 1; }
int32_t FirstItemOf(const Rep& r, int32_t index) { return AfterTag(r, ClosingTag(index - 1)); }

int32_t ClosingItemOf(const Rep& r, int32_t index) {
  if (NbItems(r) == 0) return 0;
  const char tag = ClosingTag(index);
  const int32_t pos = r.dir.DicoIndex(8, &tag, 1);
  return pos > 0 ? pos : 0;
}

bool ItemOfIndex(const Rep& r, int32_t item, int32_t index) {
  if (item < 1 || item > NbItems(r)) return false;
  const char tag = ItemTag(r, item);
  return tag == EvenTag(index) || tag == ClosingTag(index);
}

int32_t LocateLeaf(Rep& r, int32_t index, const uint8_t* key) {
  if (!ClosingItemOf(r, index)) return 0;
  r.probe.assign(static_cast<size_t>(r.width), 0);
  r.probe[0] = static_cast<uint8_t>(EvenTag(index));
  std::memcpy(r.probe.data() + 1, key, static_cast<size_t>(r.KeyLen(index)));
  const int32_t pos = r.dir.DicoIndex(8, r.probe.data(), r.width);
  const int32_t item = pos > 0 ? pos : -pos;
  return ItemOfIndex(r, item, index) ? item : 0;
}

bool ReadLeaf(const Rep& r, int32_t item, int32_t index, ZorBGet* leaf) {
  if (!ItemOfIndex(r, item, index)) return false;
  const int32_t block = ItemBlock(r, item);
  uint32_t size = 0;
  const uint32_t entry = static_cast<uint32_t>(r.KeyLen(index)) + 4;
  if (!r.IsBlockOf(block, static_cast<int16_t>(index), &size) || size % entry != 0) return false;
  ZorHandle h;
  r.file->BRead(block, &h);
  leaf->Reset(0, entry);
  leaf->Init(&h);
  return true;
}

bool ReadData(const Rep& r, int32_t block, ZorBGet* data) {
  uint32_t size = 0;
  if (!r.IsBlockOf(block, kZorTbBlkData, &size) || size % r.itemSize != 0) return false;
  ZorHandle h;
  r.file->BRead(block, &h);
  data->Reset(0, r.itemSize);
  data->Init(&h);
  return true;
}

const uint8_t* SlotOf(const Rep& r, uint32_t ud, ZorBGet* data) {
  const uint32_t block = ud / kSlotsPerBlock, slot = ud % kSlotsPerBlock;
  if (slot == 0 || block > INT32_MAX || !ReadData(r, static_cast<int32_t>(block), data)) return nullptr;
  if (slot > static_cast<uint32_t>(data->GetNbItem())) return nullptr;
  return static_cast<const uint8_t*>((*data)[static_cast<int32_t>(slot)]);
}

}  // namespace seqix

namespace {

int Compare(const uint8_t* a, const uint8_t* b, int32_t len) { return ZorCompIndex(a, b, len); }

bool IsDeletedItem(const uint8_t* item) { return Get32(item) == kDeleted; }

void SetItem(Rep& r, int32_t i, int32_t block, int32_t count, char tag, const uint8_t* key, int32_t keyLen) {
  uint8_t* at = ItemAt(r, i);
  std::memset(at, 0, r.dir.GetItemSize());
  Put32(at, static_cast<uint32_t>(block));
  Put32(at + 4, static_cast<uint32_t>(count));
  at[8] = static_cast<uint8_t>(tag);
  if (key) std::memcpy(at + 9, key, static_cast<size_t>(keyLen));
}

void SetItemCount(Rep& r, int32_t i, int32_t count) { Put32(ItemAt(r, i) + 4, static_cast<uint32_t>(count)); }

// Directory items of index i's leaves with the entries before each: built
// for each index and kept while the data version it was built under holds
// (tables of older descriptions have none, and walk the run every time).
const Rep::Run& RunOf(Rep& r, int32_t index) {
  ZorUuid version;
  if (r.versioned) version.SetBytes(r.Hdr() + kVersion);
  if (r.runs.size() < static_cast<size_t>(index)) r.runs.resize(static_cast<size_t>(index));
  Rep::Run& run = r.runs[static_cast<size_t>(index - 1)];
  if (run.valid && run.version == version) return run;
  run.items.clear();
  run.counts.clear();
  int64_t before = 0;
  for (int32_t i = FirstItemOf(r, index); i <= NbItems(r) && ItemOfIndex(r, i, index); ++i) {
    run.items.push_back(i);
    run.counts.push_back(before);
    before += std::max(0, ItemCount(r, i));
  }
  run.counts.push_back(before);
  run.valid = r.versioned;
  run.version = version;
  return run;
}

// Entries of index i's leaves before directory item `item`.
int64_t EntriesBefore(Rep& r, int32_t index, int32_t item) {
  const Rep::Run& run = RunOf(r, index);
  const auto it = std::lower_bound(run.items.begin(), run.items.end(), item);
  return run.counts[static_cast<size_t>(it - run.items.begin())];
}

const uint8_t* KeyOf(Rep& r, int32_t index, const uint8_t* record, std::vector<uint8_t>* out) {
  out->resize(static_cast<size_t>(r.KeyLen(index)));
  r.table->BuildKey(index, record, out->data());
  return out->data();
}

// The stored key of `key` in index i: found (>0) at entry e of leaf item, or
// not found (<=0).
struct Spot {
  int32_t item = 0;
  int32_t entry = 0;  // > 0 found; else -(insertion point)
};

Spot Find(Rep& r, int32_t index, const uint8_t* key, ZorBGet* leaf) {
  Spot s;
  s.item = LocateLeaf(r, index, key);
  if (!s.item || !ReadLeaf(r, s.item, index, leaf)) {
    s.item = 0;
    return s;
  }
  s.entry = leaf->GetNbItem() ? leaf->DicoIndex(4, key, r.KeyLen(index)) : -1;
  return s;
}

// ------------------------------------------------------------------ maintenance

void CreateClosingLeaf(Rep& r, int32_t index) {
  const int32_t len = r.KeyLen(index);
  ZorHandle empty;
  empty.Init(0);
  const int32_t block = r.file->BCreate(&empty, r.owner, static_cast<int16_t>(index),
                                        static_cast<uint32_t>(LeafCapacity(r, index) * (len + 4)), true);
  const int32_t at = AfterTag(r, ClosingTag(index - 1));
  // The run of index i starts there; its closing item goes after its
  // leaves, of which there are none yet.
  r.dir.Ins(at, nullptr);
  SetItem(r, at, block, 0, ClosingTag(index), nullptr, 0);
}

void SplitLeaf(Rep& r, int32_t index, int32_t item, ZorBGet* leaf) {
  const int32_t len = r.KeyLen(index), count = leaf->GetNbItem();
  const int32_t upper = count / 2, lower = count - upper;
  ZorHandle moved;
  moved.Init(static_cast<uint32_t>(upper) * static_cast<uint32_t>(len + 4));
  std::memcpy(moved.GetDatas(), (*leaf)[lower + 1], moved.GetSize());
  const int32_t block = r.file->BCreate(&moved, r.owner, static_cast<int16_t>(index),
                                        static_cast<uint32_t>(LeafCapacity(r, index) * (len + 4)), true);
  const int32_t oldBlock = ItemBlock(r, item);
  leaf->DelRange(lower + 1, upper);
  Put32(ItemAt(r, item), static_cast<uint32_t>(block));
  SetItemCount(r, item, upper);
  r.dir.Ins(item, nullptr);
  SetItem(r, item, oldBlock, lower, EvenTag(index), EntryKey(*leaf, lower), len);
}

void InsertEntry(Rep& r, int32_t index, const uint8_t* key, uint32_t ud) {
  const int32_t len = r.KeyLen(index);
  if (!ClosingItemOf(r, index)) CreateClosingLeaf(r, index);
  ZorBGet leaf;
  const Spot s = Find(r, index, key, &leaf);
  if (!s.item) Raise(kErrBadData);
  if (s.entry > 0) Raise(kErrExist);
  r.scratch.resize(static_cast<size_t>(len) + 4);
  Put32(r.scratch.data(), ud);
  std::memcpy(r.scratch.data() + 4, key, static_cast<size_t>(len));
  leaf.Ins(-s.entry, r.scratch.data());
  const int32_t block = ItemBlock(r, s.item);
  SetItemCount(r, s.item, leaf.GetNbItem());
  if (leaf.GetNbItem() > LeafCapacity(r, index)) SplitLeaf(r, index, s.item, &leaf);
  r.file->BWrite(block, 0);
}

void RemoveEntry(Rep& r, int32_t index, const uint8_t* key) {
  const int32_t len = r.KeyLen(index);
  ZorBGet leaf;
  const Spot s = Find(r, index, key, &leaf);
  if (!s.item || s.entry <= 0) Raise(kErrBadData);
  const int32_t block = ItemBlock(r, s.item);
  const bool closing = ItemTag(r, s.item) == ClosingTag(index);
  const int32_t count = leaf.GetNbItem();
  if (count == 1 && !closing) {
    leaf.Trash();
    r.file->BDelete(block);
    r.dir.Del(s.item);
    return;
  }
  leaf.Del(s.entry);
  SetItemCount(r, s.item, count - 1);
  if (s.entry == count && !closing) {
    std::memset(ItemAt(r, s.item) + 9, 0, static_cast<size_t>(r.width) - 1);
    std::memcpy(ItemAt(r, s.item) + 9, EntryKey(leaf, count - 1), static_cast<size_t>(len));
  }
  r.file->BWrite(block, 0);
}

// The refusals of a change, before anything is written: a new key another
// record holds (48), an old entry the index does not have (19).
void CheckNewKey(Rep& r, int32_t index, const uint8_t* key) {
  if (!ClosingItemOf(r, index)) return;
  ZorBGet leaf;
  const Spot s = Find(r, index, key, &leaf);
  if (!s.item) Raise(kErrBadData);
  if (s.entry > 0) Raise(kErrExist);
}

void CheckOldEntry(Rep& r, int32_t index, const uint8_t* key, uint32_t ud) {
  ZorBGet leaf;
  const Spot s = Find(r, index, key, &leaf);
  if (!s.item || s.entry <= 0 || EntryUD(leaf, s.entry) != ud) Raise(kErrBadData);
}

// ------------------------------------------------------------------ record ids

// Pops a reusable id, when one designates a deleted slot; 0 otherwise.
uint32_t PopReused(Rep& r) {
  const int32_t list = static_cast<int32_t>(r.HdrGet(kReuse));
  if (!list) return 0;
  if (!r.IsBlockOf(list, kZorTbBlkReuse)) {
    r.HdrPut(kReuse, 0);
    return 0;
  }
  ZorHandle h;
  r.file->BRead(list, &h);
  ZorBGet ids(0, 4);
  ids.Init(&h);
  uint32_t ud = 0;
  while (ids.GetNbItem() > 0 && !ud) {
    ud = Get32(ids[ids.GetNbItem()]);
    ids.Del(ids.GetNbItem());
    ZorBGet data;
    const uint8_t* item = SlotOf(r, ud, &data);
    if (!item || !IsDeletedItem(item)) ud = 0;
  }
  if (ids.GetNbItem() == 0) {
    ids.Trash();
    r.file->BDelete(list);
    r.HdrPut(kReuse, 0);
  } else {
    r.file->BWrite(list, 0);
  }
  return ud;
}

void PushReused(Rep& r, uint32_t ud) {
  int32_t list = static_cast<int32_t>(r.HdrGet(kReuse));
  if (list && !r.IsBlockOf(list, kZorTbBlkReuse)) list = 0;
  uint8_t bytes[4];
  Put32(bytes, ud);
  if (!list) {
    ZorHandle h;
    h.Init(bytes, 4);
    r.HdrPut(kReuse, static_cast<uint32_t>(r.file->BCreate(&h, r.owner, kZorTbBlkReuse, kReuseReserve, true)));
    return;
  }
  ZorHandle h;
  r.file->BRead(list, &h);
  ZorBGet ids(0, 4);
  ids.Init(&h);
  if (ids.GetNbItem() >= kMaxReuse) return;
  ids.Ins(0, bytes);
  r.file->BWrite(list, 0);
}

// The UD of a new record: a reused one, the next slot of the last data
// block, or slot 1 of a new data block. Counts it.
uint32_t AllocateUD(Rep& r) {
  r.HdrPut(kValid, r.HdrGet(kValid) + 1);
  if (const uint32_t ud = PopReused(r)) return ud;
  r.HdrPut(kSlots, r.HdrGet(kSlots) + 1);
  const int32_t last = NbDataItems(r);
  if (last > 0 && ItemCount(r, last) < r.perBlock) {
    SetItemCount(r, last, ItemCount(r, last) + 1);
    return static_cast<uint32_t>(ItemBlock(r, last)) * kSlotsPerBlock + static_cast<uint32_t>(ItemCount(r, last));
  }
  ZorHandle empty;
  empty.Init(0);
  const int32_t block = r.file->BCreate(&empty, r.owner, kZorTbBlkData,
                                        static_cast<uint32_t>(r.perBlock) * r.itemSize, true);
  r.dir.Ins(last + 1, nullptr);
  SetItem(r, last + 1, block, 1, kDataTag, nullptr, 0);
  return static_cast<uint32_t>(block) * kSlotsPerBlock + 1;
}

// Whether a new data block may be needed and its id could not make a UD.
void CheckRoomForUD(const Rep& r) {
  const int32_t last = NbDataItems(r);
  const bool fresh = r.HdrGet(kReuse) == 0 && (last == 0 || ItemCount(r, last) >= r.perBlock);
  if (fresh && static_cast<uint32_t>(r.file->GetDirCount()) + 1 >= UINT32_MAX / kSlotsPerBlock) {
    ZorRaise(kSource, ZorErr(1, 16));
  }
}

// A copy of the stored item of the record a change is about: (1, 49) when
// ud designates no live record.
std::vector<uint8_t> CurrentRecord(Rep& r, uint32_t ud) {
  r.CheckWritable();
  r.LoadDir();
  ZorBGet data;
  const uint8_t* slot = SlotOf(r, ud, &data);
  if (!slot || IsDeletedItem(slot)) Raise(kErrNoRecord);
  return std::vector<uint8_t>(slot, slot + r.itemSize);
}

void PutSlot(Rep& r, uint32_t ud, const uint8_t* item) {
  const auto block = static_cast<int32_t>(ud / kSlotsPerBlock);
  const auto slot = static_cast<int32_t>(ud % kSlotsPerBlock);
  ZorBGet data;
  if (!ReadData(r, block, &data)) Raise(kErrBadData);
  if (slot == data.GetNbItem() + 1) {
    data.Ins(0, item);
  } else if (slot >= 1 && slot <= data.GetNbItem()) {
    data.Set(slot, item);
  } else {
    Raise(kErrBadData);
  }
  r.file->BWrite(block, 0);
}

// ------------------------------------------------------------------ dynamic parts

int32_t DynaBlockWithRoom(Rep& r, uint32_t need) {
  if (const int32_t id = r.file->BGetOTBlockId(r.owner, kZorTbBlkDyna, static_cast<int32_t>(need))) return id;
  ZorHandle empty;
  empty.Init(0);
  return r.file->BCreate(&empty, r.owner, kZorTbBlkDyna, kDynaReserve, true);
}

// Removes ud's part from block id; a block left without parts goes.
void DropDyna(Rep& r, int32_t id, uint32_t ud) {
  if (!r.IsBlockOf(id, kZorTbBlkDyna)) return;
  ZorHandle h;
  r.file->BRead(id, &h);
  ZorDyna d;
  d.Init(&h);
  d.SetData(0, static_cast<int32_t>(ud), 0, uint32_t{0}, nullptr);
  if (d.GetHandle()->GetSize() == 0) {
    d.Trash();
    r.file->BDelete(id);
  } else {
    r.file->BWrite(id, 0);
  }
}

// A part too large for a block is refused before the change begins.
void CheckDynaSize(ZorTable* table) {
  const ZorHandle* part = table->GetDyna()->GetHandle();
  if (part && part->IsInit() && uint64_t{part->GetSize()} + 64 > kZorBfMaxBlockSize) {
    ZorRaise(kSource, ZorErr(1, 16));
  }
}

// Stores ud's part (the table's dynamic part); returns the block id for the
// record's leading word, 0 for an empty part.
uint32_t PutDyna(Rep& r, uint32_t ud, uint32_t oldBlock) {
  const ZorHandle* part = r.table->GetDyna()->GetHandle();
  if (oldBlock && oldBlock != kDeleted) DropDyna(r, static_cast<int32_t>(oldBlock), ud);
  if (!part || !part->IsInit() || part->GetSize() == 0) return 0;
  const int32_t id = DynaBlockWithRoom(r, part->GetSize() + 16);
  ZorHandle h;
  r.file->BRead(id, &h);
  ZorDyna d;
  d.Init(&h);
  d.SetData(0, static_cast<int32_t>(ud), 0, part);
  r.file->BWrite(id, 0);
  return static_cast<uint32_t>(id);
}

}  // namespace

// ------------------------------------------------------------------ open

void ZorTSBFileSeqIx::ShOpen(ZorTable* table) {
  Attach(table);
  Rep& r = *_rep;
  table->SetModeFlags(kZorTblMfKeepDel, true);
  if (r.NbIndex() > kMaxIndexes) r.keyLen.resize(kMaxIndexes);
  int32_t longest = 0;
  for (int32_t len : r.keyLen) longest = std::max(longest, len);
  r.headerSize = r.versioned ? kLongHeader : kShortHeader;
  if (r.dirId) {
    ZorHandle h;
    r.file->BRead(r.dirId, &h);
    const uint32_t size = h.GetSize();
    const uint8_t* p = static_cast<const uint8_t*>(h.GetDatas());
    if (size < r.headerSize) Raise(kErrBadData);
    const uint32_t width = Get32(p + kWidth), perBlock = Get32(p + kPerBlock);
    if (width < static_cast<uint32_t>(longest) + 1 || width < 9 || width > 0xFFFF || perBlock < 1 ||
        perBlock > static_cast<uint32_t>(kMaxPerBlock) || (size - r.headerSize) % (width + 8) != 0) {
      Raise(kErrBadData);
    }
    r.width = static_cast<int32_t>(width);
    r.perBlock = static_cast<int32_t>(perBlock);
    r.dir.Reset(r.headerSize, width + 8);
    r.dir.Init(&h);
    return;
  }
  r.width = std::max(longest + 1, 9);
  r.perBlock = std::min(nbBlockMax(static_cast<int32_t>(r.itemSize), kBlockBudget, r.maxData), kMaxPerBlock);
  r.dir.Reset(r.headerSize, static_cast<uint32_t>(r.width) + 8);
  r.dir.Init();
  r.HdrPut(kWidth, static_cast<uint32_t>(r.width));
  r.HdrPut(kPerBlock, static_cast<uint32_t>(r.perBlock));
  r.NewVersion(kVersion);
  r.CreateDir();
}

bool ZorTSBFileSeqIx::GetDataVersion(ZorTable*, ZorUuid* out) { return _rep->DataVersion(kVersion, out); }

// ------------------------------------------------------------------ positions

int32_t ZorTSBFileSeqIx::PrimGetTNbr(ZorTable* table, bool valid) {
  Rep& r = *_rep;
  if (!r.dir.IsInit()) return 0;
  r.LoadDir();
  const bool byIndex = r.KeyLen(table->GetCurIndex()) > 0;
  // No more than the listed data blocks hold, whatever a damaged header
  // says: the cursor steps through the slots one by one.
  const int64_t room = int64_t{NbDataItems(r)} * r.perBlock;
  return static_cast<int32_t>(std::min<int64_t>(r.HdrGet(valid || byIndex ? kValid : kSlots), room));
}

uint32_t ZorTSBFileSeqIx::PrimTNToUD(ZorTable* table, int32_t n) {
  Rep& r = *_rep;
  if (n < 1 || !r.dir.IsInit()) return 0;
  r.LoadDir();
  const int32_t index = table->GetCurIndex();
  if (r.KeyLen(index) == 0) {
    const int32_t item = (n - 1) / r.perBlock + 1, slot = (n - 1) % r.perBlock + 1;
    if (item > NbDataItems(r) || slot > ItemCount(r, item)) return 0;
    return static_cast<uint32_t>(ItemBlock(r, item)) * kSlotsPerBlock + static_cast<uint32_t>(slot);
  }
  const Rep::Run& run = RunOf(r, index);
  const auto it = std::upper_bound(run.counts.begin(), run.counts.end() - 1, int64_t{n - 1});
  if (it == run.counts.begin()) return 0;
  const size_t j = static_cast<size_t>(it - run.counts.begin()) - 1;
  if (j >= run.items.size()) return 0;
  ZorBGet leaf;
  const int64_t e = n - run.counts[j];
  if (!ReadLeaf(r, run.items[j], index, &leaf) || e > leaf.GetNbItem()) return 0;
  return EntryUD(leaf, static_cast<int32_t>(e));
}

int32_t ZorTSBFileSeqIx::PrimUDToTN(ZorTable* table, uint32_t ud) {
  Rep& r = *_rep;
  if (!r.dir.IsInit()) return 0;
  r.LoadDir();
  ZorBGet data;
  const uint8_t* item = SlotOf(r, ud, &data);
  if (!item) return 0;
  const int32_t index = table->GetCurIndex();
  if (r.KeyLen(index) == 0) {
    const auto block = static_cast<int32_t>(ud / kSlotsPerBlock);
    for (int32_t i = 1, n = NbDataItems(r); i <= n; ++i) {
      if (ItemBlock(r, i) == block) {
        return static_cast<int32_t>(int64_t{i - 1} * r.perBlock + ud % kSlotsPerBlock);
      }
    }
    return 0;
  }
  if (IsDeletedItem(item)) return 0;
  ZorBGet leaf;
  const Spot s = Find(r, index, KeyOf(r, index, item + 4, &r.key), &leaf);
  if (!s.item || s.entry <= 0 || EntryUD(leaf, s.entry) != ud) return 0;
  return static_cast<int32_t>(EntriesBefore(r, index, s.item) + s.entry);
}

// One record out of its data block: a block not in the cache is not read
// whole for it.
uint32_t ZorTSBFileSeqIx::PrimReadUD(ZorTable* table, uint32_t ud, bool load) {
  Rep& r = *_rep;
  const uint32_t block = ud / kSlotsPerBlock, slot = ud % kSlotsPerBlock;
  uint32_t size = 0;
  if (slot == 0 || block > INT32_MAX || !r.IsBlockOf(static_cast<int32_t>(block), kZorTbBlkData, &size) ||
      size % r.itemSize != 0 || slot > size / r.itemSize) {
    return 0;
  }
  if (load && !r.file->BReadPart(static_cast<int32_t>(block), (slot - 1) * r.itemSize, r.itemSize,
                                 table->GetRecordItem())) {
    return 0;
  }
  return ud;
}

bool ZorTSBFileSeqIx::PrimIsDel(ZorTable* table) { return IsDeletedItem(table->GetRecordItem()); }

bool ZorTSBFileSeqIx::PrimRdDyna(ZorTable*, uint32_t ud, ZorDyna* out) {
  Rep& r = *_rep;
  if (!out) return false;
  out->Init();
  ZorBGet data;
  const uint8_t* item = SlotOf(r, ud, &data);
  if (!item || IsDeletedItem(item)) return false;
  const uint32_t block = Get32(item);
  return block <= INT32_MAX && r.ReadDynaCell(static_cast<int32_t>(block), static_cast<int32_t>(ud), out);
}

// ------------------------------------------------------------------ search

uint32_t ZorTSBFileSeqIx::PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n) {
  Rep& r = *_rep;
  if (n) *n = 0;
  const int32_t len = r.KeyLen(index);
  if (len == 0 || !r.dir.IsInit()) return 0;
  r.LoadDir();
  ZorBGet leaf;
  Spot s = Find(r, index, KeyOf(r, index, table->GetRecord(), &r.key), &leaf);
  if (!s.item) return 0;
  int32_t e = 0;
  if (mode == kZorTblFindEqual) {
    if (s.entry <= 0) return 0;
    e = s.entry;
  } else if (mode == kZorTblFindGreater) {
    e = s.entry > 0 ? s.entry : -s.entry;
    // Past the leaf's end: the first entry of the next leaves of the run.
    while (e > leaf.GetNbItem()) {
      if (!ItemOfIndex(r, s.item + 1, index) || !ReadLeaf(r, ++s.item, index, &leaf)) return 0;
      e = 1;
    }
  } else if (mode == kZorTblFindLess) {
    e = s.entry > 0 ? s.entry : -s.entry - 1;
    // Before the leaf's start: the last entry of the previous leaves.
    while (e < 1) {
      if (!ItemOfIndex(r, s.item - 1, index) || !ReadLeaf(r, --s.item, index, &leaf)) return 0;
      e = leaf.GetNbItem();
    }
  } else {
    return 0;
  }
  if (n) *n = static_cast<int32_t>(EntriesBefore(r, index, s.item) + e);
  return EntryUD(leaf, e);
}

// ------------------------------------------------------------------ changes

uint32_t ZorTSBFileSeqIx::PrimWrite(ZorTable* table, bool) {
  Rep& r = *_rep;
  r.CheckWritable();
  r.LoadDir();
  const int32_t nbIndex = r.NbIndex();
  std::vector<std::vector<uint8_t>> keys(static_cast<size_t>(nbIndex) + 1);
  for (int32_t i = 1; i <= nbIndex; ++i) {
    if (r.KeyLen(i) == 0) continue;
    KeyOf(r, i, table->GetRecord(), &keys[i]);
    CheckNewKey(r, i, keys[i].data());
  }
  CheckRoomForUD(r);
  const bool withDyna = r.withDyna && table->GetDynaState() != 0;
  if (withDyna) CheckDynaSize(table);

  // Blobs first: a failure there leaves unreferenced blobs, never an index
  // entry without its record.
  table->DoBlob(1, table->GetRecord());
  r.NewVersion(kVersion);
  r.ForgetRuns();
  const uint32_t ud = AllocateUD(r);
  uint8_t* item = table->GetRecordItem();
  Put32(item, withDyna ? PutDyna(r, ud, 0) : 0);
  PutSlot(r, ud, item);
  for (int32_t i = 1; i <= nbIndex; ++i) {
    if (r.KeyLen(i)) InsertEntry(r, i, keys[i].data(), ud);
  }
  if (r.withUid) r.HdrPut(kRuid, r.HdrGet(kRuid) + 1);
  r.SaveDir();
  table->_SetLastUD(ud);
  return ud;
}

void ZorTSBFileSeqIx::PrimUpd(ZorTable* table, bool dynaChanged) {
  Rep& r = *_rep;
  const uint32_t ud = table->GetCurUD();
  std::vector<uint8_t> stored = CurrentRecord(r, ud);
  const int32_t nbIndex = r.NbIndex();
  std::vector<std::vector<uint8_t>> keys(static_cast<size_t>(nbIndex) + 1), old(keys.size());
  std::vector<bool> changed(keys.size(), false);
  for (int32_t i = 1; i <= nbIndex; ++i) {
    const int32_t len = r.KeyLen(i);
    if (len == 0) continue;
    KeyOf(r, i, table->GetRecord(), &keys[i]);
    KeyOf(r, i, stored.data() + 4, &old[i]);
    if (Compare(keys[i].data(), old[i].data(), len) == 0) continue;
    changed[i] = true;
    CheckNewKey(r, i, keys[i].data());
    CheckOldEntry(r, i, old[i].data(), ud);
  }
  if (r.withDyna && dynaChanged) CheckDynaSize(table);

  table->DoBlob(3, stored.data() + 4);
  r.NewVersion(kVersion);
  r.ForgetRuns();
  for (int32_t i = 1; i <= nbIndex; ++i) {
    if (!changed[i]) continue;
    InsertEntry(r, i, keys[i].data(), ud);
    RemoveEntry(r, i, old[i].data());
  }
  uint8_t* item = table->GetRecordItem();
  uint32_t lead = Get32(stored.data());
  if (r.withDyna && dynaChanged) lead = PutDyna(r, ud, lead);
  Put32(item, lead);
  PutSlot(r, ud, item);
  r.SaveDir();
}

void ZorTSBFileSeqIx::PrimDel(ZorTable* table) {
  Rep& r = *_rep;
  const uint32_t ud = table->GetCurUD();
  std::vector<uint8_t> stored = CurrentRecord(r, ud);
  if (r.HdrGet(kValid) <= 1) {
    PrimEmpty(table);
    return;
  }
  const int32_t nbIndex = r.NbIndex();
  std::vector<std::vector<uint8_t>> old(static_cast<size_t>(nbIndex) + 1);
  for (int32_t i = 1; i <= nbIndex; ++i) {
    if (r.KeyLen(i) == 0) continue;
    KeyOf(r, i, stored.data() + 4, &old[i]);
    CheckOldEntry(r, i, old[i].data(), ud);
  }

  r.NewVersion(kVersion);
  r.ForgetRuns();
  const uint32_t lead = Get32(stored.data());
  if (lead && lead != kDeleted && lead <= INT32_MAX) DropDyna(r, static_cast<int32_t>(lead), ud);
  Put32(stored.data(), kDeleted);
  table->DoBlob(4, stored.data() + 4);
  PutSlot(r, ud, stored.data());
  for (int32_t i = 1; i <= nbIndex; ++i) {
    if (r.KeyLen(i)) RemoveEntry(r, i, old[i].data());
  }
  r.HdrPut(kValid, r.HdrGet(kValid) - 1);
  if (!(table->GetFlags() & kZorTblTfInsureSeq)) PushReused(r, ud);
  r.SaveDir();
}

void ZorTSBFileSeqIx::PrimEmpty(ZorTable* table) {
  Rep& r = *_rep;
  r.CheckWritable();
  r.LoadDir();
  if (!r.dirId) return;
  empty(table);
  r.dir.Clear();
  r.HdrPut(kValid, 0);
  r.HdrPut(kSlots, 0);
  r.HdrPut(kReuse, 0);
  r.NewVersion(kVersion);
  r.ForgetRuns();
  r.SaveDir();
}

int32_t ZorTSBFileSeqIx::GetNbDelRec(ZorTable*) {
  Rep& r = *_rep;
  if (!r.dir.IsInit()) return 0;
  r.LoadDir();
  return static_cast<int32_t>(r.HdrGet(kSlots) - r.HdrGet(kValid));
}

// ------------------------------------------------------------------ rebuilds

// The records are copied into new blocks in their storage order, which
// drops the deleted slots; the table is then attached to the new blocks.
void ZorTSBFileSeqIx::upgrade(sZorUpgrade* upgrade) {
  sZorUpgrade copy = *upgrade;
  copy.flags |= kZorUpgCopy;
  Upgrade(&copy);
}

}  // namespace zorvane
