// The block file's representation: creating, probing, opening and closing
// block files; the stored form of directory entries; internal faults and
// change messages; raw file access.
//
// An open file has a stream, a 980-byte header image and a directory of
// `count` entries mirrored in memory (`_dir`), with one cache pointer per
// entry (`_cache`). Opening reads the header and the whole directory, after
// checking that the recorded count fits in the file, so that a damaged or
// hostile file is refused with an error rather than trusted: nothing is ever
// allocated for a recorded size before it is checked against the file size.
//
// A local file opened for writing carries the open marker (header state bit
// 4) from its opening until a normal close; finding it already set at open
// means the previous user did not close the file properly. The update
// counter grows by one per opening, at its first header write.
#include <zorvane/block_file.h>

#include <zorvane/exception.h>
#include <zorvane/file_commands.h>
#include <zorvane/messages_bus.h>
#include <zorvane/string.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>

#include "foundation/services/text_source.h"
#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "platform/ticks.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

using bfile::kSource;

using platform::GetLE16;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;
using platform::PutLE64;

namespace {

constexpr char kMagic[8] = {'Z', 'o', 'r', 'B', 'F', 'i', 'l', 'e'};
constexpr uint32_t kStreamOpt40000 = 0x40000;

std::atomic<int32_t> g_checkLevel{0};
std::atomic<int32_t> g_checkBadOpen{1};

int32_t NewFileId() {
  std::random_device rd;
  const uint32_t r = rd() ^ (platform::TickCount() * 2654435761u);
  return static_cast<int32_t>(r);
}

void BuildHeader(uint8_t* h, int32_t fileType, int32_t signature, const char* creaStr) {
  std::memset(h, 0, kZorBfHeaderSize);
  std::memcpy(h + kZorBfHdrMagic, kMagic, sizeof kMagic);
  PutLE32(h + kZorBfHdrVersion, 1);
  PutLE32(h + kZorBfHdrDataStart, kZorBfInitialDataStart);
  PutLE32(h + kZorBfHdrFileType, static_cast<uint32_t>(fileType));
  PutLE32(h + kZorBfHdrGuid, static_cast<uint32_t>(NewFileId()));
  PutLE32(h + kZorBfHdrSignature, static_cast<uint32_t>(signature));
  if (creaStr) std::memcpy(h + kZorBfHdrCreaStr, creaStr, strnlen(creaStr, kZorBfMaxCreaStr));
}

// The probe's verdict on a header: 0 or the error number.
int32_t ProbeHeader(const uint8_t* h, uint32_t got, int32_t fileType, int32_t signature) {
  if (got < kZorBfHeaderSize || std::memcmp(h, kMagic, sizeof kMagic) != 0) return 36;
  if (fileType != -1 && static_cast<int32_t>(GetLE32(h + kZorBfHdrFileType)) != fileType) return 36;
  if (signature != -1 && static_cast<int32_t>(GetLE32(h + kZorBfHdrSignature)) != signature) return 36;
  if (GetLE32(h + kZorBfHdrCrash) != 0) return 32;
  const int32_t version = static_cast<int32_t>(GetLE32(h + kZorBfHdrVersion));
  if (version > 1) return 33;
  if (version < 1) return 34;
  return 0;
}

int64_t ShowOrReturn(int64_t err, bool showMsg) {
  if (!showMsg) return err;
  ZorErrDisplay(err);
  return ZorErr(1, 1000);
}

}  // namespace

// ------------------------------------------------------------ settings

int32_t ZorGetCheckLevel() { return g_checkLevel.load(); }
void ZorSetCheckLevel(int32_t level) { g_checkLevel.store(level); }
int32_t ZorGetCheckBadOpen() { return g_checkBadOpen.load(); }
void ZorSetCheckBadOpen(int32_t value) { g_checkBadOpen.store(value); }

// ------------------------------------------------------------ entries

