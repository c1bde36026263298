// ZorTableDesc::Validate: the record layout and the derived header values.
//
// Each field in turn gets the running offset and its size; sizes follow the
// field's kind in a fixed order (free slot, user, virtual, dynamic, then the
// physical type's size adjusted for unique ids, arrays, enumerations,
// aliases, string lists, blob references and passwords). Offsets and sizes
// are 16-bit: a field that would end past 0xFFFF gets size 0 and makes
// Validate answer false, so that outside bytes cannot make a layout larger
// than its own fields say.
#include "tables/desc/desc_internal.h"
#include <zorvane/format.h>
#include <zorvane/messages.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tdesc;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;

namespace {

// State carried from field to field.
struct Layout {
  uint32_t tableFlags;
  uint32_t offset = 0;
  int32_t users = 0;
  int32_t blobRefs = 0;
  int32_t uniqueId = 0;
  bool vprecSeen = false;
  bool fits = true;
};

constexpr uint32_t kPasswordSize = 52;

// The size of a field with fixed storage (neither free, user, virtual nor
// dynamic); also elects the unique-id field.
uint64_t FixedSize(sZorTfi* tfi, int32_t field, Layout* lay) {
  uint64_t size = static_cast<uint32_t>(ZorGetPhysTypeSize(static_cast<eZorPhysType>(tfi->physType), tfi->len));
  if (tfi->flags & kZorTblFfUnicID) {
    if (tfi->physType == kZorPhysTypeLong && tfi->logType == kZorLogTypeInt && !lay->uniqueId) lay->uniqueId = field;
    tfi->flags |= kZorTblFfRecId;
  }
  if (tfi->flags & kZorTblFfArray) size *= (uint64_t{tfi->d1} + 1) * (uint64_t{tfi->d2} + 1);
  if (tfi->flags & kZorTblFfEnum) size = 2;
  if (tfi->flags & kZorTblFfAlias) size = 0;
  if (tfi->flags & kZorTblFfStrList) size = 2;
  if (tfi->physType == kZorPhysTypeBlobRef) {
    size = 4;
    ++lay->blobRefs;
  }
  if (tfi->physType == kZorPhysTypeBlob && tfi->logType == kZorLogTypePassWord) size = kPasswordSize;
  return size;
}

uint64_t FieldSize(sZorTfi* tfi, int32_t field, Layout* lay) {
  if (!tfi->flags) return 0;
  if (tfi->flags & kZorTblFfUser) {
    if (tfi->flags & kZorTblFfScript) {
      tfi->flags |= kZorTblFfVirtual | kZorTblFfRdOnly;
    } else {
      tfi->flags |= kZorTblFfDyna;
      lay->tableFlags |= kZorTblTfAsDyna;
    }
    if (!(tfi->flags & kZorTblFfUserNamed)) {
      string name;
      ZorFormString(&name, kKernel, kListTables, kTxtUserField, lay->users);
      PutText(reinterpret_cast<uint8_t*>(tfi->name), kZorTfiNameSize, name.CStr());
    }
    return 0;
  }
  if (tfi->flags & kZorTblFfVirtual) return 0;
  if (tfi->flags & kZorTblFfDyna) {
    lay->tableFlags |= kZorTblTfAsDyna;
    return 0;
  }
  return FixedSize(tfi, field, lay);
}

}  // namespace

bool ZorTableDesc::Validate() {
  Layout lay;
  lay.tableFlags = GetFlags() & ~kZorTblTfDerived;
  if (!(lay.tableFlags & kZorTblTfComAccessEnabled)) lay.tableFlags &= ~kZorTblTfComAccessWrOk;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    sZorTfi tfi;
    GetField(i, &tfi);
    if (!lay.vprecSeen && GetFieldVPrec(i) != 0) {
      lay.vprecSeen = true;
      lay.tableFlags |= kZorTblTfAsVPrec;
    }
    if (tfi.flags & kZorTblFfUser) {
      lay.tableFlags |= kZorTblTfAsUser;
      ++lay.users;
    }
    tfi.physType = static_cast<uint8_t>(ZorSolvePhysType(static_cast<eZorPhysType>(tfi.physType)));
    uint64_t size = FieldSize(&tfi, i, &lay);
    if (lay.offset + size > 0xFFFF) {
      lay.fits = false;
      size = 0;
    }
    tfi.offset = static_cast<uint16_t>(lay.offset);
    tfi.size = static_cast<uint16_t>(size);
    lay.offset += static_cast<uint32_t>(size);
    tfi.flags &= ~kZorTblFfIndexed;
    SetField(i, &tfi);
  }
  SetFlags(lay.tableFlags);
  PutLE16(_hdr + kHdrUnicFid, static_cast<uint16_t>(lay.uniqueId));
  PutLE16(_hdr + kHdrNbBlobRef, static_cast<uint16_t>(lay.blobRefs));
  CalIndexs();
  return lay.fits;
}

uint32_t ZorTableDesc::GetStaticSize() const {
  uint32_t total = 0;
  sZorTfi tfi;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    GetField(i, &tfi);
    total += tfi.size;
  }
  return total;
}

}  // namespace zorvane
