// CBlockSpace: the bookkeeping of one open block file that is not stored in
// it -- the recency list of cached blocks, the free-space and empty-slot
// lists, the zero buffer used to pad writes, and the eviction clock.
//
// All lists hold zero-based directory indexes (block id - 1). The recency
// list may hold indexes of blocks that are no longer cached (they are
// skipped and dropped when the list is compacted); a cached block appears in
// it exactly once. The free lists are built from the directory on first
// need: a free entry without the release-at-flush flag goes to the
// free-space list when it owns an extent, else to the empty-slot list. While
// they are not built, additions are ignored (the next build sees the entry).
#pragma once

#include <zorvane/block_file.h>

#include <cstdint>
#include <vector>

namespace zorvane {

class CBlockSpace {
 public:
  static constexpr uint32_t kZeroBufferSize = 65535;
  static constexpr size_t kInitialRoom = 1024;

  CBlockSpace();

  // ---- recency
  void Touch(int32_t index);
  std::vector<int32_t>& Recency() { return _recency; }
  // Removes the indexes marked -1 and those the predicate rejects.
  template <class Keep>
  void CompactRecency(Keep keep);
  bool suspendRecency = false;
  bool evictedOnce = false;
  uint32_t lastEvictionTick = 0;

  // ---- free lists
  // Free extents that overlap another extent are left out of the lists
  // (a file opened after a bad close).
  bool screen = false;
  bool IsBuilt() const { return _built; }
  void Build(const std::vector<sZorBfBRef>& dir);
  void Drop();
  void AddFree(int32_t index);
  void AddEmpty(int32_t index);
  void Forget(int32_t index);  // removes from both lists
  // Best fit for `need` bytes: > 0 the id (index + 1) of a free extent,
  // removed from the list; < 0 the negated id of an empty slot, removed; 0
  // nothing.
  int32_t Find(const std::vector<sZorBfBRef>& dir, uint32_t need);
  // An empty slot (id), removed from the list; 0 when there is none.
  int32_t TakeEmpty(const std::vector<sZorBfBRef>& dir);
  const std::vector<int32_t>& FreeList() const { return _free; }
  const std::vector<int32_t>& EmptyList() const { return _empty; }

  const uint8_t* Zeros() const { return _zeros.data(); }

 private:
  void _reindex();

  // The recency list, oldest first; -1 marks a hole left by a block that
  // moved to the end or left the cache. _slotOf[index] is where the index
  // was last put (checked against the list before use, so that holes made
  // by the cache itself need no bookkeeping).
  std::vector<int32_t> _recency;
  std::vector<int32_t> _slotOf;
  size_t _holes = 0;
  std::vector<int32_t> _free;
  std::vector<int32_t> _empty;
  std::vector<uint8_t> _zeros;
  bool _built = false;
};

template <class Keep>
void CBlockSpace::CompactRecency(Keep keep) {
  size_t out = 0;
  for (int32_t index : _recency)
    if (index >= 0 && keep(index)) _recency[out++] = index;
  _recency.resize(out);
  _reindex();
}

}  // namespace zorvane
