// ZorSort: in-memory and external sorts of key + data items.
//
// Invariants:
// - an item is keyLen key bytes (the caller's key, then the 8-letter
//   sequence part when asked for) followed by dataSize data bytes;
// - in memory, items sit end to end in `items`; with the kept-sorted method
//   they are always in key order there, else `order` lists them in key
//   order once validated;
// - external, the run buffer holds at most runItems items; a full run is
//   sorted and appended to the temporary file, so the file is a sequence of
//   sorted runs of whole multiples of 1,024 items (the last run may be
//   shorter) and every 1,024 items of it form a sorted spool;
// - after the merge, `order` points into the mapping of the file (or into
//   the run buffer when nothing was spilled).
#include <algorithm>
#include <cstring>
#include <queue>
#include <vector>

#include "foundation/errors/raise.h"
#include "foundation/text/collation.h"
#include "platform/env.h"
#include <zorvane/block_array.h>
#include <zorvane/file_commands.h>
#include <zorvane/path.h>
#include <zorvane/sort.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorIndex";
constexpr int32_t kErrWrite = 3, kErrTempFile = 5, kErrBadParam = 23;
constexpr int32_t kMaxMemoryItems = 20000;
constexpr uint64_t kMaxMemoryBytes = 0x400000;
constexpr int32_t kSpoolItems = 1024;
constexpr int32_t kSequenceLen = 8;
constexpr int32_t kMaxDataSize = 1 << 24;  // an item's data part, 16 MiB
constexpr size_t kWriteChunk = 1 << 16;

[[noreturn]] void Raise(int32_t code, uint32_t line = __builtin_LINE()) {
  ZorRaise({kSource, line}, ZorErr(1, code));
}

}  // namespace

struct ZorSort::Rep {
  sZorKey key;
  const uint8_t* values = nullptr;
  uint32_t valuesSize = 0;
  int32_t callerKeyLen = 0;
  int32_t keyLen = 0;
  int32_t dataSize = 0;
  size_t itemSize = 0;
  uint32_t state = 0;
  bool external = false;
  bool keptSorted = false;
  int32_t count = 0;
  std::vector<uint8_t> item;   // the item being built
  std::vector<uint8_t> items;  // in memory: every item; external: the run buffer
  int32_t runItems = 0;
  int32_t inRun = 0;
  std::vector<const uint8_t*> order;
  // The temporary file and its mapping.
  ZorLock fileGuard;
  iZorStream* file = nullptr;
  uint64_t fileSize = 0;
  void* map = nullptr;
  size_t mapSize = 0;

  bool Less(const uint8_t* a, const uint8_t* b) const { return ZorCompIndex(a, b, keyLen) < 0; }

  void BuildKey() {
    ZorBuildIndex(&key, values, valuesSize, item.data());
    if (state & kZorSortSequence) {
      // The sequence part: the item counter, encoded as an index key's
      // 32-bit integer part.
      sZorKey seq;
      seq.nbPart = seq.nbPart2 = 1;
      seq.partType[0] = kZorPhysTypeLong;
      seq.partLen[0] = kSequenceLen;
      seq.keyLen = kSequenceLen;
      const int32_t n = count;
      ZorBuildIndex(&seq, &n, sizeof n, item.data() + callerKeyLen);
    }
  }

  // The collation weights of a key's first 8 bytes (zeros past the key) as
  // one big-endian number: keys whose prefixes differ compare as these do.
  uint64_t PrefixOf(const uint8_t* item) const {
    uint8_t weights[8] = {};
    ZorIndexSortKey(item, std::min(keyLen, 8), weights);
    uint64_t prefix = 0;
    for (const uint8_t w : weights) prefix = prefix << 8 | w;
    return prefix;
  }

