// Byte streams: the stream interface, the local-file stream and the helpers
// that move handles and texts through any stream.
//
// A stream is pinned by locks (the iZorLockable part): ZorOpenStream hands
// the new stream to the caller's guard with one lock, every Lock(ZorLock*)
// adds one, every Unlock() removes one, and the Unlock that removes the last
// one closes the file (and deletes a stream that ZorOpenStream created). A
// stream is used by one thread at a time.
//
// Errors: operating-system failures raise ZorEBasic (module 1, family -1
// with the Windows error number, the path), source "ZorFiles". A conflicting
// share mode is (-1, 32), a byte range locked by another opener (-1, 33).
//
// Shared ("distant") files: a file on a network file system, or any file
// while ZorSetForceDistant(true) is in force, is distant. Commands 2 and 3
// bracket exclusive access across processes; inside command 2 the stream
// calls the change callback (command 4) when another process may have
// changed the file since this one last held it, and IsRangeChanged tells
// which byte ranges may differ from what this process last read or wrote.
#pragma once

#include <zorvane/path.h>
#include <zorvane/handle.h>
#include <zorvane/types.h>

#include <string>

namespace zorvane {

class iZorStream;

// Access (bits 0-3) and sharing (bits 4-7) of an open stream. Other values
// of either field refuse to open.
enum eZorStreamPerm : uint32_t {
  ZorPermRead = 0x00,        // read only
  ZorPermReadWrite = 0x01,   // read and write
  ZorPermAccessMask = 0x0F,
  ZorShareExclusive = 0x00,  // nobody else may open the file
  ZorShareRead = 0x10,       // others may read
  ZorShareReadWrite = 0x20,  // others may read and write
  ZorPermShareMask = 0xF0,
};
constexpr eZorStreamPerm operator|(eZorStreamPerm a, eZorStreamPerm b) {
  return static_cast<eZorStreamPerm>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}

enum eZorSeek : int32_t {
  ZorSeekSet = 0,  // from the start
  ZorSeekCur = 1,  // from the current position
  ZorSeekEnd = 2,  // from the end
};

// Flags of ZorStdStream::Init and ZorOpenStream.
enum : uint32_t {
  ZorStmExtend = 0x0002,          // the file may be extended without zero filling
  ZorStmDeleteOnClose = 0x0004,   // the file is removed when the stream closes
  ZorStmTemporary = 0x0008,       // a scratch file: no random-access hint, Flush does not sync
  ZorStmNotShared = 0x0010,       // never distant: its user serialises access itself (a journal)
  ZorStmReadAhead = 0x2000,       // set by Init on a read-only asynchronous stream
  ZorStmAsync = 0x4000,           // own position; background thread for files over 4 MB
  ZorStmNoRaise = 0x8000,         // a failure to open gives false / null instead of raising
};

// Stream commands (iZorStream::Command). Arguments not named are ignored.
enum eZorStreamCmd : int32_t {
  // -> 1 when the stream is open for reading only, else 0.
  ZorStmCmdIsReadOnly = 1,
  // Start of exclusive access across processes (blocks until granted). On a
  // distant stream, calls the change callback before returning when another
  // process may have changed the file. Nests: only the outermost pair counts.
  ZorStmCmdBeginExclusive = 2,
  // End of exclusive access: publishes what this process wrote, then releases.
  ZorStmCmdEndExclusive = 3,
  // Registers the change callback: a1 = const ZorDelegate* (copied; called
  // with argument 1 when everything may have changed, 0 when only some
  // ranges did), or a1 = null, a2 = ZorStreamChangeFn, a3 = its context.
  // Both null: no callback.
  ZorStmCmdSetChangeCallback = 4,
  // a1 = const int64_t* offset, a2 = const uint32_t* length -> 1 when that
  // range may have been changed by another process since this process last
  // read or wrote it, else 0 (always 0 on a stream that is not distant).
  ZorStmCmdIsRangeChanged = 5,
  // -> the preferred size of differential writes (0: no preference).
  ZorStmCmdGetChunkSize = 6,
  // -> 1 when the stream is distant.
  ZorStmCmdIsDistant = 7,
  // -> the operating-system descriptor, -1 when there is none.
  ZorStmCmdGetDescriptor = 8,
};

// A change callback given as a function and its context.
using ZorStreamChangeFn = void (*)(void* context, iZorStream* stream, bool everything);

// The stream interface. Virtual slots 0-11 in this order; the iZorLockable
// part pins the stream. Read returns fewer bytes than asked only at the end;
// Write writes everything or raises.
class ZOR_API iZorStream : public iZorLockable {
 public:
  virtual bool Idle() = 0;
  virtual bool Init(const ZorFsa* path, eZorStreamPerm perm, uint32_t flags) = 0;
  virtual uint32_t Read(void* buf, uint32_t n) = 0;
  virtual void Write(const void* buf, uint32_t n) = 0;
  virtual uint64_t Seek(int64_t offset, eZorSeek whence) = 0;
  virtual uint64_t GetSize() = 0;
  virtual void SetSize(uint64_t size) = 0;
  virtual void Flush() = 0;
  // Exclusive byte-range lock; (-1, 33) when another opener holds part of it.
  virtual void Lock(int64_t offset, uint32_t length) = 0;
  virtual void UnLock(int64_t offset, uint32_t length) = 0;
  virtual int32_t Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void* a4) = 0;
  virtual void Close() = 0;

