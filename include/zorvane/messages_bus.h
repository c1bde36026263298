// The process-wide message hook: services announce events (a block file
// changed, ...) with ZorSendMessage; one listener, set by the host, receives
// them. Without a listener a message goes nowhere.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

using ZorMessageListener = void (*)(void* context, int32_t msg, int32_t sub, void* obj, int64_t a, int64_t b,
                                    int64_t c, int64_t d, int64_t e);

// Sets the listener (null removes it); returns the previous one.
ZOR_API ZorMessageListener ZorSetMessageListener(ZorMessageListener listener, void* context);
ZOR_API void ZorSendMessage(int32_t msg, int32_t sub, void* obj, int64_t a, int64_t b, int64_t c, int64_t d,
                            int64_t e);

}  // namespace zorvane
