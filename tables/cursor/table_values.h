// What the value accessors of the table cursor share: where one element of a
// field lives, a value in the native form of its physical type, and the
// conversions between that form and text.
//
// Every accessor goes the same way: locate the element (ValueRef: alias
// followed, array bounds checked, fixed bytes kept inside the record
// buffer), read or write a Value there, and convert between the Value and
// what the caller gave (native pointer, text, handle, typed argument).
#pragma once

#include "tables/cursor/table_internal.h"
#include <zorvane/string.h>

namespace zorvane::tcur {

// Where one element of a field lives.
struct ValueRef {
  enum Where : uint8_t { kFixed, kDyna, kVirtual, kBlob };
  sZorTfi tfi;                // the descriptor of the field holding the value
  int32_t field = 0;          // that field (an alias's target)
  int32_t line = 0, col = 0;  // 0 for a plain field
  int32_t type = 0;           // the value's physical type
  bool word = false;          // enumeration or string list: Long, 0..65535, 2 bytes
  Where where = kFixed;
  uint8_t* bytes = nullptr;  // kFixed: the element, `size` bytes
  uint32_t size = 0;
};

// A value in the native form of a physical type (eZorTblForm native).
struct Value {
  int64_t i = 0;  // AnsiChar, UnicodeChar, Short, Long, Quad, enumerations
  double d = 0;   // Double, Decimal, Date
  string s;       // AnsiString, UnicodeStr (cp1252)
  ZorHandle h;    // Blob, BlobRef, local tables
  ZorUuid u;
};

// Families of physical types.
bool IsIntegerType(int32_t type);
bool IsRealType(int32_t type);  // Double, Decimal, Date
bool IsTextType(int32_t type);
bool IsBytesType(int32_t type);  // Blob, BlobRef
// The range of an integer element; false for other types.
bool IntegerRange(const ValueRef& ref, int64_t* lo, int64_t* hi);
// The logical type numbers of the field are rounded to and shown with.
eZorLogType NumberType(const sZorTfi& tfi);

// Native form <-> Value: `p` points to the type the form documents.
void ValueFromNative(const ValueRef& ref, const void* p, Value* v);
void ValueToNative(const ValueRef& ref, const Value& v, void* p);
// Text form (table_values_text.cpp). TextToValue answers false for a text
// the field cannot hold (a bad number or date, an integer out of range).
void ValueToText(const ValueRef& ref, const Value& v, string* out);
bool TextToValue(const ValueRef& ref, const char* text, Value* v);
// Handle form: the value's bytes.
void ValueToHandle(const ValueRef& ref, const Value& v, ZorHandle* out);
bool HandleToValue(const ValueRef& ref, const ZorHandle* h, Value* v);

}  // namespace zorvane::tcur

namespace zorvane {

// The accessors' way into the table's private state.
struct ZorTableValues {
  using ValueRef = tcur::ValueRef;
  using Value = tcur::Value;

  // False for no field, a free slot, an element outside the array, a
  // fixed element outside the record buffer, a virtual field without a
  // handler, or a BlobRef field without its slot.
  static bool Locate(ZorTable* t, int32_t field, int32_t line, int32_t col, ValueRef* ref);
  static bool Read(ZorTable* t, const ValueRef& ref, Value* v);
  static bool Write(ZorTable* t, const ValueRef& ref, const Value& v);
  // Locate and Read / Write in one step.
  static bool Get(ZorTable* t, int32_t field, int32_t line, int32_t col, ValueRef* ref, Value* v);
  static bool Clear(ZorTable* t, const ValueRef& ref);
  static bool IsSet(ZorTable* t, const ValueRef& ref);
  static ZorTable::BlobSlot* Slot(ZorTable* t, int32_t field);
  static ZorTableHandler* Handler(ZorTable* t) { return t->_handler; }
  static void ClearAll(ZorTable* t);
};

}  // namespace zorvane
