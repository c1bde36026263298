// ZorWs: life, the table list, links between entries and the main table's
// navigation. Identifiers, names, values and virtual fields are in
// workspace_fields.cpp.

#include "foundation/errors/raise.h"
#include "workspace/workspace_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/database.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>

namespace zorvane {

using namespace ws;

// ------------------------------------------------------------------ handler

ZorWsHandler::~ZorWsHandler() = default;
void ZorWsHandler::Attach(ZorWs*) {}
void ZorWsHandler::Detach(ZorWs*) {}
void ZorWsHandler::PatchContent(ZorWs*) {}
bool ZorWsHandler::ComputeVal(ZorWs*, int64_t, string*, eZorLogType*) { return false; }

// ------------------------------------------------------------------ life

ZorWs::ZorWs() = default;
ZorWs::~ZorWs() { Trash(); }

void ZorWs::_begin(int64_t id, ZorDBase* dba) {
  Trash();
  _impl = std::make_unique<Impl>();
  _init = true;
  _id = id;
  _dba = dba ? dba : ZorGetCurDBase();
  _flags = 0;
  const int32_t module = OwnerOf(id);
  if (!module) return;
  ZorLock guard;
  if (ZorModule* owner = ZorGetModule(module, &guard))
    SetWorkSpaceHandler(owner->GetWorkSpaceHandler(id));
}

void ZorWs::Init(int64_t id, ZorDBase* dba) {
  _begin(id, dba);
  if (_handler) _handler->PatchContent(this);
}

void ZorWs::InitFromRsrc(int64_t id, ZorDBase* dba) {
  ZorRsrc rsrc;
  if (!rsrc.Init(ZorRsrcWorkSpace, OwnerOf(id), static_cast<int32_t>(id), ZorRsrcQuiet)) {
    Trash();
    ZorRaise(kSource, ZorErr(1, kErrRsrc));
  }
  InitFromData(id, dba, rsrc.GetHandle());
}

void ZorWs::InitFromData(int64_t id, ZorDBase* dba, const ZorHandle* data) {
  _begin(id, dba);
  try {
    _loadEntries(data);
  } catch (...) {
    Trash();
    throw;
  }
  if (_handler) _handler->PatchContent(this);
}

void ZorWs::InitFromRsrc(int64_t id) { InitFromRsrc(id, nullptr); }

// The resource's lines become entries in order; a linked line names an
// earlier line as its parent.
void ZorWs::_loadEntries(const ZorHandle* data) {
  if (!data) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  // Shared, and only read.
  ZorHandle shared;
  shared.Attach(const_cast<ZorHandle*>(data));
  ZorDyna cells;
  cells.Init(&shared);
  cells.GetData(1, 1, 1, &_impl->name);
  int32_t flags = 0;
  cells.GetData(1, 1, 2, &flags);
  _flags = static_cast<uint32_t>(flags);

  int32_t lines = 0;
  cells.GetDim(2, &lines);
  if (lines < 1 || lines > kMaxEntries) ZorRaise(kSource, ZorErr(1, kErrBadData));
  std::vector<int32_t> positionOfLine(static_cast<size_t>(lines) + 1, 0);
  for (int32_t line = 1; line <= lines; ++line) {
    int64_t tableId = 0;
    int32_t entryFlags = 0, parent = 0, linkField = 0, scpRw = 0;
    cells.GetDataQuad(2, line, 1, &tableId);
    cells.GetData(2, line, 2, &entryFlags);
    cells.GetData(2, line, 3, &parent);
    cells.GetData(2, line, 4, &linkField);
    cells.GetData(2, line, 5, &scpRw);
    int32_t n = 0;
    if (parent == 0 && tableId != 0) {
      n = AddTable(static_cast<uint32_t>(entryFlags) & (kZorWsTblHidden | kZorWsTblWrite), tableId,
                   static_cast<eZorWsScpRw>(scpRw));
    } else if (parent > 0 && parent < line) {
      n = AddLinkTable(positionOfLine[static_cast<size_t>(parent)], linkField);
      if (n) {
        sZorWsTable* e = _entry(n);
        e->flags |= static_cast<uint32_t>(entryFlags) & (kZorWsTblHidden | kZorWsTblWrite);
        e->scpRw = static_cast<int8_t>(scpRw);
      }
    }
    if (!n) ZorRaise(kSource, ZorErr(1, kErrBadData));
    positionOfLine[static_cast<size_t>(line)] = n;
  }
  // The writable identifiers end at the first missing or zero one.
  std::vector<int64_t> writable;
  int64_t wsf = 0;
  for (int32_t col = 1; cells.GetDataQuad(3, 1, col, &wsf) && wsf; ++col) writable.push_back(wsf);
  SetWritableWsfs(writable.data(), static_cast<int32_t>(writable.size()));
}

void ZorWs::Trash() {
  if (_handler) {
    ZorWsHandler* handler = _handler;
    _handler = nullptr;
    handler->Detach(this);
  }
  if (_impl) {
    for (int32_t n = GetNbTable(); n >= 1; --n) {
      sZorWsTable* e = _entry(n);
      if (e->state & kZorWsStateOwned) delete e->cursor;
    }
  }
  _impl.reset();
  _init = false;
  _id = 0;
  _dba = nullptr;
  _flags = 0;
}

void ZorWs::SetDba(ZorDBase* dba) { _dba = dba; }

const char* ZorWs::GetName(string* out) const {
  ZorNotNull(out, kSource);
  return _impl ? out->Assign(_impl->name.CStr()) : out->Clear();
}

void ZorWs::SetName(const char* name) {
  if (_impl) _impl->name = name ? name : "";
}

void ZorWs::SetWorkSpaceHandler(ZorWsHandler* handler) {
  if (handler == _handler) return;
  if (_handler) _handler->Detach(this);
  _handler = handler;
  if (_handler) _handler->Attach(this);
}

// ------------------------------------------------------------------ table list

sZorWsTable* ZorWs::_entry(int32_t n) const {
  if (!_impl || n < 1 || n > _impl->list.GetNbItem()) return nullptr;
  return static_cast<sZorWsTable*>(_impl->list[n]);
}

int32_t ZorWs::_position(const sZorWsTable* e) const {
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n)
    if (_entry(n) == e) return n;
  return 0;
}

