// A block file image given as arbitrary bytes, opened on an in-memory
// stream with and without the tolerant flag. When the open succeeds: the
// four checks with repair allowed, every block read, the blocks enumerated,
// the file compacted, a block created and one deleted, and the file closed.
// Only library errors may come out (ZorException); no crash, leak or hang.
// When nothing raised on a file that opened without tolerance, the image
// left behind must open again without tolerance.
//
// One byte of the header's reserved area (offset 979, zero in real files)
// steers the run, so that the fuzzer mutates it together with the file:
// bits 0-1 the cache limit (2, 16, 700, automatic), bit 2 the check level
// 2 (no id errors, lost-space repair), bits 3-4 the compaction mode (none,
// 1, 2, 3), bit 5 copy-on-write placement, bit 6 capacities rounded to 1 KiB.
#include <zorvane/zorvane.h>

#include "fuzz/mem_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

using namespace zorvane;
using fuzz_support::MemStream;

namespace {

constexpr uint32_t kControlByte = 979;

struct Control {
  int32_t cacheBlocks;
  int32_t checkLevel;
  int32_t compactMode;  // 0: none
  int32_t openFlags;
};

Control Decode(const uint8_t* data, size_t size) {
  const uint8_t c = size > kControlByte ? data[kControlByte] : 0;
  static const int32_t kCaches[] = {2, 16, 700, -1};
  Control out;
  out.cacheBlocks = kCaches[c & 3];
  out.checkLevel = (c & 4) ? 2 : 0;
  out.compactMode = (c >> 3) & 3;
  out.openFlags = ((c & 0x20) ? ZorBfOpenCopyOnWrite : 0) | ((c & 0x40) ? ZorBfOpenRound1K : 0);
  return out;
}

void ReadEveryBlock(ZorBFile* f) {
  int32_t freeWithSpace = 0, emptySlots = 0;
  const int32_t count = f->GetNbBlock(&freeWithSpace, &emptySlots);
  uint64_t sum = 0;
  for (int32_t id = 1; id <= count; ++id) {
    int32_t size = 0;
    if (!f->GetBlockInfo(id, nullptr, nullptr, &size, nullptr, nullptr)) continue;
    ZorHandle copy;
    f->BReadCopy(id, &copy);
    ZorHandle shared;
    f->BRead(id, &shared);
    if (copy.GetSize() != shared.GetSize()) __builtin_trap();
    sum += copy.GetSize() + static_cast<uint32_t>(f->BGetSize(id));
  }
  if (sum == 1) __builtin_trap();  // keeps the reads
}

void Enumerate(ZorBFile* f) {
  ZorBGet ids(0, 4);
  ids.Init();
  f->BGetID(ZorBfAnyOwner, 0, ZorBfAnyType, 0, &ids, 0, false);
  int32_t used = 0;
  f->BExist(0, &used);
  int32_t dirBytes = 0, usedBytes = 0;
  uint32_t reserved = 0;
  f->GetSize(&dirBytes, &usedBytes, &reserved);
  f->BGetOTBlockId(513, 1, 0);
  f->NeedCompact(ZorBfCompact10Percent);
}

// Everything the run does on an open file; true when nothing raised.
bool Exercise(ZorBFile* f, const Control& c) {
  try {
    ZorVerif report;
    report.Init(true, 5);
    f->CheckDir(&report);
    f->CheckCrossBlock(&report);
    f->CheckLostSpace(&report);
    f->CheckBlockOwnerType(&report);
    ReadEveryBlock(f);
    Enumerate(f);
    if (c.compactMode && f->IsWriteEnable()) f->Compact(static_cast<eZorBfCompact>(c.compactMode), false, false);
    if (f->IsWriteEnable()) {
      f->StartTransaction();
      ZorHandle h;
      h.Init("fuzz", 4);
      const int32_t id = f->BCreate(&h, 513, 1, 0, true);
      f->BDelete(1 + id / 2);
      f->EndTransaction();
    }
    ReadEveryBlock(f);
    f->Close(ZorBfCloseNormal);
    return true;
  } catch (const ZorException&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const Control c = Decode(data, size);
  ZorSetCheckLevel(c.checkLevel);
  for (const int32_t tolerant : {int32_t{0}, int32_t{ZorBfOpenTolerant}}) {
    MemStream stream(std::string(reinterpret_cast<const char*>(data), size));
    bool sound = false;
    {
      ZorBFile f;
      try {
        f.OpenOnStream(&stream, nullptr, c.openFlags | tolerant, c.cacheBlocks, -1, -1);
      } catch (const ZorException&) {
        continue;
      }
      sound = Exercise(&f, c) && !tolerant;
    }
    if (!sound) continue;
    // A file that opened soundly and took our changes without an error must
    // still open soundly.
    MemStream again(stream.Image());
    ZorBFile f;
    try {
      f.OpenOnStream(&again, nullptr, 0, c.cacheBlocks, -1, -1);
    } catch (const ZorException&) {
      __builtin_trap();
    }
    f.Close(ZorBfCloseNormal);
  }
  ZorSetCheckLevel(0);
  return 0;
}
