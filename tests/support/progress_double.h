// A progress display for tests: records what an operation showed and can
// ask for a cancel after a given number of steps.
#pragma once

#include <zorvane/progress.h>

#include <cstdint>
#include <string>

namespace zortest {

class RecordingProgress : public zorvane::ZorProgress {
 public:
  int begins = 0;
  int ends = 0;
  int steps = 0;             // calls of Step (and of SetTitle/SetTotal while running)
  std::string beginTitle;    // the title given to Begin
  int64_t beginTotal = -1;   // the total given to Begin
  int cancelAtStep = -1;     // from that step on the display asks to cancel (-1: never)

 protected:
  void _onBegin() override {
    ++begins;
    beginTitle = GetTitle();
    beginTotal = GetTotal();
  }
  void _onStep() override { ++steps; }
  void _onEnd() override { ++ends; }
  bool _isCancelAsked() override { return cancelAtStep >= 0 && steps >= cancelAtStep; }
};

}  // namespace zortest
