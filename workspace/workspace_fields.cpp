// ZorWs: field identifiers, their names, what a field is and may do, values
// by identifier, and the virtual table's fields.
#include <cstring>
#include <vector>

#include "foundation/errors/raise.h"
#include "workspace/workspace_internal.h"

namespace zorvane {

using namespace ws;

namespace ws {

int32_t FieldByName(const ZorTable* table, const char* name) {
  const int32_t dev = table->GetFieldId(name, ZorNameDev);
  return dev ? dev : table->GetFieldId(name, ZorNamePublic);
}

const char* FieldName(const ZorTable* table, int32_t field, bool devName, string* out) {
  if (devName && *table->GetFieldName(field, out, ZorNameDev)) return out->CStr();
  return table->GetFieldName(field, out, ZorNamePublic);
}

const char* TableName(const ZorTable* table, bool devName, string* out) {
  if (devName && *table->GetName(out, ZorNameDev)) return out->CStr();
  return table->GetName(out, ZorNamePublic);
}

}  // namespace ws

namespace {

bool TableNamed(const ZorTable* table, const char* name) {
  string text;
  return ZorStrICmp(TableName(table, true, &text), name) == 0 ||
         ZorStrICmp(table->GetName(&text, ZorNamePublic), name) == 0;
}

// The components of a name, blanks around each trimmed.
std::vector<string> SplitName(const char* name) {
  std::vector<string> parts;
  string rest(name), part, tail;
  while (rest.Split('\\', &part, &tail)) {
    part.Trim();
    parts.push_back(part);
    rest = tail;
  }
  rest.Trim();
  parts.push_back(rest);
  return parts;
}

// Storage of a virtual field by logical type; kZorPhysTypeCustom for the
// types a record cannot hold (pictures, sounds, rich text, data).
eZorPhysType VirtualPhysType(eZorLogType type) {
  switch (type) {
    case kZorLogTypeInt:
    case kZorLogTypeTime:
    case kZorLogTypeDelay:
    case kZorLogTypeColor:
    case kZorLogTypeIcon:
    case kZorLogTypeBoolean: return kZorPhysTypeLong;
    case kZorLogTypeDate: return kZorPhysTypeDate;
    case kZorLogTypeText:
    case kZorLogTypePassWord: return kZorPhysTypeAnsiString;
    default: return type >= kZorLogTypeDec0 && type <= kZorLogTypeMoney ? kZorPhysTypeDecimal : kZorPhysTypeCustom;
  }
}

constexpr int32_t kVirtualTextLength = 255;

}  // namespace

// ------------------------------------------------------------------ identifiers

sZorWsTable* ZorWs::_find(int64_t wsf) const {
  if (!_impl || !wsf) return nullptr;
  auto matches = [wsf](const sZorWsTable& e) {
    return e.cursor && e.module == ModuleOf(wsf) && e.table == TableOf(wsf) && e.entry == EntryOf(wsf);
  };
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n)
    if (matches(*_entry(n))) return _entry(n);
  return matches(_impl->virt) ? &_impl->virt : nullptr;
}

int64_t ZorWs::GetWsf(const ZorTable* table, int32_t field) const {
  if (!_impl || !table || field < 1 || field > 0xFFFF) return 0;
  if (const sZorWsTable* e = _entry(FindTableN(table))) return MakeWsf(*e, field);
  return _impl->virt.cursor == table ? MakeWsf(_impl->virt, field) : 0;
}

int64_t ZorWs::GetWsf(int64_t tableId, int32_t field) const {
  const ZorTable* table = GetTable(tableId, true);
  return GetWsf(table ? table : GetTable(tableId, false), field);
}

int64_t ZorWs::GetLinkedWsf(int64_t linkWsf, int32_t field, bool add) {
  const int32_t n = AddLinkTable(_position(_find(linkWsf)), FieldOf(linkWsf), add);
  return n ? GetWsf(_entry(n)->cursor, field) : 0;
}

int64_t ZorWs::GetParentWsf(int64_t wsf) const {
  const sZorWsTable* e = _find(wsf);
  if (!e || !(e->flags & kZorWsTblLinked)) return 0;
  return MakeWsf(*_entry(e->parent), e->linkField);
}

