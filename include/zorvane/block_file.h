// ZorBFile: the block file, the single-file container in which databases and
// preference files keep their data as numbered blocks.
//
// Layout of a file (all integers little-endian):
//   [0, 980)                  the header (see the kZorBfHdr... offsets)
//   [980, 980 + count * 24)   the directory: entry n (block id n, from 1)
//                             at 980 + (n - 1) * 24, an sZorBfBRef
//   [data start, end of file) the blocks' extents, in no particular order
// Data start (25,600 at creation) is the end of the area reserved for the
// header and the directory; it grows in steps of 1,000 entries.
//
// Ownership: a ZorBFile owns its directory, its header image and its cache
// of blocks. A block read with BRead shares the cached memory: the caller's
// handle and the cache hold the same handle_t until one of them lets go, and
// BWrite declares that the shared memory was changed. A stream given to
// OpenOnStream is not owned (never closed by the file); a stream the file
// opened itself is closed by Close.
//
// Errors are ZorEBasic of family 1 carrying the file's path, source
// "ZorBFile" (codes 1, 15, 16, 22, 23, 24, 32, 33, 34, 36, 41), and ZorECrash
// 13 for an internal inconsistency. One thread at a time; no mutex.
#pragma once

#include <zorvane/path.h>
#include <zorvane/file_commands.h>
#include <zorvane/handle.h>
#include <zorvane/purger.h>
#include <zorvane/stream.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorBGet;
class ZorVerif;
class ZorProgress;
class iMobUco;

// --------------------------------------------------------------- constants

enum eZorBfCompact : int32_t {
  ZorBfCompact10Percent = 1,  // when at least 10 % of the file is wasted
  ZorBfCompactAny = 2,        // when any compactable space is wasted
  ZorBfCompactAll = 3,        // any waste, blocks marked not compactable included
};

enum eZorBfClose : int32_t {
  ZorBfCloseNormal = 0,   // flush, clear the open marker, close
  ZorBfCloseAbandon = 1,  // the header is not rewritten
  ZorBfCloseRemove = 2,   // close and remove the file
};

// Open flags (kept for the life of the open file).
enum : int32_t {
  ZorBfOpenTolerant = 0x0002,        // skip version, crash, type, signature, directory checks
  ZorBfOpenCloseNormal = 0x0008,     // the destructor closes with mode 0 (else 1)
  ZorBfOpenNoFlush = 0x0080,         // no OS flush after a transaction
  ZorBfOpenCheckBadClose = 0x0100,   // CheckDir with a verifier checks the bad-close bit
  ZorBfOpenCopyOnWrite = 0x0200,     // copy-on-write placement of blocks
  ZorBfOpenRound1K = 0x0400,         // capacities rounded up to 1,024
  ZorBfOpenNoTransaction = 0x1000,   // transactions disabled; scratch stream
  ZorBfOpenStreamOpt40000 = 0x2000,  // stream opened with its option 0x40000
};

// Directory entry flags. 0x01 and 0x02 (and 0x20..0x80) are stored; 0x04,
// 0x08 and 0x10 live in memory only and are cleared when the directory is
// read.
enum : uint8_t {
  ZorBfFlagFree = 0x01,        // free (deleted) entry
  ZorBfFlagNoCompact = 0x02,   // compaction keeps the spare capacity
  ZorBfFlagDirty = 0x04,       // cached data not yet written; one extra reference
  ZorBfFlagPlaced = 0x08,      // placed in this transaction
  ZorBfFlagRelease = 0x10,     // extent given up in this transaction, freed at flush
  ZorBfFlagMemoryOnly = 0x1C,
};

// Wildcards of the selection operations.
enum : int32_t {
  ZorBfAnyOwner = 0x7FFFFFFF,
  ZorBfKeepOwner = 0x7FFFFFFE,
};
enum : int16_t {
  ZorBfAnyType = 0x7FFF,
  ZorBfKeepType = 0x7FFE,
};

// Layout.
enum : uint32_t {
  kZorBfHeaderSize = 980,
  kZorBfEntrySize = 24,
  kZorBfInitialDataStart = 25600,
  kZorBfMaxEntries = 524287,
  kZorBfMaxBlockSize = 104857600,
  kZorBfMaxCreaStr = 35,  // characters; longer creation strings are truncated
};
constexpr uint64_t kZorBfPositionLimit = uint64_t(1) << 40;

// Header field offsets.
enum : uint32_t {
  kZorBfHdrMagic = 0,        // 8 bytes "ZorBFile"
  kZorBfHdrVersion = 8,
  kZorBfHdrCrash = 12,
  kZorBfHdrState = 16,       // bit 2: bad close, bit 4: open marker
  kZorBfHdrBadOpen = 20,
  kZorBfHdrDataStart = 24,
  kZorBfHdrDirCount = 28,
  kZorBfHdrUpdate = 32,      // 64-bit
  kZorBfHdrFileType = 40,
  kZorBfHdrGuid = 44,
  kZorBfHdrSignature = 48,
  kZorBfHdrUserRel = 52,
  kZorBfHdrCreaStr = 56,     // 36 bytes
  kZorBfHdrUserArray = 92,   // 64 x int32
  kZorBfHdrReserved = 348,
};
enum : uint32_t {
  kZorBfStateBadClose = 0x2,
  kZorBfStateOpenMarker = 0x4,
};

