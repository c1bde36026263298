// ZorBFile: the header image -- its fields, the setters, the safety counters
// (crash counter, bad close, bad-open count, open marker) and the change
// messages.
//
// The image in memory is the truth while the file is open; it reaches the
// disk when a transaction ends with the header dirty (or at once for the
// counters of an opening and of the backup mode). Every change goes through
// one transaction so that, outside any other, it is written immediately.
#include <zorvane/block_file.h>

#include <zorvane/string.h>

#include <cstring>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"

namespace zorvane {

using platform::GetLE32;
using platform::GetLE64;
using platform::PutLE32;

uint32_t ZorBFile::Rep::_hdr32(uint32_t offset) const { return GetLE32(_header + offset); }
void ZorBFile::Rep::_setHdr32(uint32_t offset, uint32_t value) { PutLE32(_header + offset, value); }

// A setter that does nothing for an unchanged value, else stores it in one
// transaction.
void ZorBFile::Rep::_setHdrValue(uint32_t offset, int32_t value) {
  if (static_cast<int32_t>(_hdr32(offset)) == value) return;
  _requireWrite();
  bfile::Txn txn(this);
  _setHdr32(offset, static_cast<uint32_t>(value));
  _setHeaderDirty();
}

int32_t ZorBFile::Rep::GetFType() const {
  _readScope scope(this);
  return static_cast<int32_t>(_hdr32(kZorBfHdrFileType));
}
int32_t ZorBFile::Rep::GetFGuId() const {
  _readScope scope(this);
  return static_cast<int32_t>(_hdr32(kZorBfHdrGuid));
}
int32_t ZorBFile::Rep::GetSignature() const {
  _readScope scope(this);
  return static_cast<int32_t>(_hdr32(kZorBfHdrSignature));
}
int32_t ZorBFile::Rep::GetUserRel() const {
  _readScope scope(this);
  return static_cast<int32_t>(_hdr32(kZorBfHdrUserRel));
}
uint64_t ZorBFile::Rep::GetUpdateCounter() const {
  _readScope scope(this);
  return GetLE64(_header + kZorBfHdrUpdate);
}

const char* ZorBFile::Rep::GetCreaStr(string* dst) const {
  _readScope scope(this);
  const char* text = reinterpret_cast<const char*>(_header + kZorBfHdrCreaStr);
  return dst->Assign(text, static_cast<int32_t>(strnlen(text, kZorBfMaxCreaStr)));
}

int32_t ZorBFile::Rep::GetUserData(int32_t index) const {
  _readScope scope(this);
  if (index < 0 || index >= 64) return 0;
  return static_cast<int32_t>(_hdr32(kZorBfHdrUserArray + 4 * static_cast<uint32_t>(index)));
}

void ZorBFile::Rep::GetUserArray(int32_t* out64) const {
  _readScope scope(this);
  for (uint32_t i = 0; i < 64; ++i) out64[i] = static_cast<int32_t>(_hdr32(kZorBfHdrUserArray + 4 * i));
}

void ZorBFile::Rep::SetFType(int32_t value) { _setHdrValue(kZorBfHdrFileType, value); }
void ZorBFile::Rep::SetFGuId(int32_t value) { _setHdrValue(kZorBfHdrGuid, value); }
void ZorBFile::Rep::SetSignature(int32_t value) { _setHdrValue(kZorBfHdrSignature, value); }
void ZorBFile::Rep::SetUserRel(int32_t value) { _setHdrValue(kZorBfHdrUserRel, value); }

void ZorBFile::Rep::SetUserData(int32_t index, int32_t value) {
  if (index < 0 || index >= 64) ZorRaise(bfile::kSource, ZorErr(1, 23), &_path);
  _setHdrValue(kZorBfHdrUserArray + 4 * static_cast<uint32_t>(index), value);
}

// Creation strings longer than 35 characters are truncated.
void ZorBFile::Rep::SetCreaStr(const char* text) {
  _requireWrite();
  bfile::Txn txn(this);
  std::memset(_header + kZorBfHdrCreaStr, 0, kZorBfMaxCreaStr + 1);
  if (text) std::memcpy(_header + kZorBfHdrCreaStr, text, strnlen(text, kZorBfMaxCreaStr));
  _setHeaderDirty();
}

void ZorBFile::Rep::SetUserArray(const int32_t* in64) {
  _requireWrite();
  bfile::Txn txn(this);
  for (uint32_t i = 0; i < 64; ++i) _setHdr32(kZorBfHdrUserArray + 4 * i, static_cast<uint32_t>(in64[i]));
  _setHeaderDirty();
}

// ------------------------------------------------------------ safety counters

void ZorBFile::Rep::SetSecuFlag() {
  const uint32_t n = _hdr32(kZorBfHdrCrash);
  if (n == 0) {
    _requireWrite();
    bfile::Txn txn(this);
    _setHdr32(kZorBfHdrCrash, 1);
    _setHeaderDirty();
    return;
  }
  _setHdr32(kZorBfHdrCrash, n + 1);
}

void ZorBFile::Rep::ClrSecuFlag() {
  const uint32_t n = _hdr32(kZorBfHdrCrash);
  if (n == 0) return;
  if (n == 1) {
    _requireWrite();
    bfile::Txn txn(this);
    _setHdr32(kZorBfHdrCrash, 0);
    _setHeaderDirty();
    return;
  }
  _setHdr32(kZorBfHdrCrash, n - 1);
}

int32_t ZorBFile::Rep::GetCrashFlag(bool reset) {
  const int32_t n = static_cast<int32_t>(_hdr32(kZorBfHdrCrash));
  if (reset && n == 1) {
    _requireWrite();
    bfile::Txn txn(this);
    _setHdr32(kZorBfHdrCrash, 0);
    _setHeaderDirty();
  }
  return n;
}

bool ZorBFile::Rep::IsBadClose(bool reset) {
  const uint32_t bits = _hdr32(kZorBfHdrState);
  const bool bad = (bits & kZorBfStateBadClose) != 0;
  if (reset && bad) {
    _requireWrite();
    bfile::Txn txn(this);
    _setHdr32(kZorBfHdrState, bits & ~kZorBfStateBadClose);
    _setHeaderDirty();
  }
  return bad;
}

int32_t ZorBFile::Rep::BadOpenCount(bool reset) {
  const int32_t n = static_cast<int32_t>(_hdr32(kZorBfHdrBadOpen));
  if (reset && n != 0) {
    _requireWrite();
    bfile::Txn txn(this);
    _setHdr32(kZorBfHdrBadOpen, 0);
    _setHeaderDirty();
  }
  return n;
}

// The backup mode makes the file on disk look cleanly closed while a copy is
// taken, then marks it open again.
iZorStream* ZorBFile::Rep::SetModeBackup(bool backup) {
  if (!IsWriteEnable() || !IsOpen()) return _stream;
  _settleJournal();
  const uint32_t bits = _hdr32(kZorBfHdrState);
  const uint32_t wanted = backup ? (bits & ~kZorBfStateOpenMarker) : (bits | kZorBfStateOpenMarker);
  _setHdr32(kZorBfHdrState, wanted);
  _setHeaderDirty();
  _writeHeader();
  if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
  return _stream;
}

void ZorBFile::Rep::SetDoMsg(bool on) {
  _msgCount += on ? 1 : -1;
  if (_msgCount < 0) _msgCount = 0;
  if (_msgCount > 0)
    _state |= kDoMsg;
  else
    _state &= ~kDoMsg;
}

}  // namespace zorvane
