// ZorBFile::Rep, the block file behind its public face, and the helpers its
// source files share.
//
// ZorBFile holds nothing but a pointer to its Rep and forwards every member
// to it (block_file.cpp); the Rep carries the state of the open file and
// the code that works on it, spread over this folder by concept: opening
// and closing (open_close.cpp), the header (header.cpp), the block
// operations (blocks.cpp), the cache (cache.cpp), the free lists
// (block_space.cpp), transactions (transactions.cpp), distant files
// (distant_sharing.cpp) and the maintenance (compaction.cpp, checks.cpp,
// salvage.cpp). The members keep the underscore of members private to
// these sources; only they and the white-box tests include this header.
//
// The Rep keeps a pointer to its ZorBFile for what the outside sees of the
// file: the change messages carry it, and it is the purger the memory
// manager calls. A copy-on-write file that may write has a side journal
// (journal.cpp: the format and the proof; journaling.cpp: the block file's
// use of it).
#pragma once

#include <zorvane/block_file.h>

#include <exception>
#include <memory>
#include <vector>

#include "storage/block_file/journal.h"

// Hidden, for the library and for the tests that include this header:
// nothing outside the library calls into the representation.
#pragma GCC visibility push(hidden)

namespace zorvane {

class CBlockSpace;

struct __attribute__((visibility("hidden"))) ZorBFile::Rep {
  explicit Rep(ZorBFile* owner) : _owner(owner) {}
  Rep(const Rep&) = delete;
  Rep& operator=(const Rep&) = delete;
  // Closes an open file: mode 0 with ZorBfOpenCloseNormal, else mode 1.
  ~Rep();

  static Rep& Of(ZorBFile& file) { return *file._rep; }

  // ------------------------------------------------------------ the operations
  // Those of ZorBFile, under the same names (see zorvane/block_file.h).
  static void CreateOnStream(iZorStream* stream, int32_t fileType, int32_t signature, const char* creaStr);
  static void Create(const ZorFsa* path, int32_t fileType, int32_t signature, const char* creaStr,
                     eZorFsaCreation creation);
  static int64_t Is(const ZorFsa* path, bool showMsg, int32_t fileType, int32_t signature, int32_t* outType,
                    int32_t* outSignature, int64_t* outCounter);
  static void Salvage(const ZorFsa* in, const ZorFsa* out, ZorVerif* report, ZorProgress* display,
                      sZorBfSalvage* result);

  void Open(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing, int32_t openFlags,
            int32_t cacheBlocks, int32_t fileType, int32_t signature);
  void OpenOnStream(iZorStream* stream, const ZorFsa* pathForMessages, int32_t openFlags, int32_t cacheBlocks,
                    int32_t fileType, int32_t signature, iZorStream* journal);
  void GetJournalInfo(sZorBfJournalInfo* out) const;
  void Close(eZorBfClose mode);
  bool IsOpen() const { return _stream != nullptr; }
  bool IsWriteEnable() const { return (_state & kWriteEnable) != 0; }
  bool IsDistant() const { return (_state & kDistant) != 0; }
  bool WasOpen() const { return (_state & kWasOpen) != 0; }

  int32_t GetFType() const;
  int32_t GetFGuId() const;
  int32_t GetSignature() const;
  int32_t GetUserRel() const;
  const char* GetCreaStr(string* dst) const;
  int32_t GetUserData(int32_t index) const;
  void GetUserArray(int32_t* out64) const;
  void SetFType(int32_t value);
  void SetFGuId(int32_t value);
  void SetSignature(int32_t value);
  void SetUserRel(int32_t value);
  void SetCreaStr(const char* text);
  void SetUserData(int32_t index, int32_t value);
  void SetUserArray(const int32_t* in64);
  uint64_t GetUpdateCounter() const;

  int32_t GetCrashFlag(bool reset);
  bool IsBadClose(bool reset);
  int32_t BadOpenCount(bool reset);
  void SetSecuFlag();
  void ClrSecuFlag();
  iZorStream* SetModeBackup(bool backup);
  void SetDoMsg(bool on);

  void StartTransaction();
  void EndTransaction();
  void FlushTransaction();
  void Unlock();

