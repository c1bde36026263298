// ZorTSBFile::CheckLinks: the links between a table's records and its other
// blocks, as the database's verification steps check and repair them.
//
// - dynamic parts: every cell of line L in a dynamic-part block B must be
//   the part of the live record whose leading word designates (B, L);
//   repair removes the other cells (and a block left empty).
// - record links: a live record's leading word must designate an existing
//   cell; repair clears the word (the record loses a part it no longer has).
// - blobs: every blob block (type -f) must be referred to by field f of a
//   live record; repair deletes the others.
// - the deletion cache: the store's own (SeqIx's reusable ids).
#include <optional>
#include <set>
#include <utility>

#include "tables/store/store_bfile_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/verification.h>

namespace zorvane {

using namespace tbf;

namespace {

constexpr int32_t kList = 120;
constexpr int32_t kTxtOrphanDyna = 75, kTxtMissingDyna = 76, kTxtOrphanBlob = 77, kTxtRepaired = 79;
constexpr int32_t kStepOrphanDyna = 0x23, kStepOrphanBlobs = 0x25, kStepDeleted = 0x26;
constexpr uint32_t kCellHeader = 16;  // kind | line | column | size

using Cell = std::pair<int32_t, int32_t>;  // block, line

// The lines of kind-0 cells of a container's bytes, scanning whole cells
// only (a damaged tail is not a cell).
template <class F>
void ForEachCell(const uint8_t* p, uint32_t size, F f) {
  for (uint32_t at = 0; size - at >= kCellHeader;) {
    const uint32_t len = Get32(p + at + 12);
    if (len > size - at - kCellHeader) return;
    f(static_cast<int32_t>(Get32(p + at)), static_cast<int32_t>(Get32(p + at + 4)), at, kCellHeader + len);
    at += kCellHeader + len;
  }
}

class LinkChecker {
 public:
  LinkChecker(ZorTSBFile::Rep& r, ZorTable* table, ZorVerif* report, bool repair)
      : _r(r), _report(report), _repair(repair) {
    table->GetName(&_name);
  }

  bool Fail(int32_t text, int64_t a, int64_t b) {
    _ok = false;
    if (_report) {
      _report->AddItemMsg(kZorVerifError, 0, 0, 1, kList, text, _name.CStr(), static_cast<int32_t>(a),
                          static_cast<int32_t>(b));
    }
    return _repair;
  }
  void Repaired() {
    if (_report && _repair && !_ok) _report->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kList, kTxtRepaired, _name.CStr());
  }
  bool ok() const { return _ok; }

  // Dynamic-part cells that no live record designates.
  void OrphanDyna(const std::set<Cell>& used) {
    ZorBGet blocks(0, 4);
    _r.file->BGetID(_r.owner, _r.owner, kZorTbBlkDyna, kZorTbBlkDyna, &blocks, 0, true);
    for (int32_t i = 1; i <= blocks.GetNbItem(); ++i) {
      const auto block = static_cast<int32_t>(Get32(blocks[i]));
      ZorHandle h;
      _r.file->BReadCopy(block, &h);
      const auto* bytes = static_cast<const uint8_t*>(h.GetDatas());
      std::vector<uint8_t> kept;
      bool dropped = false;
      ForEachCell(bytes, h.GetSize(), [&](int32_t kind, int32_t line, uint32_t at, uint32_t len) {
        const bool orphan = kind == 0 && !used.count({block, line});
        if (orphan && Fail(kTxtOrphanDyna, line, block)) {
          dropped = true;
          return;
        }
        kept.insert(kept.end(), bytes + at, bytes + at + len);
      });
      if (!dropped) continue;
      ZorHandle rest;
      rest.Init(kept.data(), static_cast<uint32_t>(kept.size()));
      _r.file->BWriteCopy(block, &rest, kDynaReserve);
    }
  }

  // Blob blocks that no live record's field refers to.
  void OrphanBlobs(const std::set<Cell>& used) {
    ZorBGet blocks(0, 4);
    _r.file->BGetID(_r.owner, _r.owner, -32768, -1, &blocks, 0, true);
    for (int32_t i = 1; i <= blocks.GetNbItem(); ++i) {
      const auto block = static_cast<int32_t>(Get32(blocks[i]));
      int32_t owner = 0, size = 0;
      int16_t type = 0;
      if (!_r.file->GetBlockInfo(block, &owner, &type, &size, nullptr, nullptr)) continue;
      if (!used.count({block, -type}) && Fail(kTxtOrphanBlob, block, -type)) _r.file->BDelete(block);
    }
  }

 private:
  ZorTSBFile::Rep& _r;
  ZorVerif* _report;
  bool _repair;
  bool _ok = true;
  string _name;
};

// The BlobRef fields of a table: number and offset in the item.
std::vector<std::pair<int32_t, uint32_t>> BlobFields(ZorTable* table) {
  std::vector<std::pair<int32_t, uint32_t>> fields;
  for (int32_t f = 1; f <= table->GetNbField(); ++f) {
    sZorTfi tfi;
    if (table->GetField(f, &tfi) && tfi.flags != 0 && tfi.physType == kZorPhysTypeBlobRef && tfi.size == 4) {
      fields.emplace_back(f, 4 + tfi.offset);
    }
  }
  return fields;
}

}  // namespace

bool ZorTSBFile::CheckDeleted(ZorVerif*, bool) { return true; }

bool ZorTSBFile::CheckLinks(ZorTable* table, int32_t step, ZorVerif* report, bool repair) {
  ZorNotNull(table, kSource);
  Rep& r = *_rep;
  if (!r.dir.IsInit()) return true;
  // Checking only reads (a read-only file can be checked); repairing is
  // one transaction.
  std::optional<Txn> txn;
  if (repair) {
    r.CheckWritable();
    txn.emplace(r.file);
  }
  r.LoadDir();
  if (step == kStepDeleted) {
    const bool sound = CheckDeleted(report, repair);
    if (txn) txn->Commit();
    return sound;
  }
  LinkChecker check(r, table, report, repair);
  std::set<Cell> used;
  const auto blobFields = BlobFields(table);
  VisitItems([&](uint32_t ud, uint8_t* item) {
    const uint32_t lead = Get32(item);
    int32_t block = 0, line = 0;
    if (step == kStepOrphanBlobs) {
      for (const auto& [field, offset] : blobFields) {
        if (offset + 4 <= r.itemSize) used.insert({static_cast<int32_t>(Get32(item + offset)), field});
      }
      return false;
    }
    if (!lead || !DynaCell(ud, lead, &block, &line)) return false;
    if (step == kStepOrphanDyna) {
      used.insert({block, line});
      return false;
    }
    ZorDyna cell;
    if (r.ReadDynaCell(block, line, &cell)) return false;
    if (!check.Fail(kTxtMissingDyna, ud, block)) return false;
    Put32(item, 0);
    return true;
  });
  if (step == kStepOrphanDyna) check.OrphanDyna(used);
  if (step == kStepOrphanBlobs) check.OrphanBlobs(used);
  check.Repaired();
  if (txn) txn->Commit();
  return check.ok();
}

}  // namespace zorvane
