#include "support/fault_env.h"

#include <cerrno>

namespace zortest {

void FaultEnv::_arm(Fault fault, int nth) {
  _fault = fault;
  _countdown = nth;
  _failNext = false;
  _fired = false;
  _cutAt = UINT64_MAX;
}

void FaultEnv::Disarm() {
  _fault = Fault::kNone;
  _failNext = false;
}

void FaultEnv::FillDiskAfter(uint64_t bytes) {
  _arm(Fault::kDiskFull, 0);
  _room = bytes;
}

void FaultEnv::FailReadAt(int nth) { _arm(Fault::kRead, nth); }

void FaultEnv::FailSyncAt(int nth) { _arm(Fault::kSync, nth); }

void FaultEnv::ShortWriteAt(int nth, bool thenFail) {
  _arm(Fault::kShortWrite, nth);
  _thenFail = thenFail;
}

bool FaultEnv::_strikes(Fault fault) {
  if (_fault != fault || --_countdown > 0) return false;
  _fired = true;
  _fault = Fault::kNone;
  return true;
}

size_t FaultEnv::_admit(size_t n, uint64_t offset, int* err) {
  *err = 0;
  if (_fault == Fault::kDiskFull) {
    if (_room >= n) {
      _room -= n;
      return n;
    }
    _fired = true;
    const size_t fits = static_cast<size_t>(_room);
    _room = 0;
    if (fits == 0) *err = ENOSPC;
    else _cutAt = offset;
    return fits;
  }
  if (_failNext) {
    *err = EIO;
    return 0;
  }
  if (_fault != Fault::kShortWrite || --_countdown > 0) return n;
  _fired = true;
  _fault = Fault::kNone;
  _failNext = _thenFail;
  _cutAt = offset;
  return n / 2;
}

int FaultEnv::Read(int fd, void* buf, size_t n, size_t* done) {
  if (_strikes(Fault::kRead)) return *done = 0, EIO;
  return EnvWrapper::Read(fd, buf, n, done);
}

int FaultEnv::PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) {
  if (_strikes(Fault::kRead)) return *done = 0, EIO;
  return EnvWrapper::PRead(fd, buf, n, offset, done);
}

// A write of 0 admitted bytes that is no error reports a count of 0, as a
// system call may.
int FaultEnv::Write(int fd, const void* buf, size_t n, size_t* done) {
  int err = 0;
  const size_t admitted = _admit(n, UINT64_MAX, &err);
  if (err || admitted == 0) return *done = 0, err;
  return EnvWrapper::Write(fd, buf, admitted, done);
}

int FaultEnv::PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) {
  int err = 0;
  const size_t admitted = _admit(n, offset, &err);
  if (err || admitted == 0) return *done = 0, err;
  return EnvWrapper::PWrite(fd, buf, admitted, offset, done);
}

int FaultEnv::DataSync(int fd) { return _strikes(Fault::kSync) ? EIO : EnvWrapper::DataSync(fd); }

int FaultEnv::Sync(int fd) { return _strikes(Fault::kSync) ? EIO : EnvWrapper::Sync(fd); }

}  // namespace zortest
