// Internal: the distant-file side of a local-file stream (see distant.cpp
// for the protocol and the change log beside the file).
#pragma once

#include <zorvane/handle.h>
#include <zorvane/stream.h>

#include <string>
#include <vector>

namespace zorvane {

namespace platform {
class Env;
}

// The change tracking of one open distant stream. Owned by its ZorStdStream,
// which takes and releases the bracket lock itself and tells the link about
// every read, write and size change. The link owns the descriptor of the
// change log; it makes its system calls through the stream's environment.
class ZorDistantLink {
 public:
  static constexpr uint32_t kChunkSize = 4096;

  // Opens (creating it when it may) the change log beside osPath; a log that
  // cannot be used makes every Begin report that everything may have changed.
  // Raises when a writable stream cannot write the log. dataFd: the stream's descriptor.
  ZorDistantLink(iZorStream* owner, const ZorFsa* path, platform::Env& env, int dataFd, const std::string& osPath,
                 bool writable);
  ZorDistantLink(const ZorDistantLink&) = delete;
  ZorDistantLink& operator=(const ZorDistantLink&) = delete;
  ~ZorDistantLink();

  // The file system of fd is a network one (NFS, SMB, CIFS).
  static bool IsNetworkFile(platform::Env& env, int fd);
  // fd must be treated as distant: a network file, or the force switch is on.
  static bool IsDistantFile(platform::Env& env, int fd);

  // Called with the bracket lock just taken: reads what others logged and
  // calls the change callback when something may have changed.
  void AfterAcquire(int dataFd);
  // Called before every write or size change: the first one inside a bracket
  // marks the log, so that others learn of it should this process die.
  void BeforeChange();
  // Called with the bracket lock still held: publishes this process's writes.
  void BeforeRelease(int dataFd);
  // Called at close, outside any bracket: publishes writes made outside one.
  void PublishOutsideBracket(int dataFd);
  // Removes the change log (the file is being deleted).
  void RemoveLog();

  void SetCallback(const ZorDelegate* delegate, ZorStreamChangeFn fn, void* context);
  bool IsRangeChanged(uint64_t offset, uint64_t length) const;
  // fileEnd: where the file ends when the read reached it, else UINT64_MAX.
  void NoteRead(uint64_t offset, uint64_t length, uint64_t fileEnd);
  void NoteWrite(uint64_t offset, uint64_t length);
  void NoteSize(uint64_t oldSize, uint64_t newSize);

 private:
  struct Run {
    uint64_t first;
    uint64_t count;
  };
  struct LogHeader;

  int _openLog();
  // Makes what was written to fd durable (network file systems only).
  void _sync(int fd) const;
  bool _lockLog(bool exclusive);
  void _unlockLog();
  // Releases the change log's lock taken by _lockLog at the end of a scope,
  // or earlier through Release.
  struct LogLockGuard {
    ZorDistantLink* link;
    ~LogLockGuard() { Release(); }
    void Release() {
      if (link) link->_unlockLog();
      link = nullptr;
    }
  };
  bool _readAll(void* buf, size_t n, uint64_t offset) const;
  int _writeAll(const void* buf, size_t n, uint64_t offset);
  bool _readHeader(LogHeader* h) const;
  void _writeHeader(const LogHeader& h);
  void _resetLog(LogHeader* h);
  void _clearOrphanMark();
  bool _readNewEntries(const LogHeader& h);
  void _appendPending(LogHeader* h);
  std::vector<Run> _pendingRuns() const;
  void _markStale(uint64_t first, uint64_t count);
  void _markAllStale();
  void _markFresh(uint64_t first, uint64_t count);
  void _notify(bool everything);
  void _dropCache(int dataFd, const std::vector<Run>& runs, bool everything);
  [[noreturn]] void _raise(int err) const;

  iZorStream* _owner;
  const ZorFsa* _path;
  platform::Env& _env;
  std::string _logPath;
  int _logFd = -1;
  bool _logWritable = false;
  bool _writable;
  bool _network = false;
  uint64_t _generation = 0;  // of the log this link has read; 0: none
  uint64_t _seen = 0;        // sequence of the next entry this link has not read
  uint64_t _mark = 0;        // this link's writer mark (random, non-zero)
  bool _holding = false;     // inside a bracket taken for writing
  bool _announced = false;   // the mark is in the log for this bracket
  std::vector<uint8_t> _stale;  // per chunk: 1 = may have been changed by another
  bool _staleBeyond = false;    // the state of chunks past the end of _stale
  std::vector<Run> _pending;    // chunks written and not yet published
  ZorDelegate _delegate;
  ZorStreamChangeFn _fn = nullptr;
  void* _context = nullptr;
  std::vector<Run> _newRuns;    // what the last AfterAcquire found
};

}  // namespace zorvane
