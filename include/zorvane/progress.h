// ZorProgress: the progress of a long operation, and whether the user wants
// it cancelled.
//
// A long operation (a checksum, a parse, a backup) calls Begin once with its
// title and its number of steps, Step as it advances, and End when it stops
// for any reason. Step answers whether the user asked to cancel: the
// process-wide user break flag (ZorIsUserBreak in <zorvane/ui.h>) is set,
// or the display itself reports a cancel; an operation begun as not
// cancellable never hears it. The flag is left as it is: whoever handles the
// cancellation decides whether to clear it.
//
// This class is the headless display: it keeps the state and shows nothing.
// A visible display derives from it and draws in _onBegin, _onStep and
// _onEnd (which Step calls for every advance: a display throttles its own
// drawing). The object is used by one thread at a time and owns copies of
// its texts.
#pragma once

#include <zorvane/string.h>
#include <zorvane/types.h>

namespace zorvane {

class ZOR_API ZorProgress {
 public:
  ZorProgress() = default;
  ZorProgress(const ZorProgress&) = delete;
  ZorProgress& operator=(const ZorProgress&) = delete;
  virtual ~ZorProgress();

  // Starts an operation of `total` steps (0 when unknown) titled `title`
  // (cp1252, copied; null gives an empty title). The position goes to 0.
  void Begin(const char* title, int64_t total, bool cancellable = true);
  // Changes the title or the total while running.
  void SetTitle(const char* title);
  void SetTotal(int64_t total);
  // Advances by n steps (the position never passes a known total) and
  // returns true when the operation should stop because the user cancelled.
  bool Step(int64_t n = 1);
  // Stops the display; a second call does nothing.
  void End();

  bool IsRunning() const { return _running; }
  bool IsCancellable() const { return _cancellable; }
  const char* GetTitle() const { return _title.CStr(); }
  int64_t GetPos() const { return _pos; }
  int64_t GetTotal() const { return _total; }

  // Raises the cancellation error (1, 1000) from `source` and `line`: what
  // an operation does when Step answers true.
  [[noreturn]] static void S_RaiseCancel(const char* source, uint32_t line);

 protected:
  virtual void _onBegin() {}
  virtual void _onStep() {}
  virtual void _onEnd() {}
  // A cancel asked through the display itself (a button, a key).
  virtual bool _isCancelAsked() { return false; }

 private:
  string _title;
  int64_t _total = 0;
  int64_t _pos = 0;
  bool _cancellable = true;
  bool _running = false;
};

}  // namespace zorvane