  int32_t BCreate(ZorHandle* data, int32_t owner, int16_t type, uint32_t reserve, bool compact);
  void BRead(int32_t id, ZorHandle* out);
  void BReadCopy(int32_t id, ZorHandle* out);
  bool BReadPart(int32_t id, uint32_t offset, uint32_t len, void* out);
  void BWrite(int32_t id, int32_t reserve);
  void BWriteCopy(int32_t id, ZorHandle* data, int32_t reserve);
  int32_t BDuplicate(int32_t id, int32_t owner, int16_t type, uint32_t reserve);
  void BDelete(int32_t id);
  void BMultiDelete(int32_t owner, int16_t type);
  void BRangeDelete(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo);
  int32_t BUsed(int32_t id);
  bool BExist(int32_t id, int32_t* count);
  int32_t BGetSize(int32_t id);
  void BUncach(int32_t id);
  void BMultiUncach(int32_t owner, int16_t type);
  bool BIsCompact(int32_t id);
  void BSetCompact(int32_t id, bool compact, int32_t owner, int16_t type);
  void BSetOwner(int32_t id, int32_t owner);
  void BSetType(int32_t id, int16_t type);
  void BChangeOwner(int32_t oldOwner, int32_t newOwner, int16_t typeLow, int16_t typeHigh);
  void BChangeType(int16_t oldType, int16_t newType, int32_t ownerLow, int32_t ownerHigh);
  int32_t BGetOTBlockId(int32_t owner, int16_t type, int32_t need);
  void BGetID(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo, ZorBGet* out, int32_t offset,
              bool zero);
  void EmptyFile(bool resetCounter);
  int32_t GetNbBlock(int32_t* freeWithSpace, int32_t* emptySlots);
  bool GetBlockInfo(int32_t id, int32_t* owner, int16_t* type, int32_t* size, uint32_t* capacity,
                    uint8_t* flags);
  bool GetEntry(int32_t id, sZorBfBRef* out) const;
  uint64_t GetSize(int32_t* dirBytes, int32_t* usedBytes, uint32_t* reservedBytes);

  bool NeedCompact(eZorBfCompact mode);
  bool Compact(eZorBfCompact mode, bool showMsg, bool showProgress, ZorProgress* display);
  bool CheckDir(ZorVerif* verif);
  bool CheckBlockOwnerType(ZorVerif* verif);
  bool CheckLostSpace(ZorVerif* verif);
  bool CheckCrossBlock(ZorVerif* verif);

  bool Purge(int32_t bytes);

  // ------------------------------------------------------------ the inside

  // State bits.
  enum : uint32_t {
    kHeaderDirty = 0x01,
    kBumpCounter = 0x02,
    kWasOpen = 0x04,
    kWriteEnable = 0x08,
    kDistant = 0x10,
    kDoMsg = 0x40,
  };
  static constexpr int32_t kNoTransaction = 0x7FFFFFFF;

  // ---- errors and messages (open_close.cpp)
  // ZorECrash (1, 13) with catalogue text 1 ("erreur interne") or 2
  // ("internal error") of the block file's group; the line is the caller's.
  [[noreturn]] void _raiseInternal(int32_t textId, uint32_t line = __builtin_LINE()) const;
  void _requireWrite() const;  // 24 unless write enabled
  void _sendMsg(int32_t blockId);

  // ---- open / close (open_close.cpp)
  void _openCommon(int32_t openFlags, int32_t fileType, int32_t signature);
  void _resetState(int32_t openFlags, int32_t cacheBlocks);
  void _readHeaderAtOpen();
  void _checkHeaderAtOpen(int32_t fileType, int32_t signature);
  void _markOpen();
  void _readDirectory();
  void _releaseAll(bool closing);
  void _closeStream(eZorBfClose mode);
  void _clear();

  // ---- header image (header.cpp)
  uint32_t _hdr32(uint32_t offset) const;
  void _setHdr32(uint32_t offset, uint32_t value);
  void _setHdrValue(uint32_t offset, int32_t value);  // setter helper: lock, store, dirty
  void _setHeaderDirty() { _state |= kHeaderDirty; }
  void _writeHeader();
  uint32_t _dataStart() const { return _hdr32(kZorBfHdrDataStart); }

  // ---- directory (blocks.cpp)
  int32_t _dirCount() const { return static_cast<int32_t>(_dir.size()); }
  sZorBfBRef& _entry(int32_t id) { return _dir[static_cast<size_t>(id - 1)]; }
  const sZorBfBRef& _entry(int32_t id) const { return _dir[static_cast<size_t>(id - 1)]; }
  bool _validId(int32_t id) const { return id >= 1 && id <= _dirCount(); }
  bool _isUsed(int32_t id) const { return _validId(id) && !_entry(id).IsFree(); }
  // Raises 23 (unless the check level is 2 or more) when id is not a used
  // entry (or, allowFree, not a valid one); returns whether to go on.
  bool _checkId(int32_t id, bool allowFree) const;
  int32_t _appendEntry();  // a new empty entry; 16 past the limit
  void _resizeDirectory(int32_t count);
  void _recordChange(int32_t id);
  void _freeEntry(int32_t id);  // the deletion algorithm
  void _releaseDataArea();      // EmptyFile under copy-on-write
  bool _commitEmptyFile();      // at the flush: true when the file is to be cut
  uint32_t _roundCapacity(uint64_t capacity) const;
  int32_t _findSpace(uint32_t need);  // CBlockSpace lookup, damaged extents refused
  int32_t _findOrMakeEntry(uint32_t need, bool allowSplit);
  void _moveGrownBlock(int32_t id, uint32_t newCapacity);