void sZorBfBRef::Load(const void* bytes) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  pos = GetLE32(b);
  capacity = GetLE32(b + 4);
  size = GetLE32(b + 8);
  owner = static_cast<int32_t>(GetLE32(b + 12));
  cacheSlot = 0;
  type = static_cast<int16_t>(GetLE16(b + 20));
  flags = static_cast<uint8_t>(b[22] & ~ZorBfFlagMemoryOnly);
  hiPos = b[23];
}

void sZorBfBRef::Store(void* bytes) const {
  auto* b = static_cast<uint8_t*>(bytes);
  PutLE32(b, pos);
  PutLE32(b + 4, capacity);
  PutLE32(b + 8, size);
  PutLE32(b + 12, static_cast<uint32_t>(owner));
  PutLE32(b + 16, 0);
  PutLE16(b + 20, static_cast<uint16_t>(type));
  b[22] = static_cast<uint8_t>(flags & ~ZorBfFlagMemoryOnly);
  b[23] = hiPos;
}

// ------------------------------------------------------------ errors

void ZorBFile::Rep::_raiseInternal(int32_t textId, uint32_t line) const {
  string text;
  texts::Load(1, bfile::kTextGroup, textId, &text);
  throw ZorECrash(1, ZorErr(1, 13), &text, &_path, kSource, line);
}

void ZorBFile::Rep::_requireWrite() const {
  if (!IsWriteEnable()) ZorRaise(kSource, ZorErr(1, 24), &_path);
}

void ZorBFile::Rep::_sendMsg(int32_t blockId) {
  if (_state & kDoMsg)
    ZorSendMessage(bfile::kMsgFileChanged, bfile::kMsgFileChangedSub, _owner, blockId, 0, 0, 0, 0);
}

// ------------------------------------------------------------ file access

// A distant file's size is the stream's, or for a reader the size of the
// records it shows from the journal when that is larger.
uint64_t ZorBFile::Rep::_currentFileSize() {
  if (IsDistant()) return _fileSize = std::max(_stream->GetSize(), _overlaySize);
  if (_fileSize == 0) _fileSize = _stream->GetSize();
  return _fileSize;
}

void ZorBFile::Rep::_setFileSize(uint64_t size) {
  _streamSize = kUnknownSize;
  _stream->SetSize(size);
  _fileSize = size;
  _streamSize = size;
  _unsynced = true;
}

// A reader with records of the journal laid over the file reads them too,
// up to the logical size they give the file.
void ZorBFile::Rep::_readAt(uint64_t pos, void* buf, uint32_t n) {
  if (n == 0) return;
  _stream->Seek(static_cast<int64_t>(pos), ZorSeekSet);
  const uint32_t got = _stream->Read(buf, n);
  if (_overlay.Empty()) {
    if (got != n) ZorRaise(kSource, ZorErr(1, 32), &_path);
    return;
  }
  if (got != n) {
    if (pos + n > _currentFileSize()) ZorRaise(kSource, ZorErr(1, 32), &_path);
    std::memset(static_cast<uint8_t*>(buf) + got, 0, n - got);
  }
  _overlay.Patch(pos, static_cast<uint8_t*>(buf), n);
}

// After a writer died (a bad close, news of unknown extent on a shared
// file) the file may end with bytes no entry covers: blocks the dead writer
// appended for a transaction it never committed. With the whole directory
// read (and the journal applied), they are cut off.
void ZorBFile::Rep::_cutUncoveredTail() {
  uint64_t end = _dataStart();
  for (const sZorBfBRef& e : _dir)
    if (e.HasPos()) end = std::max(end, e.GetPos() + e.capacity);
  if (_currentFileSize() > end) _setFileSize(end);
}

void ZorBFile::Rep::_writeAt(uint64_t pos, const void* buf, uint32_t n) {
  if (n == 0) return;
  const uint64_t known = _streamSize;
  _streamSize = kUnknownSize;  // until the write is known to be done
  _stream->Seek(static_cast<int64_t>(pos), ZorSeekSet);
  _stream->Write(buf, n);
  if (known != kUnknownSize) _streamSize = std::max(known, pos + n);
  _unsynced = true;
}

