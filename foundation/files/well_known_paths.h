// The registry of well-known paths (codes such as the standard log), as the
// path parser of path.cpp reaches it for "!Cst!" texts.
#pragma once

#include <zorvane/path.h>

#include <string_view>

namespace zorvane::files {

// The registered path of a "!Cst!" head (a code in digits or a public name);
// false when the registry knows none. Takes the registry's lock, never the
// path tree's while holding it.
bool WellKnownBase(std::string_view head, ZorFsa* base);

}  // namespace zorvane::files
