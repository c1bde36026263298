// The library's global option flags: one process-wide word of switches that
// the host application sets at start-up and services read.
//
// The word is read and written atomically; a service reads it when it needs
// it, so a change takes effect at the next such read.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

enum : uint32_t {
  ZorGlobDocTableDeleted = 0x00008,  // a table of the current document's database was deleted
  ZorGlobSafeMode = 0x00020,  // the application runs in safe mode
  ZorGlobFramLog = 0x40000,   // services write their errors to the standard log
};

ZOR_API uint32_t ZorGetGlobalFlags();
// Sets the bits of `mask` to those of `flags`; returns the previous word.
ZOR_API uint32_t ZorSetGlobalFlags(uint32_t flags, uint32_t mask);
inline bool ZorHasGlobalFlag(uint32_t flag) { return (ZorGetGlobalFlags() & flag) != 0; }

}  // namespace zorvane
