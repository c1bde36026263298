// An environment that fails, on request, the transfers and syncs of the
// real files opened through it: the system-call side of the fault-injecting
// stream. Everything else goes to the environment it wraps (by default the
// one current when it is built).
//
// Install it (platform::ScopedEnv) before opening the files it is to fail:
// a stream keeps the environment that opened its file. One fault is armed
// at a time; Disarm lets everything through again. The fault state is not
// guarded: transfers and syncs come from the test's own thread (a stream's
// helper thread only gives advice, which passes untouched).
#pragma once

#include "platform/env.h"

#include <cstdint>

namespace zortest {

class FaultEnv : public zorvane::platform::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(&zorvane::platform::CurrentEnv()) {}

  // A full disk: the next `bytes` bytes are written; the write that crosses
  // the limit stores what fits and reports that count, and every write
  // after it fails with ENOSPC.
  void FillDiskAfter(uint64_t bytes);
  // The nth read from now (1 = the next) fails with EIO.
  void FailReadAt(int nth);
  // The nth fdatasync or fsync from now fails with EIO (the data stay with
  // the kernel: a later sync may still succeed).
  void FailSyncAt(int nth);
  // The nth write from now stores only its first half and reports that
  // count. With thenFail every write after it fails with EIO (the device
  // went away in the middle of the write), else they go through.
  void ShortWriteAt(int nth, bool thenFail);
  void Disarm();
  // The armed fault has struck.
  bool Fired() const { return _fired; }
  // The file offset of the write that the fault cut short (a full disk or a
  // short write); UINT64_MAX when none was.
  uint64_t CutAt() const { return _cutAt; }

  int Read(int fd, void* buf, size_t n, size_t* done) override;
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override;
  int Write(int fd, const void* buf, size_t n, size_t* done) override;
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override;
  int DataSync(int fd) override;
  int Sync(int fd) override;

 private:
  enum class Fault { kNone, kDiskFull, kRead, kSync, kShortWrite };

  void _arm(Fault fault, int nth);
  // Whether the read or sync about to be made is the one to fail.
  bool _strikes(Fault fault);
  // The bytes of an n-byte write at offset that go through, or an error (*err).
  size_t _admit(size_t n, uint64_t offset, int* err);

  Fault _fault = Fault::kNone;
  int _countdown = 0;
  uint64_t _room = 0;        // full disk: bytes still free
  bool _failNext = false;    // short write: the writes after it fail
  bool _thenFail = false;
  bool _fired = false;
  uint64_t _cutAt = UINT64_MAX;
};

}  // namespace zortest
