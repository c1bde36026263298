// The local-file stream (ZorStdStream).
//
// The stream owns one descriptor and keeps its own position: every read and
// write is a pread/pwrite at that position, so the kernel's file offset is
// never used and a background thread may work on the same descriptor.
//
// Share modes. Windows refuses an open whose access another opener does not
// share, or whose sharing does not allow another opener's access. Each
// opener holds shared OFD locks on sentinel bytes (file_stream.h) saying what
// it does (reads, writes) and what it denies (reading, writing); an open is
// refused with the sharing violation (32) when a byte it must find free is
// held by someone else. Taking one's own bytes and testing the others' are
// two steps, so the opener takes first and tests after: of two racing
// openers at least one sees the other and backs off, and neither can both
// succeed. A refused attempt releases everything and retries after a short
// random pause, so that two racers that both backed off do not both fail.
//
// Byte-range locks are exclusive OFD locks that fail at once (33) on a
// conflict; a read-only descriptor cannot hold an exclusive lock, so a
// read-only stream takes a shared one (it still excludes every writer's
// lock). As everywhere on POSIX, the locks are advisory: they exclude other
// locks, not reads and writes.
//
// Every system call goes through the environment that was current when the
// stream opened its file (platform/env.h).
//
// Asynchronous mode (flag ZorStmAsync): Seek follows the asynchronous rules
// (whence 2 leaves the position alone), GetSize gives the size the stream
// recorded (size at open, grown by writes, set by SetSize), and closing a
// writable stream sets the file to that size. For a file over 4 MB a
// background thread helps sequential work: it asks the kernel to read ahead
// of the position of a read-only stream (ZorStmReadAhead) and starts the
// write-back of what a writable stream wrote, so that Flush finds little to
// do. It only ever gives advice to the kernel; the stream's own calls do the
// work, so its results never depend on the thread.
#include <zorvane/exception.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"
#include "foundation/files/distant_stream.h"
#include "foundation/files/file_args.h"
#include "foundation/files/file_stream.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace zorvane {

namespace {

using platform::LockKind;
using streams::kSentinelBase;

constexpr char kSource[] = "ZorFiles";
constexpr uint64_t kAsyncThreadThreshold = 0x400000;
constexpr int kShareAttempts = 5;

uint32_t Access(uint32_t perm) { return perm & ZorPermAccessMask; }
uint32_t Share(uint32_t perm) { return perm & ZorPermShareMask; }

bool IsValidPerm(uint32_t perm) {
  const uint32_t share = Share(perm);
  return Access(perm) <= ZorPermReadWrite &&
         (share == ZorShareExclusive || share == ZorShareRead || share == ZorShareReadWrite);
}

// The sentinel bytes an opener with perm holds, as a bit set of the
// kSentinel* indexes, and those it needs free of other openers.
uint32_t HeldSentinels(uint32_t perm) {
  uint32_t held = 1u << streams::kSentinelHasRead;
  if (Access(perm) == ZorPermReadWrite) held |= 1u << streams::kSentinelHasWrite;
  if (Share(perm) == ZorShareExclusive) held |= 1u << streams::kSentinelDenyRead;
  if (Share(perm) != ZorShareReadWrite) held |= 1u << streams::kSentinelDenyWrite;
  return held;
}

uint32_t ForbiddenSentinels(uint32_t perm) {
  uint32_t forbidden = 1u << streams::kSentinelDenyRead;
  if (Access(perm) == ZorPermReadWrite) forbidden |= 1u << streams::kSentinelDenyWrite;
  if (Share(perm) == ZorShareExclusive) forbidden |= 1u << streams::kSentinelHasRead;
  if (Share(perm) != ZorShareReadWrite) forbidden |= 1u << streams::kSentinelHasWrite;
  return forbidden;
}

void SetSentinels(platform::Env& env, int fd, uint32_t set, LockKind kind) {
  for (uint64_t i = 0; i < 8; ++i)
    if (set & (1u << i)) env.Lock(fd, kind, kSentinelBase + i, 1, false);
}

bool AnySentinelHeldByOther(platform::Env& env, int fd, uint32_t set) {
  for (uint64_t i = 0; i < 8; ++i) {
    bool held = false;
    if ((set & (1u << i)) && env.IsLockedByOther(fd, kSentinelBase + i, 1, &held) == 0 && held) return true;
  }
  return false;
}

void PauseBeforeRetry() {
  static thread_local std::minstd_rand rng(static_cast<uint32_t>(getpid()) * 2654435761u ^
                                           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&rng)));
  std::this_thread::sleep_for(std::chrono::microseconds(200 + rng() % 1800));
}

