// ZorBFile: the block file's side of its journal (journal.cpp holds the
// format, the protocol and the proof) -- opening and recovery, the commit
// of a journaled transaction, checkpoints, the rollback of a failed flush,
// closing.
//
// A copy-on-write file opened for writing, in transactions, commits
// through its journal. Checkpoints: when the generation passes
// kCheckpointBytes, after a transaction that shrank the file (compaction,
// emptying), before the header is written outside a commit, at a normal
// close, and for a shared file after every commit, before the exclusive
// bracket ends. A shared file keeps its journal beside it (another process
// may be about to use it); whoever enters the bracket first after a process
// died finishes what that process committed.
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
using bfile::OwnerOf;

namespace {

using Rep = ZorBFile::Rep;

constexpr uint64_t kSmallTransaction = 256 * 1024;  // block data a record carries
constexpr uint64_t kCheckpointBytes = 8u << 20;     // a generation this large is checkpointed

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

}  // namespace

// ------------------------------------------------------------ opening

// The journal beside a file opened by path. A writer that journals creates
// it; anyone else uses it when it is there (a reader that cannot open it
// reads the file as it stands).
void Rep::_openJournal(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing) {
  if (!path->IsInit()) return;
  string sys;
  const std::string name = std::string(path->GetSysPath(&sys)) + kZorBfJournalSuffix;
  _journalPath = ZorFsa(name.c_str());
  const bool writes = !_stream->IsReadOnly() && (_openFlags & ZorBfOpenCopyOnWrite);
  ZorFsaCmd cmd(&_journalPath, ZorFsaCmdQuiet);
  if (!cmd.Exists()) {
    if (!writes) return;
    cmd.Create_File(ZorFsaOpenAlways);
  }
  iZorStream* s = ZorOpenStream(&_journalPath, access | sharing, nullptr, ZorStmNotShared | (writes ? 0u : static_cast<uint32_t>(ZorStmNoRaise)));
  if (s) _journal = std::make_unique<bfile::Journal>(s, true, bfile::JournalOwner{});
}

