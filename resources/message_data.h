// The built-in message catalogue data: every text of the library's own string
// lists, converted at build time from the UTF-8 files of resources/messages/
// into cp1252 bytes. The entries are sorted by (module, group, number).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvane::catalogue {

struct Entry {
  int32_t module;
  int32_t group;
  int32_t number;
  const char* text;    // cp1252, NUL-terminated
  const char* symbol;  // symbolic name ("" when none)
};

extern const Entry kEntries[];
extern const size_t kEntryCount;

}  // namespace zorvane::catalogue
