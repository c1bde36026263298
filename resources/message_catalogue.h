// The message catalogue's cache of string lists, for the library's own
// look-ups that must tell a missing message from a present one.
//
// A list is loaded once per (module, group), on first use, and then kept for
// the life of the process: the pointers handed out stay valid. A list that
// is missing is looked for again on the next use.
#pragma once

#include <zorvane/string_list.h>

#include <cstdint>

namespace zorvane::catalogue {

// The string list `group` of `module`, or null when the resource is missing.
const ZorStringList* List(int32_t module, int32_t group);
// The text of a message that the list defines; "" for a number without a
// message (where ZorLoadString gives the list's "undefined" text), past the
// list's end, or for a missing list.
const char* Text(int32_t module, int32_t group, int32_t number);

}  // namespace zorvane::catalogue
