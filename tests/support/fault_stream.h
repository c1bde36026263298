// A stream over an in-memory image, for tests of everything that stores
// through iZorStream: it records what its user did, fails a chosen
// operation, simulates a power cut, and can play a distant file changed by
// another process.
//
// The image is what reads see. The durable image is what survives a power
// cut for sure: the image as of the last Flush. The writes and size changes
// made since then are kept in order; PowerCut replays a random selection of
// them over the durable image, in random order, some torn at a sector
// boundary, seeded so that a failing case can be replayed.
//
// The stream is used by one thread at a time. Lock/Unlock (the lockable
// part) only fill the guard; Close only marks the stream closed (operations on a
// closed stream fail with the invalid-handle error 6).
#pragma once

#include <zorvane/handle.h>
#include <zorvane/stream.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zortest {

class FaultStream : public zorvane::iZorStream {
 public:
  enum class Op { kRead, kWrite, kSeek, kGetSize, kSetSize, kFlush, kLock, kUnLock, kCommand, kAny };
  struct WriteRecord {
    uint64_t offset;
    uint32_t length;
    bool operator==(const WriteRecord&) const = default;
  };

  FaultStream() = default;
  explicit FaultStream(std::string image) : _image(image), _durable(std::move(image)) {}

  // ------------------------------------------------------------ the images
  const std::string& Image() const { return _image; }
  const std::string& Durable() const { return _durable; }
  // Replaces both images and forgets the unflushed changes.
  void SetImage(std::string image);

  // ------------------------------------------------------------ records
  const std::vector<WriteRecord>& Writes() const { return _writes; }
  int Flushes() const { return _flushes; }
  uint64_t BytesWritten() const { return _bytesWritten; }
  int Count(Op op) const { return _count[static_cast<int>(op)]; }  // since the stream was made
  bool IsClosed() const { return _closed; }
  void ClearRecords();

  // ------------------------------------------------------------ faults
  // The nth (1 = the next) operation of kind op from now raises ZorEBasic
  // with err, without any effect; Op::kAny counts every operation. One fault
  // is armed at a time.
  void FailAt(Op op, int nth, int64_t err = zorvane::ZorErr(-1, 112));
  void Disarm() { _failOp = -1; }
  // Whether the armed fault has fired.
  bool Fired() const { return _fired; }

  // The power cut: the image after a restart, which also becomes both
  // images of the stream. Each write since the last flush is kept whole,
  // dropped, or torn (only some of its sectors reach the disk); size changes
  // are kept or dropped; the survivors are applied in random order.
  const std::string& PowerCut(uint32_t seed, uint32_t sectorSize = 512);

  // ------------------------------------------------------------ distant play
  // Makes the stream report itself distant with that chunk size (0: no
  // preference; changes are then tracked per 4,096 bytes).
  void SetDistant(bool distant, uint32_t chunkSize = 4096);
  // Another process writes: both images change, the chunks become stale and
  // the next command 2 calls the change callback.
  void ForeignWrite(uint64_t offset, const std::string& data);
  int BracketDepth() const { return _bracket; }
  int Brackets() const { return _brackets; }  // begun since the records were cleared

  // Whether the stream says it was opened read-only (it still writes).
  bool readOnly = false;

  // ------------------------------------------------------------ iZorStream
  bool Idle() override { return false; }
  bool Init(const zorvane::ZorFsa*, zorvane::eZorStreamPerm, uint32_t) override { return true; }
  uint32_t Read(void* buf, uint32_t n) override;
  void Write(const void* buf, uint32_t n) override;
  uint64_t Seek(int64_t offset, zorvane::eZorSeek whence) override;
  uint64_t GetSize() override;
  void SetSize(uint64_t size) override;
  void Flush() override;
  void Lock(int64_t offset, uint32_t length) override;
  void UnLock(int64_t offset, uint32_t length) override;
  int32_t Command(zorvane::eZorStreamCmd cmd, void* a1, void* a2, void* a3, void* a4) override;
  void Close() override;
  void* Lock(zorvane::ZorLock* guard) override;
  void Unlock() override;

 private:
  struct Pending {
    bool isWrite;
    uint64_t offset;  // write offset, or the new size
    std::string data;
  };

  void _enter(Op op);
  void _refresh(uint64_t offset, uint64_t length);

  std::string _image, _durable;
  std::vector<Pending> _pending;
  uint64_t _pos = 0;
  std::vector<WriteRecord> _writes;
  int _flushes = 0;
  uint64_t _bytesWritten = 0;
  int _count[10] = {};
  int _failOp = -1, _failAt = 0;
  int64_t _failErr = 0;
  bool _fired = false;
  bool _closed = false;
  bool _distant = false;
  uint32_t _chunk = 4096, _preferred = 4096;
  std::set<uint64_t> _stale;
  bool _news = false;
  int _bracket = 0, _brackets = 0;
  zorvane::ZorDelegate _delegate;
  zorvane::ZorStreamChangeFn _fn = nullptr;
  void* _context = nullptr;
};

}  // namespace zortest
