// Look-ups in the built-in message catalogue (resources/message_data.h)
// without a `string`: the texts returned point into the constant table and
// live as long as the library.
#pragma once

#include "resources/message_data.h"

namespace zorvane::catalogue {

// The entry (module, group, number), or null.
const Entry* Find(int32_t module, int32_t group, int32_t number);
// Its text, or "" when missing.
const char* Text(int32_t module, int32_t group, int32_t number);

}  // namespace zorvane::catalogue
