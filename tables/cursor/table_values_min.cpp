// Temporary: the few value accessors the cursor core calls, for fixed
// text and integer fields, until the full value layer replaces this file.
#include <cstring>

#include "platform/little_endian.h"
#include "tables/cursor/table_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/string.h>

namespace zorvane {

namespace {
bool Place(ZorTable* t, int32_t field, sZorTfi* tfi) {
  return t->GetField(field, tfi) && tfi->size && uint32_t{tfi->offset} + tfi->size <= t->GetBufferSize();
}
}  // namespace

bool ZorTable::SetValStr(int32_t field, const char* text, int32_t, int32_t) {
  sZorTfi tfi;
  if (!Place(this, field, &tfi)) return false;
  if (tfi.physType == kZorPhysTypeAnsiString) {
    std::memset(_rec + tfi.offset, 0, tfi.size);
    std::memcpy(_rec + tfi.offset, text, strnlen(text, tfi.size - 1));
    return true;
  }
  if (tfi.physType == kZorPhysTypeLong) return SetValLong(field, std::atoi(text));
  return false;
}

const char* ZorTable::GetValStr(int32_t field, string* out, int32_t, int32_t) {
  sZorTfi tfi;
  out->Clear();
  if (!Place(this, field, &tfi)) return out->CStr();
  if (tfi.physType == kZorPhysTypeAnsiString) {
    out->Assign(reinterpret_cast<const char*>(_rec + tfi.offset), static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(_rec + tfi.offset), tfi.size)));
  } else if (tfi.physType == kZorPhysTypeLong) {
    out->Format("^0i", static_cast<int32_t>(platform::GetLE32(_rec + tfi.offset)));
  }
  return out->CStr();
}

bool ZorTable::SetValLong(int32_t field, int32_t value, int32_t, int32_t) {
  sZorTfi tfi;
  if (!Place(this, field, &tfi) || tfi.physType != kZorPhysTypeLong) return false;
  platform::PutLE32(_rec + tfi.offset, static_cast<uint32_t>(value));
  return true;
}

int32_t ZorTable::GetValLong(int32_t field, int32_t, int32_t) {
  sZorTfi tfi;
  if (!Place(this, field, &tfi) || tfi.physType != kZorPhysTypeLong) return 0;
  return static_cast<int32_t>(platform::GetLE32(_rec + tfi.offset));
}

bool ZorTable::SetValDate(int32_t, const date&, int32_t, int32_t) { return false; }
bool ZorTable::SetVal(int32_t field, eZorTblForm form, const void* in, int32_t, int32_t) {
  sZorTfi tfi;
  if (form != kZorTblFormNative || !Place(this, field, &tfi)) return false;
  if (tfi.physType == kZorPhysTypeLong) return SetValLong(field, *static_cast<const int32_t*>(in));
  if (tfi.physType == kZorPhysTypeAnsiString) return SetValStr(field, static_cast<const string*>(in)->CStr());
  return false;
}
bool ZorTable::ChangeVal(int32_t, eZorTblChgVal) { return false; }

bool ZorTable::SetValMinMax(int32_t field, bool max, int32_t, int32_t) {
  sZorTfi tfi;
  if (!Place(this, field, &tfi)) return false;
  if (tfi.physType == kZorPhysTypeLong) return SetValLong(field, max ? INT32_MAX : INT32_MIN);
  std::memset(_rec + tfi.offset, max ? 0xFF : 0, tfi.size);
  return true;
}

bool ZorTable::CopyVal(int32_t field, ZorTable* src, int32_t srcField) {
  sZorTfi a, b;
  if (!srcField) srcField = field;
  if (!Place(this, field, &a) || !Place(src, srcField, &b) || a.physType != b.physType) return false;
  std::memset(_rec + a.offset, 0, a.size);
  std::memcpy(_rec + a.offset, src->GetRecord() + b.offset, a.size < b.size ? a.size : b.size);
  return true;
}

void ZorTable::Raz() {
  if (_recSize) std::memset(_rec, 0, _recSize);
  if (_dyna) _dyna->Clear();
  _dynaState = 1;
}

}  // namespace zorvane
