// ZorTSBFileSeqIx internals: the directory and leaves as the store and its
// checks see them.
//
// Directory items (W + 8 bytes): 0 block id | 4 entry count | 8 tag |
// 9 highest key (W - 1 bytes, zero-filled; none for a closing leaf). Data
// blocks (tag '0') come first in creation order, then the leaves of index
// 1, 2, ... each run closed by its closing leaf. Leaves hold [UD][key]
// entries sorted by key (ZorCompIndex), at most C = budget / (L + 4).
#pragma once

#include "tables/store/store_bfile_internal.h"

namespace zorvane {
namespace seqix {

using Rep = ZorTSBFile::Rep;

constexpr uint32_t kRuid = 0, kWidth = 4, kValid = 8, kSlots = 12, kPerBlock = 16, kReuse = 20, kVersion = 24;
constexpr uint32_t kShortHeader = 24, kLongHeader = 128;
constexpr char kDataTag = '0';

inline char EvenTag(int32_t index) { return tbf::kEvenTags[index]; }
inline char ClosingTag(int32_t index) { return tbf::kClosingTags[index]; }

inline uint8_t* ItemAt(const Rep& r, int32_t i) { return static_cast<uint8_t*>(r.dir[i]); }
inline int32_t ItemBlock(const Rep& r, int32_t i) { return static_cast<int32_t>(tbf::Get32(ItemAt(r, i))); }
inline int32_t ItemCount(const Rep& r, int32_t i) { return static_cast<int32_t>(tbf::Get32(ItemAt(r, i) + 4)); }
inline char ItemTag(const Rep& r, int32_t i) { return static_cast<char>(ItemAt(r, i)[8]); }
inline int32_t NbItems(const Rep& r) { return r.dir.IsInit() ? r.dir.GetNbItem() : 0; }

// Entries a leaf of index i holds at most.
int32_t LeafCapacity(const Rep& r, int32_t index);
// Directory items of data blocks (they come first).
int32_t NbDataItems(const Rep& r);
// The first directory item of index i's run (may be past its end when the
// index has no leaf), and its closing item (0: none).
int32_t FirstItemOf(const Rep& r, int32_t index);
int32_t ClosingItemOf(const Rep& r, int32_t index);
bool ItemOfIndex(const Rep& r, int32_t item, int32_t index);
// The leaf whose range holds key: the first whose highest key is not below
// it, else the closing leaf. 0 when the index has no leaf or the directory
// does not lead to one of its leaves.
int32_t LocateLeaf(Rep& r, int32_t index, const uint8_t* key);
// A leaf's block as an array of entries; false (and leaf untouched) when the
// item does not designate a leaf of the index of whole entries.
bool ReadLeaf(const Rep& r, int32_t item, int32_t index, ZorBGet* leaf);
inline uint32_t EntryUD(const ZorBGet& leaf, int32_t e) { return tbf::Get32(leaf[e]); }
inline const uint8_t* EntryKey(const ZorBGet& leaf, int32_t e) { return static_cast<const uint8_t*>(leaf[e]) + 4; }

// A data block of records; false unless block is a data block of the table.
bool ReadData(const Rep& r, int32_t block, ZorBGet* data);
// The stored item of ud, or null when ud designates no slot.
const uint8_t* SlotOf(const Rep& r, uint32_t ud, ZorBGet* data);

}  // namespace seqix
}  // namespace zorvane
