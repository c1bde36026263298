// Readability checks of caller-supplied pointers, for the places that must
// refuse a bad argument instead of faulting (the message formatter).
//
// A pointer is bad when it is null, lies in the first 64 KiB (small integers
// passed where a pointer was expected) or when one of the pages it spans is
// not readable. Readability is probed by the kernel (a one-byte write from
// the address into a private pipe fails with EFAULT instead of faulting);
// pages found readable are remembered in a small per-thread cache, so the
// common case (the same stack, heap or literal pages again and again) costs
// a few compares. The cache can go stale when memory is unmapped after it was
// checked; only a pointer that is already dangling can then slip through, the
// same best-effort guarantee as the Windows pointer checks.
#pragma once

#include <zorvane/types.h>

namespace zorvane::platform {

// True when the n bytes at p cannot all be read (n = 0 checks p alone).
ZOR_API bool ZorIsBadPtr(const void* p, size_t n);

// True when p is not a readable NUL-terminated text of at most maxLen
// characters before its terminator (maxLen = SIZE_MAX: no limit).
ZOR_API bool ZorIsBadStringPtr(const char* p, size_t maxLen = SIZE_MAX);

}  // namespace zorvane::platform
