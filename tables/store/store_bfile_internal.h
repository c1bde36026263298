// What the block-file stores share: the per-table state (ZorTSBFile::Rep)
// and the small helpers over the directory and the blocks.
//
// The directory array shares the cached memory of the directory block
// (BRead), so it is one more reference to that block for as long as the
// table is open: GetNbUser counts the tables that hold it. It is read
// again at the start of every operation, so that a change another table
// object made to the same block is seen.
#pragma once

#include <cstring>
#include <vector>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include <zorvane/block_array.h>
#include <zorvane/block_file.h>
#include <zorvane/handle.h>
#include <zorvane/string.h>
#include <zorvane/table.h>
#include <zorvane/table_bfile.h>
#include <zorvane/uuid.h>

namespace zorvane {

namespace tbf {

constexpr char kSource[] = "ZorTablesHA";
constexpr int32_t kErrBadData = 19, kErrBadParam = 23, kErrUpgrade = 32, kErrExistTable = 40, kErrInUse = 45, kErrExist = 48,
                  kErrNoRecord = 49;
constexpr int32_t kMaxIndexes = 17;          // leaf types 1..17, one tag each
constexpr uint32_t kSlotsPerBlock = 8192;    // UD = block * 8192 + slot
constexpr int32_t kMaxPerBlock = 8191;       // slots 1..8191
constexpr int32_t kMaxReuse = 16384;         // ids the reusable-id list holds at most
constexpr int32_t kBlockBudget = 65535;      // bytes a data block or a leaf is sized for
constexpr int32_t kDirBudget = 65407;        // records a new directory block is sized for
constexpr int32_t kDynaReserve = 65535;
constexpr int32_t kReuseReserve = 2048;
constexpr uint32_t kDeleted = 0xFFFFFFFFu;   // leading word of a deleted record
constexpr char kEvenTags[] = "02468ACEGIKMOQSUWY";
constexpr char kClosingTags[] = "13579BDFHJLNPRTVXZ";

// The leaf budget, lowered by tests so that leaves split after a few
// entries (65,535 otherwise).
extern ZOR_API int32_t gLeafBudget;

[[noreturn]] void Raise(int32_t code, uint32_t line = __builtin_LINE());

inline uint32_t Get32(const void* p) { return platform::GetLE32(p); }
inline void Put32(void* p, uint32_t v) { platform::PutLE32(p, v); }

// One transaction of the block file around a store's work. Commit ends it
// and lets a failing flush raise; a scope left by an exception ends it
// quietly (what was changed stays for the outer transaction, if any, to
// commit: the refusals come before any change).
class Txn {
 public:
  explicit Txn(ZorBFile* file) : _file(file) { _file->StartTransaction(); }
  ~Txn() {
    if (!_file) return;
    try {
      _file->EndTransaction();
    } catch (...) {
    }
  }
  void Commit() {
    ZorBFile* file = _file;
    _file = nullptr;
    file->EndTransaction();
  }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;

 private:
  ZorBFile* _file;
};

}  // namespace tbf

struct ZorTSBFile::Rep {
  ZorBFile* file = nullptr;
  ZorTable* table = nullptr;
  int32_t owner = 0;
  uint32_t recSize = 0;
  uint32_t itemSize = 4;     // record size + 4
  uint32_t headerSize = 0;   // of the directory block
  bool versioned = false;    // description header version 3 on: a data version
  bool writable = false;
  int32_t maxData = 0;       // the description's "Data max"
  int32_t dirId = 0;         // 0: the table has no directory block (read-only file)
  ZorBGet dir;
  std::vector<int32_t> keyLen;  // index i at i - 1; 0 for an index without key
  bool withDyna = false;
  bool withUid = false;

  // SeqIx
  int32_t width = 9;          // W
  int32_t perBlock = 1;       // P
  // Prefix sums of the leaf counts of each index (index i at i - 1), each
  // valid while the data version it was built under holds: a cursor that
  // alternates between indexes must not walk the directory at every search.
  struct Run {
    bool valid = false;
    ZorUuid version;
    std::vector<int32_t> items;   // directory item of each leaf
    std::vector<int64_t> counts;  // entries before each leaf, then the total
  };
  std::vector<Run> runs;
  void ForgetRuns() { runs.clear(); }

  // Small: the sorted index [key, UD] of one index, valid while the index
  // and the change counter are those it was built under.
  int32_t cacheIndex = 0;
  uint32_t cacheCounter = 0;
  ZorBGet cache;

  std::vector<uint8_t> key, key2, probe, scratch;

  uint8_t* Hdr() const { return static_cast<uint8_t*>(const_cast<ZorBGet&>(dir).GetHandle()->GetDatas()); }
  uint32_t HdrGet(uint32_t off) const { return tbf::Get32(Hdr() + off); }
  void HdrPut(uint32_t off, uint32_t v) { tbf::Put32(Hdr() + off, v); }
  int32_t NbIndex() const { return static_cast<int32_t>(keyLen.size()); }
  int32_t KeyLen(int32_t index) const { return index >= 1 && index <= NbIndex() ? keyLen[index - 1] : 0; }

  // Reads the directory block again (no-op without one).
  void LoadDir();
  // Writes the directory block back (reserve: spare bytes to keep).
  void SaveDir(int32_t reserve = 0);
  // A block of the table's owner and type; false otherwise.
  bool IsBlockOf(int32_t id, int16_t type, uint32_t* size = nullptr) const;
  void NewVersion(uint32_t offset);
  // The part at (0, line, 0) of the dynamic-part block `block` as a
  // container of its own; false (out empty) when there is none.
  bool ReadDynaCell(int32_t block, int32_t line, ZorDyna* out) const;
  // The room of a directory block: item size x ("Data max", or what 65,407
  // bytes hold, at least 1) + 128.
  static uint64_t DirCapacity(uint32_t itemSize, int32_t maxData);
  // Writes the directory built in memory as the table's new directory block
  // (one transaction; nothing on a read-only file).
  void CreateDir();
  // The data version at offset of the directory header; false without one.
  bool DataVersion(uint32_t offset, ZorUuid* out);
  // Raises (1, 24) unless the table can be changed.
  void CheckWritable() const;
};

}  // namespace zorvane