void ZorBFile::Rep::_writeZeros(uint64_t pos, uint64_t n) {
  const uint8_t* zeros = _spaceLists()->Zeros();
  while (n > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(n, CBlockSpace::kZeroBufferSize));
    _writeAt(pos, zeros, piece);
    pos += piece;
    n -= piece;
  }
}

void ZorBFile::Rep::_osFlush() {
  _stream->Flush();
  _unsynced = false;
}

// ------------------------------------------------------------ life

ZorBFile::Rep::~Rep() {
  if (!IsOpen()) return;
  try {
    Close((_openFlags & ZorBfOpenCloseNormal) ? ZorBfCloseNormal : ZorBfCloseAbandon);
  } catch (...) {
    _releaseAll(true);
    _closeStream(ZorBfCloseAbandon);
    _clear();
  }
}

void ZorBFile::Rep::CreateOnStream(iZorStream* stream, int32_t fileType, int32_t signature, const char* creaStr) {
  uint8_t header[kZorBfHeaderSize];
  BuildHeader(header, fileType, signature, creaStr);
  stream->BeginExclusive();
  try {
    stream->SetSize(kZorBfInitialDataStart);
    stream->Seek(0, ZorSeekSet);
    stream->Write(header, kZorBfHeaderSize);
  } catch (...) {
    stream->EndExclusive();
    throw;
  }
  stream->EndExclusive();
}

void ZorBFile::Rep::Create(const ZorFsa* path, int32_t fileType, int32_t signature, const char* creaStr,
                           eZorFsaCreation creation) {
  ZorFsaCmd cmd(path);
  cmd.Create_File(creation);
  iZorStream* stream = ZorOpenStream(path, ZorPermReadWrite | ZorShareExclusive, nullptr, 0);
  try {
    CreateOnStream(stream, fileType, signature, creaStr);
    stream->Flush();
  } catch (...) {
    stream->Unlock();
    throw;
  }
  stream->Unlock();
}

int64_t ZorBFile::Rep::Is(const ZorFsa* path, bool showMsg, int32_t fileType, int32_t signature, int32_t* outType,
                     int32_t* outSignature, int64_t* outCounter) {
  ZorFsaCmd cmd(path, ZorFsaCmdQuiet);
  if (!cmd.Exists() || cmd.IsDir()) return ShowOrReturn(ZorErr(1, 41), showMsg);
  uint8_t h[kZorBfHeaderSize] = {};
  uint32_t got = 0;
  try {
    iZorStream* s = ZorOpenStream(path, ZorPermRead | ZorShareReadWrite, nullptr, 0);
    try {
      got = s->Read(h, kZorBfHeaderSize);
    } catch (...) {
      s->Unlock();
      throw;
    }
    s->Unlock();
  } catch (const ZorException& e) {
    if (showMsg) {
      e.Display();
      return ZorErr(1, 1000);
    }
    return e.GetError();
  }
  const int32_t verdict = ProbeHeader(h, got, fileType, signature);
  if (verdict != 0) return ShowOrReturn(ZorErr(1, verdict), showMsg);
  if (outType) *outType = static_cast<int32_t>(GetLE32(h + kZorBfHdrFileType));
  if (outSignature) *outSignature = static_cast<int32_t>(GetLE32(h + kZorBfHdrSignature));
  if (outCounter) *outCounter = static_cast<int64_t>(platform::GetLE64(h + kZorBfHdrUpdate));
  return 0;
}

// ------------------------------------------------------------ open

void ZorBFile::Rep::_resetState(int32_t openFlags, int32_t cacheBlocks) {
  _cacheLimit = cacheBlocks == -1 ? bfile::DefaultCacheLimit() : std::max<int32_t>(cacheBlocks, 0);
  _openFlags = openFlags;
  _state = 0;
  _fileSize = 0;
  _streamSize = kUnknownSize;
  _depth = (openFlags & ZorBfOpenNoTransaction) ? kNoTransaction : 0;
  _changedLow = 0x7FFFFFFF;
  _changedHigh = 0;
  _cachedCount = 0;
  _dirtyCount = 0;
  _msgCount = 0;
  _readDepth = 0;
  _flushing = false;
  _unsynced = false;
  _missingEntries = 0;
  _emptyPending = false;
  _txDirect = false;
  _pieceMode = false;
  _applyFailed = false;
  _screenFree = false;
  _overlay.Clear();
  _overlaySize = 0;
  _journalInfo = sZorBfJournalInfo();
  std::memset(_header, 0, sizeof _header);
}

