// Index keys in a form that sorts and hashes with plain byte operations.
#pragma once

#include <cstdint>

namespace zorvane {

// Writes len bytes at out: each key byte replaced by the collation weight of
// its upper-case form. Two keys compare with ZorCompIndex as their sort keys
// compare with memcmp, and are equal exactly when their sort keys are.
void ZorIndexSortKey(const void* key, int32_t len, void* out);

}  // namespace zorvane
