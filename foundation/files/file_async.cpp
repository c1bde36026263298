// ZorFileAsync (see zorvane/file_async.h). States: kIdle (no copy), kReady
// (named, nothing opened), kCopying (both streams open, _copied bytes
// written), kDone (streams closed, delegate called, _error final). Every
// failure of a step is caught and ends the copy: Idle never raises.
#include <zorvane/exception.h>
#include <zorvane/file_async.h>
#include <zorvane/file_commands.h>
#include <zorvane/memory.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>

#include <algorithm>

namespace zorvane {

namespace {

constexpr int32_t kFilesTextGroup = 216;
constexpr int32_t kCopyProgressText = 63;

}  // namespace

void ZorFileAsync::Init(const ZorFsa* from, const ZorFsa* to, const ZorDelegate* done, uint32_t step) {
  Trash();
  _from = *from;
  _to = *to;
  _done = done ? *done : ZorDelegate();
  _step = step ? step : kDefaultStep;
  _state = kReady;
}

void ZorFileAsync::Trash() {
  _src.Trash();
  _dst.Trash();
  _in = _out = nullptr;
  if (_buf) ZorMemFree(_buf);
  _buf = nullptr;
  if (_state == kCopying) {
    try {
      ZorFsaCmd(&_to).Remove();
    } catch (const ZorEBasic&) {
      // Abandoning must not fail; the partial target stays.
    }
  }
  _state = kIdle;
  _from.Trash();
  _to.Trash();
  _copied = _total = 0;
  _error = 0;
}

void ZorFileAsync::_Start() {
  _in = ZorOpenStream(&_from, ZorPermRead | ZorShareRead, &_src, 0);
  _total = _in->GetSize();
  ZorFsaCmd(&_to).Create_File(ZorFsaCreateAlways);
  _state = kCopying;
  _out = ZorOpenStream(&_to, ZorPermReadWrite | ZorShareExclusive, &_dst, 0);
  _buf = static_cast<char*>(ZorMemAlloc(_step));
}

void ZorFileAsync::_stepOnce() {
  const uint32_t got = _in->Read(_buf, _step);
  if (got > 0) _out->Write(_buf, got);
  _copied += got;
  if (got < _step) {
    _out->Flush();
    _out->Close();
    _finish(0);
  }
}

void ZorFileAsync::_finish(int64_t error) {
  _error = error;
  _src.Trash();
  _dst.Trash();
  _in = _out = nullptr;
  if (_buf) ZorMemFree(_buf);
  _buf = nullptr;
  if (error && _state == kCopying) {
    try {
      ZorFsaCmd(&_to).Remove();
    } catch (const ZorEBasic&) {
      // The copy failed already; its error is the one to report.
    }
  }
  _state = kDone;
  _done.Call(ZorErrNumber(error));
}

bool ZorFileAsync::Idle() {
  if (_state != kReady && _state != kCopying) return false;
  try {
    if (_state == kReady)
      _Start();
    else
      _stepOnce();
  } catch (const ZorEBasic& e) {
    _finish(e.GetError());
  }
  return _state != kDone;
}

void ZorFileAsync::Run() {
  while (Idle()) {
  }
}

void ZorFileAsync::Cancel() {
  if (_state == kReady || _state == kCopying) _finish(ZorErr(1, 1000));
}

const char* ZorFileAsync::GetProgressText(string* dst) const {
  string from, to;
  _from.GetPath(ZorFsaPathDisplay, &from);
  _to.GetPath(ZorFsaPathDisplay, &to);
  const uint64_t percent = _total ? std::min<uint64_t>(100, _copied * 100 / _total) : (_state == kDone ? 100 : 0);
  dst->Format(1, kFilesTextGroup, kCopyProgressText, from.CStr(), to.CStr(), static_cast<int32_t>(percent));
  return dst->CStr();
}

}  // namespace zorvane
