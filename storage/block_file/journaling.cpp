// ZorBFile: the block file's side of its journal (journal.cpp holds the
// format, the protocol and the proof) -- opening and recovery, the commit
// of a journaled transaction, checkpoints, the rollback of a failed flush,
// closing.
//
// A copy-on-write file opened for writing commits through its journal. Its
// stream is then left as the last checkpoint wrote it, apart from block
// data that reach free extents (a large transaction, a cache that writes
// blocks out in the middle of one): the directory and the header are
// written by checkpoints only, and the in-memory directory and header are
// the truth in between. The logical size of the file (_fileSize) may pass
// the stream's: blocks appended by small transactions live in the journal
// until the checkpoint.
//
// Checkpoints: when the generation passes kCheckpointBytes, after a
// transaction that shrank the file (compaction, emptying: the stream is cut
// then), before the backup mode, at a normal close, and for a shared file
// after every commit, before the exclusive bracket ends, so that the other
// processes read the block file as usual. A shared file keeps its journal
// beside it (another process may be about to use it); whoever enters the
// bracket first after a process died finishes what that process committed.
//
// Rollback. Every flush either commits (the journal's flush returned) or
// leaves the file in memory as the last commit left it: the directory,
// header, logical size and header state bits of every commit are kept
// (_committedDir ...), and a failure before the commit point puts them back
// and drops every cached block (a caller holding one keeps its bytes). A
// file without a journal then rewrites its whole directory and header at
// the next flush, since the failed one may have written part of them.
#include <zorvane/block_file.h>

#include <zorvane/exception.h>
#include <zorvane/file_commands.h>
#include <zorvane/string.h>

#include <algorithm>
#include <cstring>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

using bfile::kSource;

namespace {

using Rep = ZorBFile::Rep;

constexpr uint64_t kSmallTransaction = 256 * 1024;  // block data a record carries
constexpr uint64_t kCheckpointBytes = 8u << 20;     // a generation this large is checkpointed

bfile::JournalOwner OwnerOf(const uint8_t* header) {
  return {platform::GetLE32(header + kZorBfHdrGuid), platform::GetLE32(header + kZorBfHdrFileType),
          platform::GetLE32(header + kZorBfHdrSignature)};
}

// Replays records into the block file's stream.
class FileSink : public bfile::RecordSink {
 public:
  explicit FileSink(Rep& f) : _f(f) {}

  void Apply(const bfile::JournalRecord& r) override {
    for (const bfile::JournalRecord::Piece& p : r.pieces) _write(p.pos, p.bytes, p.length);
    for (const bfile::JournalRecord::Entries& e : r.entries)
      _write(kZorBfHeaderSize + uint64_t(e.first - 1) * kZorBfEntrySize, e.bytes,
             static_cast<uint32_t>(e.count) * kZorBfEntrySize);
    _write(0, r.header, kZorBfHeaderSize);
    _size = r.fileSize;
    ++records;
  }

  // The stream takes the last record's size; it is cut only when allowed
  // (no transaction has appended past the committed end).
  void Finish(bool allowShrink) {
    if (records == 0) return;
    const uint64_t now = _f._stream->GetSize();
    if (now < _size || (allowShrink && now > _size)) _f._setFileSize(_size);
  }

  uint64_t records = 0;

 private:
  void _write(uint64_t pos, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    if (_f.IsDistant())
      _f._writeRange(static_cast<int64_t>(pos), bytes, n, false);
    else
      _f._writeAt(pos, bytes, n);
  }

  Rep& _f;
  uint64_t _size = 0;
};

// Replays records into what a reader sees: header, entries, logical size.
class MemorySink : public bfile::RecordSink {
 public:
  explicit MemorySink(Rep& f) : _f(f) {}

  void Apply(const bfile::JournalRecord& r) override {
    std::memcpy(_f._header, r.header, kZorBfHeaderSize);
    const uint32_t count = std::min<uint32_t>(_f._hdr32(kZorBfHdrDirCount), kZorBfMaxEntries);
    for (int32_t id = static_cast<int32_t>(count) + 1; id <= _f._dirCount(); ++id) _f._dropCached(id);
    _f._dir.resize(count);
    _f._cache.resize(count, nullptr);
    for (const bfile::JournalRecord::Entries& e : r.entries) {
      for (int32_t i = 0; i < e.count && e.first + i <= static_cast<int32_t>(count); ++i) {
        const int32_t id = e.first + i;
        if (_f._cached(id)) _f._dropCached(id);
        _f._entry(id).Load(e.bytes + size_t(i) * kZorBfEntrySize);
      }
    }
    size = r.fileSize;
    ++records;
  }

