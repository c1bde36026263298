// ZorBFile against a map model: long seeded sequences of block operations
// (create, rewrite in place or by copy, duplicate, delete one, by owner and
// type or by ranges, retag, compactable flag, nested transactions,
// compaction, uncaching and purging, header user data, close and reopen with
// other open flags and tiny caches) applied both to a block file and to a
// std::map of id -> (owner, type, bytes, compactable).
//
// After every step the touched blocks and a few random ones are compared
// (existence, size, tags, flags, bytes, capacity >= size) together with the
// counts (BExist(0), GetNbBlock); every few steps and after every reopen the
// whole file is compared, enumerations (BGetID) over random ranges included,
// and after a reopen the structural checks (directory, overlaps, lost
// space) must report nothing and the file must not look badly closed.
//
// Each close is also checked on the raw bytes of the file by this test's own
// reader of the format: header fields, no memory-only flag or cache slot
// stored, every used entry equal to the model with its bytes at its
// position, free entries exactly "free", and the extents tiling the data
// area from data start to the end of the file (no overlap, no lost space).
//
// Half of the seeds run with a large resident working set, so that the
// cache keeps its small limit and evicts (a quiet process would raise the
// limit instead). Half of the seeds keep the file on disk, the others on the in-memory
// fault stream. Ids out of range and free entries must raise 23.
#include <zorvane/block_file.h>
#include <zorvane/block_array.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "support/fault_stream.h"
#include "support/temp_files.h"
#include "support/working_set.h"

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937;

constexpr int32_t kFileType = 77, kSignature = 0x5A0B;

struct Block {
  int32_t owner;
  int16_t type;
  Bytes data;
  bool compact;
  bool operator==(const Block&) const = default;
};
using Model = std::map<int32_t, Block>;

Bytes HandleBytes(const ZorHandle& h) {
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return h.GetSize() ? Bytes(p, p + h.GetSize()) : Bytes();
}

// The library error code raised by fn, 0 when none.
int64_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ZorException& e) {
    return e.GetError();
  }
  return 0;
}

// Owners and types drawn from small sets so that selections hit and miss.
const int32_t kOwners[] = {1, 2, 3, 7, 500, -2, 0x10000};
const int16_t kTypes[] = {0, 1, 2, 5, 100, -1};

bool InRange(int32_t v, int32_t lo, int32_t hi, int32_t any) { return lo == any || (v >= lo && v <= hi); }

uint32_t Le32(const std::string& s, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data() + at);
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The closed file's bytes against the model (see the top of the file).
// Outside any transaction the file on disk holds the model too, but an open
// file keeps its open marker.
void CheckImage(const std::string& img, const Model& model, const int32_t (&user)[64], bool closed) {
  ASSERT_GE(img.size(), size_t{kZorBfInitialDataStart});
  ASSERT_EQ(img.substr(0, 8), "ZorBFile");
  ASSERT_EQ(Le32(img, kZorBfHdrVersion), 1u);
  ASSERT_EQ(Le32(img, kZorBfHdrCrash), 0u);
  ASSERT_EQ(Le32(img, kZorBfHdrState) & kZorBfStateOpenMarker, closed ? 0u : kZorBfStateOpenMarker) << "open marker";
  for (int i = 0; i < 64; ++i) ASSERT_EQ(static_cast<int32_t>(Le32(img, kZorBfHdrUserArray + 4 * i)), user[i]);
  const uint32_t count = Le32(img, kZorBfHdrDirCount), dataStart = Le32(img, kZorBfHdrDataStart);
  ASSERT_GE(dataStart, kZorBfHeaderSize + count * kZorBfEntrySize);
  ASSERT_EQ(dataStart % 1024, 0u);
  std::vector<std::pair<uint64_t, uint64_t>> extents;  // (position, capacity)
  size_t used = 0;
  for (uint32_t id = 1; id <= count; ++id) {
    SCOPED_TRACE("entry " + std::to_string(id));
    const size_t at = kZorBfHeaderSize + (id - 1) * size_t{kZorBfEntrySize};
    const uint64_t pos = Le32(img, at) | uint64_t{static_cast<uint8_t>(img[at + 23])} << 32;
    const uint32_t capacity = Le32(img, at + 4), size = Le32(img, at + 8);
    const uint8_t flags = static_cast<uint8_t>(img[at + 22]);
    ASSERT_EQ(Le32(img, at + 16), 0u) << "cache slot stored";
    ASSERT_EQ(flags & ZorBfFlagMemoryOnly, 0) << "memory-only flags stored";
    if (pos) {
      ASSERT_GE(pos, dataStart);
      ASSERT_LE(pos + capacity, img.size());
      extents.emplace_back(pos, capacity);
    }
    const auto it = model.find(static_cast<int32_t>(id));
    if (flags & ZorBfFlagFree) {
      ASSERT_TRUE(it == model.end()) << "used block stored as free";
      ASSERT_EQ(flags, ZorBfFlagFree);
      continue;
    }
    ASSERT_TRUE(it != model.end()) << "free block stored as used";
    ++used;
    const Block& b = it->second;
    ASSERT_EQ(static_cast<int32_t>(Le32(img, at + 12)), b.owner);
    ASSERT_EQ(static_cast<int16_t>(static_cast<uint8_t>(img[at + 20]) | static_cast<uint8_t>(img[at + 21]) << 8), b.type);
    ASSERT_EQ((flags & ZorBfFlagNoCompact) == 0, b.compact);
    ASSERT_EQ(size, b.data.size());
    ASSERT_LE(size, capacity);
    if (size) {
      ASSERT_NE(pos, 0u) << "stored data without a position";
      const auto diff = std::mismatch(b.data.begin(), b.data.end(), reinterpret_cast<const uint8_t*>(img.data()) + pos);
      ASSERT_TRUE(diff.first == b.data.end()) << "bytes on disk differ from byte " << diff.first - b.data.begin()
                                              << " of " << size << " at position " << pos << " capacity "
                                              << capacity << ": " << int{*diff.first} << " stored as "
                                              << int{*diff.second};
    }
  }
  ASSERT_EQ(used, model.size());
  std::sort(extents.begin(), extents.end());
  uint64_t at = dataStart;
  for (const auto& [pos, capacity] : extents) {
    ASSERT_GE(pos, at) << "overlapping extents at " << pos;
    ASSERT_EQ(pos, at) << "lost space from " << at << " to " << pos;
    at = pos + capacity;
  }
  ASSERT_EQ(at, img.size()) << "lost space at the end of the file";
}

