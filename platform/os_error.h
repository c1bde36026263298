// Operating-system errors of the Linux layer. The library's family -1 codes
// carry Windows error numbers, so every errno is first translated by one
// table (os_error.cpp) and the texts of those numbers live in the message
// catalogue (list kSystemTextGroup of module 1). This layer only gives
// numbers; the foundation turns them into codes and raises them
// (ZorWinErrToZor, ZorRaiseErrno).
#pragma once

#include <zorvane/types.h>

namespace zorvane::platform {

// The Windows error numbers that the file layer produces by itself.
enum : uint32_t {
  kWinErrInvalidFunction = 1,    // an operation the file does not support (not a regular file)
  kWinErrFileNotFound = 2,
  kWinErrPathNotFound = 3,
  kWinErrAccessDenied = 5,
  kWinErrSharingViolation = 32,  // an open that conflicts with another's share mode
  kWinErrLockViolation = 33,     // a byte range locked by another
  kWinErrHandleEof = 38,
  kWinErrFileExists = 80,
  kWinErrInvalidParameter = 87,
  kWinErrDiskFull = 112,
  kWinErrCancelled = 1223,
};

// The catalogue list of module 1 that holds the texts of the Windows error
// numbers, entry = number.
constexpr int32_t kSystemTextGroup = 990;

// The Windows error number of an errno value (0 gives 0; an errno outside the
// table gives 31, the general failure).
uint32_t WinErrFromErrno(int err);
// As WinErrFromErrno for an operation on the file sysPath (the system's
// text of the path): Linux says ENOENT both for a missing file and for a
// missing directory on the way, and the second is "path not found" (3).
uint32_t WinErrFromErrnoAt(int err, const char* sysPath);

}  // namespace zorvane::platform
