// Sizes of physical types in a record buffer and of key parts, and the
// stored form of an index definition.
#include <zorvane/table_key.h>

#include <algorithm>
#include <limits>

#include "platform/little_endian.h"

namespace zorvane {

namespace {

// The part type without its descending mark (any type the switches below
// do not know has no key form).
int32_t AscendingPartType(int32_t partType) {
  return partType > kZorKeyDescending ? partType - kZorKeyDescending : partType;
}

// Length of an integer or UUID part: two letters per byte of the value.
int32_t FixedPartLen(int32_t type) {
  switch (type) {
    case kZorPhysTypeAnsiChar: return 2;
    case kZorPhysTypeUnicodeChar:
    case kZorPhysTypeShort: return 4;
    case kZorPhysTypeLong: return 8;
    case kZorPhysTypeQuad: return 16;
    case kZorPhysTypeUuid: return 32;
    default: return 0;
  }
}

bool IsTextType(int32_t type) { return type == kZorPhysTypeAnsiString || type == kZorPhysTypeUnicodeStr; }
bool IsBinary64Type(int32_t type) { return type >= kZorPhysTypeDouble && type <= kZorPhysTypeDate; }

}  // namespace

eZorPhysType ZorSolvePhysType(eZorPhysType type) {
  if (type == kZorPhysTypeChar) return kZorPhysTypeAnsiChar;
  if (type == kZorPhysTypeString) return kZorPhysTypeAnsiString;
  return type;
}

// A negative declared length counts as 0; a size that would not fit an
// int32 saturates.
int32_t ZorGetPhysTypeSize(eZorPhysType type, int32_t len) {
  const int64_t n = std::max<int64_t>(len, 0);
  int64_t size = 0;
  switch (ZorSolvePhysType(type)) {
    case kZorPhysTypeAnsiChar: size = 1; break;
    case kZorPhysTypeUnicodeChar:
    case kZorPhysTypeShort: size = 2; break;
    case kZorPhysTypeLong: size = 4; break;
    case kZorPhysTypeQuad:
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate: size = 8; break;
    case kZorPhysTypeAnsiString: size = n + 1; break;
    case kZorPhysTypeUnicodeStr: size = 2 * n + 2; break;
    case kZorPhysTypeBlob:
    case kZorPhysTypeBlobRef: size = n; break;
    case kZorPhysTypeUuid: size = 16; break;
    default: break;
  }
  return static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max()));
}

int32_t ZorGetIndexDefSize(int32_t partType, int32_t len, int32_t* min, int32_t* max) {
  const int32_t type = AscendingPartType(partType);
  int32_t def = FixedPartLen(type), lo = def, hi = def;
  if (IsTextType(type)) {
    def = len < 0 ? 1 : std::min(len, 255);
    lo = 1;
    hi = def;
  } else if (IsBinary64Type(type)) {
    def = type == kZorPhysTypeDate ? 8 : 16;
    lo = 8;
    hi = 16;
  }
  if (min) *min = lo;
  if (max) *max = hi;
  return def;
}

bool ZorCheckIndexSize(int32_t partType, int32_t partLen, int32_t fieldLen) {
  const int32_t type = AscendingPartType(partType);
  if (IsTextType(type)) return partLen >= 1 && partLen <= std::min(fieldLen, 255);
  if (type == kZorPhysTypeDate) return partLen == 8 || partLen == 16;
  if (IsBinary64Type(type)) return partLen >= 8 && partLen <= 16;
  const int32_t fixed = FixedPartLen(type);
  return fixed != 0 && partLen == fixed;
}

void sZorKey::LoadFrom(const void* bytes) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  nbPart = b[0];
  keyLen = b[10];
  outAddr = 0;  // whatever was stored there, no address is kept
  nbPart2 = platform::GetLE16(b + 60);
  for (int32_t i = 0; i < kZorKeyMaxParts; ++i) {
    partType[i] = b[1 + i];
    partLen[i] = b[11 + i];
    partOffset[i] = platform::GetLE32(b + 24 + 4 * i);
    partField[i] = static_cast<int16_t>(platform::GetLE16(b + 62 + 2 * i));
  }
}

// The output-buffer field is written as 0 whatever the struct holds: no
// address is ever stored.
void sZorKey::StoreTo(void* bytes) const {
  auto* b = static_cast<uint8_t*>(bytes);
  b[0] = nbPart;
  b[10] = keyLen;
  platform::PutLE32(b + 20, 0);
  platform::PutLE16(b + 60, nbPart2);
  for (int32_t i = 0; i < kZorKeyMaxParts; ++i) {
    b[1 + i] = partType[i];
    b[11 + i] = partLen[i];
    platform::PutLE32(b + 24 + 4 * i, partOffset[i]);
    platform::PutLE16(b + 62 + 2 * i, static_cast<uint16_t>(partField[i]));
  }
}

}  // namespace zorvane
