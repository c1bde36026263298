// The block-file test kit: what the tests of the block file share.
//
// - A reader of the stored format of its own: header fields and directory
//   entries decoded from the raw bytes of an image (not through the
//   library's entry reader), and the check of an image against a model.
// - The map model of a file (id -> owner, type, bytes, compactable) and a
//   seeded random workload that applies block operations to a file and to
//   the model alike. A test that needs the committed and the in-flight
//   state keeps a copy of the model taken at each commit.
// - TestFile: a block file on the in-memory fault stream (or on disk),
//   reopened at will with other flags and cache sizes.
// - DurableStream: the fault stream that judges every write against the
//   directory a power cut would fall back to.
#pragma once

#include <zorvane/block_file.h>
#include <zorvane/exception.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/fault_stream.h"
#include "support/temp_files.h"
#include "support/test_util.h"

namespace zortest {

using Rng = std::mt19937;
constexpr int32_t kKitType = 7, kKitSignature = 99;

// ---------------------------------------------------------------- the format

uint32_t Le32(const std::string& img, size_t at);  // 0 past the end
uint64_t Le64(const std::string& img, size_t at);
void PutLe32(std::string* img, size_t at, uint32_t v);

// Directory entry `id` (from 1) decoded field by field.
struct RawEntry {
  uint64_t pos;
  uint32_t capacity, size;
  int32_t owner;
  uint32_t slot;
  int16_t type;
  uint8_t flags;
  bool operator==(const RawEntry&) const = default;
};
RawEntry EntryAt(const std::string& img, int32_t id);
inline uint32_t DirCount(const std::string& img) { return Le32(img, zorvane::kZorBfHdrDirCount); }
inline uint32_t DataStart(const std::string& img) { return Le32(img, zorvane::kZorBfHdrDataStart); }

// ---------------------------------------------------------------- the model

struct Block {
  int32_t owner = 0;
  int16_t type = 0;
  std::string bytes;
  bool compact = true;
  bool operator==(const Block&) const = default;
};
using Model = std::map<int32_t, Block>;

std::string Pattern(size_t n, uint32_t seed);
uint32_t CapacityOf(zorvane::ZorBFile& f, int32_t id);  // 0 for an unused id

// Every used block of f read through the library. With `unreadable`, the
// ids whose read raises go there instead of raising.
Model ReadAll(zorvane::ZorBFile& f, std::vector<int32_t>* unreadable = nullptr);
// got == want, else the first id that differs.
::testing::AssertionResult SameBlocks(const Model& got, const Model& want);
// Block `id` of m (nullopt: none), and a block in words for failure messages.
std::optional<Block> Look(const Model& m, int32_t id);
std::string Describe(const std::optional<Block>& b);
// Every id that one of the models holds.
std::set<int32_t> IdsOf(std::initializer_list<const Model*> models);

// The report of what CheckDir, CheckCrossBlock and CheckLostSpace find ("" when
// nothing; a check that fails must report a fault), with each check's number
// of faults in counts when given.
std::string CheckFaults(zorvane::ZorBFile& f, int counts[3] = nullptr);
// A library error in words: code, message and where it was raised.
std::string Describe(const zorvane::ZorException& e);

// The image of a file outside any transaction: sound header (open marker
// as `closed` says), no memory-only flag or cache slot stored, every used
// entry holding the model's block (tags, compactable flag, bytes at its
// position), free entries exactly "free", and the extents tiling
// [data start, end of file): no overlap, no lost space. A null model skips
// the comparison of the blocks; `user` (64 values) the user array.
void ExpectImage(const std::string& img, const Model* model, bool closed, const int32_t* user = nullptr);

// ---------------------------------------------------------------- the workload

// Ranges of owners and types (a lower bound ZorBfAnyOwner / ZorBfAnyType
// takes every value).
struct Selection {
  int32_t oLo, oHi;
  int16_t tLo, tHi;
  bool Holds(const Block& b) const {
    return (oLo == zorvane::ZorBfAnyOwner || (b.owner >= oLo && b.owner <= oHi)) &&
           (tLo == zorvane::ZorBfAnyType || (b.type >= tLo && b.type <= tHi));
  }
};

enum class Op {
  kCreate, kWriteShared, kWriteCopy, kDuplicate, kDelete, kMultiDelete, kRangeDelete, kRetag, kChangeTags,
  kSetCompact, kUncache, kPurge, kRead, kCompact, kEmpty, kCount
};
// Relative weights of the operations.
using Mix = std::array<int, static_cast<size_t>(Op::kCount)>;
extern const Mix kEveryOp;
// What can be cut short by a failing system call and still be judged: each
// operation changes one block at most (see Workload::pending).
extern const Mix kSingleBlockOps;

// Random block operations applied to a file and to `model`, which holds
// what the file holds once they are committed. Data are mostly small,
// sometimes a few KB, now and then past the 64 KiB split threshold.
class Workload {
 public:
  explicit Workload(uint32_t seed) : rng(seed) {}

