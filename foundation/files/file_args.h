// Refusals of careless arguments, shared by the path, file-command, scan,
// stream and checksum functions (defined in fsa.cpp).
//
// A null pointer where an object is required is the bad-parameter error
// (1, 23) whose message names the function and the argument; a path that was
// never set, or an empty path text, is (1, 38) with a message that says the
// path is empty. Both are errors of the caller: they raise even where open
// failures are quiet.
#pragma once

#include <zorvane/types.h>

namespace zorvane {
class ZorFsa;
}

namespace zorvane::files {

// `argument` names the function and its parameter, as "ZorOpenStream(path)".
[[noreturn]] void RaiseNullArg(const char* srcFile, uint32_t srcLine, const char* argument);
[[noreturn]] void RaiseEmptyPath(const char* srcFile, uint32_t srcLine);

// p itself; RaiseNullArg when it is null.
template <class T>
T* NonNull(T* p, const char* srcFile, uint32_t srcLine, const char* argument) {
  if (!p) RaiseNullArg(srcFile, srcLine, argument);
  return p;
}

// *path when it is set; RaiseNullArg for null, RaiseEmptyPath when unset.
const ZorFsa& RequirePath(const ZorFsa* path, const char* srcFile, uint32_t srcLine, const char* argument);

}  // namespace zorvane::files
