// Numbers shared by the test plug-ins and the registry tests.
#pragma once

#include <cstdint>

namespace zortest {

constexpr int32_t kPluginId = 4242;      // plug-in with its own resources
constexpr int32_t kNoEntryId = 4243;     // library without the entry point
constexpr int32_t kBareId = 4244;        // plug-in without a resource table of its own
constexpr int32_t kEmptyId = 4246;       // plug-in with an empty table of its own
constexpr int32_t kAnswerQi = 77;        // the interface number the plug-ins answer
constexpr int32_t kCountMsg = 600;       // answer: starts * 1000 + stops
constexpr int32_t kReportMsg = 601;      // sent to the application module on start/stop

}  // namespace zortest