int64_t ZorWs::NameToWsf(const char* name, bool addLinks) {
  if (!_impl || !name || !*name || !_main()) return 0;
  const std::vector<string> parts = SplitName(name);
  size_t next = 0;
  int32_t at = 1;
  if (parts.size() > 1) {
    for (int32_t n = 1, count = GetNbTable(); n <= count; ++n) {
      const sZorWsTable* e = _entry(n);
      if (!(e->flags & kZorWsTblLinked) && TableNamed(e->cursor, parts[0].CStr())) {
        at = n;
        next = 1;
        break;
      }
    }
  }
  for (; next + 1 < parts.size(); ++next) {
    at = AddLinkTable(at, FieldByName(_entry(at)->cursor, parts[next].CStr()), addLinks);
    if (!at) return 0;
  }
  if (const int32_t field = FieldByName(_entry(at)->cursor, parts.back().CStr())) return GetWsf(_entry(at)->cursor, field);
  // A bare name may be a virtual field.
  return parts.size() == 1 ? TVirGetWsf(parts.back().CStr()) : 0;
}

// The main table's fields and virtual fields are bare names; a linked
// entry's path always starts with its table, so that it reads back.
bool ZorWs::GetWsfName(int64_t wsf, string* out, bool withTable, bool devNames) const {
  ZorNotNull(out, kSource);
  out->Clear();
  const sZorWsTable* e = _find(wsf);
  if (!e || !e->cursor->GetFieldFlags(FieldOf(wsf))) return false;
  string text;
  *out = FieldName(e->cursor, FieldOf(wsf), devNames, &text);
  if (e == &_impl->virt) return true;
  const bool linked = (e->flags & kZorWsTblLinked) != 0;
  while (e->flags & kZorWsTblLinked) {
    const sZorWsTable* parent = _entry(e->parent);
    string path(FieldName(parent->cursor, e->linkField, devNames, &text));
    path += "\\";
    path += *out;
    *out = path;
    e = parent;
  }
  if (withTable || linked || _position(e) != 1) {
    string path(TableName(e->cursor, devNames, &text));
    path += "\\";
    path += *out;
    *out = path;
  }
  return true;
}

bool ZorWs::IsWsfValid(int64_t wsf, bool anyField) const {
  const sZorWsTable* e = _find(wsf);
  if (!e) return false;
  const uint32_t flags = e->cursor->GetFieldFlags(FieldOf(wsf));
  return flags && (anyField || (flags & kZorTblFfVisible));
}

bool ZorWs::GetWsfInfo(int64_t wsf, int32_t* logType, int32_t* length, int32_t* offset, int32_t* size,
                       uint32_t* flags) const {
  int32_t len = 0, off = 0, sz = 1;
  int32_t log = kZorLogTypeText;
  uint32_t fieldFlags = 0;
  const sZorWsTable* e = _find(wsf);
  const bool found = e && e->cursor->GetFieldInfo(FieldOf(wsf), &len, &off, &sz);
  if (found) {
    log = e->cursor->GetFieldLogType(FieldOf(wsf));
    fieldFlags = e->cursor->GetFieldFlags(FieldOf(wsf));
  } else {
    len = off = 0;
    sz = 1;
  }
  if (logType) *logType = log;
  if (length) *length = len;
  if (offset) *offset = off;
  if (size) *size = sz;
  if (flags) *flags = fieldFlags;
  return found;
}

bool ZorWs::GetWsfProp(int64_t wsf, sZorTfi* out) const {
  const sZorWsTable* e = _find(wsf);
  return e && out && e->cursor->GetField(FieldOf(wsf), out) && out->flags;
}

// The table refuses a field that is free, read only or computed, and every
// field of a read-only table.
bool ZorWs::WsfIsSetOk(int64_t wsf) const {
  const sZorWsTable* e = _find(wsf);
  if (!e) return false;
  const ZorTable* table = e->cursor;
  const uint32_t flags = table->GetFieldFlags(FieldOf(wsf));
  if (!flags || (flags & (kZorTblFfRdOnly | kZorTblFfAlias)) || (table->GetModeFlags() & kZorTblMfRdOnly) ||
      (table->GetFlags() & kZorTblTfRdOnly))
    return false;
  switch (e->scpRw) {
    case kZorWsScpRwEntry: return (e->flags & kZorWsTblWrite) != 0;
    case kZorWsScpRwWrite: return true;
    case kZorWsScpRwList:
      for (int64_t id : _impl->writable)
        if (id == wsf) return true;
      return false;
    default: return false;
  }
}

// ------------------------------------------------------------------ values

bool ZorWs::GetVal(int64_t wsf, eZorTblForm form, void* out, int32_t line, int32_t col) {
  sZorWsTable* e = _find(wsf);
  if (!e) return false;
  _bringUpToDate(e);
  return e->cursor->GetVal(FieldOf(wsf), form, out, line, col);
}

