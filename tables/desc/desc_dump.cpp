// ZorTableDesc::Dump: the description as debug text, one line for the
// header, one per field and one per index, each an option string
// (zorvane/format.h) that a developer can read or parse back.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "tables/desc/desc_internal.h"
#include <zorvane/string.h>

namespace zorvane {

using namespace tdesc;

namespace {

void Append(string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(string* out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  *out += line;
}

}  // namespace

const char* ZorTableDesc::Dump(string* out) {
  out->Clear();
  string name, abr, tag, prefix;
  Append(out, "-Version=%u -TID=0x%" PRIX64 " -Type=%d -TypeId=0x%" PRIX64 " -Storage=%d -Flags=0x%08X",
         platform::GetLE32(_hdr), static_cast<uint64_t>(GetTId()), GetType(), static_cast<uint64_t>(GetTypeId()),
         GetStorage(), GetFlags());
  Append(out, " -Name='%s' -AbrName='%s' -CId='%s' -Tag='%s' -Release=%d -UnicId=%d -BlobRefs=%d -Indexes=%d"
         " -DefIndex=%d -StaticSize=%u\n", GetName(&name), GetAbrName(&abr), GetName(&prefix, ZorNameCId),
         GetModuleTag(&tag), GetStructRelease(), GetUniqueIdFid(), GetNbBlobRef(), GetNbIndex(), GetDefIndex(),
         GetStaticSize());
  sZorTfi tfi;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    GetField(i, &tfi);
    Append(out, "-Field=%d -Name='%s' -Phys=%u -Log=%u -Nature=%u -Flags=0x%08X -Len=%u -D1=%u -D2=%u"
           " -Offset=%u -Size=%u\n", i, tfi.name, tfi.physType, tfi.logType, tfi.nature, tfi.flags, tfi.len,
           tfi.d1, tfi.d2, tfi.offset, tfi.size);
  }
  sZorKey key;
  for (int32_t i = 1, n = GetNbIndex(); i <= n; ++i) {
    GetIndex(i, &key);
    Append(out, "-Index=%d -Name='%s' -Parts=%u -Len=%u", i, GetIndexName(i, &name), key.nbPart, key.keyLen);
    for (int32_t p = 0; p < key.nbPart && p < kZorKeyMaxParts; ++p)
      Append(out, " -Part%d='%d:%u:%u@%u'", p + 1, key.partField[p], key.partType[p], key.partLen[p],
             key.partOffset[p]);
    *out += "\n";
  }
  return out->CStr();
}

}  // namespace zorvane
