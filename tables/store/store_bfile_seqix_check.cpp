// ZorTSBFileSeqIx::Verify: the table's blocks against one another.
//
// - the directory: header values in range, items sorted by tag and key, data
//   items first, each index's leaves closed by exactly one closing leaf;
// - data blocks: every data item names a data block of the table holding
//   its count of records, all full but the last; slots and valid records
//   agree with the header; a deleted record's dynamic part is gone;
// - the reusable-id list holds deleted slots only;
// - every index: leaves of the index's type, counts as listed, keys strictly
//   ascending across the run, each listed key the leaf's last, every entry
//   naming a live record whose key it is, one entry per live record;
// - no block of the table is left that the directory does not reach.
#include <set>

#include "tables/store/store_bfile_seqix.h"
#include <zorvane/cell_container.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

namespace zorvane {

using namespace tbf;
using namespace seqix;

namespace {

// Comments of catalogue list 120, entries 60 to 74.
constexpr int32_t kListCheck = 120;

class Checker {
 public:
  Checker(Rep& r, ZorVerif* report) : _r(r), _report(report) {}

  bool Run() {
    if (!_r.dir.IsInit()) return true;
    _r.LoadDir();
    CheckDirectory();
    CheckData();
    CheckReuse();
    for (int32_t i = 1; i <= _r.NbIndex(); ++i) {
      if (_r.KeyLen(i)) CheckIndex(i);
    }
    CheckStrayBlocks();
    return _ok;
  }

 private:
  void Fail(int32_t message, int64_t a = 0, int64_t b = 0) {
    _ok = false;
    if (_report) {
      _report->AddItemMsg(kZorVerifError, 0, 0, 1, kListCheck, message, static_cast<int32_t>(a),
                          static_cast<int32_t>(b));
    }
  }

  void CheckDirectory() {
    for (int32_t i = 2; i <= NbItems(_r); ++i) {
      const int c = ZorCompIndex(ItemAt(_r, i - 1) + 8, ItemAt(_r, i) + 8, _r.width);
      if (c > 0 || (c == 0 && ItemTag(_r, i) != kDataTag)) Fail(60, i - 1, i);
    }
    for (int32_t i = 1; i <= NbItems(_r); ++i) {
      const char tag = ItemTag(_r, i);
      if (tag == kDataTag) continue;
      bool known = false;
      for (int32_t k = 1; k <= _r.NbIndex() && !known; ++k) known = _r.KeyLen(k) && ItemOfIndex(_r, i, k);
      if (!known) Fail(61, i, tag);
    }
  }

  void CheckData() {
    const int32_t items = NbDataItems(_r);
    int64_t slots = 0, valid = 0;
    for (int32_t i = 1; i <= items; ++i) {
      const int32_t block = ItemBlock(_r, i);
      _reached.insert(block);
      ZorBGet data;
      if (!ReadData(_r, block, &data) || data.GetNbItem() != ItemCount(_r, i)) {
        Fail(62, i, block);
        continue;
      }
      if (i < items && ItemCount(_r, i) != _r.perBlock) Fail(63, i, ItemCount(_r, i));
      slots += data.GetNbItem();
      for (int32_t s = 1; s <= data.GetNbItem(); ++s) {
        const auto* item = static_cast<const uint8_t*>(data[s]);
        const uint32_t ud = static_cast<uint32_t>(block) * kSlotsPerBlock + static_cast<uint32_t>(s);
        const uint32_t lead = Get32(item);
        if (lead == kDeleted) continue;
        ++valid;
        _live.insert(ud);
        if (lead != 0) CheckDyna(static_cast<int32_t>(lead), ud);
      }
    }
    if (slots != _r.HdrGet(kSlots) || valid != _r.HdrGet(kValid)) Fail(64, slots, valid);
  }

  void CheckDyna(int32_t block, uint32_t ud) {
    ZorHandle h, part;
    if (!_r.IsBlockOf(block, kZorTbBlkDyna)) return Fail(65, ud, block);
    _reached.insert(block);
    _r.file->BRead(block, &h);
    ZorDyna d;
    d.Init(&h);
    if (!d.GetData(0, static_cast<int32_t>(ud), 0, &part)) Fail(65, ud, block);
  }

  void CheckReuse() {
    const auto list = static_cast<int32_t>(_r.HdrGet(kReuse));
    if (!list) return;
    _reached.insert(list);
    if (!_r.IsBlockOf(list, kZorTbBlkReuse)) return Fail(66, list, 0);
    ZorHandle h;
    _r.file->BRead(list, &h);
    ZorBGet ids(0, 4);
    ids.Init(&h);
    if (ids.GetNbItem() > kMaxReuse) Fail(66, ids.GetNbItem(), 0);
    for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
      const uint32_t ud = Get32(ids[i]);
      ZorBGet data;
      const uint8_t* item = SlotOf(_r, ud, &data);
      if (!item || Get32(item) != kDeleted) Fail(67, ud, i);
    }
  }

