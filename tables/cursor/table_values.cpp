// ZorTable: the values of the current record.
//
// Where a value lives depends on the field's kind:
// - plain and array fields: the record buffer, at the field's data offset;
//   element (line, col) of an array at offset + (line * (D2 + 1) + col) *
//   element size. The element size comes from the type (an enumeration or
//   string list takes 2 bytes, a password blob 52); an element whose bytes
//   would leave the field's data size or the record buffer is refused, so a
//   description read from outside bytes can never lead past the buffer;
// - dynamic fields (and local tables, and user fields that are not
//   scripts): the current record's dynamic part, cell (field, line + 1,
//   col + 1) in the container's typed encodings. A write marks the dynamic
//   part changed (and to be written with the record when it was loaded);
// - "BlobRef" fields: the table's blob slot, loaded from the store on the
//   first read and replaced (state "modified") by a write;
// - virtual fields: the handler's GetVal / SetVal;
// - aliases: the field named by D1, followed through at most as many
//   aliases as the table has fields (a longer chain is a loop).
// Values read from the buffer or the dynamic part are normalised to their
// type (an 8-bit character is 0..255 whatever the cell held).
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/little_endian.h"
#include "tables/cursor/table_values.h"
#include <zorvane/cell_container.h>
#include <zorvane/table_key.h>

namespace zorvane {

using namespace tcur;

namespace tcur {

bool IsIntegerType(int32_t type) { return type >= kZorPhysTypeAnsiChar && type <= kZorPhysTypeQuad; }
bool IsRealType(int32_t type) { return type >= kZorPhysTypeDouble && type <= kZorPhysTypeDate; }
bool IsTextType(int32_t type) { return type == kZorPhysTypeAnsiString || type == kZorPhysTypeUnicodeStr; }
bool IsBytesType(int32_t type) { return type == kZorPhysTypeBlob || type == kZorPhysTypeBlobRef; }

bool IntegerRange(const ValueRef& ref, int64_t* lo, int64_t* hi) {
  *lo = 0;
  switch (ref.word ? -1 : ref.type) {
    case -1: *hi = 0xFFFF; return true;
    case kZorPhysTypeAnsiChar: *hi = 0xFF; return true;
    case kZorPhysTypeUnicodeChar: *hi = 0xFFFF; return true;
    case kZorPhysTypeShort: *lo = INT16_MIN, *hi = INT16_MAX; return true;
    case kZorPhysTypeLong: *lo = INT32_MIN, *hi = INT32_MAX; return true;
    case kZorPhysTypeQuad: *lo = INT64_MIN, *hi = INT64_MAX; return true;
    default: return false;
  }
}

eZorLogType NumberType(const sZorTfi& tfi) {
  return ZorForceLogTypeNum(static_cast<eZorLogType>(tfi.logType), kZorLogTypeFloat);
}

void ValueFromNative(const ValueRef& ref, const void* p, Value* v) {
  switch (ref.word ? kZorPhysTypeLong : ref.type) {
    case kZorPhysTypeAnsiChar: v->i = *static_cast<const uint8_t*>(p); break;
    case kZorPhysTypeUnicodeChar: v->i = *static_cast<const uint16_t*>(p); break;
    case kZorPhysTypeShort: v->i = *static_cast<const int16_t*>(p); break;
    case kZorPhysTypeLong: v->i = *static_cast<const int32_t*>(p); break;
    case kZorPhysTypeQuad: v->i = *static_cast<const int64_t*>(p); break;
    case kZorPhysTypeDouble: v->d = *static_cast<const double*>(p); break;
    case kZorPhysTypeDecimal: v->d = static_cast<const decimal*>(p)->_getDouble(); break;
    case kZorPhysTypeDate: v->d = static_cast<const date*>(p)->GetValue(); break;
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr: v->s = *static_cast<const string*>(p); break;
    case kZorPhysTypeUuid: v->u = *static_cast<const ZorUuid*>(p); break;
    default: v->h.Copy(static_cast<const ZorHandle*>(p)); break;
  }
}

void ValueToNative(const ValueRef& ref, const Value& v, void* p) {
  switch (ref.word ? kZorPhysTypeLong : ref.type) {
    case kZorPhysTypeAnsiChar: *static_cast<uint8_t*>(p) = static_cast<uint8_t>(v.i); break;
    case kZorPhysTypeUnicodeChar: *static_cast<uint16_t*>(p) = static_cast<uint16_t>(v.i); break;
    case kZorPhysTypeShort: *static_cast<int16_t*>(p) = static_cast<int16_t>(v.i); break;
    case kZorPhysTypeLong: *static_cast<int32_t*>(p) = static_cast<int32_t>(v.i); break;
    case kZorPhysTypeQuad: *static_cast<int64_t*>(p) = v.i; break;
    case kZorPhysTypeDouble: *static_cast<double*>(p) = v.d; break;
    case kZorPhysTypeDecimal: static_cast<decimal*>(p)->_setDouble(v.d); break;
    case kZorPhysTypeDate: static_cast<date*>(p)->SetValue(v.d); break;
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr: *static_cast<string*>(p) = v.s; break;
    case kZorPhysTypeUuid: *static_cast<ZorUuid*>(p) = v.u; break;
    default: static_cast<ZorHandle*>(p)->Copy(&v.h); break;
  }
}

}  // namespace tcur

namespace {

// Room for a value of any native form, handed to a handler.
struct NativeBox {
  uint8_t c = 0;
  uint16_t w = 0;
  int16_t s = 0;
  int32_t l = 0;
  int64_t q = 0;
  double d = 0;
  decimal dec;
  date dt;
  string text;
  ZorUuid u;
  ZorHandle h;

