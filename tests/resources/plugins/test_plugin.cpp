// A plug-in module for the registry tests, built as several modules (ids
// through ZOR_MODULE_ID). It answers:
//   - message 52 (start: p1 0, stop: p1 10): counted, and reported to the
//     application module as message kReportMsg (p1 = this module's id,
//     p2 = the p1 it got), so that a test sees the order across modules;
//   - message kCountMsg: starts * 1000 + stops;
//   - QueryInterface(kAnswerQi): an interface whose own QueryInterface
//     answers itself for kAnswerQi.
#include <zorvane/module.h>

#include "tests/resources/plugins/test_plugin.h"

namespace {

using namespace zorvane;

class Answer final : public iZorInterface {
 public:
  iZorInterface* QueryInterface(int32_t id) override { return id == zortest::kAnswerQi ? this : nullptr; }
};

class TestPlugin final : public ZorModule {
 public:
  iZorInterface* QueryInterface(int32_t id) override { return id == zortest::kAnswerQi ? &_answer : nullptr; }

  int32_t HandleMessage(int32_t msg, int32_t p1, int32_t, int64_t, const char*, ZorHandle*) override {
    if (msg == zortest::kCountMsg) return _starts * 1000 + _stops;
    if (msg != ZorModuleMsgPlugIn) return 0;
    if (p1 == ZorModuleMsgStop)
      ++_stops;
    else
      ++_starts;
    ZorSendModuleMessage(ZorGetAppModuleId(), zortest::kReportMsg, 0, GetModuleId(), p1, 0, nullptr, nullptr);
    return 1;
  }

 private:
  Answer _answer;
  int32_t _starts = 0;
  int32_t _stops = 0;
};

}  // namespace

extern "C" ZorModule* ZorGetModuleObject() {
  static TestPlugin plugin;
  return &plugin;
}