void ZorBFile::Rep::Open(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing, int32_t openFlags,
                    int32_t cacheBlocks, int32_t fileType, int32_t signature) {
  if (IsOpen()) Close((_openFlags & ZorBfOpenCloseNormal) ? ZorBfCloseNormal : ZorBfCloseAbandon);
  _resetState(openFlags, cacheBlocks);
  _path = *path;
  uint32_t options = 0;
  if (cacheBlocks < 0) options |= ZorStmExtend;
  if (openFlags & ZorBfOpenNoTransaction) options |= ZorStmDeleteOnClose | ZorStmTemporary;
  if (openFlags & ZorBfOpenStreamOpt40000) options |= kStreamOpt40000;
  _stream = ZorOpenStream(path, access | sharing, nullptr, options);
  _ownsStream = true;
  if (path->GetPathMedia() == ZorFsaMediaCnx) _state |= kDistant;
  try {
    _openJournal(path, access, sharing);
  } catch (...) {
    _closeStream(ZorBfCloseNormal);
    _clear();
    throw;
  }
  _openCommon(openFlags, fileType, signature);
}

void ZorBFile::Rep::OpenOnStream(iZorStream* stream, const ZorFsa* pathForMessages, int32_t openFlags,
                            int32_t cacheBlocks, int32_t fileType, int32_t signature, iZorStream* journal) {
  if (IsOpen()) Close((_openFlags & ZorBfOpenCloseNormal) ? ZorBfCloseNormal : ZorBfCloseAbandon);
  _resetState(openFlags, cacheBlocks);
  if (pathForMessages) _path = *pathForMessages;
  _stream = stream;
  _ownsStream = false;
  if (journal) _journal = std::make_unique<bfile::Journal>(journal, false, bfile::JournalOwner{});
  _openCommon(openFlags, fileType, signature);
}

// Steps shared by both openings once the stream is there. A failure leaves
// the object closed (an owned stream is closed).
void ZorBFile::Rep::_openCommon(int32_t openFlags, int32_t fileType, int32_t signature) {
  try {
    if (_stream->IsDistant()) _state |= kDistant;
    if (!_stream->IsReadOnly()) _state |= kWriteEnable;
    // A distant file is read inside the stream's bracket so that the header
    // and the directory come from one committed state; the change callback
    // is registered once they are in memory.
    if (IsDistant()) _stream->BeginExclusive();
    try {
      _readHeaderAtOpen();
      _recoverJournal();
      _checkHeaderAtOpen(fileType, signature);
      _readDirectory();
      // A read-only opening marks the header image too (never written), so
      // that it sees the bad close a writable opening would.
      _screenFree = (_hdr32(kZorBfHdrState) & kZorBfStateOpenMarker) != 0;
      if (!IsDistant()) _markOpen();
      _state |= kBumpCounter;
      if (!CheckDir(nullptr) && !(openFlags & ZorBfOpenTolerant)) ZorRaise(kSource, ZorErr(1, 32), &_path);
      if (IsDistant()) {
        // A writer that died before this opening may have left blocks past
        // the end the directory knows; the stream reports nothing before
        // the callback is set. They go at the first transaction, before
        // this process appends behind them.
        _trimTailPending = IsWriteEnable();
        _stream->Command(ZorStmCmdSetChangeCallback, nullptr, reinterpret_cast<void*>(&_streamChangedThunk),
                         this, nullptr);
      }
    } catch (...) {
      if (IsDistant()) _stream->EndExclusive();
      throw;
    }
    if (IsDistant()) _stream->EndExclusive();
    _spaceLists();
    ZorRegisterPurger(_owner);
    _purgerRegistered = true;
    if (IsWriteEnable()) {
      if (_screenFree && !IsDistant() && _missingEntries == 0 && !(openFlags & ZorBfOpenTolerant)) _cutUncoveredTail();
      _setHeaderDirty();
      if (!IsDistant()) _writeHeader();
      // The raised update counter is durable before any record carries it:
      // an opening that ignores the journal then leaves a counter no record
      // carries, which is how the journal knows it is older than the file.
      if (!IsDistant() && _journaled() && !(_openFlags & ZorBfOpenNoFlush)) _osFlush();
    }
    _saveCommitted();
    _clearChanged();
  } catch (...) {
    _releaseAll(true);
    _closeStream(ZorBfCloseNormal);
    _clear();
    throw;
  }
}