// Takes the share-mode locks of perm on fd; false on a sharing conflict.
bool TakeShareMode(platform::Env& env, int fd, uint32_t perm) {
  const uint32_t held = HeldSentinels(perm);
  const uint32_t forbidden = ForbiddenSentinels(perm);
  for (int attempt = 0; attempt < kShareAttempts; ++attempt) {
    if (attempt > 0) PauseBeforeRetry();
    SetSentinels(env, fd, held, LockKind::kShared);
    if (!AnySentinelHeldByOther(env, fd, forbidden)) return true;
    SetSentinels(env, fd, held, LockKind::kRelease);
  }
  return false;
}

}  // namespace

// The background helper of a large asynchronous file: see the file comment.
class ZorAsyncHelper {
 public:
  ZorAsyncHelper(platform::Env* env, int fd, bool readAhead, uint64_t pos)
      : _env(env), _fd(fd), _readAhead(readAhead), _pos(pos), _done(pos), _thread([this] { _run(); }) {}
  ~ZorAsyncHelper() {
    {
      std::lock_guard<std::mutex> lk(_m);
      _stop = true;
    }
    _cv.notify_one();
    _thread.join();
  }

  void Moved(uint64_t pos, bool wrote) {
    {
      std::lock_guard<std::mutex> lk(_m);
      _pos = pos;
      if (wrote) _written = std::max(_written, pos);
    }
    _cv.notify_one();
  }

 private:
  static constexpr uint64_t kWindow = 8u << 20;     // read ahead this far past the position
  static constexpr uint64_t kWriteBatch = 4u << 20;  // start write-back per this much

  bool _hasWork() const {
    if (_readAhead) return _pos < _done - std::min(_done, kWindow / 2) || _pos + kWindow / 2 > _done;
    return _written >= _done + kWriteBatch;
  }

  void _run() {
    std::unique_lock<std::mutex> lk(_m);
    for (;;) {
      _cv.wait(lk, [this] { return _stop || _hasWork(); });
      if (_stop) return;
      const uint64_t pos = _pos, from = _done, written = _written;
      lk.unlock();
      uint64_t done;
      if (_readAhead) {
        const uint64_t start = pos < from && from - pos <= kWindow ? from : pos;
        _env->Advise(_fd, start, pos + kWindow - start, platform::Advice::kWillNeed);
        done = pos + kWindow;
      } else {
        _env->StartWriteBack(_fd, from, written - from);
        done = written;
      }
      lk.lock();
      _done = done;
    }
  }

  platform::Env* _env;
  int _fd;
  bool _readAhead;
  std::mutex _m;
  std::condition_variable _cv;
  bool _stop = false;
  uint64_t _pos;          // the stream's position
  uint64_t _written = 0;  // the end of what the stream wrote
  uint64_t _done;         // read ahead up to, or write-back started up to
  std::thread _thread;
};

ZorStdStream::ZorStdStream() : _rep(new Rep) {}

ZorStdStream::~ZorStdStream() {
  try {
    Close();
  } catch (...) {
    // A destructor has nobody to report to; Close() says it to those who ask.
  }
  _closeQuietly();
  delete _rep;
}

bool ZorStdStream::_isWritable() const { return (_rep->_perm & ZorPermAccessMask) == ZorPermReadWrite; }
bool ZorStdStream::IsInit() const { return _rep->_fd >= 0; }
const ZorFsa* ZorStdStream::GetFsa() const { return &_rep->_path; }
uint32_t ZorStdStream::GetFlags() const { return _rep->_flags; }
uint64_t ZorStdStream::GetPosition() const { return _rep->_pos; }
void ZorStdStream::_setSelfOwned() { _rep->_selfOwned = true; }

bool ZorStdStream::Idle() { return false; }

void ZorStdStream::_raise(int err) const { ZorRaiseErrno(kSource, err, &_rep->_path); }

void ZorStdStream::_raiseWin(uint32_t winErr) const { ZorRaiseWinErr(kSource, winErr, &_rep->_path); }