  uint64_t records = 0;
  uint64_t size = 0;

 private:
  Rep& _f;
};

}  // namespace

// ------------------------------------------------------------ opening

// The journal beside a file opened by path. A writer that journals creates
// it; anyone else uses it when it is there (a reader that cannot open it
// reads the file as it stands).
void Rep::_openJournal(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing) {
  if ((_openFlags & ZorBfOpenNoTransaction) || !path->IsInit()) return;
  string sys;
  const std::string name = std::string(path->GetSysPath(&sys)) + kZorBfJournalSuffix;
  _journalPath = ZorFsa(name.c_str());
  const bool writes = !_stream->IsReadOnly() && (_openFlags & ZorBfOpenCopyOnWrite);
  ZorFsaCmd cmd(&_journalPath, ZorFsaCmdQuiet);
  if (!cmd.Exists()) {
    if (!writes) return;
    cmd.Create_File(ZorFsaOpenAlways);
  }
  iZorStream* s = ZorOpenStream(&_journalPath, access | sharing, nullptr, ZorStmNotShared | (writes ? 0 : ZorStmNoRaise));
  if (s) _journal = std::make_unique<bfile::Journal>(s, true, bfile::JournalOwner{});
}

// Runs with the header read (and, for a shared file, inside the bracket): a
// writer puts into the block file what the journal holds and the file does
// not; a reader's view gets it after the directory is read (_applyOverlay).
void Rep::_recoverJournal() {
  if (!_journal) return;
  _journal->SetOwner(OwnerOf(_header));
  _journalWrites = IsWriteEnable() && (_openFlags & ZorBfOpenCopyOnWrite) && _depth != kNoTransaction;
  _journalInfo.exists = true;
  if (!IsWriteEnable()) return;
  FileSink sink(*this);
  const bfile::JournalScan scan = _journal->Scan(&sink, bfile::Journal::kUnapplied, false);
  _journalInfo.foreign = scan.state == bfile::JournalScan::kForeign;
  _journalInfo.records = static_cast<int64_t>(scan.records);
  _journalInfo.pending = static_cast<int64_t>(sink.records);
  _journalInfo.bytes = static_cast<int64_t>(scan.bytes);
  _journalInfo.tornTail = scan.tornTail;
  _journalInfo.applied = sink.records != 0;
  const bool flush = !(_openFlags & ZorBfOpenNoFlush);
  if (sink.records) {
    sink.Finish(true);
    if (flush) _osFlush();
    _fileSize = 0;
    _readHeaderAtOpen();
    _journal->SetOwner(OwnerOf(_header));
  }
  if (IsDistant()) {
    _journal->MarkApplied();
  } else if (_journalWrites) {
    if (scan.state != bfile::JournalScan::kEmpty || scan.tornTail) _journal->Invalidate(flush);
  } else {
    // A local file that no longer journals: the journal goes.
    if (scan.state == bfile::JournalScan::kValid) _journal->Invalidate(flush);
    _journal.reset();
    if (_journalPath.IsInit()) ZorFsaCmd(&_journalPath, ZorFsaCmdQuiet).Remove();
  }
}

// A reader's view: the header and entries of the records the block file
// lacks, over those read from it; their blocks' data come from the
// journal (_readData).
bool Rep::_applyOverlay() {
  if (!_journal || IsWriteEnable()) return false;
  MemorySink sink(*this);
  const bfile::JournalScan scan = _journal->Scan(&sink, bfile::Journal::kUnapplied, true);
  _overlaySize = sink.records ? sink.size : 0;
  if (sink.records) _fileSize = sink.size;
  _journalInfo.foreign = scan.state == bfile::JournalScan::kForeign;
  _journalInfo.records = static_cast<int64_t>(scan.records);
  _journalInfo.pending = static_cast<int64_t>(sink.records);
  _journalInfo.bytes = static_cast<int64_t>(scan.bytes);
  _journalInfo.tornTail = scan.tornTail;
  _journalInfo.applied = sink.records != 0;
  return sink.records != 0;
}

