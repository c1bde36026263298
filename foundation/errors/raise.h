// The one way the library raises its own errors.
//
// A raising site names where it is (its source name, such as "ZorBFile", and
// its line, which the default argument takes from the call), the error's
// 64-bit code (ZorErr(1, n) for the library's numbers; an operating-system
// error through the platform's errno table) and, when one file is
// concerned, its path. The message is the code's catalogue text, or a named
// entry of the library's catalogue formatted with arguments:
//
//   ZorRaise(kSource, ZorErr(1, 23));
//   ZorRaise(kSource, ZorErr(1, 32), &_path);
//   ZorRaise(kSource, ZorErr(1, 87), &path, {kFilesGroup, kNoServiceText}, name);
//   ZorRaise({kSource, line}, ZorErr(1, number));  // a helper passing its caller's line
//   ZorRaiseErrno(kSource, err, &path);           // a status of the environment
#pragma once

#include <zorvane/exception.h>
#include <zorvane/form_args.h>

namespace zorvane {

class ZorFsa;

struct ZorRaiseSite {
  // Implicit, so that a site passes its source name alone and the line is the
  // caller's.
  ZorRaiseSite(const char* source, uint32_t line = __builtin_LINE()) : source(source), line(line) {}
  const char* source;
  uint32_t line;
};

// Entry `entry` of list `group` of the library's catalogue.
struct ZorCatalogueEntry {
  int32_t group;
  int32_t entry;
};

[[noreturn]] void ZorRaise(ZorRaiseSite at, int64_t code, const ZorFsa* path = nullptr);
// With a fixed message text, for the few texts that are not the catalogue's.
[[noreturn]] void ZorRaiseMessage(ZorRaiseSite at, int64_t code, const char* message);
[[noreturn]] void ZorRaiseArgs(ZorRaiseSite at, int64_t code, const ZorFsa* path, ZorCatalogueEntry text,
                               const ZorFormArgs& args);

// An operating-system failure: an errno value (a status of platform::Env)
// or a Windows error number, through the platform's table to the code.
[[noreturn]] void ZorRaiseErrno(ZorRaiseSite at, int err, const ZorFsa* path = nullptr);
[[noreturn]] void ZorRaiseWinErr(ZorRaiseSite at, uint32_t winErr, const ZorFsa* path = nullptr);

template <class... A>
[[noreturn]] void ZorRaise(ZorRaiseSite at, int64_t code, const ZorFsa* path, ZorCatalogueEntry text, A... args) {
  ZorRaiseArgs(at, code, path, text, ZorFormArgs::Of(args...));
}

}  // namespace zorvane
