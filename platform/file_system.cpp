// File-system questions and the careful open (see file_system.h).
//
// A regular file is found in two steps so that neither can block: stat
// first refuses what is not a regular file without opening it (opening a
// device may act on it, opening a FIFO waits for its other end), then the
// open itself is non-blocking and its fstat checks again, for a file replaced
// between the two steps. The descriptor then blocks as usual.
#include "platform/file_system.h"

#include "platform/env.h"
#include "platform/os_error.h"

#include <fcntl.h>
#include <linux/magic.h>

namespace zorvane::platform {

namespace {

constexpr uint32_t kExfatMagic = 0x2011BAB0;

bool FoldsCase(uint32_t fsType) {
  return fsType == MSDOS_SUPER_MAGIC || fsType == kExfatMagic || fsType == SMB_SUPER_MAGIC ||
         fsType == kCifsMagic || fsType == kSmb2Magic;
}

// The refusal of a file that exists but is not a regular one.
uint32_t NotRegular(mode_t mode) { return S_ISDIR(mode) ? kWinErrAccessDenied : kWinErrInvalidFunction; }

}  // namespace

NameCase NameCaseAt(const char* sysPath) {
  uint32_t type = 0;
  if (CurrentEnv().FileSystemAt(sysPath, &type) != 0) return NameCase::kUnknown;
  return FoldsCase(type) ? NameCase::kFolded : NameCase::kExact;
}

int OpenRegularFile(Env& env, const char* sysPath, int flags, mode_t mode, struct stat* st, uint32_t* winErr) {
  // An exclusive creation opens nothing that exists: no need to look first.
  const bool exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
  if (!exclusive && env.PathStat(sysPath, true, st) == 0 && !S_ISREG(st->st_mode)) {
    *winErr = NotRegular(st->st_mode);
    return -1;
  }
  int fd = -1;
  if (const int err = env.Open(sysPath, flags | O_NONBLOCK, mode, &fd)) {
    *winErr = WinErrFromErrnoAt(err, sysPath);
    return -1;
  }
  int err = env.FileStat(fd, st);
  if (!err) err = env.SetBlocking(fd);
  if (!err && !S_ISREG(st->st_mode)) {
    env.Close(fd);
    *winErr = NotRegular(st->st_mode);
    return -1;
  }
  if (err) {
    env.Close(fd);
    *winErr = WinErrFromErrno(err);
    return -1;
  }
  return fd;
}

}  // namespace zorvane::platform