std::string VerifText(const ZorVerif& v) {
  string s;
  return v.GetText(&s);
}

class BFileModel {
 public:
  BFileModel(uint32_t seed, bool onDisk) : _seed(seed), _rng(seed), _onDisk(onDisk) {
    if (_onDisk) {
      _fsa = _dir.Fsa("model.zbf");
      ZorBFile::Create(&_fsa, kFileType, kSignature, "model", ZorFsaCreateAlways);
    } else {
      _fsa = ZorFsa("/nowhere/model.zbf");
      ZorBFile::CreateOnStream(&_stream, kFileType, kSignature, "model");
    }
    _openWithRandomFlags();
  }

  ~BFileModel() {
    _held.clear();
    if (_file.IsOpen()) _file.Close(ZorBfCloseNormal);
  }

  void Step() {
    _touched.clear();
    const uint32_t op = _rng() % 100;
    _note("step", static_cast<int32_t>(op));
    _maxBlocks = std::max(_maxBlocks, _model.size());
    if (op < 18) Create();
    else if (op < 34) RewriteShared();
    else if (op < 42) RewriteCopy();
    else if (op < 48) Duplicate();
    else if (op < 56) Delete();
    else if (op < 58) MultiDelete();
    else if (op < 60) RangeDelete();
    else if (op < 65) Retag();
    else if (op < 68) ChangeTags();
    else if (op < 71) SetCompactFlag();
    else if (op < 79) Transaction();
    else if (op < 81) CompactFile();
    else if (op < 84) Uncache();
    else if (op < 86) PurgeSome();
    else if (op < 88) UserData();
    else if (op < 91) BadIds();
    else if (op < 93) Reopen();
    else if (op < 94 && _rng() % 6 == 0) Empty();
    else ReadShared();
  }

  // Outside transactions: the bytes on disk.
  void CheckDurable() {
    if (_depth == 0) {
      ASSERT_NO_FATAL_FAILURE(CheckImage(_image(), _model, _user, false));
    }
  }

  // The touched blocks, a few random ids and the counts.
  void CheckQuick() {
    CheckCounts();
    const int32_t n = _dirCount();
    for (int32_t id : _touched) ASSERT_NO_FATAL_FAILURE(CheckBlock(id));
    for (int k = 0; k < 3 && n > 0; ++k) ASSERT_NO_FATAL_FAILURE(CheckBlock(static_cast<int32_t>(_rng() % (n + 2))));
  }