ZorTable* ZorWs::_main() const {
  const sZorWsTable* e = _entry(1);
  return e ? e->cursor : nullptr;
}

int32_t ZorWs::GetNbTable() const { return _impl ? _impl->list.GetNbItem() : 0; }

// The lowest entry number not yet used by an entry of the table.
uint8_t ZorWs::_nextEntryNumber(int32_t module, uint8_t table) const {
  bool used[kMaxEntries + 1] = {};
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n) {
    const sZorWsTable* e = _entry(n);
    if (e->module == module && e->table == table) used[e->entry] = true;
  }
  for (int32_t i = 0; i <= kMaxEntries; ++i)
    if (!used[i]) return static_cast<uint8_t>(i);
  ZorRaise(kSource, ZorErr(1, kErrOutRange));
}

int32_t ZorWs::_addEntry(sZorWsTable e, std::unique_ptr<ZorTable> owned) {
  if (!_init) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  if (GetNbTable() >= kMaxEntries) ZorRaise(kSource, ZorErr(1, kErrOutRange));
  const int64_t tableId = e.cursor->GetTId();
  e.module = ModuleOf(tableId);
  e.table = TableOf(tableId);
  e.entry = _nextEntryNumber(e.module, e.table);
  if (owned) e.state |= kZorWsStateOwned;
  const int32_t n = _impl->list.Ins(0, &e);
  owned.release();
  return n;
}

int32_t ZorWs::AddTable(uint32_t flags, ZorTable* table) {
  if (!table || !table->IsInit()) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  sZorWsTable e;
  e.cursor = table;
  e.flags = flags & (kZorWsTblHidden | kZorWsTblWrite);
  return _addEntry(e, nullptr);
}

int32_t ZorWs::AddTable(uint32_t flags, int64_t tableId, eZorWsScpRw scpRw) {
  if (!_init) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  auto table = std::make_unique<ZorTable>();
  table->Open(_dba, tableId);
  sZorWsTable e;
  e.cursor = table.get();
  e.flags = flags & (kZorWsTblHidden | kZorWsTblWrite);
  e.scpRw = static_cast<int8_t>(scpRw);
  return _addEntry(e, std::move(table));
}

