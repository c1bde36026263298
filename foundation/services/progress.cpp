// ZorProgress: position keeping and the cancellation question. The position
// stays within [0, total] whenever the total is known; the display hooks are
// called after the state they show has changed.
#include <zorvane/exception.h>
#include <zorvane/progress.h>
#include <zorvane/ui.h>

#include "foundation/errors/raise.h"

namespace zorvane {

ZorProgress::~ZorProgress() = default;

void ZorProgress::Begin(const char* title, int64_t total, bool cancellable) {
  _title = title;
  _total = total > 0 ? total : 0;
  _pos = 0;
  _cancellable = cancellable;
  _running = true;
  _onBegin();
}

void ZorProgress::SetTitle(const char* title) {
  _title = title;
  if (_running) _onStep();
}

void ZorProgress::SetTotal(int64_t total) {
  _total = total > 0 ? total : 0;
  if (_total != 0 && _pos > _total) _pos = _total;
  if (_running) _onStep();
}

bool ZorProgress::Step(int64_t n) {
  _pos += n > 0 ? n : 0;
  if (_total != 0 && _pos > _total) _pos = _total;
  _onStep();
  return _cancellable && (ZorIsUserBreak() || _isCancelAsked());
}

void ZorProgress::End() {
  if (!_running) return;
  _running = false;
  _onEnd();
}

void ZorProgress::S_RaiseCancel(const char* source, uint32_t line) {
  ZorRaise({source, line}, ZorErr(1, 1000));
}

}  // namespace zorvane
