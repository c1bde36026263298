// ZorTable: changes (write, add, update, delete, empty, swap), their
// handler calls and change messages, and the blob slots around a store's
// work.
//
// Each change runs under the table lock (TableHold), so that nested changes
// nest the depth and a store can bracket its own transaction. Action 1 is
// internal: the handler is not called and no message is posted.
#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "platform/little_endian.h"
#include "tables/cursor/table_internal.h"
#include <zorvane/block_array.h>
#include <zorvane/cell_container.h>
#include <zorvane/messages_bus.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tcur;

namespace {

// The table lock for the length of one change. Leaving normally ends it as
// EndTransaction does, so that a failing commit reaches the change's caller;
// leaving through an exception ends it quietly, that exception going on.
class TableHold {
 public:
  explicit TableHold(ZorTable* table) : _table(table), _unwinding(std::uncaught_exceptions()) {
    _table->Lock(nullptr);
  }
  ~TableHold() noexcept(false) {
    if (std::uncaught_exceptions() > _unwinding) {
      _table->Unlock();
    } else {
      _table->EndTransaction();
    }
  }
  TableHold(const TableHold&) = delete;
  TableHold& operator=(const TableHold&) = delete;

 private:
  ZorTable* _table;
  int _unwinding;
};

}  // namespace

bool ZorTable::_callHandler(int32_t action) const { return _handler && action != kZorTblActInternal; }

void ZorTable::_checkWritable(int32_t noRecordMessage) {
  if (_modeFlags & kZorTblMfRdOnly) {
    string name;
    GetName(&name);
    ZorRaise(kSource, ZorErr(1, kErrRdOnly), nullptr, {kListTables, kTxtRdOnly}, name.CStr());
  }
  if (noRecordMessage && !_curUD) {
    string name;
    GetName(&name);
    ZorRaise(kSource, ZorErr(1, kErrNoRecord), nullptr, {kListTables, noRecordMessage}, name.CStr());
  }
}

void ZorTable::_postMessage(eZorTblMsgKind kind, uint32_t ud) {
  const uint32_t flags = GetFlags();
  if (!(flags & kZorTblTfSendStdMess)) return;
  const int32_t sub = (flags & kZorTblTfSendLocMess) ? kZorTblMsgSubLoc : kZorTblMsgSubStd;
  const int64_t tid = GetTId();
  const int64_t tableKey = (int64_t{TableModule(tid)} << 9) | TableNumber(tid);
  ZorSendMessage(kZorTblMsgCode, sub, this, tableKey, kind, ud, 0, 0);
}

uint32_t ZorTable::_writeRecord(bool add, int32_t action, void* param) {
  if (!_desc) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  _checkWritable(0);
  if (add && !(_modeFlags & kZorTblMfAddOk)) ZorRaise(kSource, ZorErr(1, kErrNotImpl));

  // The buffer keeps its unique id and blob references: only the stored
  // record receives new ones.
  const int32_t uidField = GetUniqueIdField();
  sZorTfi uid;
  uint8_t savedUid[4] = {};
  const bool hasUid = uidField > 0 && _desc->GetField(uidField, &uid) && uid.size == 4 &&
                      uint32_t{uid.offset} + 4 <= _recSize;
  if (hasUid) {
    std::memcpy(savedUid, _rec + uid.offset, 4);
    platform::PutLE32(_rec + uid.offset, static_cast<uint32_t>(_stocker->GetRuid(this) + 1));
  }
  std::vector<uint32_t> savedRefs(static_cast<size_t>(_nbBlobs));
  for (int32_t i = 0; i < _nbBlobs; ++i) savedRefs[i] = _blobs[i].ref;
  if ((GetFlags() & kZorTblTfAsDyna) && _curUD) {
    GetDyna();
    _dynaState = 2;
  }

  const eZorTblHAction change = add ? kZorTblHActAdd : kZorTblHActWrite;
  uint32_t ud = 0;
  try {
    if (_callHandler(action)) _handler->BeforeHAction(this, change, action, param);
    ud = _stocker->PrimWrite(this, add);
  } catch (...) {
    if (hasUid) std::memcpy(_rec + uid.offset, savedUid, 4);
    for (int32_t i = 0; i < _nbBlobs; ++i) _blobs[i].ref = savedRefs[i];
    throw;
  }
  // The new record may sort before the current one: its position is found
  // again from its UD when asked.
  _curN = 0;
  _dataVersion = ZorUuid();
  if (action != kZorTblActInternal) {
    if (_handler) _handler->AfterHAction(this, change, action, param);
    _postMessage(kZorTblMsgWrite, ud);
  }
  if (hasUid) std::memcpy(_rec + uid.offset, savedUid, 4);
  for (int32_t i = 0; i < _nbBlobs; ++i) _blobs[i].ref = savedRefs[i];
  _blobsToRecord();
  if (_dynaState == 2) _dynaState = 1;
  return ud;
}