  void CheckFull() {
    CheckCounts();
    const int32_t n = _dirCount();
    for (int32_t id = 0; id <= n + 1; ++id) ASSERT_NO_FATAL_FAILURE(CheckBlock(id));
    for (int k = 0; k < 4; ++k) ASSERT_NO_FATAL_FAILURE(CheckEnumeration());
    int32_t dirBytes = -1, used = -1;
    uint32_t reserved = 0;
    const uint64_t fileSize = _file.GetSize(&dirBytes, &used, &reserved);
    int64_t sum = 0;
    for (const auto& [id, b] : _model) sum += static_cast<int64_t>(b.data.size());
    ASSERT_EQ(dirBytes, n * 24);
    ASSERT_EQ(used, sum);
    ASSERT_GE(reserved, static_cast<uint32_t>(sum));
    ASSERT_GE(fileSize, static_cast<uint64_t>(kZorBfInitialDataStart));
    // Memory kept from BRead is the cached memory itself.
    ASSERT_EQ(_file.BUsed(0), static_cast<int32_t>(_held.size()));
    for (const auto& [id, h] : _held) {
      ASSERT_EQ(_file.BUsed(id), 1) << "held block " << id;
      ASSERT_EQ(HandleBytes(h), _model[id].data) << "held block " << id;
    }
  }

  void CheckCounts() {
    int32_t count = -1;
    ASSERT_TRUE(_file.BExist(0, &count));
    ASSERT_EQ(count, static_cast<int32_t>(_model.size()));
    int32_t freeSpace = -1, slots = -1;
    const int32_t n = _file.GetNbBlock(&freeSpace, &slots);
    ASSERT_GE(freeSpace, 0);
    ASSERT_GE(slots, 0);
    ASSERT_EQ(count + freeSpace + slots, n);
    if (!_model.empty()) { ASSERT_GE(n, _model.rbegin()->first); }
    ASSERT_EQ(_file.CountTransaction(), _depth);
  }

  void CheckBlock(int32_t id) {
    SCOPED_TRACE("block " + std::to_string(id));
    const auto it = _model.find(id);
    const bool used = it != _model.end();
    int32_t count = 0;
    if (id != 0) { ASSERT_EQ(_file.BExist(id, &count), used); }
    int32_t owner = -9, size = -9;
    int16_t type = -9;
    uint32_t capacity = 0;
    uint8_t flags = 0xEE;
    if (id > 0) { ASSERT_EQ(_file.GetBlockInfo(id, &owner, &type, &size, &capacity, &flags), used); }
    if (!used) {
      if (id > 0) { ASSERT_EQ(_file.BGetSize(id), 0); }
      if (id > 0) {
        ZorHandle h;
        ASSERT_EQ(ErrorOf([&] { _file.BReadCopy(id, &h); }), ZorErr(1, 23));
      }
      return;
    }
    const Block& b = it->second;
    ASSERT_EQ(owner, b.owner);
    ASSERT_EQ(type, b.type);
    ASSERT_EQ(size, static_cast<int32_t>(b.data.size()));
    ASSERT_EQ(_file.BGetSize(id), static_cast<int32_t>(b.data.size()));
    ASSERT_GE(capacity, static_cast<uint32_t>(size));
    ASSERT_EQ(flags & ZorBfFlagFree, 0);
    ASSERT_EQ((flags & ZorBfFlagNoCompact) == 0, b.compact);
    ASSERT_EQ(_file.BIsCompact(id), b.compact);
    ZorHandle h;
    _file.BReadCopy(id, &h);
    ASSERT_EQ(HandleBytes(h), b.data);
  }

  // BGetID over random ranges (wildcard lower bounds included) lists exactly
  // the used blocks inside them, in id order.
  void CheckEnumeration() {
    int32_t oLo = _owner(), oHi = _owner();
    int16_t tLo = _type(), tHi = _type();
    if (oLo > oHi) std::swap(oLo, oHi);
    if (tLo > tHi) std::swap(tLo, tHi);
    if (_rng() % 4 == 0) oLo = ZorBfAnyOwner;
    if (_rng() % 4 == 0) tLo = ZorBfAnyType;
    std::vector<int32_t> expected;
    for (const auto& [id, b] : _model)
      if (InRange(b.owner, oLo, oHi, ZorBfAnyOwner) && InRange(b.type, tLo, tHi, ZorBfAnyType)) expected.push_back(id);
    ZorBGet out(0, 4);
    out.Init();
    _file.BGetID(oLo, oHi, tLo, tHi, &out, 0, true);
    std::vector<int32_t> got;
    for (int32_t i = 1; i <= out.GetNbItem(); ++i) {
      int32_t v;
      out.Get(i, &v);
      got.push_back(v);
    }
    ASSERT_EQ(got, expected) << "owners " << oLo << ".." << oHi << " types " << tLo << ".." << tHi;
  }