  void CheckIndex(int32_t index) {
    const int32_t len = _r.KeyLen(index), first = FirstItemOf(_r, index), closing = ClosingItemOf(_r, index);
    if (!closing) {
      if (!_live.empty()) Fail(68, index, 0);
      return;
    }
    std::vector<uint8_t> previous, built(static_cast<size_t>(len));
    int64_t entries = 0;
    std::set<uint32_t> seen;
    for (int32_t i = first; i <= closing; ++i) {
      if (!ItemOfIndex(_r, i, index)) return Fail(68, index, i);
      const bool isClosing = i == closing;
      if ((ItemTag(_r, i) == ClosingTag(index)) != isClosing) Fail(68, index, i);
      _reached.insert(ItemBlock(_r, i));
      ZorBGet leaf;
      if (!ReadLeaf(_r, i, index, &leaf) || leaf.GetNbItem() != ItemCount(_r, i)) {
        Fail(68, index, i);
        continue;
      }
      if (!isClosing && leaf.GetNbItem() == 0) Fail(68, index, i);
      if (leaf.GetNbItem() > LeafCapacity(_r, index)) Fail(68, index, i);
      for (int32_t e = 1; e <= leaf.GetNbItem(); ++e) {
        const uint8_t* key = EntryKey(leaf, e);
        if (!previous.empty() && ZorCompIndex(previous.data(), key, len) >= 0) Fail(69, index, i);
        previous.assign(key, key + len);
        const uint32_t ud = EntryUD(leaf, e);
        ZorBGet data;
        const uint8_t* item = SlotOf(_r, ud, &data);
        if (!item || Get32(item) == kDeleted || !seen.insert(ud).second) {
          Fail(70, index, ud);
          continue;
        }
        _r.table->BuildKey(index, item + 4, built.data());
        if (ZorCompIndex(built.data(), key, len) != 0) Fail(71, index, ud);
      }
      if (!isClosing && leaf.GetNbItem() > 0) {
        std::vector<uint8_t> listed(static_cast<size_t>(_r.width) - 1, 0);
        std::memcpy(listed.data(), EntryKey(leaf, leaf.GetNbItem()), static_cast<size_t>(len));
        if (std::memcmp(listed.data(), ItemAt(_r, i) + 9, listed.size()) != 0) Fail(68, index, i);
      }
      entries += leaf.GetNbItem();
    }
    if (entries != static_cast<int64_t>(_live.size())) Fail(72, index, entries);
  }

  void CheckStrayBlocks() {
    ZorBGet ids(0, 4);
    _r.file->BGetID(_r.owner, _r.owner, kZorTbBlkData, kZorTbBlkLastLeaf, &ids, 0, true);
    _r.file->BGetID(_r.owner, _r.owner, kZorTbBlkReuse, kZorTbBlkReuse, &ids, 0, true);
    for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
      const auto id = static_cast<int32_t>(Get32(ids[i]));
      if (!_reached.count(id)) Fail(73, id, 0);
    }
  }

  Rep& _r;
  ZorVerif* _report;
  bool _ok = true;
  std::set<uint32_t> _live;
  std::set<int32_t> _reached;
};

}  // namespace

bool ZorTSBFileSeqIx::Verify(ZorTable*, ZorVerif* report) { return Checker(*_rep, report).Run(); }

// ------------------------------------------------------------------ links

void ZorTSBFileSeqIx::VisitItems(const ItemVisitor& visit) {
  Rep& r = *_rep;
  for (int32_t i = 1, items = NbDataItems(r); i <= items; ++i) {
    const int32_t block = ItemBlock(r, i);
    ZorBGet data;
    if (!ReadData(r, block, &data)) continue;
    bool changed = false;
    for (int32_t s = 1; s <= data.GetNbItem(); ++s) {
      auto* item = static_cast<uint8_t*>(data[s]);
      if (Get32(item) == kDeleted) continue;
      changed |= visit(static_cast<uint32_t>(block) * kSlotsPerBlock + static_cast<uint32_t>(s), item);
    }
    if (changed) r.file->BWrite(block, 0);
  }
}

bool ZorTSBFileSeqIx::DynaCell(uint32_t ud, uint32_t lead, int32_t* block, int32_t* line) const {
  if (lead == 0 || lead == kDeleted || lead > INT32_MAX || ud > INT32_MAX) return false;
  *block = static_cast<int32_t>(lead);
  *line = static_cast<int32_t>(ud);
  return true;
}

// The reusable ids: each a deleted slot, listed once, at most kMaxReuse.
// Repair keeps the sound ones in their order.
bool ZorTSBFileSeqIx::CheckDeleted(ZorVerif* report, bool repair) {
  Rep& r = *_rep;
  const auto list = static_cast<int32_t>(r.HdrGet(kReuse));
  if (!list) return true;
  string name;
  r.table->GetName(&name);
  auto fail = [&](int64_t ud, int32_t rank) {
    if (report) {
      report->AddItemMsg(kZorVerifError, 0, 0, 1, kListCheck, 78, name.CStr(), static_cast<int32_t>(ud), rank);
    }
  };
  if (!r.IsBlockOf(list, kZorTbBlkReuse)) {
    fail(list, 0);
    if (repair) {
      r.HdrPut(kReuse, 0);
      r.SaveDir();
      if (report) report->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kListCheck, 79, name.CStr());
    }
    return false;
  }
  ZorHandle h;
  r.file->BReadCopy(list, &h);
  ZorBGet ids(0, 4), kept(0, 4);
  ids.Init(&h);
  kept.Init();
  std::set<uint32_t> seen;
  for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
    const uint32_t ud = Get32(ids[i]);
    ZorBGet data;
    const uint8_t* item = SlotOf(r, ud, &data);
    if (item && Get32(item) == kDeleted && kept.GetNbItem() < kMaxReuse && seen.insert(ud).second) {
      kept.Ins(0, ids[i]);
    } else {
      fail(ud, i);
    }
  }
  if (kept.GetNbItem() == ids.GetNbItem()) return true;
  if (repair) {
    if (kept.GetNbItem() == 0) {
      r.file->BDelete(list);
      r.HdrPut(kReuse, 0);
      r.SaveDir();
    } else {
      r.file->BWriteCopy(list, kept.GetHandle(), kReuseReserve);
    }
    if (report) report->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kListCheck, 79, name.CStr());
  }
  return false;
}

}  // namespace zorvane