// One directory entry: the 24 bytes of the file, field by field. In memory
// `cacheSlot` is always 0 (the cached handles live beside the directory) and
// the memory-only flags may be set; Store never writes either of them.
struct ZOR_API sZorBfBRef {
  uint32_t pos = 0;        // low 32 bits of the extent's offset
  uint32_t capacity = 0;   // extent length
  uint32_t size = 0;       // bytes stored, <= capacity
  int32_t owner = 0;
  uint32_t cacheSlot = 0;  // stored as 0
  int16_t type = 0;
  uint8_t flags = 0;
  uint8_t hiPos = 0;       // bits 32..39 of the offset

  uint64_t GetPos() const { return (uint64_t(hiPos) << 32) | pos; }
  void SetPos(uint64_t p) {
    pos = static_cast<uint32_t>(p);
    hiPos = static_cast<uint8_t>(p >> 32);
  }
  bool HasPos() const { return pos != 0 || hiPos != 0; }
  bool IsFree() const { return (flags & ZorBfFlagFree) != 0; }
  // From / to the 24 stored bytes. Load clears the memory-only flags and the
  // cache slot; Store writes neither.
  void Load(const void* bytes);
  void Store(void* bytes) const;
};
static_assert(sizeof(sZorBfBRef) == 24, "directory entries are 24 bytes");

// --------------------------------------------------------------- settings

// The process-wide check level: at 2 or more the id errors (23) of block
// operations are not raised and lost-space repair is allowed. 0 by default.
ZOR_API int32_t ZorGetCheckLevel();
ZOR_API void ZorSetCheckLevel(int32_t level);
// The configuration value "ZorCheckBadOpen" (default 1): when non-zero, an
// open that finds the open marker still set also sets the bad-close bit.
ZOR_API int32_t ZorGetCheckBadOpen();
ZOR_API void ZorSetCheckBadOpen(int32_t value);

// The side journal of a file (see storage/block_file/journal.cpp): a file
// opened with copy-on-write commits its transactions there first. After a
// normal close of a local file there is none; after a crash it holds
// transactions that every opening applies (a writer into the file, a
// reader into what it sees).
struct sZorBfJournalInfo {
  bool exists = false;       // the file has a journal beside it (or was given one)
  bool foreign = false;      // it belongs to another file, or its header is damaged: ignored
  bool stale = false;        // the file was written since its last record (an older copy): ignored
  bool cut = false;          // cut short at the end of a record (records may be missing): ignored
  int64_t records = 0;       // committed transactions it holds
  int64_t pending = 0;       // of which the block file does not hold yet
  int64_t bytes = 0;         // of those records
  bool tornTail = false;     // a damaged record follows them (an interrupted commit)
  bool applied = false;      // this opening applied pending records (a writer) or shows them (a reader)
};
// The journal beside a block file is its name followed by this suffix.
constexpr const char* kZorBfJournalSuffix = ".zbj";

// What ZorBFile::Salvage did.
struct sZorBfSalvage {
  int32_t kept = 0;     // used blocks copied into the new file
  int32_t dropped = 0;  // used entries left behind: damaged or unreadable
  int32_t missing = 0;  // entries the header counts past the end of the file
};

// --------------------------------------------------------------- the file

class ZOR_API ZorBFile : public iZorLockable, public iZorMemPurger {
 public:
  ZorBFile();
  ZorBFile(const ZorBFile&) = delete;
  ZorBFile& operator=(const ZorBFile&) = delete;
  // Closes an open file: mode 0 with ZorBfOpenCloseNormal, else mode 1.
  ~ZorBFile() override;

  // ------------------------------------------------------------ static
  static void Create(const ZorFsa* path, int32_t fileType, int32_t signature, const char* creaStr,
                     eZorFsaCreation creation, bool unused = false, iMobUco* unusedUco = nullptr);
  // Writes a fresh header on the caller's stream (not closed).
  static void CreateOnStream(iZorStream* stream, int32_t fileType, int32_t signature, const char* creaStr);
  // 0 for a usable block file, else ZorErr(1, code) (1000 after showing the
  // text when showMsg). -1 as fileType or signature accepts any value.
  static int64_t Is(const ZorFsa* path, bool showMsg, int32_t fileType, int32_t signature,
                    int32_t* outType = nullptr, int32_t* outSignature = nullptr, int64_t* outCounter = nullptr);