  // Close and reopen at the end: the checks find nothing.
  void Reopen() {
    _held.clear();
    _file.Close(ZorBfCloseNormal);
    _depth = 0;
    ++_reopens;
    // On a failure of the image the file is reopened all the same: the run
    // stops at the end of the step.
    CheckImage(_image(), _model, _user, true);
    _openWithRandomFlags();
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_FALSE(_file.IsBadClose(false));
    ASSERT_EQ(_file.BadOpenCount(false), 0);
    ASSERT_EQ(_file.GetCrashFlag(false), 0);
    for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(_file.GetUserData(i), _user[i]) << "user data " << i;
    ASSERT_NO_FATAL_FAILURE(RunChecks());
    ASSERT_NO_FATAL_FAILURE(CheckFull());
  }

  void RunChecks() {
    using CheckFn = bool (ZorBFile::*)(ZorVerif*);
    const std::pair<const char*, CheckFn> checks[] = {{"CheckDir", &ZorBFile::CheckDir},
                                                      {"CheckCrossBlock", &ZorBFile::CheckCrossBlock},
                                                      {"CheckLostSpace", &ZorBFile::CheckLostSpace}};
    for (const auto& [name, fn] : checks) {
      ZorVerif v;
      v.Init(false, 0);
      const bool ok = (_file.*fn)(&v);
      EXPECT_TRUE(ok && v.GetNbFault() == 0) << name << ":\n" << VerifText(v);
      ASSERT_TRUE((_file.*fn)(nullptr)) << name << " without a verifier";
    }
  }

  int32_t Seed() const { return static_cast<int32_t>(_seed); }
  std::string Summary() const {
    return std::to_string(_reopens) + " reopens, " + std::to_string(_compactions) + " compactions, up to " +
           std::to_string(_maxBlocks) + " blocks";
  }
  bool CacheKeptItsLimit() const { return _cacheArg < 0 || _file.GetCacheLimit() == _cacheArg; }
  size_t Blocks() const { return _model.size(); }