int32_t ZorWs::AddStdTable(int64_t tableId) { return AddTable(kZorWsTblWrite, tableId); }

int32_t ZorWs::AddLocTable(uint32_t flags, const ZorHandle* description) {
  if (!_init || !description) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  auto table = std::make_unique<ZorTable>();
  ZorOpenTmpTbl(table.get(), description);
  sZorWsTable e;
  e.cursor = table.get();
  e.flags = (flags & (kZorWsTblHidden | kZorWsTblWrite)) | kZorWsTblLocal;
  return _addEntry(e, std::move(table));
}

int32_t ZorWs::AddLinkTable(int32_t parent, int32_t linkField, bool add) {
  const sZorWsTable* p = _entry(parent);
  sZorTfi tfi;
  if (!p || !p->cursor->GetField(linkField, &tfi) || !(tfi.flags & kZorTblFfLink)) return 0;
  for (int32_t n = parent + 1, count = GetNbTable(); n <= count; ++n) {
    const sZorWsTable* e = _entry(n);
    if ((e->flags & kZorWsTblLinked) && e->parent == parent && e->linkField == linkField) return n;
  }
  if (!add) return 0;
  // D1: the linked table's module id << 8 | its table number.
  const int64_t tableId = static_cast<int64_t>(static_cast<uint64_t>(tfi.d1 >> 8) << 32 | (tfi.d1 & 0xFFu) << 16);
  ZorDBase* dba = p->cursor->GetDBase() ? p->cursor->GetDBase() : _dba;
  auto table = std::make_unique<ZorTable>();
  table->Open(dba, tableId);
  sZorWsTable e;
  e.cursor = table.get();
  e.flags = kZorWsTblLinked;
  e.parent = static_cast<uint8_t>(parent);
  e.linkField = static_cast<int16_t>(linkField);
  return _addEntry(e, std::move(table));
}

// Entries linked from a removed one go with it; children always follow
// their parent, so one forward pass finds them all.
bool ZorWs::RemoveTable(int64_t tableId) {
  const int32_t count = GetNbTable();
  int32_t first = 0;
  for (int32_t n = 1; n <= count && !first; ++n) {
    const sZorWsTable* e = _entry(n);
    if (!(e->flags & kZorWsTblLinked) && IsEntryOf(*e, tableId)) first = n;
  }
  if (!first) return false;
  std::vector<bool> removed(static_cast<size_t>(count) + 1, false);
  removed[static_cast<size_t>(first)] = true;
  for (int32_t n = first + 1; n <= count; ++n) {
    const sZorWsTable* e = _entry(n);
    removed[static_cast<size_t>(n)] = (e->flags & kZorWsTblLinked) && removed[e->parent];
  }
  // Parents keep pointing at the same entries once the removed ones are gone.
  std::vector<uint8_t> newPosition(static_cast<size_t>(count) + 1, 0);
  for (int32_t n = 1, next = 1; n <= count; ++n)
    if (!removed[static_cast<size_t>(n)]) newPosition[static_cast<size_t>(n)] = static_cast<uint8_t>(next++);
  for (int32_t n = count; n >= 1; --n) {
    sZorWsTable* e = _entry(n);
    if (removed[static_cast<size_t>(n)]) {
      if (e->state & kZorWsStateOwned) delete e->cursor;
      _impl->list.Del(n);
    }
  }
  for (int32_t n = 1, left = GetNbTable(); n <= left; ++n) {
    sZorWsTable* e = _entry(n);
    if (e->flags & kZorWsTblLinked) e->parent = newPosition[e->parent];
  }
  return true;
}

ZorTable* ZorWs::GetTable(int64_t tableId, bool skipLinked) const {
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n) {
    const sZorWsTable* e = _entry(n);
    if (IsEntryOf(*e, tableId) && !(skipLinked && (e->flags & kZorWsTblLinked))) return e->cursor;
  }
  return nullptr;
}

ZorTable* ZorWs::GetNTable(int32_t n, bool upToDate) {
  sZorWsTable* e = _entry(n);
  if (!e) return nullptr;
  if (upToDate) _bringUpToDate(e);
  return e->cursor;
}

