// Look-ups in the built-in message catalogue (resources/message_data.h) for
// the library's own code, without a `string`: the texts returned point into
// the constant table and live as long as the library.
#pragma once

#include "resources/message_data.h"

namespace zorvane::catalogue {

// The entry (module, group, number), or null.
const Entry* Find(int32_t module, int32_t group, int32_t number);
// Its text, or "" when missing.
const char* Text(int32_t module, int32_t group, int32_t number);
// The highest message number of the list, or 0 when the list does not exist.
int32_t HighestNumber(int32_t module, int32_t group);
// The placeholder text of a number without a message inside a list's range.
const char* UndefinedText();

}  // namespace zorvane::catalogue
