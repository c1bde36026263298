// Records the texts of the event journal while it lives (it registers
// itself as the event store and puts the previous one back).
#pragma once

#include <zorvane/event_journal.h>

#include <string>
#include <vector>

namespace zortest {

class EventRecorder : public zorvane::iZorEventStore {
 public:
  EventRecorder() { _previous = zorvane::ZorSetEventStore(this); }
  ~EventRecorder() override { zorvane::ZorSetEventStore(_previous); }
  uint32_t Count() override { return static_cast<uint32_t>(texts.size()); }
  uint32_t DeleteTypes(int32_t, int32_t) override { return 0; }
  void Add(const zorvane::sZorEventRecord& r) override { texts.emplace_back(r.text); }
  void Empty() override { texts.clear(); }
  std::vector<std::string> texts;

 private:
  zorvane::iZorEventStore* _previous = nullptr;
};

}  // namespace zortest
