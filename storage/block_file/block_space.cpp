// CBlockSpace (see block_space.h for what it holds and its invariants), and
// the block file's accessors to it.
//
// Finding space is best fit with an exact-match shortcut over the free-space
// list, in list order: the first extent of exactly the needed capacity wins
// at once, else the first of the smallest capacities above the need. Only
// then is an empty slot offered (the last one of its list).
#include "storage/block_file/block_space.h"

#include <algorithm>

#include "storage/block_file/block_file_impl.h"

namespace zorvane {

CBlockSpace::CBlockSpace() : _zeros(kZeroBufferSize, 0) {
  _recency.reserve(kInitialRoom);
}

// Constant time: the old place becomes a hole; the list is compacted when
// holes make up half of it.
void CBlockSpace::Touch(int32_t index) {
  if (suspendRecency) return;
  if (!_recency.empty() && _recency.back() == index) return;
  if (static_cast<size_t>(index) >= _slotOf.size()) _slotOf.resize(static_cast<size_t>(index) + 1, -1);
  const int32_t slot = _slotOf[static_cast<size_t>(index)];
  if (slot >= 0 && static_cast<size_t>(slot) < _recency.size() && _recency[static_cast<size_t>(slot)] == index) {
    _recency[static_cast<size_t>(slot)] = -1;
    ++_holes;
  }
  _slotOf[static_cast<size_t>(index)] = static_cast<int32_t>(_recency.size());
  _recency.push_back(index);
  if (_holes > _recency.size() / 2) CompactRecency([](int32_t) { return true; });
}

void CBlockSpace::_reindex() {
  _holes = 0;
  for (size_t i = 0; i < _recency.size(); ++i) {
    const size_t index = static_cast<size_t>(_recency[i]);
    if (index >= _slotOf.size()) _slotOf.resize(index + 1, -1);
    _slotOf[index] = static_cast<int32_t>(i);
  }
}

namespace {

// The indexes of entries whose extent overlaps another entry's. In position
// order an extent overlaps an earlier one exactly when it starts before the
// furthest end so far, and a later one exactly when it ends after the next
// start.
std::vector<bool> Overlapping(const std::vector<sZorBfBRef>& dir) {
  struct Extent {
    uint64_t pos, end;
    size_t index;
    bool operator<(const Extent& o) const { return pos < o.pos; }
  };
  std::vector<Extent> extents;
  for (size_t i = 0; i < dir.size(); ++i)
    if (dir[i].HasPos() && dir[i].capacity != 0) extents.push_back({dir[i].GetPos(), dir[i].GetPos() + dir[i].capacity, i});
  std::sort(extents.begin(), extents.end());
  std::vector<bool> out(dir.size(), false);
  uint64_t furthest = 0;
  for (size_t k = 0; k < extents.size(); ++k) {
    if ((k > 0 && extents[k].pos < furthest) || (k + 1 < extents.size() && extents[k].end > extents[k + 1].pos))
      out[extents[k].index] = true;
    furthest = std::max(furthest, extents[k].end);
  }
  return out;
}

}  // namespace

// After a bad close, a free extent that overlaps another extent stays out
// of the lists: a directory written half by a crash can hold one over a
// live block, and handing it out would overwrite the block.
// CheckCrossBlock reports it.
void CBlockSpace::Build(const std::vector<sZorBfBRef>& dir) {
  _free.clear();
  _empty.clear();
  _free.reserve(kInitialRoom);
  _empty.reserve(kInitialRoom);
  const std::vector<bool> overlapping = screen ? Overlapping(dir) : std::vector<bool>(dir.size(), false);
  for (size_t i = 0; i < dir.size(); ++i) {
    const sZorBfBRef& e = dir[i];
    if (!e.IsFree() || (e.flags & ZorBfFlagRelease)) continue;
    if (e.HasPos() && e.capacity != 0) {
      if (!overlapping[i]) _free.push_back(static_cast<int32_t>(i));
    } else {
      _empty.push_back(static_cast<int32_t>(i));
    }
  }
  _built = true;
}

void CBlockSpace::Drop() {
  _free.clear();
  _empty.clear();
  _built = false;
}

void CBlockSpace::AddFree(int32_t index) {
  if (_built) _free.push_back(index);
}

void CBlockSpace::AddEmpty(int32_t index) {
  if (_built) _empty.push_back(index);
}

void CBlockSpace::Forget(int32_t index) {
  _free.erase(std::remove(_free.begin(), _free.end(), index), _free.end());
  _empty.erase(std::remove(_empty.begin(), _empty.end(), index), _empty.end());
}

int32_t CBlockSpace::Find(const std::vector<sZorBfBRef>& dir, uint32_t need) {
  if (!_built) Build(dir);
  size_t best = _free.size();
  for (size_t i = 0; i < _free.size(); ++i) {
    const uint32_t cap = dir[static_cast<size_t>(_free[i])].capacity;
    if (cap == need) {
      best = i;
      break;
    }
    if (cap > need && (best == _free.size() || cap < dir[static_cast<size_t>(_free[best])].capacity)) best = i;
  }
  if (best != _free.size()) {
    const int32_t index = _free[best];
    _free.erase(_free.begin() + static_cast<ptrdiff_t>(best));
    return index + 1;
  }
  const int32_t slot = TakeEmpty(dir);
  return slot != 0 ? -slot : 0;
}

int32_t CBlockSpace::TakeEmpty(const std::vector<sZorBfBRef>& dir) {
  if (!_built) Build(dir);
  if (_empty.empty()) return 0;
  const int32_t index = _empty.back();
  _empty.pop_back();
  return index + 1;
}

// ------------------------------------------------------------ ZorBFile side

CBlockSpace* ZorBFile::Rep::_spaceLists() {
  if (!_space) _space = new CBlockSpace();
  _space->screen = _screenFree;
  return _space;
}

void ZorBFile::Rep::_dropFreeLists() {
  if (_space) _space->Drop();
}

void ZorBFile::Rep::_addFreeSpace(int32_t id) {
  if (_space) _space->AddFree(id - 1);
}

void ZorBFile::Rep::_addEmptySlot(int32_t id) {
  if (_space) _space->AddEmpty(id - 1);
}

}  // namespace zorvane
