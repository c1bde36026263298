// ZorStreamCache: a buffered stream over another stream, a file or a handle.
//
// The cache keeps one window of the underlying bytes (64 KiB by default,
// aligned to its size) and the range of it that was written and not yet
// passed on. Small reads and writes are served from the window; pieces at
// least as large as the window go straight through. Written bytes reach the
// underlying stream when the window moves, at Flush, SetSize, commands 2 and
// 3, Close and the destruction; Flush also flushes the underlying stream.
// Command 2 (exclusive access) forgets the window, since another process may
// have changed the file.
//
// Over a stream, the cache pins it with one lock for its own life (released
// by Close), so a stream from ZorOpenStream stays open while it is cached.
// Over a file, the cache opens and owns the stream. Over a handle, it reads
// and writes the handle's bytes in place (the handle grows as written; at
// most 4 GB), shared with the caller's ZorHandle.
//
// Used by one thread at a time.
#pragma once

#include <zorvane/handle.h>
#include <zorvane/stream.h>

#include <memory>

namespace zorvane {

class ZOR_API ZorStreamCache : public iZorStream {
 public:
  static constexpr uint32_t kDefaultWindow = 64 * 1024;

  ZorStreamCache();
  ZorStreamCache(const ZorStreamCache&) = delete;
  ZorStreamCache& operator=(const ZorStreamCache&) = delete;
  ~ZorStreamCache() override;

  // Over an open stream; window: the buffer size (0: the default).
  void Init(iZorStream* inner, uint32_t window = 0);
  // Over a file opened with ZorOpenStream (false when that gives null).
  bool Init(const ZorFsa* path, eZorStreamPerm perm, uint32_t flags) override;
  // Over the bytes of a handle (which is shared, not copied).
  void Init(ZorHandle* h, uint32_t window = 0);
  bool IsInit() const { return _inner != nullptr; }

  bool Idle() override;
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
  void* Lock(ZorLock* guard) override;
  void Unlock() override;

 private:
  void _attach(iZorStream* inner, uint32_t window);
  void _writeBack();
  void _forget();
  void _load(uint64_t start);
  uint32_t _readDirect(void* buf, uint32_t n);
  void _writeDirect(const void* buf, uint32_t n);
  void _require() const;

  iZorStream* _inner = nullptr;
  ZorLock _pin;                          // our lock on _inner
  bool _ownsInner = false;               // opened by the cache: closed by it
  std::unique_ptr<iZorStream> _owned;    // the handle stream, when over a handle
  std::unique_ptr<char[]> _buf;
  uint32_t _cap = 0;
  uint64_t _start = 0;                   // file offset of the window
  uint32_t _len = 0;                     // valid bytes of the window
  uint32_t _dirtyFrom = 0, _dirtyTo = 0;  // written range of the window (empty when equal)
  bool _loaded = false;
  uint64_t _pos = 0;
  uint64_t _size = 0;
  int32_t _locks = 0;
};

}  // namespace zorvane