  // ---- file access (open_close.cpp)
  uint64_t _currentFileSize();
  void _setFileSize(uint64_t size);  // the stream's size and the cached size
  void _readAt(uint64_t pos, void* buf, uint32_t n);
  void _writeAt(uint64_t pos, const void* buf, uint32_t n);
  void _writeZeros(uint64_t pos, uint64_t n);
  void _osFlush();

  // ---- cache (cache.cpp)
  handle_t* _cached(int32_t id) const { return _cache[static_cast<size_t>(id - 1)]; }
  handle_t* _loadBlock(int32_t id);  // cached handle, reading it when needed
  void _setCached(int32_t id, handle_t* h);
  void _makeRoom();
  void _touch(int32_t id);
  void _uncache(int32_t id);  // the uncaching rule
  void _dropCached(int32_t id);  // releases the cache's references, forgets dirtiness
  void _writeBlock(int32_t id);  // writing one dirty block
  void _writeSorted(std::vector<int32_t>& ids);
  void _markDirty(int32_t id);
  void _placeCopyOnWrite(int32_t id);
  uint64_t _appendPoint();  // end of file, extended to data start first
  uint64_t _placeAppend(int32_t id);  // the padding the caller writes
  struct BlockOut {  // what writing one block puts where
    uint64_t pos = 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint64_t pad = 0;  // zeros after the data (a block appended with spare room)
  };
  BlockOut _prepareWrite(int32_t id);
  void _writeOut(const BlockOut& out);
  void _finishWrite(int32_t id);
  bool _flushDirtyBlocks();  // true when something was written
  void _releaseAtFlush();
  bool _growReservedArea();  // true when blocks were moved
  void _moveBlockToEnd(int32_t id);
  void _writeEntries(int32_t low, int32_t high);
  void _writeDirectoryRange(uint32_t oldDataStart);
  void _prepareHeaderWrite();
  void _writeHeaderWithEntries(int32_t high);  // one write: header + entries 1..high
  void _flushInPlace();
  void _coverFileSize();
  void _barrier();  // copy-on-write: data durable before the directory

  // ---- journal (journaling.cpp)
  bool _journaled() const { return _journal != nullptr && _journalWrites; }
  void _openJournal(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing);
  void _recoverJournal();
  void _closeJournal(eZorBfClose mode, std::exception_ptr* failure);
  void _catchUpJournal(bool* everything);
  void _commitJournaled();
  void _applyCommitted();
  void _checkpoint();
  void _settleJournal();
  void _noteData(uint64_t pos, const void* data, uint32_t n);
  uint64_t _dirtyBytes() const;
  template <class Run>
  void _forEachRun(Run run);
  // The last committed state, for the rollback of a failed flush.
  void _saveCommitted();
  void _noteCommitted();
  void _rollback();
  void _clearChanged();

  // ---- free space (block_space.cpp)
  CBlockSpace* _spaceLists();
  void _dropFreeLists();
  void _addFreeSpace(int32_t id);
  void _addEmptySlot(int32_t id);

  // ---- distant files (distant_sharing.cpp)
  static void _streamChangedThunk(void* context, iZorStream* stream, bool everything);
  void _onStreamChanged(bool everything);
  // After news of unknown extent, once what the journal holds is in the file.
  void _trimDeadWritersTail();
  void _cutUncoveredTail();  // a dead writer's uncommitted blocks at the end of the file
  bool _writeRange(int64_t pos, const void* data, uint32_t n, bool compareOnly);
  void _reloadBlock(int32_t id);
  // A distant file outside any transaction: reads run inside the stream's
  // bracket so that the change callback revalidates first.
  bool _beginRead() const;  // true when a bracket was begun
  void _endRead() const;
  struct _readScope {
    const Rep* f;
    bool began;
    explicit _readScope(const Rep* file) : f(file), began(file->_beginRead()) {}
    ~_readScope() {
      if (began) f->_endRead();
    }
    _readScope(const _readScope&) = delete;
    _readScope& operator=(const _readScope&) = delete;
  };