 private:
  // ------------------------------------------------------------ operations
  void Create() {
    const uint32_t kind = _rng() % 4;
    Bytes data = kind == 0 ? Bytes() : _randomData();
    const uint32_t reserve = _reserve(data.size());
    const int32_t owner = _owner();
    const int16_t type = _type();
    const bool compact = _rng() % 3 != 0;
    int32_t id;
    if (kind == 0) {
      id = _file.BCreate(nullptr, owner, type, reserve, compact);
    } else {
      // The cache shares the caller's handle: one reference outside it.
      ZorHandle h;
      h.Init(data.data(), static_cast<uint32_t>(data.size()));
      id = _file.BCreate(&h, owner, type, reserve, compact);
      if (!data.empty()) { ASSERT_EQ(_file.BUsed(id), 1); }
    }
    ASSERT_GE(id, 1);
    ASSERT_EQ(_model.count(id), 0u) << "id " << id << " given twice";
    _model[id] = Block{owner, type, data, compact};
    _note("create", id, data.size(), reserve);
    _touched.push_back(id);
    ASSERT_EQ(_file.BUsed(id), 0);
    uint32_t capacity = 0;
    ASSERT_TRUE(_file.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr));
    ASSERT_GE(capacity, std::max<uint32_t>(reserve, static_cast<uint32_t>(data.size())));
    if (data.empty() && reserve == 0) { ASSERT_GE(capacity, 1024u); }
  }

  // BRead, change the shared memory (grow, shrink, or same length), BWrite.
  void RewriteShared() {
    const int32_t id = _pickUsed();
    if (!id) return;
    Block& b = _model[id];
    ZorHandle h;
    _file.BRead(id, &h);
    ASSERT_EQ(HandleBytes(h), b.data);
    ASSERT_EQ(_file.BUsed(id), 1 + static_cast<int32_t>(_held.count(id)));
    const size_t len = _newLength(b.data.size());
    Bytes data = b.data;
    data.resize(len);
    if (len) {
      const size_t from = _rng() % len, n = std::min<size_t>(len - from, 1 + _rng() % 300);
      for (size_t k = 0; k < n; ++k) data[from + k] = static_cast<uint8_t>(_rng());
      if (len > b.data.size())
        for (size_t k = b.data.size(); k < len; ++k) data[k] = static_cast<uint8_t>(k * 7 + id);
    }
    h.SetSize(static_cast<uint32_t>(len));
    if (len) memcpy(h.GetDatas(), data.data(), len);
    const int32_t reserve = static_cast<int32_t>(_rng() % 3 == 0 ? _rng() % 5000 : 0);
    _file.BWrite(id, reserve);
    _note("write shared", id, len, static_cast<uint32_t>(reserve));
    b.data = std::move(data);
    _touched.push_back(id);
    if (_rng() % 5 == 0) {
      // Keep the shared handle for a while: the cache must not drop it.
      if (_held.size() >= 3) _held.erase(_held.begin());
      _held[id] = std::move(h);
    }
  }

  void RewriteCopy() {
    const int32_t id = _pickUsed();
    if (!id) return;
    Bytes data = _randomData();
    ZorHandle h;
    h.Init(data.data(), static_cast<uint32_t>(data.size()));
    _held.erase(id);
    const int32_t reserve = static_cast<int32_t>(_rng() % 2 ? 0 : _rng() % 3000);
    _file.BWriteCopy(id, &h, reserve);
    _note("write copy", id, data.size(), static_cast<uint32_t>(reserve));
    _model[id].data = std::move(data);
    _touched.push_back(id);
  }

  void Duplicate() {
    const int32_t src = _pickUsed();
    if (!src) return;
    const Block b = _model[src];
    const int32_t owner = _rng() % 2 ? int32_t{ZorBfKeepOwner} : _owner();
    const int16_t type = _rng() % 2 ? int16_t{ZorBfKeepType} : _type();
    const uint32_t reserveKind = _rng() % 3;
    const uint32_t reserve = reserveKind == 0 ? 0 : reserveKind == 1 ? 0xFFFFFFFFu : _rng() % 4000;
    uint32_t srcCapacity = 0;
    _file.GetBlockInfo(src, nullptr, nullptr, nullptr, &srcCapacity, nullptr);
    const int32_t id = _file.BDuplicate(src, owner, type, reserve);
    _note("duplicate", id, static_cast<size_t>(src), reserve);
    ASSERT_GE(id, 1);
    ASSERT_EQ(_model.count(id), 0u) << "duplicate " << id << " of " << src << " reuses a used id";
    _model[id] = Block{owner == ZorBfKeepOwner ? b.owner : owner, type == ZorBfKeepType ? b.type : type, b.data, b.compact};
    _touched.push_back(id);
    _touched.push_back(src);
    uint32_t capacity = 0;
    _file.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr);
    if (reserveKind == 1) { ASSERT_GE(capacity, srcCapacity); }
  }

  void Delete() {
    const int32_t n = _dirCount();
    const int32_t id = _rng() % 4 ? _pickUsed() : static_cast<int32_t>(1 + _rng() % std::max(n, 1));
    if (id < 1 || id > n) return;
    _dropHeld(id);
    _file.BDelete(id);
    _note("delete", id);
    _model.erase(id);
    _touched.push_back(id);
  }

  void MultiDelete() {
    const uint32_t k = _rng() % 10;
    const int32_t owner = k == 0 ? int32_t{ZorBfAnyOwner} : k == 1 ? int32_t{ZorBfKeepOwner} : _owner();
    const int16_t type = k == 2 || k == 3 ? int16_t{ZorBfAnyType} : k == 4 ? int16_t{ZorBfKeepType} : _type();
    if (owner == ZorBfAnyOwner && type == ZorBfAnyType && _rng() % 3) return;  // empties the file: rarely
    _held.clear();
    _file.BMultiDelete(owner, type);
    _note("multi delete", owner, static_cast<size_t>(type));
    if (owner == ZorBfKeepOwner || type == ZorBfKeepType) return;
    std::erase_if(_model, [&](const auto& kv) {
      return (owner == ZorBfAnyOwner || kv.second.owner == owner) && (type == ZorBfAnyType || kv.second.type == type);
    });
  }

  void RangeDelete() {
    int32_t oLo = _owner(), oHi = _owner();
    int16_t tLo = _type(), tHi = _type();
    if (oLo > oHi) std::swap(oLo, oHi);
    if (tLo > tHi) std::swap(tLo, tHi);
    if (_rng() % 5 == 0) oLo = ZorBfAnyOwner;
    if (_rng() % 5 == 0) tLo = ZorBfAnyType;
    _held.clear();
    _file.BRangeDelete(oLo, oHi, tLo, tHi);
    _note("range delete", oLo, static_cast<size_t>(oHi));
    std::erase_if(_model, [&](const auto& kv) {
      return InRange(kv.second.owner, oLo, oHi, ZorBfAnyOwner) && InRange(kv.second.type, tLo, tHi, ZorBfAnyType);
    });
  }

  void Retag() {
    const int32_t id = _pickUsed();
    if (!id) return;
    if (_rng() % 2) {
      const int32_t owner = _owner();
      _file.BSetOwner(id, owner);
      _model[id].owner = owner;
    } else {
      const int16_t type = _type();
      _file.BSetType(id, type);
      _model[id].type = type;
    }
    _touched.push_back(id);
  }

  // BChangeOwner / BChangeType over a range of the other tag.
  void ChangeTags() {
    if (_rng() % 2) {
      const int32_t from = _rng() % 4 ? _owner() : int32_t{ZorBfAnyOwner}, to = _owner();
      int16_t lo = _type(), hi = _type();
      if (lo > hi) std::swap(lo, hi);
      _file.BChangeOwner(from, to, lo, hi);
      for (auto& [id, b] : _model)
        if ((from == ZorBfAnyOwner || b.owner == from) && b.type >= lo && b.type <= hi) b.owner = to;
    } else {
      const int16_t from = _rng() % 4 ? _type() : int16_t{ZorBfAnyType}, to = _type();
      int32_t lo = _owner(), hi = _owner();
      if (lo > hi) std::swap(lo, hi);
      _file.BChangeType(from, to, lo, hi);
      for (auto& [id, b] : _model)
        if ((from == ZorBfAnyType || b.type == from) && b.owner >= lo && b.owner <= hi) b.type = to;
    }
  }

  void SetCompactFlag() {
    const bool compact = _rng() % 2;
    if (_rng() % 3) {
      const int32_t id = _pickUsed();
      if (!id) return;
      _file.BSetCompact(id, compact, 0, 0);
      _model[id].compact = compact;
      _touched.push_back(id);
      return;
    }
    const int32_t owner = _rng() % 3 ? _owner() : int32_t{ZorBfAnyOwner};
    const int16_t type = _rng() % 3 ? _type() : int16_t{ZorBfAnyType};
    _file.BSetCompact(0, compact, owner, type);
    for (auto& [id, b] : _model)
      if ((owner == ZorBfAnyOwner || b.owner == owner) && (type == ZorBfAnyType || b.type == type)) b.compact = compact;
  }

  void Transaction() {
    if (_depth > 0 && (_rng() % 2 || _depth >= 4)) {
      _file.EndTransaction();
      --_depth;
      _note("end transaction", _depth);
    } else {
      _file.StartTransaction();
      ++_depth;
      _note("start transaction", _depth);
    }
  }

  // Compaction in modes 2 and 3: afterwards nothing of that kind is wasted.
  void CompactFile() {
    const eZorBfCompact mode = _rng() % 2 ? ZorBfCompactAny : ZorBfCompactAll;
    _held.clear();
    const bool needed = _file.NeedCompact(mode);
    _note("compact", mode, needed);
    _compactions += needed;
    // Compaction refuses a directory that its check rejects; in the middle
    // of a transaction too the directory must pass.
    ZorVerif v;
    v.Init(false, 0);
    ASSERT_TRUE(_file.CheckDir(&v)) << "depth " << _depth << "\n" << VerifText(v) << _entries();
    ASSERT_EQ(_file.Compact(mode, false, false), needed);
    ASSERT_EQ(_file.GetCrashFlag(false), 0);
    if (_depth == 0) {
      // Nothing wasted is left, and the file ends at the last extent.
      ASSERT_FALSE(_file.NeedCompact(mode)) << "mode " << mode;
      int32_t dirBytes = 0, used = 0;
      uint32_t reserved = 0;
      const uint64_t size = _file.GetSize(&dirBytes, &used, &reserved);
      if (needed) {
        ASSERT_EQ(size, _file.GetDataStart() + uint64_t{reserved});
      }
    }
    for (const auto& [id, b] : _model) {
      uint32_t capacity = 0;
      _file.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr);
      // Blocks placed in an open transaction have no extent yet: they are
      // placed, at their full capacity, by its flush.
      if (_depth == 0 && needed && (b.compact || mode == ZorBfCompactAll)) { ASSERT_EQ(capacity, b.data.size()) << "block " << id; }
    }
  }

  void Uncache() {
    if (_rng() % 2) {
      const int32_t id = static_cast<int32_t>(_rng() % (_dirCount() + 2));
      _file.BUncach(id);
      _note("uncache", id);
      _touched.push_back(id);
    } else {
      _file.BMultiUncach(_rng() % 2 ? _owner() : int32_t{ZorBfAnyOwner}, _rng() % 2 ? _type() : int16_t{ZorBfAnyType});
    }
  }

  void PurgeSome() {
    const uint32_t bytes = _rng() % 200000;
    _file.Purge(static_cast<int32_t>(bytes));
    _note("purge", 0, bytes);
  }

  void UserData() {
    const int32_t i = static_cast<int32_t>(_rng() % 64), v = static_cast<int32_t>(_rng());
    _file.SetUserData(i, v);
    _user[i] = v;
    ASSERT_EQ(_file.GetUserData(i), v);
  }

  // Ids outside the directory and free entries.
  void BadIds() {
    const int32_t n = _dirCount();
    ZorHandle h;
    ASSERT_EQ(ErrorOf([&] { _file.BRead(n + 1, &h); }), ZorErr(1, 23));
    ASSERT_EQ(ErrorOf([&] { _file.BReadCopy(0, &h); }), ZorErr(1, 23));
    ASSERT_EQ(ErrorOf([&] { _file.BWrite(-1, 0); }), ZorErr(1, 23));
    ASSERT_EQ(ErrorOf([&] { _file.BDelete(n + 1); }), ZorErr(1, 23));
    ASSERT_EQ(_file.BGetSize(n + 1), 0);
    ASSERT_FALSE(_file.GetBlockInfo(n + 1, nullptr, nullptr, nullptr, nullptr, nullptr));
    for (int32_t id = 1; id <= n; ++id) {
      if (_model.count(id)) continue;
      ASSERT_EQ(ErrorOf([&] { _file.BRead(id, &h); }), ZorErr(1, 23)) << "free " << id;
      ASSERT_EQ(ErrorOf([&] { _file.BDuplicate(id, ZorBfKeepOwner, ZorBfKeepType, 0); }), ZorErr(1, 23));
      ASSERT_EQ(ErrorOf([&] { _file.BDelete(id); }), 0) << "deleting the free entry " << id;
      break;
    }
    if (_depth == 0) { ASSERT_EQ(ErrorOf([&] { _file.EndTransaction(); }), ZorErr(1, 15)); }
  }

  void Empty() {
    _held.clear();
    _file.EmptyFile(_rng() % 2);
    _note("empty");
    _model.clear();
    // With copy-on-write the old data area stays referenced (as space freed
    // at the flush) until the empty directory is on disk.
    if (!(_flags & ZorBfOpenCopyOnWrite)) {
      ASSERT_EQ(_file.GetNbBlock(nullptr, nullptr), 0);
    }
  }

  // Read-only traffic: it moves blocks through the small cache.
  void ReadShared() {
    for (int k = 0; k < 4; ++k) {
      const int32_t id = _pickUsed();
      if (!id) return;
      ZorHandle h;
      _file.BRead(id, &h);
      ASSERT_EQ(HandleBytes(h), _model[id].data);
    }
    const int32_t owner = _owner();
    const int16_t type = _type();
    const int32_t need = static_cast<int32_t>(_rng() % 100);
    int32_t expected = 0;
    for (const auto& [id, b] : _model) {
      uint32_t capacity = 0;
      _file.GetBlockInfo(id, nullptr, nullptr, nullptr, &capacity, nullptr);
      if (b.owner == owner && b.type == type && b.data.size() + need <= capacity) {
        expected = id;
        break;
      }
    }
    ASSERT_EQ(_file.BGetOTBlockId(owner, type, need), expected);
  }

  // ------------------------------------------------------------ helpers
  void _openWithRandomFlags() {
    int32_t flags = ZorBfOpenCloseNormal;
    if (_rng() % 2) flags |= ZorBfOpenCopyOnWrite;
    if (_rng() % 3 == 0) flags |= ZorBfOpenRound1K;
    if (_onDisk) flags |= ZorBfOpenNoFlush;
    const int32_t cache = _rng() % 5 == 0 ? -1 : static_cast<int32_t>(3 + _rng() % 8);
    if (_onDisk)
      _file.Open(&_fsa, ZorPermReadWrite, ZorShareExclusive, flags, cache, kFileType, kSignature);
    else
      _file.OpenOnStream(&_stream, &_fsa, flags, cache, kFileType, kSignature);
    _flags = flags;
    _cacheArg = cache;
    _note("open flags", flags, static_cast<size_t>(cache));
  }

  void _note(const char* what, int32_t a = 0, size_t b = 0, uint32_t c = 0) {
    _log.push_back(std::string(what) + " " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
    if (_log.size() > 60) _log.erase(_log.begin());
  }

 public:
  std::string Log() const {
    std::string s;
    for (const std::string& line : _log) s += "  " + line + "\n";
    return s;
  }

 private:
  // The directory as the file sees it, for failure messages.
  std::string _entries() {
    std::string s;
    for (int32_t id = 1; id <= _dirCount(); ++id) {
      sZorBfBRef e;
      if (!_file.GetEntry(id, &e)) continue;
      s += "  " + std::to_string(id) + ": pos " + std::to_string(e.GetPos()) + " capacity " + std::to_string(e.capacity) +
           " size " + std::to_string(e.size) + " flags " + std::to_string(e.flags) + "\n";
    }
    return s;
  }

  std::string _image() { return _onDisk ? zortest::ReadFile(_dir.File("model.zbf")) : _stream.Image(); }

  int32_t _dirCount() { return _file.GetNbBlock(nullptr, nullptr); }

  int32_t _pickUsed() {
    if (_model.empty()) return 0;
    auto it = _model.begin();
    std::advance(it, _rng() % _model.size());
    return it->first;
  }

  void _dropHeld(int32_t) { _held.clear(); }

  int32_t _owner() { return kOwners[_rng() % std::size(kOwners)]; }
  int16_t _type() { return kTypes[_rng() % std::size(kTypes)]; }

  // Mostly small, sometimes a few KB, rarely past the 64 KB split threshold.
  Bytes _randomData() {
    const uint32_t k = _rng() % 40;
    const size_t n = k == 0 ? 0 : k < 28 ? _rng() % 200 : k < 39 ? _rng() % 5000 : 60000 + _rng() % 20000;
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(_rng());
    return b;
  }

  size_t _newLength(size_t old) {
    switch (_rng() % 5) {
      case 0: return old;
      case 1: return old / 2;
      case 2: return old + 1 + _rng() % 100;
      case 3: return old + 1000 + _rng() % 3000;
      default: return _rng() % 10 ? _rng() % 400 : 0;
    }
  }

  uint32_t _reserve(size_t size) {
    switch (_rng() % 4) {
      case 0: return 0;
      case 1: return static_cast<uint32_t>(size + _rng() % 2000);
      case 2: return _rng() % 3000;
      default: return static_cast<uint32_t>(size / 2);
    }
  }

  uint32_t _seed;
  Rng _rng;
  bool _onDisk;
  zortest::TempDir _dir;
  ZorFsa _fsa;
  zortest::FaultStream _stream;
  ZorBFile _file;
  int32_t _flags = 0;
  int32_t _cacheArg = 0;
  int _reopens = 0, _compactions = 0;
  size_t _maxBlocks = 0;
  int32_t _depth = 0;
  Model _model;
  int32_t _user[64] = {};
  std::vector<int32_t> _touched;
  std::map<int32_t, ZorHandle> _held;  // blocks kept shared by the test
  std::vector<std::string> _log;       // the last operations, printed on a failure
};