// An open that failed: false with ZorStmNoRaise, else the error.
bool ZorStdStream::_fail(uint32_t winErr) {
  const bool noRaise = (_rep->_flags & ZorStmNoRaise) != 0;
  _closeQuietly();
  if (noRaise) return false;
  _raiseWin(winErr);
}

bool ZorStdStream::Init(const ZorFsa* path, eZorStreamPerm perm, uint32_t flags) {
  files::NonNull(path, kSource, __LINE__, "ZorStdStream::Init(path)");
  Close();
  if (!IsValidPerm(perm)) return false;
  if (!path->IsInit()) {
    if (flags & ZorStmNoRaise) return false;
    files::RaiseEmptyPath(kSource, __LINE__);
  }
  _rep->_path = *path;
  string text;
  _rep->_osPath = path->GetSysPath(&text);
  _rep->_perm = perm;
  _rep->_flags = flags;
  if ((flags & ZorStmAsync) && !_isWritable()) _rep->_flags |= ZorStmReadAhead;
  struct stat st;
  uint32_t winErr = 0;
  _rep->_env = &platform::CurrentEnv();
  _rep->_fd = platform::OpenRegularFile(*_rep->_env, _rep->_osPath.c_str(), _isWritable() ? O_RDWR : O_RDONLY, 0, &st, &winErr);
  if (_rep->_fd < 0) return _fail(winErr);
  if (!TakeShareMode(*_rep->_env, _rep->_fd, perm)) return _fail(platform::kWinErrSharingViolation);
  // A scratch file is read and written in order; every other file is
  // addressed at random (blocks, records), where read-ahead only wastes.
  if (!(flags & ZorStmTemporary)) _rep->_env->Advise(_rep->_fd, 0, 0, platform::Advice::kRandom);
  _rep->_openSize = static_cast<uint64_t>(st.st_size);
  _rep->_pos = 0;
  if (!(flags & ZorStmNotShared) && ZorDistantLink::IsDistantFile(*_rep->_env, _rep->_fd)) {
    try {
      _rep->_distant = new ZorDistantLink(this, &_rep->_path, *_rep->_env, _rep->_fd, _rep->_osPath, _isWritable());
    } catch (const ZorEBasic&) {
      if (!(_rep->_flags & ZorStmNoRaise)) {
        _closeQuietly();
        throw;
      }
      return _fail(0);
    }
  }
  if ((_rep->_flags & ZorStmAsync) && _rep->_openSize > kAsyncThreadThreshold)
    _rep->_async = new ZorAsyncHelper(_rep->_env, _rep->_fd, (_rep->_flags & ZorStmReadAhead) != 0, 0);
  return true;
}

void ZorStdStream::_checkWritable() const {
  if (_rep->_fd < 0) _raise(EBADF);
  if (!_isWritable()) _raiseWin(platform::kWinErrAccessDenied);
}

uint64_t ZorStdStream::_fileSize() const {
  struct stat st;
  if (const int err = _rep->_env->FileStat(_rep->_fd, &st)) _raise(err);
  return static_cast<uint64_t>(st.st_size);
}

uint32_t ZorStdStream::Read(void* buf, uint32_t n) {
  if (_rep->_fd < 0) _raise(EBADF);
  const uint64_t start = _rep->_pos;
  uint32_t done = 0;
  while (done < n) {
    size_t r = 0;
    if (const int err = _rep->_env->PRead(_rep->_fd, static_cast<char*>(buf) + done, n - done, start + done, &r)) _raise(err);
    if (r == 0) break;
    done += static_cast<uint32_t>(r);
  }
  _rep->_pos = start + done;
  // A short read reached the end: the chunk it ended in was read whole.
  if (_rep->_distant) _rep->_distant->NoteRead(start, done, done < n ? start + done : UINT64_MAX);
  if (_rep->_async) _rep->_async->Moved(_rep->_pos, false);
  return done;
}