void ZorBFile::Rep::_readHeaderAtOpen() {
  _stream->Seek(0, ZorSeekSet);
  uint32_t got = _stream->Read(_header, kZorBfHeaderSize);
  if (!_overlay.Empty()) {
    _overlay.Patch(0, _header, kZorBfHeaderSize);
    got = kZorBfHeaderSize;
  }
  if (got < sizeof kMagic || std::memcmp(_header, kMagic, sizeof kMagic) != 0) ZorRaise(kSource, ZorErr(1, 36), &_path);
  if (got < kZorBfHeaderSize) {
    if (!(_openFlags & ZorBfOpenTolerant)) ZorRaise(kSource, ZorErr(1, 32), &_path);
    std::memset(_header + got, 0, kZorBfHeaderSize - got);
  }
}

void ZorBFile::Rep::_checkHeaderAtOpen(int32_t fileType, int32_t signature) {
  if (_openFlags & ZorBfOpenTolerant) return;
  const int32_t version = static_cast<int32_t>(_hdr32(kZorBfHdrVersion));
  if (version > 1) ZorRaise(kSource, ZorErr(1, 33), &_path);
  if (version < 1) ZorRaise(kSource, ZorErr(1, 34), &_path);
  if (_hdr32(kZorBfHdrCrash) != 0) ZorRaise(kSource, ZorErr(1, 32), &_path);
  if (fileType != -1 && static_cast<int32_t>(_hdr32(kZorBfHdrFileType)) != fileType)
    ZorRaise(kSource, ZorErr(1, 36), &_path);
  if (signature != -1 && static_cast<int32_t>(_hdr32(kZorBfHdrSignature)) != signature)
    ZorRaise(kSource, ZorErr(1, 36), &_path);
}

void ZorBFile::Rep::_markOpen() {
  uint32_t bits = _hdr32(kZorBfHdrState);
  if (bits & kZorBfStateOpenMarker) {
    _setHdr32(kZorBfHdrBadOpen, _hdr32(kZorBfHdrBadOpen) + 1);
    if (ZorGetCheckBadOpen() != 0) bits |= kZorBfStateBadClose;
  }
  _setHdr32(kZorBfHdrState, bits | kZorBfStateOpenMarker);
}

