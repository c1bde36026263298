// What the debug channel and the exception hook receive while a Channels
// object lives (the previous sink and hook come back at its end).
#pragma once

#include <zorvane/zorvane.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvane::test {

class Channels {
 public:
  Channels() {
    _oldSink = ZorSetDebugSink([](const char* text, void* self) { static_cast<Channels*>(self)->debug.push_back(text); },
                               this);
    _oldHook = ZorSetExceptionHook(
        [](const sZorExceptionEvent& e, void* self) {
          static_cast<Channels*>(self)->exceptions.push_back(e.message);
          static_cast<Channels*>(self)->errors.push_back(e.err);
        },
        this);
  }
  ~Channels() {
    ZorSetDebugSink(_oldSink, nullptr);
    ZorSetExceptionHook(_oldHook, nullptr);
  }
  // A debug line containing `part`.
  bool Has(const std::string& part) const {
    return std::any_of(debug.begin(), debug.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  std::vector<std::string> debug;
  std::vector<std::string> exceptions;
  std::vector<int64_t> errors;  // the codes of `exceptions`

 private:
  ZorDebugSink _oldSink;
  ZorExceptionHook _oldHook;
};

}  // namespace zorvane::test
