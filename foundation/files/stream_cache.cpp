// ZorStreamCache (see zorvane/stream_cache.h for what it promises).
//
// Invariants: the window holds the bytes [_start, _start + _len) of the
// stream as this cache sees them (underlying bytes overlaid with the
// written range [_dirtyFrom, _dirtyTo), which is not yet passed on); _start
// is a multiple of the window size and _len never exceeds it; _size is the
// stream's size including what the window added past the underlying end.
// Bytes of the window between the underlying end and a write further on are
// zeros, as the file would have them once the write reaches it.
#include <zorvane/exception.h>
#include <zorvane/stream_cache.h>

#include "foundation/errors/raise.h"
#include "platform/os_error.h"

#include <algorithm>
#include <cstring>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorFiles";

// A stream over the bytes of a handle, shared with the caller's ZorHandle.
class HandleStream : public iZorStream {
 public:
  explicit HandleStream(ZorHandle* h) : _h(*h) {}
  bool Idle() override { return false; }
  bool Init(const ZorFsa*, eZorStreamPerm, uint32_t) override { return false; }
  uint32_t Read(void* buf, uint32_t n) override {
    const uint64_t size = _h.GetSize();
    const uint32_t got = _pos >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(n, size - _pos));
    if (got) memcpy(buf, static_cast<char*>(_h.GetDatas()) + _pos, got);
    _pos += got;
    return got;
  }
  void Write(const void* buf, uint32_t n) override {
    if (n == 0) return;
    if (_pos + n > _h.GetSize()) _resize(_pos + n);
    memcpy(static_cast<char*>(_h.GetDatas()) + _pos, buf, n);
    _pos += n;
  }
  uint64_t Seek(int64_t offset, eZorSeek whence) override {
    const int64_t base = whence == ZorSeekSet ? 0 : whence == ZorSeekCur ? static_cast<int64_t>(_pos)
                                                                         : static_cast<int64_t>(_h.GetSize());
    if (base + offset < 0) ZorRaiseWinErr(kSource, platform::kWinErrInvalidParameter, nullptr);
    _pos = static_cast<uint64_t>(base + offset);
    return _pos;
  }
  uint64_t GetSize() override { return _h.GetSize(); }
  void SetSize(uint64_t size) override { _resize(size); }
  void Flush() override {}
  void Lock(int64_t, uint32_t) override {}
  void UnLock(int64_t, uint32_t) override {}
  int32_t Command(eZorStreamCmd cmd, void*, void*, void*, void*) override {
    return cmd == ZorStmCmdGetDescriptor ? -1 : 0;
  }
  void Close() override {}
  void* Lock(ZorLock* guard) override {
    if (guard) guard->Init(this);
    return this;
  }
  void Unlock() override {}

 private:
  void _resize(uint64_t size) {
    if (size > UINT32_MAX) ZorRaiseWinErr(kSource, platform::kWinErrDiskFull, nullptr);
    _h.SetSizeZ(static_cast<uint32_t>(size));
  }
  ZorHandle _h;
  uint64_t _pos = 0;
};

}  // namespace

ZorStreamCache::ZorStreamCache() = default;

ZorStreamCache::~ZorStreamCache() {
  try {
    Close();
  } catch (...) {
    // Nobody to tell in a destructor; Close() reports to those who call it.
  }
}

void ZorStreamCache::_attach(iZorStream* inner, uint32_t window) {
  _inner = inner;
  _cap = window ? window : kDefaultWindow;
  _buf.reset(new char[_cap]);
  _loaded = false;
  _len = _dirtyFrom = _dirtyTo = 0;
  _pos = 0;
  _inner->Seek(0, ZorSeekSet);
  _size = _inner->GetSize();
}

void ZorStreamCache::Init(iZorStream* inner, uint32_t window) {
  Close();
  inner->Lock(&_pin);
  _attach(inner, window);
}

bool ZorStreamCache::Init(const ZorFsa* path, eZorStreamPerm perm, uint32_t flags) {
  Close();
  iZorStream* inner = ZorOpenStream(path, perm, &_pin, flags);
  if (!inner) return false;
  _ownsInner = true;
  _attach(inner, 0);
  return true;
}

void ZorStreamCache::Init(ZorHandle* h, uint32_t window) {
  Close();
  _owned.reset(new HandleStream(h));
  _attach(_owned.get(), window);
}

void ZorStreamCache::_require() const {
  if (!_inner) ZorRaiseWinErr(kSource, 6, nullptr);
}

bool ZorStreamCache::Idle() { return _inner && _inner->Idle(); }

// Passes the written range on; the window stays valid.
void ZorStreamCache::_writeBack() {
  if (_dirtyFrom == _dirtyTo) return;
  _inner->Seek(static_cast<int64_t>(_start + _dirtyFrom), ZorSeekSet);
  _inner->Write(_buf.get() + _dirtyFrom, _dirtyTo - _dirtyFrom);
  _dirtyFrom = _dirtyTo = 0;
}