uint32_t ZorTable::Write(int32_t action, void* param) { return _writeRecord(false, action, param); }
uint32_t ZorTable::Add(int32_t action, void* param) { return _writeRecord(true, action, param); }

uint32_t ZorTable::WriteRd(int32_t action, void* param) {
  const uint32_t ud = Write(action, param);
  ReadUD(ud);
  return ud;
}

uint32_t ZorTable::AddRd(int32_t action, void* param) {
  const uint32_t ud = Add(action, param);
  ReadUD(ud);
  return ud;
}

void ZorTable::_update(bool withDyna, int32_t action, void* param) {
  if (!_desc) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  _checkWritable(kTxtNoRecUpdate);
  if (_callHandler(action)) _handler->BeforeHAction(this, kZorTblHActUpdate, action, param);
  const bool dynaChanged = withDyna && _dynaChanged;
  if (dynaChanged) GetDyna();
  _blobsToRecord();
  _stocker->PrimUpd(this, dynaChanged);
  _curN = 0;  // a changed key moves the record in its index
  if (_dynaState == 2) _dynaState = 1;
  _dataVersion = ZorUuid();
  if (action != kZorTblActInternal) {
    if (_handler) _handler->AfterHAction(this, kZorTblHActUpdate, action, param);
    _postMessage(dynaChanged ? kZorTblMsgUpdateDyna : kZorTblMsgUpdate, _curUD);
  }
  _dynaChanged = false;
}

void ZorTable::UpDate(int32_t action, void* param) { _update(true, action, param); }
void ZorTable::UpDateDataOnly(int32_t action, void* param) { _update(false, action, param); }

void ZorTable::Delete(int32_t action, void* param) {
  if (!_desc) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  _checkWritable(kTxtNoRecDelete);
  const uint32_t ud = _curUD;
  if (_callHandler(action)) _handler->BeforeHAction(this, kZorTblHActDelete, action, param);
  _stocker->PrimDel(this);
  if (_dynaState == 1) _dynaState = 2;
  _dataVersion = ZorUuid();
  if (action != kZorTblActInternal) {
    if (_handler) _handler->AfterHAction(this, kZorTblHActDelete, action, param);
    _postMessage(kZorTblMsgDelete, ud);
  }
  _failRead();
}

void ZorTable::MakeEmpty(int32_t action, void* param) {
  if (!_desc) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  _checkWritable(0);
  if (_callHandler(action)) _handler->BeforeHAction(this, kZorTblHActEmpty, action, param);
  _stocker->PrimEmpty(this);
  _dataVersion = ZorUuid();
  if (action != kZorTblActInternal) {
    if (_handler) _handler->AfterHAction(this, kZorTblHActEmpty, action, param);
    _postMessage(kZorTblMsgEmpty, 0);
  }
  _failRead();
}

void ZorTable::Swap(uint32_t ud1, uint32_t ud2, int32_t action, void* param) {
  if (!_desc) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  _checkWritable(0);
  if (!(_modeFlags & kZorTblMfSwapOk)) ZorRaise(kSource, ZorErr(1, kErrNotImpl));
  if (_callHandler(action)) _handler->BeforeHAction(this, kZorTblHActSwap, action, param);
  _stocker->PrimSwap(this, ud1, ud2);
  _dataVersion = ZorUuid();
  if (action != kZorTblActInternal) {
    if (_handler) _handler->AfterHAction(this, kZorTblHActSwap, action, param);
    _postMessage(kZorTblMsgSwap, ud1);
    _postMessage(kZorTblMsgSwap, ud2);
  }
  _curN = 0;
}

