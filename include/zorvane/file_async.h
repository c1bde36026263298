// ZorFileAsync: a file copy made in small steps from the application's idle
// loop, with a progress text and a completion call-back.
//
// Init names the source and the target (created, or emptied when it
// exists); nothing is opened until the first step. Each Idle() copies at
// most one step of bytes and returns true while work remains. At the end
// the target is flushed and both files are closed; the completion delegate
// is then called once, with 0 on success or the number of the error (the
// low word of GetError(), e.g. 112 for a full disk, 1000 when cancelled).
// A failed or cancelled copy removes the partial target.
//
// The object owns its two streams between the first and the last step; the
// delegate is not owned and must outlive the copy. One thread at a time.
#pragma once

#include <zorvane/path.h>
#include <zorvane/handle.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class iZorStream;

class ZOR_API ZorFileAsync {
 public:
  static constexpr uint32_t kDefaultStep = 1u << 20;

  ZorFileAsync() = default;
  ZorFileAsync(const ZorFileAsync&) = delete;
  ZorFileAsync& operator=(const ZorFileAsync&) = delete;
  ~ZorFileAsync() { Trash(); }

  void Init(const ZorFsa* from, const ZorFsa* to, const ZorDelegate* done = nullptr, uint32_t step = kDefaultStep);
  bool IsInit() const { return _from.IsInit(); }
  // Abandons a copy in progress (without calling the delegate) and empties
  // the object.
  void Trash();

  // One step; false once the copy has ended (or was never started).
  bool Idle();
  // Runs the remaining steps.
  void Run();
  // Ends the copy as cancelled by the user (1, 1000).
  void Cancel();

  bool IsDone() const { return _state == kDone; }
  int64_t GetError() const { return _error; }
  uint64_t GetCopied() const { return _copied; }
  uint64_t GetTotal() const { return _total; }
  // "Copie de <source> vers <target> : <percent> %" (catalogue text).
  const char* GetProgressText(string* dst) const;

 private:
  enum State { kIdle, kReady, kCopying, kDone };
  void _Start();
  void _stepOnce();
  void _finish(int64_t error);

  ZorFsa _from, _to;
  ZorDelegate _done;
  uint32_t _step = kDefaultStep;
  State _state = kIdle;
  ZorLock _src, _dst;  // the streams, owned through their guards
  iZorStream* _in = nullptr;
  iZorStream* _out = nullptr;
  char* _buf = nullptr;
  uint64_t _copied = 0, _total = 0;
  int64_t _error = 0;
};

}  // namespace zorvane