// One step and its checks; false after a failure.
bool StepAndCheck(BFileModel* model, int step, bool onDisk) {
  try {
    model->Step();
    if (::testing::Test::HasFatalFailure()) return false;
    model->CheckQuick();
    if (::testing::Test::HasFatalFailure()) return false;
    if (!onDisk || step % 10 == 0) model->CheckDurable();
    if (::testing::Test::HasFatalFailure()) return false;
    if (step % 25 == 24) model->CheckFull();
  } catch (const ZorException& e) {
    string s;
    ADD_FAILURE() << "library error " << e.GetError() << ": " << e.GetMsg(&s) << " at " << e.GetFileText() << ":"
                  << e.GetLine();
    return false;
  }
  return !::testing::Test::HasFatalFailure();
}

void RunSeed(uint32_t seed, bool onDisk, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed) + (onDisk ? " on disk" : " on the fault stream"));
  const bool busy = seed % 2;
  std::unique_ptr<zortest::BusyWorkingSet> pressure(busy ? new zortest::BusyWorkingSet() : nullptr);
  BFileModel model(seed, onDisk);
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (!StepAndCheck(&model, step, onDisk)) {
      printf("last operations of seed %u (what, id or argument, size, reserve):\n%s", seed, model.Log().c_str());
      FAIL();
    }
  }
  if (busy) {
    EXPECT_TRUE(model.CacheKeptItsLimit()) << "the cache limit grew in a busy process";
  }
  ASSERT_NO_FATAL_FAILURE(model.Reopen());
  printf("[ model ] seed %u%s%s: %d steps, %s\n", seed, onDisk ? " on disk" : " on the fault stream",
         busy ? " (busy process)" : "", steps, model.Summary().c_str());
}

}  // namespace

TEST(BFileModel, RandomSequencesOnDiskMatchTheMapModel) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    RunSeed(seed, true, 1500);
    if (HasFatalFailure()) return;
  }
}

TEST(BFileModel, RandomSequencesOnTheFaultStreamMatchTheMapModel) {
  for (uint32_t seed = 101; seed <= 104; ++seed) {
    RunSeed(seed, false, 1500);
    if (HasFatalFailure()) return;
  }
}