void ZorStdStream::Write(const void* buf, uint32_t n) {
  _checkWritable();
  if (_rep->_distant) _rep->_distant->BeforeChange();
  const uint64_t start = _rep->_pos;
  uint32_t done = 0;
  while (done < n) {
    size_t r = 0;
    const int err = _rep->_env->PWrite(_rep->_fd, static_cast<const char*>(buf) + done, n - done, start + done, &r);
    // A write that stores nothing and reports no error would loop for ever.
    if (err || r == 0) _raise(err ? err : EIO);
    done += static_cast<uint32_t>(r);
  }
  _rep->_pos = start + n;
  if (_rep->_flags & ZorStmAsync) _rep->_openSize = std::max(_rep->_openSize, _rep->_pos);
  if (_rep->_distant) _rep->_distant->NoteWrite(start, n);
  if (_rep->_async) _rep->_async->Moved(_rep->_pos, true);
}

uint64_t ZorStdStream::Seek(int64_t offset, eZorSeek whence) {
  if (_rep->_fd < 0) _raise(EBADF);
  int64_t base;
  if (_rep->_flags & ZorStmAsync) {
    // The kept position: from the end leaves it where it is.
    if (whence == ZorSeekEnd) return _rep->_pos;
    base = whence == ZorSeekSet ? 0 : static_cast<int64_t>(_rep->_pos);
  } else {
    if (whence < ZorSeekSet || whence > ZorSeekEnd) _raise(EINVAL);
    base = whence == ZorSeekSet ? 0 : whence == ZorSeekCur ? static_cast<int64_t>(_rep->_pos)
                                                           : static_cast<int64_t>(_fileSize());
  }
  if (offset < 0 ? static_cast<uint64_t>(base) < 0 - static_cast<uint64_t>(offset) : offset > INT64_MAX - base)
    _raise(EINVAL);
  _rep->_pos = static_cast<uint64_t>(base + offset);
  return _rep->_pos;
}

uint64_t ZorStdStream::GetSize() {
  if (_rep->_fd < 0) _raise(EBADF);
  return (_rep->_flags & ZorStmAsync) ? _rep->_openSize : _fileSize();
}

void ZorStdStream::SetSize(uint64_t size) {
  _checkWritable();
  if (_rep->_distant) _rep->_distant->BeforeChange();
  const uint64_t old = _rep->_distant ? _fileSize() : 0;
  if (const int err = _rep->_env->Truncate(_rep->_fd, size)) _raise(err);
  if (_rep->_flags & ZorStmAsync) _rep->_openSize = size;
  if (_rep->_distant) _rep->_distant->NoteSize(old, size);
}

void ZorStdStream::Flush() {
  if (_rep->_fd < 0) _raise(EBADF);
  if (!_isWritable() || (_rep->_flags & ZorStmTemporary)) return;
  if (const int err = _rep->_env->DataSync(_rep->_fd)) _raise(err);
}

void ZorStdStream::Lock(int64_t offset, uint32_t length) {
  if (_rep->_fd < 0) _raise(EBADF);
  if (offset < 0) _raise(EINVAL);
  if (length == 0) return;  // an empty range conflicts with nothing
  const LockKind kind = _isWritable() ? LockKind::kExclusive : LockKind::kShared;
  const int err = _rep->_env->Lock(_rep->_fd, kind, static_cast<uint64_t>(offset), length, false);
  if (err == EAGAIN) _raiseWin(platform::kWinErrLockViolation);
  if (err) _raise(err);
}

void ZorStdStream::UnLock(int64_t offset, uint32_t length) {
  if (_rep->_fd < 0) _raise(EBADF);
  if (offset < 0) _raise(EINVAL);
  if (length == 0) return;
  const int err = _rep->_env->Lock(_rep->_fd, LockKind::kRelease, static_cast<uint64_t>(offset), length, false);
  if (err) _raise(err);
}

void ZorStdStream::_beginExclusive() {
  if (_rep->_fd < 0) _raise(EBADF);
  if (_rep->_bracket++ > 0) return;
  const LockKind kind = _isWritable() ? LockKind::kExclusive : LockKind::kShared;
  const int err = _rep->_env->Lock(_rep->_fd, kind, kSentinelBase + streams::kSentinelBracket, 1, true);
  if (err) {
    _rep->_bracket = 0;
    _raise(err);
  }
  if (!_rep->_distant) return;
  try {
    _rep->_distant->AfterAcquire(_rep->_fd);
  } catch (...) {
    _rep->_bracket = 0;
    _rep->_env->Lock(_rep->_fd, LockKind::kRelease, kSentinelBase + streams::kSentinelBracket, 1, false);
    throw;
  }
}

