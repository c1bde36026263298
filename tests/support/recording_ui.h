// A user interface that records every message box, answers OK and reports
// the Shift key as the test sets it; installed for the lifetime of the object.
#pragma once

#include <zorvane/ui.h>

#include <string>
#include <vector>

namespace zortest {

class RecordingUi : public zorvane::iZorUserInterface {
 public:
  struct Box {
    std::string text;
    uint32_t kind;
  };
  RecordingUi() : _previous(zorvane::ZorSetUserInterface(this)) {}
  ~RecordingUi() override { zorvane::ZorSetUserInterface(_previous); }
  int32_t MessageBox(const char* text, const char*, uint32_t kind) override {
    boxes.push_back({text ? text : "", kind});
    return zorvane::ZorIdOk;
  }
  bool IsShiftDown() override { return shift; }

  std::vector<Box> boxes;
  bool shift = false;

 private:
  zorvane::iZorUserInterface* _previous;
};

}  // namespace zortest