void ZorStreamCache::_forget() {
  _writeBack();
  _loaded = false;
  _len = 0;
}

void ZorStreamCache::_load(uint64_t start) {
  _forget();
  _start = start;
  _inner->Seek(static_cast<int64_t>(start), ZorSeekSet);
  const uint64_t avail = _size > start ? _size - start : 0;
  const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(_cap, avail));
  _len = want ? _inner->Read(_buf.get(), want) : 0;
  _loaded = true;
}

uint32_t ZorStreamCache::_readDirect(void* buf, uint32_t n) {
  _forget();
  _inner->Seek(static_cast<int64_t>(_pos), ZorSeekSet);
  const uint32_t got = _inner->Read(buf, n);
  _pos += got;
  return got;
}

void ZorStreamCache::_writeDirect(const void* buf, uint32_t n) {
  _forget();
  _inner->Seek(static_cast<int64_t>(_pos), ZorSeekSet);
  _inner->Write(buf, n);
  _pos += n;
  _size = std::max(_size, _pos);
}

uint32_t ZorStreamCache::Read(void* buf, uint32_t n) {
  _require();
  if (n >= _cap) return _readDirect(buf, n);
  uint32_t done = 0;
  while (done < n && _pos < _size) {
    if (!_loaded || _pos < _start || _pos >= _start + _cap) _load(_pos - _pos % _cap);
    const uint64_t at = _pos - _start;
    if (at >= _len) break;  // the underlying stream ended early
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(n - done, _len - at));
    memcpy(static_cast<char*>(buf) + done, _buf.get() + at, piece);
    done += piece;
    _pos += piece;
  }
  return done;
}

void ZorStreamCache::Write(const void* buf, uint32_t n) {
  _require();
  if (n >= _cap) return _writeDirect(buf, n);
  uint32_t done = 0;
  while (done < n) {
    if (!_loaded || _pos < _start || _pos >= _start + _cap) _load(_pos - _pos % _cap);
    const uint32_t at = static_cast<uint32_t>(_pos - _start);
    const uint32_t piece = std::min(n - done, _cap - at);
    if (at > _len) memset(_buf.get() + _len, 0, at - _len);
    memcpy(_buf.get() + at, static_cast<const char*>(buf) + done, piece);
    if (_dirtyFrom == _dirtyTo) _dirtyFrom = at, _dirtyTo = at;
    _dirtyFrom = std::min(_dirtyFrom, at);
    _dirtyTo = std::max(_dirtyTo, at + piece);
    _len = std::max(_len, at + piece);
    done += piece;
    _pos += piece;
    _size = std::max(_size, _pos);
  }
}

uint64_t ZorStreamCache::Seek(int64_t offset, eZorSeek whence) {
  _require();
  const int64_t base = whence == ZorSeekSet ? 0 : whence == ZorSeekCur ? static_cast<int64_t>(_pos)
                                                                       : static_cast<int64_t>(_size);
  if (base + offset < 0) ZorRaiseWinErr(kSource, platform::kWinErrInvalidParameter, nullptr);
  _pos = static_cast<uint64_t>(base + offset);
  return _pos;
}

uint64_t ZorStreamCache::GetSize() {
  _require();
  return _size;
}

void ZorStreamCache::SetSize(uint64_t size) {
  _require();
  _forget();
  _inner->SetSize(size);
  _size = size;
}

void ZorStreamCache::Flush() {
  _require();
  _writeBack();
  _inner->Flush();
}

void ZorStreamCache::Lock(int64_t offset, uint32_t length) {
  _require();
  _inner->Lock(offset, length);
}

void ZorStreamCache::UnLock(int64_t offset, uint32_t length) {
  _require();
  _writeBack();
  _inner->UnLock(offset, length);
}

int32_t ZorStreamCache::Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void* a4) {
  _require();
  if (cmd == ZorStmCmdEndExclusive || cmd == ZorStmCmdIsRangeChanged) _writeBack();
  const int32_t r = _inner->Command(cmd, a1, a2, a3, a4);
  if (cmd == ZorStmCmdBeginExclusive) {
    _forget();
    _size = _inner->GetSize();
  }
  return r;
}

void ZorStreamCache::Close() {
  if (!_inner) return;
  struct Release {
    ZorStreamCache* c;
    ~Release() {
      c->_inner = nullptr;
      c->_ownsInner = false;
      c->_pin.Trash();
      c->_owned.reset();
      c->_buf.reset();
      c->_loaded = false;
      c->_len = c->_dirtyFrom = c->_dirtyTo = 0;
    }
  } release{this};
  _writeBack();
  if (_ownsInner) _inner->Close();
}

void* ZorStreamCache::Lock(ZorLock* guard) {
  ++_locks;
  if (guard) guard->Init(this);
  return this;
}

void ZorStreamCache::Unlock() {
  if (_locks > 0 && --_locks > 0) return;
  try {
    Close();
  } catch (...) {
    // Guards release in destructors; Close() reports to its own callers.
  }
}

}  // namespace zorvane