  // ------------------------------------------------------------ open, close
  // cacheBlocks -1: automatic. fileType / signature -1: any.
  void Open(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing, int32_t openFlags,
            int32_t cacheBlocks, int32_t fileType, int32_t signature);
  // Opens on the caller's stream (not owned, not closed by Close); the path
  // only names the file in messages (may be null). The file counts as local
  // unless the stream says it is distant. `journal`, when given (not owned
  // either), is the file's side journal; without one a copy-on-write file
  // orders its writes without it.
  void OpenOnStream(iZorStream* stream, const ZorFsa* pathForMessages, int32_t openFlags, int32_t cacheBlocks,
                    int32_t fileType, int32_t signature, iZorStream* journal = nullptr);
  void Close(eZorBfClose mode);
  bool IsOpen() const;

  const ZorFsa* GetFsa() const;
  bool IsWriteEnable() const;
  bool IsDistant() const;
  bool WasOpen() const;
  void UpdateDoc() {}
  iZorStream* GetStream() const;
  int32_t GetOpenFlags() const;

  // ------------------------------------------------------------ header
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
  uint32_t GetDataStart() const;

  // ------------------------------------------------------------ safety
  int32_t GetCrashFlag(bool reset);
  bool IsBadClose(bool reset);
  int32_t BadOpenCount(bool reset);
  void SetSecuFlag();
  void ClrSecuFlag();
  iZorStream* SetModeBackup(bool backup);
  void SetDoMsg(bool on);
  void SetDisableFlush();

  // ------------------------------------------------------------ transactions
  void StartTransaction();
  void EndTransaction();
  void FlushTransaction();
  int32_t CountTransaction() const;

  // ------------------------------------------------------------ blocks
  int32_t BCreate(ZorHandle* data, int32_t owner, int16_t type, uint32_t reserve, bool compact);
  void BRead(int32_t id, ZorHandle* out);
  void BReadCopy(int32_t id, ZorHandle* out);
  // len bytes of block id from offset into out: from the cache when the
  // block is there, else straight from the file without caching the block
  // (a record out of a large block). False, out untouched, when the range
  // lies outside the block.
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
  uint64_t GetSize(int32_t* dirBytes, int32_t* usedBytes, uint32_t* reservedBytes);

  // ------------------------------------------------------------ maintenance
  // (storage/block_file/compaction.cpp, storage/block_file/checks.cpp)
  bool NeedCompact(eZorBfCompact mode);
  // display: the caller's progress object (null: one of its own when
  // showProgress).
  bool Compact(eZorBfCompact mode, bool showMsg, bool showProgress, ZorProgress* display = nullptr);
  bool CheckDir(ZorVerif* verif);
  bool CheckBlockOwnerType(ZorVerif* verif);
  bool CheckLostSpace(ZorVerif* verif);
  bool CheckCrossBlock(ZorVerif* verif);
  // The header's directory count: above GetDirCount() after a tolerant
  // opening of a file that ends inside its directory (CheckDir reports it).
  uint32_t GetRecordedDirCount() const;

  // Rescues a block file that no longer opens: every used block whose entry
  // and extent are sound is copied from `in`, read raw (header and
  // directory, nothing else trusted), into the new file `out` (which must
  // not exist) under the same id, with its owner, type, stored flags and
  // capacity; free and dropped ids stay free empty slots, and the header's
  // identity (type, identifier, signature, release, creation string, user
  // array) is copied. The report (may be null) gets a section with an item
  // per dropped block and a summary note; `display` (may be null) shows the
  // progress and lets the user cancel (1, 1000). Raises 36 when `in` is not
  // a block file; on any error `out` is removed.
  static void Salvage(const ZorFsa* in, const ZorFsa* out, ZorVerif* report, ZorProgress* display,
                      sZorBfSalvage* result);

  // A copy of directory entry `id` (free ones included); false outside
  // 1..GetDirCount().
  bool GetEntry(int32_t id, sZorBfBRef* out) const;
  int32_t GetDirCount() const;
  // What the opening found of the side journal.
  void GetJournalInfo(sZorBfJournalInfo* out) const;

  // ------------------------------------------------------------ cache figures
  int32_t GetCacheCount() const;
  int32_t GetCacheLimit() const;
  int32_t GetDirtyCount() const;

  // ------------------------------------------------------------ interfaces
  // Lock starts a transaction, Unlock ends it. Unlock never raises (a guard
  // releases from its destructor): a failing flush goes to the debug
  // channel; EndTransaction is the call that raises. Either way a flush
  // that fails before its commit point puts the file back in memory to the
  // last committed state (the transaction's changes are gone).
  void* Lock(ZorLock* guard) override;
  void Unlock() override;
  // Gives cached memory back (see storage/block_file/cache.cpp).
  bool Purge(int32_t bytes) override;

  // The state of the file and the code that works on it, behind one
  // pointer (storage/block_file/block_file_impl.h).
  struct Rep;

 private:
  Rep* _rep;  // owned, for the object's whole life
};

}  // namespace zorvane
