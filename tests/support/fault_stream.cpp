// The fault-injecting stream (see fault_stream.h).
#include "support/fault_stream.h"

#include <zorvane/exception.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace zorvane;

namespace zortest {

namespace {

[[noreturn]] void Raise(int64_t err) { throw ZorEBasic("FaultStream", __LINE__, 1, err, nullptr, nullptr); }

void WriteInto(std::string* image, uint64_t offset, const char* data, size_t n) {
  if (offset + n > image->size()) image->resize(offset + n, '\0');
  memcpy(image->data() + offset, data, n);
}

}  // namespace

void FaultStream::SetImage(std::string image) {
  _image = image;
  _durable = std::move(image);
  _pending.clear();
}

void FaultStream::ClearRecords() {
  _writes.clear();
  _flushes = 0;
  _bytesWritten = 0;
  _brackets = 0;
}

void FaultStream::FailAt(Op op, int nth, int64_t err) {
  _failOp = static_cast<int>(op);
  _failAt = _count[_failOp] + nth;
  _failErr = err;
  _fired = false;
}

// Counts the operation and raises when it is the armed one.
void FaultStream::_enter(Op op) {
  const int kind = static_cast<int>(op);
  ++_count[kind];
  ++_count[static_cast<int>(Op::kAny)];
  if (_closed) Raise(ZorErr(-1, 6));
  if (_failOp < 0 || _count[_failOp] != _failAt) return;
  _failOp = -1;
  _fired = true;
  Raise(_failErr);
}

uint32_t FaultStream::Read(void* buf, uint32_t n) {
  _enter(Op::kRead);
  const uint64_t avail = _pos < _image.size() ? _image.size() - _pos : 0;
  const uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(n, avail));
  if (got) memcpy(buf, _image.data() + _pos, got);
  if (got == n || _pos + got == _image.size()) _refresh(_pos, got);
  _pos += got;
  return got;
}

void FaultStream::Write(const void* buf, uint32_t n) {
  _enter(Op::kWrite);
  if (n == 0) return;
  WriteInto(&_image, _pos, static_cast<const char*>(buf), n);
  _pending.push_back({true, _pos, std::string(static_cast<const char*>(buf), n)});
  _writes.push_back({_pos, n});
  _bytesWritten += n;
  _refresh(_pos, n);
  _pos += n;
}

uint64_t FaultStream::Seek(int64_t offset, eZorSeek whence) {
  _enter(Op::kSeek);
  const int64_t base = whence == ZorSeekSet ? 0 : whence == ZorSeekCur ? static_cast<int64_t>(_pos)
                                                                       : static_cast<int64_t>(_image.size());
  if (base + offset < 0) Raise(ZorErr(-1, 87));
  _pos = static_cast<uint64_t>(base + offset);
  return _pos;
}

uint64_t FaultStream::GetSize() {
  _enter(Op::kGetSize);
  return _image.size();
}

void FaultStream::SetSize(uint64_t size) {
  _enter(Op::kSetSize);
  _image.resize(size, '\0');
  _pending.push_back({false, size, std::string()});
}

void FaultStream::Flush() {
  _enter(Op::kFlush);
  _durable = _image;
  _pending.clear();
  ++_flushes;
}

void FaultStream::Lock(int64_t, uint32_t) { _enter(Op::kLock); }
void FaultStream::UnLock(int64_t, uint32_t) { _enter(Op::kUnLock); }

void FaultStream::Close() { _closed = true; }

void* FaultStream::Lock(ZorLock* guard) {
  if (guard) guard->Init(this);
  return this;
}

void FaultStream::Unlock() {}

const std::string& FaultStream::PowerCut(uint32_t seed, uint32_t sectorSize) {
  std::mt19937 rng(seed);
  std::vector<Pending> survivors;
  for (Pending& p : _pending) {
    const uint32_t fate = rng() % 3;  // 0 dropped, 1 whole, 2 torn
    if (fate == 0) continue;
    if (fate == 2 && p.isWrite) {
      // Sector by sector (aligned to the file): each piece reaches the disk or not.
      uint64_t at = p.offset;
      while (at < p.offset + p.data.size()) {
        const uint64_t end = std::min<uint64_t>((at / sectorSize + 1) * sectorSize, p.offset + p.data.size());
        if (rng() % 2) survivors.push_back({true, at, p.data.substr(at - p.offset, end - at)});
        at = end;
      }
      continue;
    }
    survivors.push_back(std::move(p));
  }
  std::shuffle(survivors.begin(), survivors.end(), rng);
  std::string image = _durable;
  for (const Pending& p : survivors) {
    if (p.isWrite)
      WriteInto(&image, p.offset, p.data.data(), p.data.size());
    else
      image.resize(p.offset, '\0');
  }
  SetImage(std::move(image));
  return _image;
}

void FaultStream::SetDistant(bool distant, uint32_t chunkSize) {
  _distant = distant;
  _preferred = chunkSize;
  _chunk = chunkSize ? chunkSize : 4096;
}

void FaultStream::ForeignWrite(uint64_t offset, const std::string& data) {
  if (data.empty()) return;
  WriteInto(&_image, offset, data.data(), data.size());
  WriteInto(&_durable, offset, data.data(), data.size());
  for (uint64_t c = offset / _chunk; c <= (offset + data.size() - 1) / _chunk; ++c) _stale.insert(c);
  _news = true;
}

// A chunk covered whole (or up to the end of the image) is known again.
void FaultStream::_refresh(uint64_t offset, uint64_t length) {
  for (auto it = _stale.lower_bound(offset / _chunk); it != _stale.end();) {
    const uint64_t start = *it * _chunk;
    const uint64_t end = std::min<uint64_t>(start + _chunk, std::max<uint64_t>(_image.size(), start + 1));
    if (start >= offset + length) break;
    it = start >= offset && end <= offset + length ? _stale.erase(it) : std::next(it);
  }
}

int32_t FaultStream::Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void*) {
  _enter(Op::kCommand);
  switch (cmd) {
    case ZorStmCmdIsReadOnly:
      return readOnly;
    case ZorStmCmdGetDescriptor:
      return -1;
    case ZorStmCmdBeginExclusive:
      ++_brackets;
      if (_bracket++ == 0 && _news) {
        _news = false;
        if (_delegate.IsInit())
          _delegate.Call(0);
        else if (_fn)
          _fn(_context, this, false);
      }
      return 0;
    case ZorStmCmdEndExclusive:
      if (_bracket > 0) --_bracket;
      return 0;
    case ZorStmCmdSetChangeCallback:
      _delegate = a1 ? *static_cast<const ZorDelegate*>(a1) : ZorDelegate();
      _fn = a1 ? nullptr : reinterpret_cast<ZorStreamChangeFn>(a2);
      _context = a3;
      return 0;
    case ZorStmCmdIsRangeChanged: {
      const uint64_t off = static_cast<uint64_t>(*static_cast<const int64_t*>(a1));
      const uint32_t len = *static_cast<const uint32_t*>(a2);
      if (!_distant || len == 0) return 0;
      const auto it = _stale.lower_bound(off / _chunk);
      return it != _stale.end() && *it <= (off + len - 1) / _chunk;
    }
    case ZorStmCmdGetChunkSize:
      return _distant ? static_cast<int32_t>(_preferred) : 0;
    case ZorStmCmdIsDistant:
      return _distant;
    default:
      return 0;
  }
}

}  // namespace zortest