// The selection's records take, in the selection's order, the creation-order
// places they occupy together (ascending). A store that renumbers on swap
// (the memory store: UD = place) is followed through the permutation.
void ZorTable::Swap(ZorTSel* sel, bool backward, int32_t* moved, int32_t action, void* param) {
  ZorNotNull(sel, kSource);
  if (moved) *moved = 0;
  const int32_t count = sel->GetNbSel();
  std::vector<uint32_t> wanted(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) wanted[i] = (*sel)[backward ? count - i : i + 1];
  std::vector<uint32_t> places = wanted;
  std::sort(places.begin(), places.end());
  if (std::adjacent_find(places.begin(), places.end()) != places.end()) ZorRaiseBadParam(kSource);
  TableHold hold(this);
  // where[ud]: the place that record currently holds (identity at first).
  std::vector<uint32_t> current = places;  // current[i]: record now at places[i]
  for (int32_t i = 0; i < count; ++i) {
    if (current[i] == wanted[i]) continue;
    const auto j = std::find(current.begin() + i + 1, current.end(), wanted[i]) - current.begin();
    Swap(places[i], places[j], action, param);
    std::swap(current[i], current[j]);
    if (moved) ++*moved;
  }
}

bool ZorTable::Reorg(bool showProgress) {
  if (!_desc || !CanReorg()) return false;
  TableHold hold(this);
  return _stocker->Reorg(this, showProgress);
}

bool ZorTable::CanReorg() { return _desc && !(_modeFlags & kZorTblMfRdOnly) && _stocker->GetNbUser(this) <= 1; }

// ------------------------------------------------------------------ blobs

void ZorTable::_blobsFromRecord() {
  for (int32_t i = 0; i < _nbBlobs; ++i) {
    BlobSlot& slot = _blobs[i];
    sZorTfi tfi;
    _desc->GetField(slot.field, &tfi);
    slot.ref = uint32_t{tfi.offset} + 4 <= _recSize ? platform::GetLE32(_rec + tfi.offset) : 0;
    slot.cache.Trash();
    slot.state = BlobSlot::kNotLoaded;
  }
}

void ZorTable::_blobsToRecord() {
  for (int32_t i = 0; i < _nbBlobs; ++i) {
    sZorTfi tfi;
    _desc->GetField(_blobs[i].field, &tfi);
    if (uint32_t{tfi.offset} + 4 <= _recSize) platform::PutLE32(_rec + tfi.offset, _blobs[i].ref);
  }
}

void ZorTable::DoBlob(int32_t action, uint8_t* record) {
  if (!_desc) ZorRaiseBadParam(kSource);
  if (action != 1 && action != 3 && action != 4) ZorRaise(kSourceStore, ZorErr(1, kErrNotImpl));
  for (int32_t i = 0; i < _nbBlobs; ++i) {
    BlobSlot& slot = _blobs[i];
    sZorTfi tfi;
    _desc->GetField(slot.field, &tfi);
    if (uint32_t{tfi.offset} + 4 > _recSize) continue;
    uint8_t* at = (record ? record : _rec) + tfi.offset;
    if (action == 1) {
      // A new record receives its own copy of every blob.
      if (slot.state == BlobSlot::kNotLoaded) {
        slot.cache.Trash();
        if (slot.ref) _stocker->BlobRead(this, slot.field, slot.ref, &slot.cache);
        slot.state = BlobSlot::kLoaded;
      }
      slot.ref = slot.cache.GetSize() ? _stocker->BlobCreate(this, slot.field, &slot.cache) : 0;
      platform::PutLE32(_rec + tfi.offset, slot.ref);
      continue;
    }
    uint32_t stored = platform::GetLE32(at);
    if (action == 3) {
      if (slot.state == BlobSlot::kModified) {
        if (slot.cache.GetSize() == 0) {
          if (stored) _stocker->BlobDelete(this, slot.field, stored);
          stored = 0;
        } else if (stored) {
          stored = _stocker->BlobUpdate(this, slot.field, stored, &slot.cache);
        } else {
          stored = _stocker->BlobCreate(this, slot.field, &slot.cache);
        }
        slot.state = BlobSlot::kLoaded;
      }
    } else {
      if (stored) _stocker->BlobDelete(this, slot.field, stored);
      stored = 0;
      if (slot.state == BlobSlot::kModified) slot.state = BlobSlot::kLoaded;
    }
    slot.ref = stored;
    platform::PutLE32(at, stored);
    if (record && record != _rec) platform::PutLE32(_rec + tfi.offset, stored);
  }
}

}  // namespace zorvane
