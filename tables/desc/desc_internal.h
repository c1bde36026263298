// What the files of the table description share: the header offsets, the
// container places, the catalogue lists and small helpers.
#pragma once

#include <cstring>

#include "platform/little_endian.h"
#include <zorvane/table_desc.h>

namespace zorvane::tdesc {

constexpr char kSource[] = "ZorTablesTD";

// Header offsets (146 bytes).
enum : uint32_t {
  kHdrVersion = 0,     // u32
  kHdrTid = 4,         // i64
  kHdrStorage = 12,    // u32
  kHdrFlags = 16,      // u32
  kHdrName = 20,       // char[26]
  kHdrAbrName = 46,    // char[26]
  kHdrCPrefix = 72,    // char[6]
  kHdrModTag = 78,     // char[6]
  kHdrHandlerMod = 84, // i32
  kHdrHilFid = 88,     // i16
  kHdrUnicFid = 90,    // u16
  kHdrRelease = 92,    // i32
  kHdrType = 96,       // u32
  kHdrTypeId = 100,    // i64
  kHdrNbIndex = 108,   // u16
  kHdrDefIndex = 110,  // i16
  kHdrNbBlobRef = 112, // i16
  kHdrMaxData = 114,   // i32
  kHdrRecName = 118,   // i32 x 3
  kHdrLinkedWs = 130,  // i64
  kHdrLinkedEng = 138, // i64
  kHdrEnd = 146,
};
static_assert(kHdrEnd == kZorTblHdrSize);
constexpr uint32_t kNameSize = 26;
constexpr uint32_t kTagSize = 6;

// Container places.
constexpr int32_t kLineHeader = 1, kLineFields = 2, kLineFieldSub = 3, kLineNames = 4, kLineIndexes = 5,
                  kLineFamilies = 7;
// Inside a field's container (kind 0, line 1).
constexpr int32_t kSubDevName = 2, kSubCId = 3, kSubScript = 4, kSubVPrec = 5;
// Inside the index container (kind 0, line = index).
constexpr int32_t kIdxKey = 1, kIdxName = 3, kIdxValue = 4;
// The enumeration's UUID.
constexpr int32_t kEnumUuidKind = 3, kEnumUuidLine = 4, kEnumUuidCol = 1;

// Catalogue lists of module 1.
constexpr int32_t kKernel = 1;
constexpr int32_t kListTables = 110, kListNatures = 109, kListLogTypes = 117, kListPhysTypes = 118,
                  kListCheck = 120, kListTemplates = 131;
// Entries of list 110.
constexpr int32_t kTxtDeleted = 1, kTxtIndexName = 180, kTxtIndexDef = 181, kTxtIndexCur = 182, kTxtIndexAll = 183,
                  kTxtIndexSeq = 184, kTxtIndexNone = 185, kTxtUserField = 186, kTxtNewTable = 187,
                  kTxtTableAbr = 188, kTxtTablePrefix = 189, kTxtTaskAbr = 190, kTxtTaskPrefix = 191,
                  kTxtEnumAbr = 192, kTxtEnumPrefix = 193, kTxtNoModuleTag = 194,
                  kTxtTmplComment = 195, kTxtTmplSource = 196, kTxtTmplRwMode = 197;

inline int16_t Get16s(const uint8_t* p) { return static_cast<int16_t>(platform::GetLE16(p)); }
inline int32_t Get32s(const uint8_t* p) { return static_cast<int32_t>(platform::GetLE32(p)); }
inline int64_t Get64s(const uint8_t* p) { return static_cast<int64_t>(platform::GetLE64(p)); }

// Copies text into a fixed zone of `size` bytes: at most size - 1
// characters, the rest zero.
inline void PutText(uint8_t* zone, uint32_t size, const char* text) {
  std::memset(zone, 0, size);
  if (!text) return;
  const size_t n = strnlen(text, size - 1);
  std::memcpy(zone, text, n);
}
// The text of a fixed zone, stopping at its size when it has no NUL.
inline size_t TextLen(const uint8_t* zone, uint32_t size) {
  return strnlen(reinterpret_cast<const char*>(zone), size);
}

}  // namespace zorvane::tdesc

namespace zorvane {
// The container behind a description, for the check and dump code.
struct ZorTableDescAccess {
  static ZorDyna& Cells(ZorTableDesc* d) { return d->_d; }
};
}  // namespace zorvane