// Reads count x 24 bytes after the header. A count that does not fit in the
// file is refused (32), or, for a tolerant opening, only the entries the
// file holds are read so that the repair tools can look at them. The header
// keeps the recorded count: the directory is shortened on disk only by the
// repair of CheckDir, which reports it, and until then nothing may add an
// entry (_resizeDirectory).
void ZorBFile::Rep::_readDirectory() {
  const uint64_t recorded = _hdr32(kZorBfHdrDirCount);
  const uint64_t size = _currentFileSize();
  const uint64_t room = size > kZorBfHeaderSize ? (size - kZorBfHeaderSize) / kZorBfEntrySize : 0;
  uint64_t count = recorded;
  _missingEntries = 0;
  if (count > kZorBfMaxEntries || count > room) {
    if (!(_openFlags & ZorBfOpenTolerant)) ZorRaise(kSource, ZorErr(1, 32), &_path);
    count = std::min<uint64_t>(std::min<uint64_t>(count, room), kZorBfMaxEntries);
    _missingEntries = static_cast<uint32_t>(recorded - count);
  }
  std::vector<uint8_t> bytes(count * kZorBfEntrySize);
  _readAt(kZorBfHeaderSize, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (_openFlags & ZorBfOpenCopyOnWrite) {
    ZorDelayPurger delay;
    _dir.assign(count, sZorBfBRef{});
    _cache.assign(count, nullptr);
  } else {
    _dir.assign(count, sZorBfBRef{});
    _cache.assign(count, nullptr);
  }
  for (size_t i = 0; i < count; ++i) _dir[i].Load(bytes.data() + i * kZorBfEntrySize);
  _writtenCount = static_cast<uint32_t>(count);
}

// ------------------------------------------------------------ close

void ZorBFile::Rep::Close(eZorBfClose mode) {
  if (!IsOpen()) return;
  std::exception_ptr failure;
  try {
    while (_depth != kNoTransaction && _depth > 0) EndTransaction();
  } catch (...) {
    failure = std::current_exception();
    _depth = 0;
  }
  try {
    // A flush that failed and was rolled back left the committed directory
    // to be written again whole (without a journal it may have overwritten
    // part of it).
    if (mode == ZorBfCloseNormal && IsWriteEnable() && !_changedIds.empty() && _depth != kNoTransaction)
      FlushTransaction();
  } catch (...) {
    failure = std::current_exception();
  }
  _releaseAll(true);
  _closeJournal(mode, &failure);
  try {
    if (mode == ZorBfCloseNormal && IsWriteEnable() && (_hdr32(kZorBfHdrState) & kZorBfStateOpenMarker)) {
      _setHdr32(kZorBfHdrState, _hdr32(kZorBfHdrState) & ~kZorBfStateOpenMarker);
      _setHeaderDirty();
      _writeHeader();
      if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
    }
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  _closeStream(mode);
  _clear();
  if (failure) std::rethrow_exception(failure);
}

// Releases every cached handle: the cache's reference and, for a dirty
// block, the dirty reference (its data are lost: only a flush writes them).
void ZorBFile::Rep::_releaseAll(bool closing) {
  if (closing && _purgerRegistered) {
    ZorUnregisterPurger(_owner);
    _purgerRegistered = false;
  }
  for (size_t i = 0; i < _dir.size(); ++i) {
    handle_t* h = _cache[i];
    if (_dir[i].flags & ZorBfFlagDirty) {
      _dir[i].flags &= static_cast<uint8_t>(~ZorBfFlagDirty);
      if (h) ZorReleaseHandle(h);
    }
    if (h) {
      _cache[i] = nullptr;
      ZorReleaseHandle(h);
    }
  }
  _cachedCount = 0;
  _dirtyCount = 0;
}

void ZorBFile::Rep::_closeStream(eZorBfClose mode) {
  if (!_stream) return;
  iZorStream* s = _stream;
  _stream = nullptr;
  if (IsDistant()) s->Command(ZorStmCmdSetChangeCallback, nullptr, nullptr, nullptr, nullptr);
  if (!_ownsStream) return;
  try {
    s->Unlock();
  } catch (...) {
  }
  if (mode == ZorBfCloseRemove && !(_openFlags & ZorBfOpenNoTransaction) && _path.IsInit()) {
    ZorFsaCmd cmd(&_path, ZorFsaCmdQuiet);
    cmd.Remove();
  }
}

void ZorBFile::Rep::_clear() {
  _stream = nullptr;
  _ownsStream = false;
  _dir.clear();
  _dir.shrink_to_fit();
  _cache.clear();
  _cache.shrink_to_fit();
  _path.Trash();
  delete _space;
  _space = nullptr;
  _journal.reset();
  _journalWrites = false;
  _trimTailPending = false;
  _journalPath.Trash();
  _overlay.Clear();
  _overlaySize = 0;
  _changedIds.clear();
  _changedMark.clear();
  _committedDir.clear();
  _state = 0;
  _cachedCount = 0;
  _dirtyCount = 0;
  _changedLow = 0x7FFFFFFF;
  _changedHigh = 0;
  _fileSize = 0;
}

}  // namespace zorvane