  void* For(const ValueRef& ref) {
    switch (ref.word ? kZorPhysTypeLong : ref.type) {
      case kZorPhysTypeAnsiChar: return &c;
      case kZorPhysTypeUnicodeChar: return &w;
      case kZorPhysTypeShort: return &s;
      case kZorPhysTypeLong: return &l;
      case kZorPhysTypeQuad: return &q;
      case kZorPhysTypeDouble: return &d;
      case kZorPhysTypeDecimal: return &dec;
      case kZorPhysTypeDate: return &dt;
      case kZorPhysTypeAnsiString:
      case kZorPhysTypeUnicodeStr: return &text;
      case kZorPhysTypeUuid: return &u;
      default: return &h;
    }
  }
};

bool KnownType(int32_t type) { return type >= kZorPhysTypeAnsiChar && type <= kZorPhysTypeBlobRef; }

uint32_t ElementSize(const ValueRef& ref) {
  if (ref.word) return 2;
  if (ref.type == kZorPhysTypeBlobRef) return 4;
  if (ref.type == kZorPhysTypeBlob && ref.tfi.logType == kZorLogTypePassWord) return 52;
  return static_cast<uint32_t>(ZorGetPhysTypeSize(static_cast<eZorPhysType>(ref.type), ref.tfi.len));
}

// The element's bytes inside the record buffer; false when they are not.
bool PlaceFixed(ValueRef* ref, uint8_t* record, uint32_t recordSize) {
  const sZorTfi& tfi = ref->tfi;
  const uint64_t elem = ElementSize(*ref);
  const uint64_t index = uint64_t(uint32_t(ref->line)) * (uint64_t{tfi.d2} + 1) + uint32_t(ref->col);
  if (elem == 0 || (index + 1) * elem > tfi.size || uint32_t{tfi.offset} + tfi.size > recordSize) return false;
  ref->bytes = record + tfi.offset + index * elem;
  ref->size = static_cast<uint32_t>(elem);
  return true;
}

double GetDouble(const uint8_t* p) { return std::bit_cast<double>(platform::GetLE64(p)); }

// An 8-bit text of at most `max` bytes, ending at its first 0 byte.
void ReadText8(const uint8_t* p, uint32_t max, string* out) {
  const void* end = std::memchr(p, 0, max);
  out->Assign(reinterpret_cast<const char*>(p),
              static_cast<int32_t>(end ? static_cast<const uint8_t*>(end) - p : max));
}

// UTF-16 units up to the first 0 (at most `max`), as cp1252 ("?" for a
// character the code page lacks).
void ReadText16(const uint8_t* p, uint32_t max, string* out) {
  out->Clear();
  for (uint32_t i = 0; i < max; ++i) {
    const uint16_t unit = platform::GetLE16(p + 2 * i);
    if (unit == 0) break;
    const int b = platform::Utf16ToCp1252(static_cast<char16_t>(unit));
    *out += b < 0 ? '?' : static_cast<char>(b);
  }
}

void ReadFixed(const ValueRef& ref, Value* v) {
  const uint8_t* p = ref.bytes;
  const uint32_t len = ref.tfi.len;
  switch (ref.word ? -1 : ref.type) {
    case -1: v->i = platform::GetLE16(p); break;
    case kZorPhysTypeAnsiChar: v->i = p[0]; break;
    case kZorPhysTypeUnicodeChar: v->i = platform::GetLE16(p); break;
    case kZorPhysTypeShort: v->i = static_cast<int16_t>(platform::GetLE16(p)); break;
    case kZorPhysTypeLong: v->i = static_cast<int32_t>(platform::GetLE32(p)); break;
    case kZorPhysTypeQuad: v->i = static_cast<int64_t>(platform::GetLE64(p)); break;
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate: v->d = GetDouble(p); break;
    case kZorPhysTypeAnsiString: ReadText8(p, std::min(ref.size, len), &v->s); break;
    case kZorPhysTypeUnicodeStr: ReadText16(p, std::min(ref.size / 2, len), &v->s); break;
    case kZorPhysTypeUuid: v->u.SetBytes(p); break;
    default: v->h.Init(p, ref.size); break;
  }
}

// Zero-fills the element, then writes n bytes of src at its start.
void PutBytes(const ValueRef& ref, const void* src, uint32_t n) {
  std::memset(ref.bytes, 0, ref.size);
  if (n) std::memcpy(ref.bytes, src, n);
}

bool WriteFixed(const ValueRef& ref, const Value& v) {
  uint8_t* p = ref.bytes;
  const uint32_t len = ref.tfi.len;
  switch (ref.word ? -1 : ref.type) {
    case -1:
    case kZorPhysTypeUnicodeChar:
    case kZorPhysTypeShort: platform::PutLE16(p, static_cast<uint16_t>(v.i)); return true;
    case kZorPhysTypeAnsiChar: p[0] = static_cast<uint8_t>(v.i); return true;
    case kZorPhysTypeLong: platform::PutLE32(p, static_cast<uint32_t>(v.i)); return true;
    case kZorPhysTypeQuad: platform::PutLE64(p, static_cast<uint64_t>(v.i)); return true;
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate: platform::PutLE64(p, std::bit_cast<uint64_t>(v.d)); return true;
    case kZorPhysTypeAnsiString: {
      // At most len characters and always the terminator.
      const uint32_t room = std::min(len, ref.size - 1);
      PutBytes(ref, v.s.CStr(), std::min(v.s.Len(), room));
      return true;
    }
    case kZorPhysTypeUnicodeStr: {
      const uint32_t room = std::min(len, ref.size / 2 - 1);
      std::memset(p, 0, ref.size);
      for (uint32_t i = 0; i < room && i < v.s.Len(); ++i)
        platform::PutLE16(p + 2 * i, platform::Cp1252ToUtf16(static_cast<uint8_t>(v.s[i])));
      return true;
    }
    case kZorPhysTypeUuid: std::memcpy(p, v.u.GetBytes(), ZorUuid::kSize); return true;
    default:
      if (v.h.GetSize() > ref.size) return false;
      PutBytes(ref, v.h.GetDatas(), v.h.GetSize());
      return true;
  }
}

void ReadDyna(const ZorDyna& dyna, const ValueRef& ref, Value* v) {
  const int32_t k = ref.field, l = ref.line + 1, c = ref.col + 1;
  int32_t n = 0;
  switch (ref.word ? -1 : ref.type) {
    case -1:
    case kZorPhysTypeUnicodeChar: dyna.GetData(k, l, c, &n); v->i = uint16_t(n); break;
    case kZorPhysTypeAnsiChar: dyna.GetData(k, l, c, &n); v->i = uint8_t(n); break;
    case kZorPhysTypeShort: dyna.GetData(k, l, c, &n); v->i = int16_t(n); break;
    case kZorPhysTypeLong: dyna.GetData(k, l, c, &n); v->i = n; break;
    case kZorPhysTypeQuad: dyna.GetDataQuad(k, l, c, &v->i); break;
    case kZorPhysTypeDouble: dyna.GetData(k, l, c, &v->d); break;
    case kZorPhysTypeDecimal: {
      decimal d;
      dyna.GetData(k, l, c, &d);
      v->d = d._getDouble();
      break;
    }
    case kZorPhysTypeDate: {
      date d;
      dyna.GetData(k, l, c, &d);
      v->d = d.GetValue();
      break;
    }
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr: dyna.GetData(k, l, c, &v->s); break;
    case kZorPhysTypeUuid: dyna.GetDataUuid(k, l, c, &v->u); break;
    default: dyna.GetData(k, l, c, &v->h); break;
  }
}

void WriteDyna(ZorDyna* dyna, const ValueRef& ref, const Value& v) {
  const int32_t k = ref.field, l = ref.line + 1, c = ref.col + 1;
  switch (ref.type) {
    case kZorPhysTypeQuad: dyna->SetDataQuad(k, l, c, v.i); break;
    case kZorPhysTypeDouble: dyna->SetDataDbl(k, l, c, v.d); break;
    case kZorPhysTypeDecimal: {
      decimal d;
      d._setDouble(v.d);
      dyna->SetData(k, l, c, d);
      break;
    }
    case kZorPhysTypeDate: {
      date d;
      d.SetValue(v.d);
      dyna->SetData(k, l, c, d);
      break;
    }
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr: dyna->SetData(k, l, c, v.s.CStr()); break;
    case kZorPhysTypeUuid: dyna->SetDataUuid(k, l, c, v.u); break;
    case kZorPhysTypeBlob:
    case kZorPhysTypeBlobRef: dyna->SetData(k, l, c, &v.h); break;
    default: dyna->SetData(k, l, c, static_cast<int32_t>(v.i)); break;
  }
}

bool InRange(const ValueRef& ref, const Value& v) {
  int64_t lo, hi;
  return !IntegerRange(ref, &lo, &hi) || (v.i >= lo && v.i <= hi);
}

bool IsEmpty(const ValueRef& ref, const Value& v) {
  if (IsIntegerType(ref.type)) return v.i == 0;
  if (IsRealType(ref.type)) return v.d == 0;
  if (IsTextType(ref.type)) return v.s.IsEmpty();
  if (ref.type == kZorPhysTypeUuid) return v.u.IsNull();
  const auto* p = static_cast<const uint8_t*>(v.h.GetDatas());
  for (uint32_t i = 0, n = v.h.GetSize(); i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------------ access

ZorTable::BlobSlot* ZorTableValues::Slot(ZorTable* t, int32_t field) {
  for (int32_t i = 0; i < t->_nbBlobs; ++i) {
    if (t->_blobs[i].field == field) return &t->_blobs[i];
  }
  return nullptr;
}

bool ZorTableValues::Locate(ZorTable* t, int32_t field, int32_t line, int32_t col, ValueRef* ref) {
  if (!t->_desc) return false;
  sZorTfi& tfi = ref->tfi;
  for (int32_t hops = 0;; ++hops) {
    if (!t->_desc->GetField(field, &tfi) || tfi.flags == 0) return false;
    if (!(tfi.flags & kZorTblFfAlias)) break;
    if (hops >= t->GetNbField() || tfi.d1 > INT32_MAX) return false;
    field = static_cast<int32_t>(tfi.d1);
  }
  ref->field = field;
  if (!(tfi.flags & kZorTblFfArray)) {
    line = col = 0;
  } else if (line < 0 || col < 0 || uint32_t(line) > tfi.d1 || uint32_t(col) > tfi.d2) {
    return false;
  }
  ref->line = line;
  ref->col = col;
  ref->word = (tfi.flags & (kZorTblFfEnum | kZorTblFfStrList)) != 0;
  ref->type = ref->word                        ? kZorPhysTypeLong
              : (tfi.flags & kZorTblFfLocTbl) ? kZorPhysTypeBlob
                                               : ZorSolvePhysType(static_cast<eZorPhysType>(tfi.physType));
  if (!KnownType(ref->type)) return false;
  const bool user = tfi.flags & kZorTblFfUser;
  if ((tfi.flags & kZorTblFfVirtual) || (user && (tfi.flags & kZorTblFfScript))) {
    ref->where = ValueRef::kVirtual;
  } else if (user || (tfi.flags & (kZorTblFfDyna | kZorTblFfLocTbl))) {
    ref->where = ValueRef::kDyna;
  } else if (ref->type == kZorPhysTypeBlobRef) {
    ref->where = ValueRef::kBlob;
    return line == 0 && col == 0 && Slot(t, field) != nullptr;
  } else {
    ref->where = ValueRef::kFixed;
    return PlaceFixed(ref, t->_rec, t->_recSize);
  }
  return true;
}

bool ZorTableValues::Read(ZorTable* t, const ValueRef& ref, Value* v) {
  switch (ref.where) {
    case ValueRef::kFixed: ReadFixed(ref, v); return true;
    case ValueRef::kDyna: ReadDyna(*t->GetDyna(), ref, v); return true;
    case ValueRef::kBlob: {
      ZorTable::BlobSlot* slot = Slot(t, ref.field);
      if (slot->state == ZorTable::BlobSlot::kNotLoaded) {
        slot->cache.Trash();
        if (slot->ref) t->GetStocker()->BlobRead(t, ref.field, slot->ref, &slot->cache);
        slot->state = ZorTable::BlobSlot::kLoaded;
      }
      v->h.Copy(&slot->cache);
      return true;
    }
    case ValueRef::kVirtual: {
      if (!t->_handler) return false;
      NativeBox box;
      if (!t->_handler->GetVal(t, ref.field, kZorTblFormNative, box.For(ref), ref.line, ref.col)) return false;
      ValueFromNative(ref, box.For(ref), v);
      return true;
    }
  }
  return false;
}

bool ZorTableValues::Write(ZorTable* t, const ValueRef& ref, const Value& v) {
  if (IsIntegerType(ref.type) && !InRange(ref, v)) return false;
  switch (ref.where) {
    case ValueRef::kFixed: return WriteFixed(ref, v);
    case ValueRef::kDyna:
      WriteDyna(t->GetDyna(), ref, v);
      t->_dynaChanged = true;
      if (t->_dynaState == 1) t->_dynaState = 2;
      return true;
    case ValueRef::kBlob: {
      ZorTable::BlobSlot* slot = Slot(t, ref.field);
      if (v.h.GetSize() == 0) {
        slot->cache.Trash();
      } else {
        slot->cache.Init(v.h.GetDatas(), v.h.GetSize());
      }
      slot->state = ZorTable::BlobSlot::kModified;
      return true;
    }
    case ValueRef::kVirtual: {
      if (!t->_handler) return false;
      NativeBox box;
      ValueToNative(ref, v, box.For(ref));
      return t->_handler->SetVal(t, ref.field, kZorTblFormNative, box.For(ref), ref.line, ref.col);
    }
  }
  return false;
}

bool ZorTableValues::Get(ZorTable* t, int32_t field, int32_t line, int32_t col, ValueRef* ref, Value* v) {
  return Locate(t, field, line, col, ref) && Read(t, *ref, v);
}

bool ZorTableValues::Clear(ZorTable* t, const ValueRef& ref) { return Write(t, ref, Value()); }

bool ZorTableValues::IsSet(ZorTable* t, const ValueRef& ref) {
  Value v;
  return ref.where != ValueRef::kVirtual && Read(t, ref, &v) && !IsEmpty(ref, v);
}

void ZorTableValues::ClearAll(ZorTable* t) {
  if (!t->_desc) return;
  if (t->_recSize) std::memset(t->_rec, 0, t->_recSize);
  if (t->_dyna) t->_dyna->Clear();
  // Empty now, and to be written so with the record.
  t->_dynaState = 2;
  t->_dynaChanged = true;
  for (int32_t i = 0; i < t->_nbBlobs; ++i) {
    t->_blobs[i].ref = 0;
    t->_blobs[i].cache.Trash();
    t->_blobs[i].state = ZorTable::BlobSlot::kModified;
  }
}

// ------------------------------------------------------------------ forms

namespace {

// The handle form: blob-like fields, dynamic fields and the binary logical
// types (12 to 18 but the colour).
bool HandleFormOk(const ValueRef& ref) {
  const int32_t log = ref.tfi.logType;
  return IsBytesType(ref.type) || ref.where == ValueRef::kDyna ||
         (log >= kZorLogTypeData && log <= kZorLogTypePassWord && log != kZorLogTypeColor);
}

bool Deliver(const ValueRef& ref, const Value& v, eZorTblForm form, void* out) {
  switch (form) {
    case kZorTblFormNative: ValueToNative(ref, v, out); return true;
    case kZorTblFormText: ValueToText(ref, v, static_cast<string*>(out)); return true;
    case kZorTblFormHandle:
      if (!HandleFormOk(ref)) return false;
      ValueToHandle(ref, v, static_cast<ZorHandle*>(out));
      return true;
  }
  return false;
}

bool Accept(const ValueRef& ref, eZorTblForm form, const void* in, Value* v) {
  switch (form) {
    case kZorTblFormNative: ValueFromNative(ref, in, v); return true;
    case kZorTblFormText: return TextToValue(ref, static_cast<const char*>(in), v);
    case kZorTblFormHandle: return HandleFormOk(ref) && HandleToValue(ref, static_cast<const ZorHandle*>(in), v);
  }
  return false;
}

// What a getter leaves when it has nothing to give.
void Neutral(eZorTblForm form, void* out) {
  if (form == kZorTblFormText) static_cast<string*>(out)->Clear();
  if (form == kZorTblFormHandle) static_cast<ZorHandle*>(out)->Trash();
}

}  // namespace

bool ZorTable::GetVal(int32_t field, eZorTblForm form, void* out, int32_t line, int32_t col) {
  ZorNotNull(out, kSource);
  ValueRef ref;
  if (!ZorTableValues::Locate(this, field, line, col, &ref)) {
    Neutral(form, out);
    return false;
  }
  if (ref.where == ValueRef::kVirtual) {
    if (_handler && _handler->GetVal(this, ref.field, form, out, ref.line, ref.col)) return true;
    Neutral(form, out);
    return false;
  }
  Value v;
  if (ZorTableValues::Read(this, ref, &v) && Deliver(ref, v, form, out)) return true;
  Neutral(form, out);
  return false;
}

bool ZorTable::SetVal(int32_t field, eZorTblForm form, const void* in, int32_t line, int32_t col) {
  ZorNotNull(in, kSource);
  ValueRef ref;
  if (!ZorTableValues::Locate(this, field, line, col, &ref)) return false;
  if (ref.where == ValueRef::kVirtual) return _handler && _handler->SetVal(this, ref.field, form, in, ref.line, ref.col);
  Value v;
  return Accept(ref, form, in, &v) && ZorTableValues::Write(this, ref, v);
}

bool ZorTableHandler::SetGetValResult(ZorTable* table, int32_t field, eZorTblForm form, void* out,
                                      const void* value) {
  ValueRef ref;
  if (!table || !out || !value || !ZorTableValues::Locate(table, field, 0, 0, &ref)) return false;
  Value v;
  ValueFromNative(ref, value, &v);
  return Deliver(ref, v, form, out);
}

bool ZorTableHandler::GetSetValValue(ZorTable* table, int32_t field, eZorTblForm form, const void* in,
                                     void* value) {
  ValueRef ref;
  if (!table || !in || !value || !ZorTableValues::Locate(table, field, 0, 0, &ref)) return false;
  Value v;
  if (!Accept(ref, form, in, &v)) return false;
  ValueToNative(ref, v, value);
  return true;
}

// ------------------------------------------------------------------ typed

namespace {

bool SetInteger(ZorTable* t, int32_t field, int64_t value, int32_t line, int32_t col) {
  ValueRef ref;
  if (!ZorTableValues::Locate(t, field, line, col, &ref) || !IsIntegerType(ref.type)) return false;
  Value v;
  v.i = value;
  return ZorTableValues::Write(t, ref, v);
}

// A real field's value rounded to its type; false when it is no valid decimal.
bool SetReal(ZorTable* t, int32_t field, double value, int32_t line, int32_t col) {
  ValueRef ref;
  if (!ZorTableValues::Locate(t, field, line, col, &ref)) return false;
  if (ref.type != kZorPhysTypeDouble && ref.type != kZorPhysTypeDecimal) return false;
  decimal d(value, NumberType(ref.tfi));
  if (!std::isfinite(value) || !d.IsValid()) return false;
  Value v;
  v.d = d._getDouble();
  return ZorTableValues::Write(t, ref, v);
}

}  // namespace

int32_t ZorTable::GetValLong(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  if (!ZorTableValues::Get(this, field, line, col, &ref, &v) || !IsIntegerType(ref.type)) return 0;
  return v.i < INT32_MIN || v.i > INT32_MAX ? 0 : static_cast<int32_t>(v.i);
}

bool ZorTable::SetValLong(int32_t field, int32_t value, int32_t line, int32_t col) {
  return SetInteger(this, field, value, line, col);
}

int64_t ZorTable::GetValQuad(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  return ZorTableValues::Get(this, field, line, col, &ref, &v) && IsIntegerType(ref.type) ? v.i : 0;
}

bool ZorTable::SetValQuad(int32_t field, int64_t value, int32_t line, int32_t col) {
  return SetInteger(this, field, value, line, col);
}

ZorUuid ZorTable::GetValUuid(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  if (!ZorTableValues::Get(this, field, line, col, &ref, &v) || ref.type != kZorPhysTypeUuid) return ZorUuid();
  return v.u;
}

bool ZorTable::SetValUuid(int32_t field, const ZorUuid& value, int32_t line, int32_t col) {
  ValueRef ref;
  if (!ZorTableValues::Locate(this, field, line, col, &ref) || ref.type != kZorPhysTypeUuid) return false;
  Value v;
  v.u = value;
  return ZorTableValues::Write(this, ref, v);
}

date ZorTable::GetValDate(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  date d;
  if (ZorTableValues::Get(this, field, line, col, &ref, &v) && ref.type == kZorPhysTypeDate) d.SetValue(v.d);
  return d;
}

bool ZorTable::SetValDate(int32_t field, const date& value, int32_t line, int32_t col) {
  ValueRef ref;
  if (!ZorTableValues::Locate(this, field, line, col, &ref) || ref.type != kZorPhysTypeDate) return false;
  if (!value.IsEmpty() && !value.IsValid()) return false;
  Value v;
  v.d = value.GetValue();
  return ZorTableValues::Write(this, ref, v);
}

decimal ZorTable::GetValDecimal(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  decimal d;
  if (ZorTableValues::Get(this, field, line, col, &ref, &v) &&
      (ref.type == kZorPhysTypeDouble || ref.type == kZorPhysTypeDecimal)) {
    d._setDouble(v.d);
  }
  return d;
}

bool ZorTable::SetValDecimal(int32_t field, const decimal& value, int32_t line, int32_t col) {
  return SetReal(this, field, value._getDouble(), line, col);
}

bool ZorTable::AddVal(int32_t field, const decimal& value, int32_t line, int32_t col) {
  ValueRef ref;
  Value v;
  if (!ZorTableValues::Get(this, field, line, col, &ref, &v)) return false;
  if (IsIntegerType(ref.type)) {
    decimal sum(static_cast<double>(v.i), kZorLogTypeInt);
    sum.Add(&value, kZorLogTypeInt);
    if (!(std::fabs(sum._getDouble()) < 9.2e18)) return false;
    return SetInteger(this, field, static_cast<int64_t>(sum._getDouble()), line, col);
  }
  if (ref.type != kZorPhysTypeDouble && ref.type != kZorPhysTypeDecimal) return false;
  return SetReal(this, field, v.d + value._getDouble(), line, col);
}

bool ZorTable::GetValHandle(int32_t field, ZorHandle* out, int32_t line, int32_t col) {
  return GetVal(field, kZorTblFormHandle, ZorNotNull(out, kSource), line, col);
}

bool ZorTable::SetValHandle(int32_t field, const ZorHandle* in, int32_t line, int32_t col) {
  return SetVal(field, kZorTblFormHandle, ZorNotNull(in, kSource), line, col);
}

uint32_t ZorTable::GetValRef(int32_t field) {
  ValueRef ref;
  Value v;
  if (!ZorTableValues::Get(this, field, 0, 0, &ref, &v) || !(ref.tfi.flags & kZorTblFfLink) ||
      ref.type != kZorPhysTypeLong || ref.word) {
    return 0;
  }
  return static_cast<uint32_t>(v.i);
}

bool ZorTable::SetValRef(int32_t field, uint32_t ud) {
  ValueRef ref;
  if (!ZorTableValues::Locate(this, field, 0, 0, &ref) || !(ref.tfi.flags & kZorTblFfLink) ||
      ref.type != kZorPhysTypeLong || ref.word) {
    return false;
  }
  Value v;
  v.i = static_cast<int32_t>(ud);
  return ZorTableValues::Write(this, ref, v);
}

bool ZorTable::GetValRtf(int32_t field, ZorHandle* out) {
  ZorNotNull(out, kSource)->Trash();
  return GetFieldLogType(field) == kZorLogTypeRichTxt && GetValHandle(field, out);
}

bool ZorTable::SetValRtf(int32_t field, const ZorHandle* in) {
  return GetFieldLogType(field) == kZorLogTypeRichTxt && SetValHandle(field, in);
}

bool ZorTable::GetValLocTbl(int32_t field, ZorHandle* out) {
  ZorNotNull(out, kSource)->Trash();
  return (GetFieldFlags(field) & kZorTblFfLocTbl) && GetValHandle(field, out);
}

bool ZorTable::SetValLocTbl(int32_t field, const ZorHandle* in) {
  return (GetFieldFlags(field) & kZorTblFfLocTbl) && SetValHandle(field, in);
}

namespace {

// The whole element block of a fixed array field.
uint8_t* ArrayBlock(ZorTable* t, int32_t field, uint32_t* size) {
  ValueRef ref;
  if (!ZorTableValues::Locate(t, field, 0, 0, &ref) || !(ref.tfi.flags & kZorTblFfArray) ||
      ref.where != ValueRef::kFixed) {
    return nullptr;
  }
  *size = ref.tfi.size;
  return t->GetRecord() + ref.tfi.offset;
}

}  // namespace

bool ZorTable::GetValArray(int32_t field, ZorHandle* out) {
  ZorNotNull(out, kSource)->Trash();
  uint32_t size = 0;
  const uint8_t* block = ArrayBlock(this, field, &size);
  if (block) out->Init(block, size);
  return block != nullptr;
}

bool ZorTable::SetValArray(int32_t field, const ZorHandle* in) {
  ZorNotNull(in, kSource);
  uint32_t size = 0;
  uint8_t* block = ArrayBlock(this, field, &size);
  if (!block || in->GetSize() != size) return false;
  if (size) std::memcpy(block, in->GetDatas(), size);
  return true;
}

bool ZorTable::ClearVal(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  return ZorTableValues::Locate(this, field, line, col, &ref) && ZorTableValues::Clear(this, ref);
}

bool ZorTable::FieldIsSetOk(int32_t field, int32_t line, int32_t col) {
  ValueRef ref;
  return ZorTableValues::Locate(this, field, line, col, &ref) && ZorTableValues::IsSet(this, ref);
}

// ------------------------------------------------------------------ extremes

namespace {

// Key order of the fixed types (see the key encodings): integers compare
// signed, binary64 keys keep the low 32 bits of the integer part, texts
// and bytes compare bytewise with 0xFF highest.
bool PutExtreme(const ValueRef& ref, bool max) {
  uint8_t* p = ref.bytes;
  if (ref.word) {
    platform::PutLE16(p, max ? 0xFFFF : 0);
  } else if (IsIntegerType(ref.type)) {
    // Signed in the element's width: 0x7F FF .. or 0x80 00 .. from the top byte.
    std::memset(p, max ? 0xFF : 0x00, ref.size);
    p[ref.size - 1] = max ? 0x7F : 0x80;
  } else if (ref.type == kZorPhysTypeDate) {
    platform::PutLE64(p, std::bit_cast<uint64_t>(max ? date::kLastDay + 86399.0 / 86400.0 : 0.0));
  } else if (IsRealType(ref.type)) {
    const double v = max ? std::nextafter(2147483648.0, 0.0) : std::nextafter(-2147483649.0, 0.0);
    platform::PutLE64(p, std::bit_cast<uint64_t>(v));
  } else if (ref.type != kZorPhysTypeBlobRef) {
    const uint32_t end = ref.type == kZorPhysTypeAnsiString ? 1 : ref.type == kZorPhysTypeUnicodeStr ? 2 : 0;
    std::memset(p, max ? 0xFF : 0, ref.size);
    std::memset(p + ref.size - end, 0, end);
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool ZorTable::SetValMinMax(int32_t field, bool max, int32_t line, int32_t col) {
  ValueRef ref;
  return ZorTableValues::Locate(this, field, line, col, &ref) && ref.where == ValueRef::kFixed &&
         PutExtreme(ref, max);
}

// ------------------------------------------------------------------ record

void ZorTable::Raz() { ZorTableValues::ClearAll(this); }

bool ZorTable::CopyVal(int32_t field, ZorTable* src, int32_t srcField) {
  if (!src) return false;
  ValueRef from, to;
  Value v;
  if (!ZorTableValues::Get(src, srcField ? srcField : field, 0, 0, &from, &v) ||
      !ZorTableValues::Locate(this, field, 0, 0, &to)) {
    return false;
  }
  if (from.type == to.type && from.word == to.word) return ZorTableValues::Write(this, to, v);
  string text;
  ValueToText(from, v, &text);
  Value converted;
  return TextToValue(to, text.CStr(), &converted) && ZorTableValues::Write(this, to, converted);
}

void ZorTable::FillDefault(bool creating) {
  Raz();
  if (!_handler) return;
  for (int32_t field = 1, n = GetNbField(); field <= n; ++field) {
    ValueRef ref;
    if (!ZorTableValues::Locate(this, field, 0, 0, &ref) || ref.where == ValueRef::kVirtual ||
        (ref.tfi.flags & kZorTblFfAlias)) {
      continue;
    }
    NativeBox box;
    if (!_handler->RazDef(this, field, box.For(ref), creating)) continue;
    Value v;
    ValueFromNative(ref, box.For(ref), &v);
    // Every element of a fixed array takes the default.
    const uint32_t count = ref.where == ValueRef::kFixed ? ref.tfi.size / ref.size : 1;
    const uint32_t cols = ref.tfi.d2 + 1;
    for (uint32_t i = 0; i < count; ++i) {
      ValueRef elem;
      if (ZorTableValues::Locate(this, field, int32_t(i / cols), int32_t(i % cols), &elem))
        ZorTableValues::Write(this, elem, v);
    }
  }
}

bool ZorTable::GetIndexValue(int32_t index, void* out) {
  ZorNotNull(out, kSource);
  if (!_desc || index < 1 || index > GetNbIndex()) return false;
  BuildKey(index, nullptr, out);
  return true;
}

bool ZorTable::GetIndexValue(int32_t index, string* out) {
  ZorNotNull(out, kSource)->Clear();
  if (!_desc || index < 1 || index > GetNbIndex()) return false;
  char key[256];
  BuildKey(index, nullptr, key);
  out->Assign(key, GetKeyLen(index));
  return true;
}

}  // namespace zorvane