  // Points `order` at the items of a buffer, in key order; equal keys keep
  // their order in the buffer. The first 8 bytes of each key, turned into
  // their collation weights (ZorIndexSortKey), decide most comparisons as
  // one integer comparison; the whole key decides the rest.
  void OrderOf(const uint8_t* base, int32_t n) {
    struct Entry {
      uint64_t prefix;
      const uint8_t* item;
    };
    std::vector<Entry> entries(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* item = base + static_cast<size_t>(i) * itemSize;
      entries[static_cast<size_t>(i)] = {PrefixOf(item), item};
    }
    const int32_t len = keyLen;
    std::sort(entries.begin(), entries.end(), [len](const Entry& a, const Entry& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      const int32_t c = len > 8 ? ZorCompIndex(a.item + 8, b.item + 8, len - 8) : 0;
      return c < 0 || (c == 0 && a.item < b.item);
    });
    order.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) order[static_cast<size_t>(i)] = entries[static_cast<size_t>(i)].item;
  }

  // ------------------------------------------------------------ external

  void OpenFile() {
    ZorFsa path;
    try {
      ZorFsaCmd::S_OpenTempo(&path, "srt", nullptr);
      file = ZorOpenStream(&path, ZorPermReadWrite | ZorShareExclusive, &fileGuard,
                           ZorStmDeleteOnClose | ZorStmTemporary | ZorStmExtend);
    } catch (const ZorEBasic&) {
      if (path.IsInit()) ZorFsaCmd(&path, ZorFsaCmdQuiet).Remove();
      Raise(kErrTempFile);
    }
  }

  // Sorts the run buffer and appends it to the file.
  void SpillRun() {
    if (inRun == 0) return;
    if (!file) OpenFile();
    OrderOf(items.data(), inRun);
    std::vector<uint8_t> chunk;
    chunk.reserve(kWriteChunk + itemSize);
    try {
      file->Seek(static_cast<int64_t>(fileSize), ZorSeekSet);
      for (const uint8_t* p : order) {
        chunk.insert(chunk.end(), p, p + itemSize);
        if (chunk.size() >= kWriteChunk) Flush(&chunk);
      }
      Flush(&chunk);
    } catch (const ZorEBasic&) {
      Raise(kErrWrite);
    }
    order.clear();
    inRun = 0;
  }

  void Flush(std::vector<uint8_t>* chunk) {
    if (chunk->empty()) return;
    file->Write(chunk->data(), static_cast<uint32_t>(chunk->size()));
    fileSize += chunk->size();
    chunk->clear();
  }

  void MapFile() {
    const int fd = file->Command(ZorStmCmdGetDescriptor, nullptr, nullptr, nullptr, nullptr);
    mapSize = static_cast<size_t>(fileSize);
    if (fd < 0 || platform::CurrentEnv().Map(fd, 0, mapSize, false, &map) != 0) {
      map = nullptr;
      Raise(kErrTempFile);
    }
  }

  // The spools of the file merged into `order`. Equal keys come from the
  // earlier spool first.
  void Merge() {
    if (!file) {
      OrderOf(items.data(), inRun);
      return;
    }
    SpillRun();
    MapFile();
    struct Spool {
      uint64_t prefix;  // the current item's first key weights
      const uint8_t* at;
      const uint8_t* end;
      size_t index;
    };
    const auto* base = static_cast<const uint8_t*>(map);
    const size_t spoolBytes = itemSize * kSpoolItems;
    const int32_t len = keyLen;
    auto later = [len](const Spool& a, const Spool& b) {
      if (a.prefix != b.prefix) return a.prefix > b.prefix;
      const int32_t c = len > 8 ? ZorCompIndex(a.at + 8, b.at + 8, len - 8) : 0;
      return c > 0 || (c == 0 && a.index > b.index);
    };
    std::priority_queue<Spool, std::vector<Spool>, decltype(later)> heap(later);
    for (size_t at = 0, i = 0; at < fileSize; at += spoolBytes, ++i) {
      heap.push({PrefixOf(base + at), base + at, base + std::min<uint64_t>(fileSize, at + spoolBytes), i});
    }
    order.clear();
    order.reserve(static_cast<size_t>(count));
    while (!heap.empty()) {
      Spool s = heap.top();
      heap.pop();
      order.push_back(s.at);
      s.at += itemSize;
      if (s.at < s.end) {
        s.prefix = PrefixOf(s.at);
        heap.push(s);
      }
    }
  }

  void Release() {
    if (map) platform::CurrentEnv().Unmap(map, mapSize);
    map = nullptr;
    file = nullptr;
    fileGuard.Trash();
  }
};

ZorSort::ZorSort() = default;
ZorSort::~ZorSort() { Trash(); }

void ZorSort::Trash() {
  if (_rep) _rep->Release();
  _rep.reset();
}

bool ZorSort::IsInit() const { return _rep != nullptr; }
uint32_t ZorSort::GetState() const { return _rep ? _rep->state : 0; }
int32_t ZorSort::GetNbItem() const { return _rep ? _rep->count : 0; }
int32_t ZorSort::GetKeyLen() const { return _rep ? _rep->keyLen : 0; }
int32_t ZorSort::GetDataSize() const { return _rep ? _rep->dataSize : 0; }

