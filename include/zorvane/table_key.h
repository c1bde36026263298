// sZorKey: the definition of one index of a table, and the building of its
// keys from a record's fixed buffer.
//
// A key is the concatenation of up to nine parts, each exactly its part
// length in bytes, compared with ZorCompIndex (string.h) over the total key
// length. Integer parts are written as letters 'A' + nibble with the sign bit
// inverted, text parts are the stored bytes filled with 0x01, binary64 parts
// (double, decimal, date) an integer part and a scaled fraction, UUID parts
// 32 letters; a descending part is passed through ZorRevertIndex.
//
// Stored form (80 bytes, little-endian, unaligned; LoadFrom/StoreTo):
//   0  u8      number of parts
//   1  u8 x 9  part types: physical type 1..12, + 100 when descending
//   10 u8      total key length
//   11 u8 x 9  part lengths
//   20 u32     output buffer address: always 0 when stored
//   24 u32 x 9 record-buffer offset of each part's field
//   60 u16     number of parts (again)
//   62 i16 x 9 field number of each part
//
// 64-bit decision: no address is ever kept in an sZorKey. The stored width of
// the output-buffer field stays 4 bytes and holds 0; part offsets are always
// relative to a record base. The live addresses sit beside the definition:
// the caller passes the record base and the output buffer to ZorBuildIndex,
// or keeps them together in a ZorKeyRun.
#pragma once

#include <zorvane/phys_type.h>
#include <zorvane/types.h>

namespace zorvane {

constexpr int32_t kZorKeyMaxParts = 9;
constexpr int32_t kZorKeyDescending = 100;  // added to a part type
constexpr uint32_t kZorKeyStoredSize = 80;

// Special index numbers accepted wherever an index is named.
enum : int32_t {
  kZorTblIndexDef = -3,  // the default index
  kZorTblIndexCur = -2,  // the current index
  kZorTblIndexAll = -1,  // all indexes
  kZorTblIndexSeq = 0,   // creation order
};

struct ZOR_API sZorKey {
  uint8_t nbPart = 0;
  uint8_t partType[kZorKeyMaxParts] = {};
  uint8_t keyLen = 0;
  uint8_t partLen[kZorKeyMaxParts] = {};
  uint32_t outAddr = 0;  // stored as 0, never used in memory
  uint32_t partOffset[kZorKeyMaxParts] = {};
  uint16_t nbPart2 = 0;
  int16_t partField[kZorKeyMaxParts] = {};

  // The 80 stored bytes, read and written field by field.
  void LoadFrom(const void* bytes);
  void StoreTo(void* bytes) const;
};

// A key with its live addresses: the definition, the record it is built
// from and the buffer it is written to (at least def.keyLen bytes).
struct ZorKeyRun {
  sZorKey def;
  const uint8_t* record = nullptr;
  uint32_t recordSize = 0;
  uint8_t* out = nullptr;
};

// Physical types: 254 resolves to 1, 255 to 6, every other value stays.
ZOR_API eZorPhysType ZorSolvePhysType(eZorPhysType type);
// Bytes a value of the type occupies in a record buffer (len: the field's
// declared length); 0 for an unknown type.
ZOR_API int32_t ZorGetPhysTypeSize(eZorPhysType type, int32_t len);

// Default length of a key part of the type (descending form included) for
// a field of declared length len; *min and *max, when given, receive the
// accepted range. 0 for a type that cannot be a key part.
ZOR_API int32_t ZorGetIndexDefSize(int32_t partType, int32_t len, int32_t* min = nullptr,
                                   int32_t* max = nullptr);
// True when partLen is an accepted length for the part type and a field of
// declared length fieldLen.
ZOR_API bool ZorCheckIndexSize(int32_t partType, int32_t partLen, int32_t fieldLen);

// Writes the key of the record (recordSize bytes; a part reaching past the
// end reads zeros there) into out, key->keyLen bytes at most: parts are
// written in order and cut at keyLen, and at most 9 parts are read. Bytes
// that no part covers, and parts of a type without a key form (Blob,
// BlobRef, unknown), keep what out held. A binary64 value is truncated to
// an int64 with saturation (NaN gives 0, values beyond the range its
// bound), of which the low 32 bits are written; the fraction of a NaN or an
// infinity is 0. A UnicodeStr part is measured and copied as 8-bit text. A
// fixed-size part longer than its letters is filled with 0x01 after them.
ZOR_API void ZorBuildIndex(const sZorKey* key, const void* record, uint32_t recordSize, void* out);
inline void ZorBuildIndex(const ZorKeyRun* run) {
  ZorBuildIndex(&run->def, run->record, run->recordSize, run->out);
}
// Turns len key bytes into their descending form (collation weight w becomes
// 255 - w; 0x00 and 0xFF become 0x00).
ZOR_API void ZorRevertIndex(uint8_t* bytes, int32_t len);

}  // namespace zorvane