// A shared file, on entering the bracket: what another process (or this
// one, when its checkpoint failed) committed and did not put into the file.
void Rep::_catchUpJournal(bool* everything) {
  if (!_journal || !IsWriteEnable() || !_journal->HeaderMoved() && !_journal->HasUnapplied()) return;
  uint8_t header[kZorBfHeaderSize];
  _readAt(0, header, kZorBfHeaderSize);
  _journal->SetOwner(OwnerOf(header));
  FileSink sink(*this);
  _journal->Scan(&sink, bfile::Journal::kUnapplied, false);
  if (sink.records == 0) return;
  sink.Finish(true);
  if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
  _journal->MarkApplied();
  *everything = true;
}

void Rep::GetJournalInfo(sZorBfJournalInfo* out) const { *out = _journalInfo; }

// ------------------------------------------------------------ reading

void Rep::_readData(uint64_t pos, void* buf, uint32_t n) {
  uint64_t at = 0;
  if (n != 0 && _journal && _journal->FindPiece(pos, n, &at)) {
    if (!_journal->ReadAt(at, buf, n)) ZorRaise(kSource, ZorErr(1, 32), &_journalPath);
    return;
  }
  _readAt(pos, buf, n);
}

// ------------------------------------------------------------ commit

uint64_t Rep::_dirtyBytes() const {
  uint64_t bytes = 0;
  for (const int32_t id : _changedIds) {
    if (id > _dirCount() || !(_entry(id).flags & ZorBfFlagDirty)) continue;
    if (const handle_t* h = _cached(id)) bytes += ZorGetHandleSize(h);
  }
  return bytes;
}

void Rep::_notePiece(uint64_t pos, const void* data, uint32_t n) {
  if (!_journal->Building()) _journal->Begin();
  _journal->AddPiece(pos, data, n);
}

// The changed entries, as runs of consecutive ids.
void Rep::_addRuns() {
  std::vector<int32_t> ids;
  ids.reserve(_changedIds.size());
  for (const int32_t id : _changedIds)
    if (id <= _dirCount()) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < ids.size();) {
    size_t j = i + 1;
    while (j < ids.size() && ids[j] == ids[j - 1] + 1) ++j;
    bytes.resize((j - i) * kZorBfEntrySize);
    for (size_t k = i; k < j; ++k) _entry(ids[k]).Store(bytes.data() + (k - i) * kZorBfEntrySize);
    _journal->AddEntries(ids[i], static_cast<int32_t>(j - i), bytes.data());
    i = j;
  }
}

// The flush of a journaled file (the protocol of journal.cpp). Nothing
// before the journal's flush changes what the block file holds in its
// committed extents; anything raised before it is rolled back by the caller.
void Rep::_commitJournaled() {
  const bool emptied = _commitEmptyFile();
  _pieceMode = !_txDirect && _dirtyBytes() <= kSmallTransaction;
  struct Off {
    bool& flag;
    ~Off() { flag = false; }
  } off{_pieceMode};
  _flushDirtyBlocks();
  _releaseAtFlush();
  _growReservedArea();
  _pieceMode = false;
  if (_changedIds.empty() && !(_state & kHeaderDirty) && !_journal->Building() && !emptied) return;
  const bool flush = !(_openFlags & ZorBfOpenNoFlush);
  // Data written into the block file are durable before the record that
  // points to them.
  if (_txDirect && flush && _unsynced) _osFlush();
  _prepareHeaderWrite();
  if (!_journal->Building()) _journal->Begin();
  _addRuns();
  _journal->Commit(_header, _currentFileSize(), flush);
  // Committed.
  _state &= ~kHeaderDirty;
  const bool shrank = _currentFileSize() < _committedSize;
  _noteCommitted();
  if (!IsDistant() && !shrank && !emptied && _journal->GenerationBytes() < kCheckpointBytes) return;
  try {
    _checkpoint(true);
  } catch (const ZorEBasic& e) {
    // The transaction stands; the journal keeps it until a checkpoint
    // succeeds (the next one, or the next opening).
    ZorDebugPrintExc(&e);
  }
}