void ZorSort::Init(const sZorKey* key, const void* values, uint32_t valuesSize, int32_t dataSize, int32_t method,
                   bool addSequence) {
  Trash();
  ZorNotNull(key, kSource);
  if (dataSize < 0 || dataSize > kMaxDataSize || method < kZorSortMemory5 || (addSequence && key->keyLen + kSequenceLen > 255)) {
    Raise(kErrBadParam);
  }
  auto r = std::make_unique<Rep>();
  r->key = *key;
  r->values = static_cast<const uint8_t*>(values);
  r->valuesSize = values ? valuesSize : 0;
  r->callerKeyLen = key->keyLen;
  r->keyLen = key->keyLen + (addSequence ? kSequenceLen : 0);
  r->dataSize = dataSize;
  r->itemSize = static_cast<size_t>(r->keyLen) + static_cast<size_t>(dataSize);
  r->item.assign(r->itemSize, 0);
  if (addSequence) r->state |= kZorSortSequence;
  const uint64_t itemBytes = std::max<uint64_t>(r->itemSize, 1);
  if (method >= 0) {
    r->external = method > kMaxMemoryItems || itemBytes * static_cast<uint64_t>(method) > kMaxMemoryBytes;
  } else {
    r->external = method == kZorSortExternal;
    r->keptSorted = method == kZorSortKeptSorted;
  }
  if (!r->external) r->state |= kZorSortInMemory;
  if (r->keptSorted) r->state |= kZorSortArray;
  if (r->external) {
    // Runs of k x 1,024 items, k such that a run is at least about 64 KiB.
    const uint64_t perSpool = itemBytes * kSpoolItems;
    r->runItems = static_cast<int32_t>((perSpool + 65534) / perSpool) * kSpoolItems;
    r->items.resize(static_cast<size_t>(r->runItems) * r->itemSize);
  }
  _rep = std::move(r);
}

void* ZorSort::GetDatabuffer() {
  ZorNotNull(_rep.get(), kSource);
  return _rep->item.data() + _rep->keyLen;
}

void ZorSort::Add(const void* data) {
  Rep& r = *ZorNotNull(_rep.get(), kSource);
  if (r.state & kZorSortValidated) Raise(kErrBadParam);
  r.BuildKey();
  if (data && r.dataSize) std::memmove(r.item.data() + r.keyLen, data, static_cast<size_t>(r.dataSize));
  if (r.external) {
    if (r.inRun == r.runItems) r.SpillRun();
    std::memcpy(r.items.data() + static_cast<size_t>(r.inRun) * r.itemSize, r.item.data(), r.itemSize);
    ++r.inRun;
  } else if (r.keptSorted) {
    // After the last item that is not greater: equal keys keep their order.
    size_t lo = 0, hi = static_cast<size_t>(r.count);
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (r.Less(r.item.data(), r.items.data() + mid * r.itemSize)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    r.items.insert(r.items.begin() + static_cast<ptrdiff_t>(lo * r.itemSize), r.item.begin(), r.item.end());
  } else {
    r.items.insert(r.items.end(), r.item.begin(), r.item.end());
  }
  ++r.count;
}

void ZorSort::Validate() {
  Rep& r = *ZorNotNull(_rep.get(), kSource);
  if (r.state & kZorSortValidated) return;
  if (!r.external && !r.keptSorted) {
    r.OrderOf(r.items.data(), r.count);
    r.state |= kZorSortArray;
  }
  r.state |= kZorSortValidated;
}

bool ZorSort::ReadN(int32_t n, void* out) {
  Rep& r = *ZorNotNull(_rep.get(), kSource);
  if (n < 1 || n > r.count) return false;
  const uint8_t* item;
  if (r.keptSorted) {
    item = r.items.data() + static_cast<size_t>(n - 1) * r.itemSize;
  } else {
    Validate();
    if (r.external && !(r.state & kZorSortMerged)) {
      r.Merge();
      r.state |= kZorSortMerged;
    }
    item = r.order[static_cast<size_t>(n - 1)];
  }
  if (out && r.dataSize) std::memcpy(out, item + r.keyLen, static_cast<size_t>(r.dataSize));
  return true;
}

void ZorSort::GetDataBGet(ZorBGet* out, bool whole) {
  Rep& r = *ZorNotNull(_rep.get(), kSource);
  ZorNotNull(out, kSource);
  const size_t size = whole ? r.itemSize : static_cast<size_t>(r.dataSize);
  out->Reset(0, static_cast<uint32_t>(size));
  if (r.count == 0) return;
  ReadN(1, nullptr);  // validates and merges
  std::vector<uint8_t> all(size * static_cast<size_t>(r.count));
  for (int32_t n = 0; n < r.count; ++n) {
    const uint8_t* item = r.keptSorted ? r.items.data() + static_cast<size_t>(n) * r.itemSize
                                       : r.order[static_cast<size_t>(n)];
    std::memcpy(all.data() + static_cast<size_t>(n) * size, whole ? item : item + r.keyLen, size);
  }
  out->InsRange(0, all.data(), r.count);
}

}  // namespace zorvane