// Runs with the header read (and, for a shared file, inside the bracket),
// before anything reads the directory: a writer puts into the block file
// what the journal holds and the file does not, and makes it durable; a
// reader lays it over what it reads (the journal stays for a writer).
void Rep::_recoverJournal() {
  if (!_journal) return;
  _journal->SetOwner(OwnerOf(_header));
  _journalWrites = IsWriteEnable() && (_openFlags & ZorBfOpenCopyOnWrite) && _depth != kNoTransaction;
  _journalInfo.exists = true;
  FileSink fileSink(*this);
  bfile::OverlaySink overlaySink(_overlay);
  bfile::RecordSink* sink = IsWriteEnable() ? static_cast<bfile::RecordSink*>(&fileSink) : &overlaySink;
  const bfile::JournalScan scan = _journal->Scan(sink, bfile::Journal::kUnapplied);
  const uint64_t replayed = IsWriteEnable() ? fileSink.records : overlaySink.records;
  _journalInfo.foreign = scan.state == bfile::JournalScan::kForeign;
  _journalInfo.stale = scan.state == bfile::JournalScan::kStale;
  _journalInfo.cut = scan.state == bfile::JournalScan::kCut;
  _journalInfo.records = static_cast<int64_t>(scan.records);
  _journalInfo.pending = static_cast<int64_t>(replayed);
  _journalInfo.bytes = static_cast<int64_t>(scan.bytes);
  _journalInfo.tornTail = scan.tornTail;
  _journalInfo.applied = replayed != 0;
  if (!IsWriteEnable()) {
    if (replayed) {
      _overlaySize = overlaySink.size;
      _fileSize = std::max(_stream->GetSize(), _overlaySize);
      _readHeaderAtOpen();
    }
    return;
  }
  const bool flush = !(_openFlags & ZorBfOpenNoFlush);
  if (replayed) {
    fileSink.Finish(true);
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

// A shared file, on entering the bracket: what another process (or this
// one, when its checkpoint failed) committed and did not put into the file.
void Rep::_catchUpJournal(bool* everything) {
  if (!_journal || !IsWriteEnable() || (!_journal->HeaderMoved() && !_journal->HasUnapplied())) return;
  uint8_t header[kZorBfHeaderSize];
  _readAt(0, header, kZorBfHeaderSize);
  _journal->SetOwner(OwnerOf(header));
  FileSink sink(*this);
  _journal->Scan(&sink, bfile::Journal::kUnapplied);
  if (sink.records == 0) return;
  sink.Finish(true);
  if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
  _journal->MarkApplied();
  *everything = true;
}

void Rep::GetJournalInfo(sZorBfJournalInfo* out) const { *out = _journalInfo; }

// ------------------------------------------------------------ commit

uint64_t Rep::_dirtyBytes() const {
  uint64_t bytes = 0;
  for (const int32_t id : _changedIds) {
    if (id > _dirCount() || !(_entry(id).flags & ZorBfFlagDirty)) continue;
    if (const handle_t* h = _cached(id)) bytes += ZorGetHandleSize(h);
  }
  return bytes;
}

// Every write of block data into the block file passes here: during the
// flush of a small transaction the bytes also go into its record; any other
// write makes the transaction direct (its data are flushed before its
// record, and the record opens a new generation).
void Rep::_noteData(uint64_t pos, const void* data, uint32_t n) {
  if (!_journaled() || n == 0) return;
  if (!_pieceMode) {
    _txDirect = true;
    return;
  }
  if (!_journal->Building()) _journal->Begin();
  _journal->AddPiece(pos, data, n);
}

// The changed entries in id order, as runs of consecutive ids (first,
// count). The changed ids are sorted in place, once per flush.
template <class Run>
void Rep::_forEachRun(Run run) {
  if (!std::is_sorted(_changedIds.begin(), _changedIds.end())) std::sort(_changedIds.begin(), _changedIds.end());
  const auto end = std::upper_bound(_changedIds.begin(), _changedIds.end(), _dirCount());
  for (auto i = _changedIds.begin(); i != end;) {
    auto j = i + 1;
    while (j != end && *j == *(j - 1) + 1) ++j;
    run(*i, static_cast<int32_t>(j - i));
    i = j;
  }
}

// The flush of a journaled file (the protocol of journal.cpp). Nothing
// before the journal's flush touches an extent or entry of the committed
// state; anything raised before it is rolled back by the caller.
void Rep::_commitJournaled() {
  const bool emptied = _commitEmptyFile();
  const bool flush = !(_openFlags & ZorBfOpenNoFlush);
  // Without OS flushes only a killed process is covered, and the block
  // file keeps every write it made: block data need no second copy.
  _pieceMode = flush && !_txDirect && _dirtyBytes() <= kSmallTransaction;
  struct Off {
    bool& flag;
    ~Off() { flag = false; }
  } off{_pieceMode};
  _flushDirtyBlocks();
  _releaseAtFlush();
  _growReservedArea();
  _pieceMode = false;
  _coverFileSize();
  if (_changedIds.empty() && !(_state & kHeaderDirty) && !_journal->Building() && !emptied) return;
  if (_txDirect && flush) {
    // Data in the block file are durable before the record that points to
    // them; the same flush makes every record of the generation durable
    // there, so the record opens a new one.
    if (_unsynced) _osFlush();
    _journal->MarkApplied();
  }
  _prepareHeaderWrite();
  if (!_journal->Building()) _journal->Begin();
  std::vector<uint8_t> bytes;
  _forEachRun([&](int32_t first, int32_t count) {
    bytes.resize(size_t(count) * kZorBfEntrySize);
    for (int32_t k = 0; k < count; ++k) _entry(first + k).Store(bytes.data() + size_t(k) * kZorBfEntrySize);
    _journal->AddEntries(first, count, bytes.data());
  });
  // The header on disk is the last commit's (or an older one's, when only
  // emptying lowered the counter since and a flush made that durable).
  _journal->Commit(_header, _currentFileSize(), flush, platform::GetLE64(_committedHeader + kZorBfHdrUpdate));
  // Committed: from here on a failure leaves the block file behind the
  // journal, which the next checkpoint (or opening) replays.
  _state &= ~kHeaderDirty;
  _writtenCount = _hdr32(kZorBfHdrDirCount);
  const bool shrank = _currentFileSize() < _committedSize;
  try {
    _applyCommitted();
    if (emptied) _setFileSize(kZorBfInitialDataStart);
  } catch (const ZorEBasic& e) {
    _applyFailed = true;
    ZorDebugPrintExc(&e);
  }
  _noteCommitted();
  _sendMsg(0);
  if (!IsDistant() && !shrank && !emptied && !_applyFailed && _journal->GenerationBytes() < kCheckpointBytes) return;
  try {
    _checkpoint();
  } catch (const ZorEBasic& e) {
    // The transaction stands; the journal keeps it until a checkpoint
    // succeeds (the next one, or the next opening).
    ZorDebugPrintExc(&e);
  }
}

// The committed directory entries and header, written where they live (no
// flush: the journal holds them). Runs 16 KiB or less apart go out as one
// write with the entries between them, which hold their committed values
// (copying a few pages costs less than a system call): a transaction that
// touches entries all over the directory costs a few writes, not one per
// entry.
void Rep::_applyCommitted() {
  constexpr int32_t kGap = 16384 / kZorBfEntrySize;
  int32_t low = 0, high = -1;
  _forEachRun([&](int32_t first, int32_t count) {
    if (high >= 0 && first - high - 1 > kGap) {
      _writeEntries(low, high);
      high = -1;
    }
    if (high < 0) low = first;
    high = first + count - 1;
  });
  if (high >= 0) _writeEntries(low, high);
  if (IsDistant())
    _writeRange(0, _header, kZorBfHeaderSize, false);
  else
    _writeAt(0, _header, kZorBfHeaderSize);
}

// Makes the committed state durable in the block file: the next record
// opens a new generation. A block file that missed a record's application
// gets the generation replayed first.
void Rep::_checkpoint() {
  if (!_journaled()) return;
  if (_applyFailed) {
    // The journal is this opening's own: its last record holds the
    // committed header, whatever the failed writes left on disk.
    _journal->SetOwner(OwnerOf(_committedHeader));
    FileSink sink(*this);
    _journal->Scan(&sink, 0);
    sink.Finish(true);
  }
  if (!(_openFlags & ZorBfOpenNoFlush) && _unsynced) _osFlush();
  _applyFailed = false;
  _journal->MarkApplied();
}

// Before the header is written outside a commit (compaction's crash
// counter, the backup mode, closing): the block file holds everything
// durably and the journal holds nothing that a replay could put over it.
void Rep::_settleJournal() {
  if (!_journaled()) return;
  _checkpoint();
  _journal->Invalidate(!(_openFlags & ZorBfOpenNoFlush));
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
      if (IsDistant())
        _checkpoint();
      else
        _settleJournal();
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