// Puts the generation into the block file and makes it durable there.
void Rep::_checkpoint(bool allowShrink) {
  if (!_journaled() || !_journal->HasUnapplied()) return;
  FileSink sink(*this);
  _journal->Scan(&sink, bfile::Journal::kUnapplied, false);
  sink.Finish(allowShrink);
  if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
  _journal->SetOwner(OwnerOf(_committedHeader));
  _journal->MarkApplied();
}

// ------------------------------------------------------------ rollback

void Rep::_clearChanged() {
  for (const int32_t id : _changedIds)
    if (static_cast<size_t>(id) <= _changedMark.size()) _changedMark[static_cast<size_t>(id - 1)] = 0;
  _changedIds.clear();
  _changedLow = 0x7FFFFFFF;
  _changedHigh = 0;
}

void Rep::_saveCommitted() {
  _committedDir = _dir;
  for (sZorBfBRef& e : _committedDir) e.flags &= static_cast<uint8_t>(~ZorBfFlagMemoryOnly);
  std::memcpy(_committedHeader, _header, kZorBfHeaderSize);
  _committedSize = _fileSize;
  _committedState = _state & (kHeaderDirty | kBumpCounter);
}

void Rep::_noteCommitted() {
  if (_changedIds.size() * 8 > _dir.size() || _committedDir.size() > _dir.size()) {
    _committedDir.resize(_dir.size());
    for (size_t i = 0; i < _dir.size(); ++i) {
      _committedDir[i] = _dir[i];
      _committedDir[i].flags &= static_cast<uint8_t>(~ZorBfFlagMemoryOnly);
    }
  } else {
    _committedDir.resize(_dir.size());
    for (const int32_t id : _changedIds) {
      if (id > _dirCount()) continue;
      sZorBfBRef& e = _committedDir[static_cast<size_t>(id - 1)];
      e = _entry(id);
      e.flags &= static_cast<uint8_t>(~ZorBfFlagMemoryOnly);
    }
  }
  std::memcpy(_committedHeader, _header, kZorBfHeaderSize);
  _committedSize = _fileSize;
  _committedState = _state & (kHeaderDirty | kBumpCounter);
  _clearChanged();
  _txDirect = false;
}

void Rep::_rollback() {
  if (_journal) _journal->Abandon();
  _releaseAll(false);
  _dir = _committedDir;
  _cache.assign(_dir.size(), nullptr);
  std::memcpy(_header, _committedHeader, kZorBfHeaderSize);
  _state = (_state & ~(kHeaderDirty | kBumpCounter)) | _committedState;
  _emptyPending = false;
  _txDirect = false;
  _pieceMode = false;
  _clearChanged();
  _dropFreeLists();
  if (_space) _space->CompactRecency([](int32_t) { return false; });
  if (_journaled()) {
    _fileSize = _committedSize;
    return;
  }
  // The failed flush may have written some of the directory and the header
  // in place: the next one writes them whole, and asks the stream its size.
  _fileSize = 0;
  for (int32_t id = 1; id <= _dirCount(); ++id) _recordChange(id);
  _setHeaderDirty();
}

// ------------------------------------------------------------ closing

// A normal close of a local file checkpoints, then removes the journal
// (zeroed first, so that a removal the file system loses in a crash never
// brings old records back). An abandoned file keeps it for the next
// opening; a shared file keeps it for the other processes.
void Rep::_closeJournal(eZorBfClose mode, std::exception_ptr* failure) {
  if (!_journal) return;
  bool done = false;
  if (_journaled() && mode != ZorBfCloseAbandon) {
    try {
      _checkpoint(true);
      if (!IsDistant()) _journal->Invalidate(!(_openFlags & ZorBfOpenNoFlush));
      done = true;
    } catch (...) {
      if (!*failure) *failure = std::current_exception();
    }
  }
  _journal.reset();
  _journalWrites = false;
  const bool remove = mode == ZorBfCloseRemove || (done && !IsDistant());
  if (remove && _journalPath.IsInit()) ZorFsaCmd(&_journalPath, ZorFsaCmdQuiet).Remove();
}

}  // namespace zorvane