  ZorBFile* const _owner;
  ZorFsa _path;
  iZorStream* _stream = nullptr;
  bool _ownsStream = false;
  uint8_t _header[kZorBfHeaderSize] = {};
  std::vector<sZorBfBRef> _dir;
  std::vector<handle_t*> _cache;  // per entry: the cached handle or null
  int32_t _openFlags = 0;
  uint32_t _state = 0;
  int32_t _depth = 0;
  int32_t _cachedCount = 0;
  int32_t _cacheLimit = 0;
  int32_t _dirtyCount = 0;
  int32_t _changedLow = 0x7FFFFFFF;
  int32_t _changedHigh = 0;
  uint64_t _fileSize = 0;  // 0: not known
  // The stream's size as this opening last learnt, set or extended it
  // (kUnknownSize: ask the stream). Asking costs more than a system call:
  // on some file systems a look at a file's times makes the next write
  // change them, and a flush of the journal then also writes the inode
  // block that the block file's inode shares.
  static constexpr uint64_t kUnknownSize = ~uint64_t(0);
  uint64_t _streamSize = kUnknownSize;
  int32_t _msgCount = 0;
  CBlockSpace* _space = nullptr;
  bool _purgerRegistered = false;
  bool _flushing = false;
  bool _unsynced = false;  // writes since the last OS flush
  // Every entry changed since the last commit, once (_changedMark by index).
  std::vector<int32_t> _changedIds;
  std::vector<uint8_t> _changedMark;
  // The directory, header, logical size and header state bits of the last
  // committed transaction.
  std::vector<sZorBfBRef> _committedDir;
  uint8_t _committedHeader[kZorBfHeaderSize] = {};
  uint64_t _committedSize = 0;
  uint32_t _committedState = 0;
  // The journal: null without one; _journalWrites when this opening
  // commits through it (copy-on-write, writable, transactions on).
  std::unique_ptr<bfile::Journal> _journal;
  bool _journalWrites = false;
  ZorFsa _journalPath;      // empty when the caller gave the stream
  bool _pieceMode = false;  // during a flush: block data go into the record
  bool _txDirect = false;   // block data of this transaction reached the block file before its flush
  bool _applyFailed = false;  // a committed record did not reach the block file whole
  bool _trimTailPending = false;  // a distant writer learnt of unknown changes: cut the dead tail
  bool _screenFree = false;   // opened after a bad close (or shared): see CBlockSpace::screen
  // A reader's view of records the block file lacks, and their logical
  // size (0: none).
  bfile::ByteOverlay _overlay;
  uint64_t _overlaySize = 0;
  sZorBfJournalInfo _journalInfo;
  uint32_t _writtenCount = 0;  // directory count of the header last written (or read)
  uint32_t _missingEntries = 0;  // tolerant opening: entries the header counts past the end of the file
  bool _emptyPending = false;  // EmptyFile under copy-on-write: the file is cut after the flush
  mutable int32_t _readDepth = 0;
};

namespace bfile {

constexpr const char* kSource = "ZorBFile";
constexpr int32_t kTextGroup = 237;     // the block file's texts
constexpr int32_t kTextInternalFr = 1;  // "erreur interne"
constexpr int32_t kTextInternalEn = 2;  // "internal error"
constexpr int32_t kMsgFileChanged = 43;
constexpr int32_t kMsgFileChangedSub = 37;

// One transaction for the duration of an operation, as a ZorLock on the file
// would give, except that a failing flush at the end of a normal exit is
// raised to the caller; on the way out of an exception the transaction is
// ended quietly.
class Txn {
 public:
  explicit Txn(ZorBFile::Rep* f) : _f(f), _unwinding(std::uncaught_exceptions()) { f->StartTransaction(); }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;
  ~Txn() noexcept(false) {
    if (std::uncaught_exceptions() > _unwinding) {
      try {
        _f->EndTransaction();
      } catch (...) {
      }
      return;
    }
    _f->EndTransaction();
  }

 private:
  ZorBFile::Rep* _f;
  int _unwinding;
};

// 2^40 bound check for an extent.
inline bool ExtentFits(uint64_t pos, uint64_t capacity) { return pos + capacity < kZorBfPositionLimit; }

// Matching of the selection operations: `any` as the wanted value (or the
// lower bound of a range) selects everything.
inline bool OwnerMatches(int32_t wanted, int32_t owner) { return wanted == ZorBfAnyOwner || wanted == owner; }
inline bool TypeMatches(int16_t wanted, int16_t type) { return wanted == ZorBfAnyType || wanted == type; }
inline bool OwnerInRange(int32_t lo, int32_t hi, int32_t owner) {
  return lo == ZorBfAnyOwner || (owner >= lo && owner <= hi);
}
inline bool TypeInRange(int16_t lo, int16_t hi, int16_t type) {
  return lo == ZorBfAnyType || (type >= lo && type <= hi);
}

// The address space the cache heuristics assume (cache.cpp).
uint64_t AddressSpaceBytes();
// min(700, address space / 256 KiB).
int32_t DefaultCacheLimit();

}  // namespace bfile

}  // namespace zorvane

#pragma GCC visibility pop