  Op Draw(const Mix& mix);
  // One operation (drawn from mix); asserts what it can check on the spot.
  void Step(zorvane::ZorBFile& f, const Mix& mix) { Apply(f, Draw(mix)); }
  void Apply(zorvane::ZorBFile& f, Op op);
  // The shared handles kept from rewrites (holdShared) match the model and
  // are the cached memory itself.
  void ExpectHeld(zorvane::ZorBFile& f);
  void DropHeld() { _held.clear(); }
  std::string Log() const;
  int32_t Pick();
  // Owners and types drawn from small sets, so that selections hit and miss;
  // ranges of them (lowest first), or single values.
  int32_t Owner();
  int16_t Type();
  Selection Ranges(bool single = false);

  Model model;
  Rng rng;
  bool holdShared = false;       // keep a shared handle after some rewrites
  std::vector<int32_t> touched;  // ids of the last step
  // While a single-block operation runs: its id (0: a block being created)
  // and the block it leaves (nullopt: deleted). Id -1 between operations.
  std::pair<int32_t, std::optional<Block>> pending{-1, std::nullopt};
  int compactions = 0;

 private:
  std::string _data();
  void _create(zorvane::ZorBFile& f);
  void _writeShared(zorvane::ZorBFile& f);
  void _writeCopy(zorvane::ZorBFile& f);
  void _duplicate(zorvane::ZorBFile& f);
  void _delete(zorvane::ZorBFile& f);
  void _multiDelete(zorvane::ZorBFile& f, bool ranges);
  void _retag(zorvane::ZorBFile& f, bool ranges);
  void _setCompact(zorvane::ZorBFile& f);
  void _read(zorvane::ZorBFile& f);
  void _compact(zorvane::ZorBFile& f);

  std::map<int32_t, zorvane::ZorHandle> _held;
  std::deque<std::string> _log;
};

// ---------------------------------------------------------------- fixtures

// A block file of type kKitType and signature kKitSignature on a fresh
// stream S (an in-memory FaultStream or one derived from it), or on disk.
template <class S = FaultStream>
struct TestFile {
  explicit TestFile(int32_t flags = 0, int32_t cache = -1, bool onDisk = false) : disk(onDisk) {
    if (disk) {
      path = dir.Fsa("t.zbf");
      zorvane::ZorBFile::Create(&path, kKitType, kKitSignature, "test", zorvane::ZorFsaCreateAlways);
    } else {
      zorvane::ZorBFile::CreateOnStream(&stream, kKitType, kKitSignature, "test");
    }
    Open(flags, cache);
  }
  ~TestFile() {
    if (file.IsOpen()) file.Close(zorvane::ZorBfCloseAbandon);
  }
  void Open(int32_t flags = 0, int32_t cache = -1) {
    if (disk)
      file.Open(&path, zorvane::ZorPermReadWrite, zorvane::ZorShareExclusive, flags, cache, kKitType, kKitSignature);
    else
      file.OpenOnStream(&stream, &path, flags, cache, kKitType, kKitSignature);
  }
  void Reopen(int32_t flags = 0, int32_t cache = -1) {
    file.Close(zorvane::ZorBfCloseNormal);
    Open(flags, cache);
  }
  std::string Image() { return disk ? ReadFile(dir.File("t.zbf")) : stream.Image(); }
  // The closed file's bytes replaced (a damaged copy).
  void SetImage(const std::string& img) {
    if (disk)
      dir.Make("t.zbf", img);
    else
      stream.SetImage(img);
  }
  void Patch32(size_t at, uint32_t v) {
    std::string img = Image();
    PutLe32(&img, at, v);
    SetImage(img);
  }
  int32_t Create(const std::string& bytes, int32_t owner = 1, int16_t type = 1, uint32_t reserve = 0) {
    zorvane::ZorHandle h = zorvane::test::HandleOf(bytes);
    return file.BCreate(&h, owner, type, reserve, true);
  }
  void Write(int32_t id, const std::string& bytes, int32_t reserve = 0) {
    zorvane::ZorHandle h = zorvane::test::HandleOf(bytes);
    file.BWriteCopy(id, &h, reserve);
  }
  std::string Read(int32_t id) {
    zorvane::ZorHandle h;
    file.BReadCopy(id, &h);
    return zorvane::test::BytesOf(h);
  }
  uint32_t Capacity(int32_t id) { return CapacityOf(file, id); }

  bool disk;
  TempDir dir;
  zorvane::ZorFsa path{"/nowhere/t.zbf"};
  S stream;
  zorvane::ZorBFile file;
};

// The fault stream that records, at each OS flush, the extents that the
// durable directory gives to used blocks, so that every write can be judged
// against the state a power cut would fall back to.
class DurableStream : public FaultStream {
 public:
  std::vector<size_t> flushAfter;  // writes before each flush
  // From now on (records cleared).
  void Start();
  void Flush() override;
  // The first write that hits an extent of the last durable directory, a
  // directory write while block data written before it are not yet
  // flushed, or a header write while directory entries are not; "" when
  // none.
  std::string Violation(uint32_t dataStart) const;

 private:
  struct Extent {
    uint64_t begin, end;
    int32_t id;
  };
  static std::vector<Extent> _usedExtents(const std::string& img);
  std::vector<std::vector<Extent>> _referenced;  // [0]: at Start
};

}  // namespace zortest
