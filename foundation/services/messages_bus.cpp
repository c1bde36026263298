// The message hook. Invariant: the listener and its context are read and
// replaced together under the mutex; the listener is called without it.
#include <zorvane/messages_bus.h>

#include <mutex>

namespace zorvane {
namespace {

std::mutex g_mutex;
ZorMessageListener g_listener = nullptr;
void* g_context = nullptr;

}  // namespace

ZorMessageListener ZorSetMessageListener(ZorMessageListener listener, void* context) {
  std::lock_guard<std::mutex> g(g_mutex);
  ZorMessageListener previous = g_listener;
  g_listener = listener;
  g_context = context;
  return previous;
}

void ZorSendMessage(int32_t msg, int32_t sub, void* obj, int64_t a, int64_t b, int64_t c, int64_t d, int64_t e) {
  ZorMessageListener listener;
  void* context;
  {
    std::lock_guard<std::mutex> g(g_mutex);
    listener = g_listener;
    context = g_context;
  }
  if (listener) listener(context, msg, sub, obj, a, b, c, d, e);
}

}  // namespace zorvane