void ZorStdStream::_endExclusive() {
  if (_rep->_fd < 0 || _rep->_bracket == 0 || --_rep->_bracket > 0) return;
  struct Release {
    platform::Env* env;
    int fd;
    ~Release() { env->Lock(fd, LockKind::kRelease, kSentinelBase + streams::kSentinelBracket, 1, false); }
  } release{_rep->_env, _rep->_fd};
  if (_rep->_distant) _rep->_distant->BeforeRelease(_rep->_fd);
}

int32_t ZorStdStream::_distantCommand(eZorStreamCmd cmd, void* a1, void* a2, void* a3) {
  switch (cmd) {
    case ZorStmCmdSetChangeCallback:
      if (_rep->_distant)
        _rep->_distant->SetCallback(static_cast<const ZorDelegate*>(a1), reinterpret_cast<ZorStreamChangeFn>(a2), a3);
      return 0;
    case ZorStmCmdIsRangeChanged:
      files::NonNull(a1, kSource, __LINE__, "ZorStmCmdIsRangeChanged(offset)");
      files::NonNull(a2, kSource, __LINE__, "ZorStmCmdIsRangeChanged(length)");
      return _rep->_distant && _rep->_distant->IsRangeChanged(static_cast<uint64_t>(*static_cast<const int64_t*>(a1)),
                                                  *static_cast<const uint32_t*>(a2));
    case ZorStmCmdGetChunkSize:
      return _rep->_distant ? static_cast<int32_t>(ZorDistantLink::kChunkSize) : 0;
    default:
      return _rep->_distant != nullptr;
  }
}

int32_t ZorStdStream::Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void*) {
  switch (cmd) {
    case ZorStmCmdIsReadOnly:
      return !_isWritable();
    case ZorStmCmdBeginExclusive:
      _beginExclusive();
      return 0;
    case ZorStmCmdEndExclusive:
      _endExclusive();
      return 0;
    case ZorStmCmdSetChangeCallback:
    case ZorStmCmdIsRangeChanged:
    case ZorStmCmdGetChunkSize:
    case ZorStmCmdIsDistant:
      return _distantCommand(cmd, a1, a2, a3);
    case ZorStmCmdGetDescriptor:
      return _rep->_fd;
  }
  return 0;
}

void ZorStdStream::Close() {
  if (_rep->_fd < 0) return;
  delete _rep->_async;
  _rep->_async = nullptr;
  // What can still fail here (publishing the last writes of a distant file)
  // must not keep the descriptor open: the failure is raised after closing.
  int err = 0;
  if ((_rep->_flags & ZorStmAsync) && _isWritable() && _rep->_openSize != _fileSize()) err = _rep->_env->Truncate(_rep->_fd, _rep->_openSize);
  if (_rep->_bracket > 0) {
    _rep->_bracket = 1;
    try {
      _endExclusive();
    } catch (...) {
      err = err ? err : EIO;
    }
  }
  if (_rep->_distant) {
    try {
      _rep->_distant->PublishOutsideBracket(_rep->_fd);
    } catch (...) {
      err = err ? err : EIO;
    }
    if (_rep->_flags & ZorStmDeleteOnClose) _rep->_distant->RemoveLog();
  }
  if (_rep->_flags & ZorStmDeleteOnClose) {
    const int unlinked = _rep->_env->Unlink(_rep->_osPath.c_str());
    err = err ? err : unlinked;
  }
  _closeQuietly();
  if (err) _raise(err);
}

void ZorStdStream::_closeQuietly() {
  delete _rep->_async;
  _rep->_async = nullptr;
  delete _rep->_distant;
  _rep->_distant = nullptr;
  if (_rep->_fd >= 0) _rep->_env->Close(_rep->_fd);
  _rep->_fd = -1;
  _rep->_bracket = 0;
  _rep->_pos = 0;
  _rep->_openSize = 0;
}

void* ZorStdStream::Lock(ZorLock* guard) {
  ++_rep->_locks;
  if (guard) guard->Init(this);
  return this;
}

void ZorStdStream::Unlock() {
  if (_rep->_locks > 0 && --_rep->_locks > 0) return;
  // Called from guards, often in destructors: a failure to close is dropped
  // here (the descriptor is closed anyway); Close() reports it to its callers.
  try {
    Close();
  } catch (...) {
  }
  if (_rep->_selfOwned) delete this;
}

}  // namespace zorvane