ZorTable* ZorWs::GetWsfTable(int64_t wsf) {
  sZorWsTable* e = _find(wsf);
  if (!e) return nullptr;
  _bringUpToDate(e);
  return e->cursor;
}

int32_t ZorWs::FindTableN(const ZorTable* table) const {
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n)
    if (table && _entry(n)->cursor == table) return n;
  return 0;
}

ZorTable* ZorWs::GetFirstVisTable() const {
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n)
    if (!(_entry(n)->flags & kZorWsTblHidden)) return _entry(n)->cursor;
  return nullptr;
}

bool ZorWs::GetEntry(int32_t n, sZorWsTable* out) const {
  const sZorWsTable* e = _entry(n);
  if (!e || !out) return false;
  *out = *e;
  return true;
}

void ZorWs::SetScpRw(int32_t n, eZorWsScpRw scpRw) {
  if (sZorWsTable* e = _entry(n)) e->scpRw = static_cast<int8_t>(scpRw);
}

void ZorWs::SetWritableWsfs(const int64_t* wsfs, int32_t count) {
  if (!_impl) return;
  _impl->writable.clear();
  for (int32_t i = 0; wsfs && i < count && wsfs[i]; ++i) _impl->writable.push_back(wsfs[i]);
}

// ------------------------------------------------------------------ links

// Positions a linked entry on the record its parent's link field names,
// unless it is up to date and still on that record; a parent without a
// record leaves it without one. A Long link holds the UD; another type
// holds the linked table's key field value.
void ZorWs::_bringUpToDate(sZorWsTable* e) {
  if (!(e->flags & kZorWsTblLinked)) return;
  sZorWsTable* parent = _entry(e->parent);
  _bringUpToDate(parent);
  ZorTable* from = parent->cursor;
  ZorTable* to = e->cursor;
  const bool upToDate = (e->state & kZorWsStateUpToDate) != 0;
  e->state |= kZorWsStateUpToDate;
  if (from->GetFieldPhysType(e->linkField) == kZorPhysTypeLong) {
    const uint32_t ud = from->GetCurUD() ? from->GetValRef(e->linkField) : 0;
    if (upToDate && e->linkedUD == ud && to->GetCurUD() == ud) return;
    e->linkedUD = ud;
    if (!ud || !to->ReadUD(ud)) to->Clear();
    return;
  }
  sZorTfi tfi;
  from->GetField(e->linkField, &tfi);
  const int32_t keyField = static_cast<int32_t>(tfi.d2);
  string value, current;
  if (from->GetCurUD()) from->GetValStr(e->linkField, &value);
  if (upToDate && to->GetCurUD() && value == to->GetValStr(keyField, &current)) return;
  e->linkedUD = 0;
  const int32_t index = to->GetFidIndex(keyField, kZorTblFidIndexFirst);
  to->Raz();
  if (value.IsEmpty() || !index || !to->SetValStr(keyField, value.CStr()) || !to->Read(kZorTblFindEqual, index))
    to->Clear();
}

// ------------------------------------------------------------------ navigation

bool ZorWs::_moved(bool ok) {
  for (int32_t n = 1, count = GetNbTable(); n <= count; ++n) _entry(n)->state &= ~kZorWsStateUpToDate;
  return ok;
}

bool ZorWs::First() {
  ZorTable* main = _main();
  return main && _moved(main->First());
}

bool ZorWs::Next() {
  ZorTable* main = _main();
  return main && _moved(main->Next());
}

bool ZorWs::ReadN(int32_t n, bool skipDeleted) {
  ZorTable* main = _main();
  return main && _moved(main->ReadN(n, skipDeleted));
}

bool ZorWs::ReadUD(uint32_t ud) {
  ZorTable* main = _main();
  return main && _moved(main->ReadUD(ud));
}

bool ZorWs::Read(eZorTblFind mode, int32_t index) {
  ZorTable* main = _main();
  return main && _moved(main->Read(mode, index));
}

int32_t ZorWs::GetNbN() {
  ZorTable* main = _main();
  return main ? main->GetNbN() : 0;
}

void ZorWs::Clear() {
  if (ZorTable* main = _main()) {
    main->Clear();
    _moved(true);
  }
}

}  // namespace zorvane
