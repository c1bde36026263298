// What the block file's maintenance code (compaction, checks) shares.
#pragma once

#include <zorvane/block_file.h>

#include <cstdint>

namespace zorvane::bfile {

// The texts of the checks and the salvage: list 239 of the catalogue.
namespace texts {
constexpr int32_t kGroup = 239;
enum : int32_t {
  kMsgBadClose = 1,
  kMsgBadOwner = 3,
  kMsgBadType = 4,
  kMsgOutside = 5,
  kTitleDir = 6,
  kMsgLost = 7,
  kMsgOverlap = 8,
  kTitleLost = 9,
  kTitleCross = 10,
  kMsgCloseRepaired = 11,
  kMsgFreeWithData = 12,
  kTitleOwnerType = 13,
  kMsgBadBlock = 14,
  kMsgDeleted = 15,
  kMsgShortDirectory = 16,
  kMsgEntriesDropped = 17,
  kMsgMoreOverlaps = 18,
  kMsgUnreadable = 19,
  kMsgSummary = 20,
  kTitleSalvage = 21,
};
}  // namespace texts

// Whether an entry's recorded placement cannot be trusted: a used entry
// whose size passes its capacity or the block size limit (a read allocates
// `size` bytes, extent or not), or an extent that starts below data start or
// ends past the end of the file (40-bit positions, sums in 64 bits).
inline bool IsPlacementDamaged(const sZorBfBRef& e, uint64_t dataStart, uint64_t fileSize) {
  if (!e.IsFree() && (e.size > e.capacity || e.size > kZorBfMaxBlockSize)) return true;
  if (!e.HasPos() || (e.IsFree() && e.capacity == 0)) return false;
  return e.GetPos() < dataStart || e.GetPos() + e.capacity > fileSize;
}

// Whether IsPlacementDamaged holds for any of entryAt(1) .. entryAt(count).
template <class EntryAt>
bool AnyPlacementDamaged(int32_t count, EntryAt entryAt, uint64_t dataStart, uint64_t fileSize) {
  for (int32_t id = 1; id <= count; ++id)
    if (IsPlacementDamaged(entryAt(id), dataStart, fileSize)) return true;
  return false;
}

}  // namespace zorvane::bfile