const char* ZorWs::GetValStr(int64_t wsf, string* out, int32_t line, int32_t col) {
  GetValStrLog(wsf, out, line, col);
  return out->CStr();
}

eZorLogType ZorWs::GetValStrLog(int64_t wsf, string* out, int32_t line, int32_t col) {
  ZorNotNull(out, kSource);
  out->Clear();
  sZorWsTable* e = _find(wsf);
  if (!e) return kZorLogTypeText;
  _bringUpToDate(e);
  eZorLogType type = e->cursor->GetFieldLogType(FieldOf(wsf));
  if (_handler && _handler->ComputeVal(this, wsf, out, &type)) return type;
  e->cursor->GetValStr(FieldOf(wsf), out, line, col);
  return type;
}

int32_t ZorWs::GetValLong(int64_t wsf, int32_t line, int32_t col) {
  sZorWsTable* e = _find(wsf);
  if (!e) return 0;
  _bringUpToDate(e);
  return e->cursor->GetValLong(FieldOf(wsf), line, col);
}

date ZorWs::GetValDate(int64_t wsf, int32_t line, int32_t col) {
  sZorWsTable* e = _find(wsf);
  if (!e) return date();
  _bringUpToDate(e);
  return e->cursor->GetValDate(FieldOf(wsf), line, col);
}

decimal ZorWs::GetValDecimal(int64_t wsf, int32_t line, int32_t col) {
  sZorWsTable* e = _find(wsf);
  if (!e) return decimal();
  _bringUpToDate(e);
  return e->cursor->GetValDecimal(FieldOf(wsf), line, col);
}

// ------------------------------------------------------------------ virtual fields

// The virtual table is a memory table of one record held in its buffer: a
// new description means a new table, into which the values are copied
// field by field (numbers do not change).
void ZorWs::_rebuildVirtual(ZorTableDesc* desc) {
  desc->Validate();
  auto table = std::make_unique<ZorTable>();
  table->Init(desc->GetHandle(), true);
  if (ZorTable* old = _impl->virtTable.get())
    for (int32_t f = 1, n = old->GetNbField(); f <= n; ++f)
      if (old->GetFieldFlags(f) && table->GetFieldFlags(f)) table->CopyVal(f, old, f);
  _impl->virtTable = std::move(table);
  _impl->virt.cursor = _impl->virtTable.get();
}

int64_t ZorWs::TVirAddField(const char* name, eZorLogType type, int32_t length) {
  const eZorPhysType phys = VirtualPhysType(type);
  if (!_impl || !name || !*name || std::strlen(name) >= kZorTfiNameSize || TVirGetWsf(name) ||
      phys == kZorPhysTypeCustom || length < 0)
    ZorRaise(kSource, ZorErr(1, kErrBadParam));
  ZorTableDesc desc;
  if (_impl->virtTable) {
    desc.BuildFromTable(_impl->virtTable.get());
  } else {
    // Module of the workspace, table number 0: no stored table has it.
    desc.Create(kZorTblTypeStd, 0);
    const int32_t module = OwnerOf(_id);
    desc.SetTId(static_cast<int64_t>(static_cast<uint64_t>(module) << 32), false);
    desc.SetStorage(kZorTblStorMemory);
    _impl->virt.module = module;
    _impl->virt.flags = kZorWsTblVirtual | kZorWsTblHidden | kZorWsTblWrite;
  }
  const int32_t textLength = length ? length : kVirtualTextLength;
  const int32_t field = desc.AddField(name, phys, type, true, phys == kZorPhysTypeAnsiString ? textLength : 0,
                                      kZorTblFfValid, 0, 0);
  if (field < 1) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  _rebuildVirtual(&desc);
  return MakeWsf(_impl->virt, field);
}

int64_t ZorWs::TVirGetWsf(const char* name) const {
  if (!_impl || !_impl->virtTable || !name) return 0;
  const int32_t field = FieldByName(_impl->virtTable.get(), name);
  return field ? MakeWsf(_impl->virt, field) : 0;
}

bool ZorWs::TVirRemoveField(int32_t field) {
  if (!_impl || !_impl->virtTable || !_impl->virtTable->GetFieldFlags(field)) return false;
  ZorTableDesc desc;
  desc.BuildFromTable(_impl->virtTable.get());
  if (!desc.DelField(field, false)) return false;
  _rebuildVirtual(&desc);
  return true;
}

}  // namespace zorvane
