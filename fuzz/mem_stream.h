// An in-memory stream for the block-file fuzz targets: a byte string that
// refuses to grow past 1 MiB (a full disk), so that absurd recorded
// positions cost no time. A read-only one answers the read-only query.
#pragma once

#include <zorvane/zorvane.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz_support {

using namespace zorvane;

// Writes that would make the image larger than this fail like a full disk.
inline constexpr uint64_t kMaxImage = 1u << 20;

[[noreturn]] inline void DiskFull() { throw ZorEBasic("fuzz_mem_stream", __LINE__, 1, ZorErr(-1, 112), nullptr, nullptr); }

// A read-write stream over a byte string; a local file to the block file.
class MemStream : public iZorStream {
 public:
  explicit MemStream(std::string image, bool readOnly = false) : _image(std::move(image)), _readOnly(readOnly) {}
  const std::string& Image() const { return _image; }

  bool Idle() override { return false; }
  bool Init(const ZorFsa*, eZorStreamPerm, uint32_t) override { return true; }
  uint32_t Read(void* buf, uint32_t n) override {
    const uint64_t avail = _pos < _image.size() ? _image.size() - _pos : 0;
    const uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(n, avail));
    if (got) std::memcpy(buf, _image.data() + _pos, got);
    _pos += got;
    return got;
  }
  void Write(const void* buf, uint32_t n) override {
    if (n == 0) return;
    if (_pos + n > kMaxImage) DiskFull();
    if (_pos + n > _image.size()) _image.resize(_pos + n, '\0');
    std::memcpy(_image.data() + _pos, buf, n);
    _pos += n;
  }
  uint64_t Seek(int64_t offset, eZorSeek whence) override {
    const int64_t base = whence == ZorSeekSet ? 0
                         : whence == ZorSeekCur ? static_cast<int64_t>(_pos)
                                                : static_cast<int64_t>(_image.size());
    if (offset < -base) throw ZorEBasic("fuzz_mem_stream", __LINE__, 1, ZorErr(-1, 131), nullptr, nullptr);
    _pos = static_cast<uint64_t>(base + offset);
    return _pos;
  }
  uint64_t GetSize() override { return _image.size(); }
  void SetSize(uint64_t size) override {
    if (size > kMaxImage) DiskFull();
    _image.resize(size, '\0');
  }
  void Flush() override {}
  void Lock(int64_t, uint32_t) override {}
  void UnLock(int64_t, uint32_t) override {}
  int32_t Command(eZorStreamCmd cmd, void*, void*, void*, void*) override {
    return cmd == ZorStmCmdIsReadOnly && _readOnly ? 1 : 0;
  }
  void Close() override {}
  void* Lock(ZorLock* guard) override {
    if (guard) guard->Init(this);
    return this;
  }
  void Unlock() override {}

 private:
  std::string _image;
  uint64_t _pos = 0;
  bool _readOnly = false;
};

}  // namespace fuzz_support