  using iZorLockable::Lock;

  // Shorthands for the commands.
  bool IsReadOnly() { return Command(ZorStmCmdIsReadOnly, nullptr, nullptr, nullptr, nullptr) != 0; }
  bool IsDistant() { return Command(ZorStmCmdIsDistant, nullptr, nullptr, nullptr, nullptr) != 0; }
  uint32_t GetChunkSize() {
    return static_cast<uint32_t>(Command(ZorStmCmdGetChunkSize, nullptr, nullptr, nullptr, nullptr));
  }
  bool IsRangeChanged(int64_t offset, uint32_t length) {
    return Command(ZorStmCmdIsRangeChanged, &offset, &length, nullptr, nullptr) != 0;
  }
  void BeginExclusive() { Command(ZorStmCmdBeginExclusive, nullptr, nullptr, nullptr, nullptr); }
  void EndExclusive() { Command(ZorStmCmdEndExclusive, nullptr, nullptr, nullptr, nullptr); }
};

// The local-file stream. Owns its descriptor and its path; the file must
// exist (ZorFsaCmd::Create_File creates it). Share modes hold between every
// opener, in this process or another, as long as they all use this class.
class ZOR_API ZorStdStream : public iZorStream {
 public:
  ZorStdStream();
  ZorStdStream(const ZorStdStream&) = delete;
  ZorStdStream& operator=(const ZorStdStream&) = delete;
  ~ZorStdStream() override;

  bool Idle() override;
  // False for an unsupported perm; an open failure raises the system error,
  // or gives false with ZorStmNoRaise.
  bool Init(const ZorFsa* path, eZorStreamPerm perm, uint32_t flags) override;
  bool IsInit() const;
  uint32_t Read(void* buf, uint32_t n) override;
  void Write(const void* buf, uint32_t n) override;
  uint64_t Seek(int64_t offset, eZorSeek whence) override;
  uint64_t GetSize() override;
  void SetSize(uint64_t size) override;
  void Flush() override;
  void Lock(int64_t offset, uint32_t length) override;
  void UnLock(int64_t offset, uint32_t length) override;
  int32_t Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void* a4) override;
  void Close() override;

  // iZorLockable: returns the stream; the last Unlock closes it.
  void* Lock(ZorLock* guard) override;
  void Unlock() override;

  const ZorFsa* GetFsa() const;
  uint32_t GetFlags() const;
  // The position kept by an asynchronous stream.
  uint64_t GetPosition() const;

  // For ZorOpenStream: the last Unlock also deletes the object.
  void _setSelfOwned();

  // The stream's state (foundation/files/file_stream.h).
  struct Rep;

 private:
  [[noreturn]] void _raise(int err) const;
  [[noreturn]] void _raiseWin(uint32_t winErr) const;
  bool _fail(uint32_t winErr);
  bool _isWritable() const;
  void _checkWritable() const;
  uint64_t _fileSize() const;
  void _beginExclusive();
  void _endExclusive();
  int32_t _distantCommand(eZorStreamCmd cmd, void* a1, void* a2, void* a3);
  void _closeQuietly();

  Rep* _rep;
};

// Opens a stream on the path, chosen by its medium (local files and
// connection paths: ZorStdStream). The stream is registered with the guard
// (one lock): releasing the guard closes and deletes it. Without a guard
// the caller releases it with Unlock(). A failure raises, or gives null with
// ZorStmNoRaise.
ZOR_API iZorStream* ZorOpenStream(const ZorFsa* path, eZorStreamPerm perm, ZorLock* guard, uint32_t flags);

// Files are distant when their file system is NFS, SMB or CIFS, or, for
// files opened while the switch is on, always (to test sharing on one disk).
ZOR_API void ZorSetForceDistant(bool force);
ZOR_API bool ZorGetForceDistant();

// Reads n bytes (n < 0: up to the end) at offset (offset < 0: the current
// position) into h, which takes the size read. Returns the bytes read.
ZOR_API int32_t ZorReadHandle(iZorStream* s, ZorHandle* h, int64_t offset, int32_t n);
// Writes all of h at offset (offset < 0: the current position); with
// truncate the stream then ends where the data ends.
ZOR_API void ZorWriteHandle(iZorStream* s, ZorHandle* h, int64_t offset, bool truncate);
// Writes n bytes of text (n < 0: up to the terminator) at the current position.
ZOR_API void ZorWriteString(iZorStream* s, const char* text, int32_t n);
// Copies n bytes (n < 0: up to the end of src) from src's position to dst's
// position; both advance. Returns the bytes copied.
ZOR_API int64_t ZorCopyS2L(iZorStream* src, iZorStream* dst, int64_t n);

}  // namespace zorvane
