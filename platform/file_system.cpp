// File-system questions and the careful open (see file_system.h).
//
// A regular file is found in two steps so that neither can block: stat
// first refuses what is not a regular file without opening it (opening a
// device may act on it, opening a FIFO waits for its other end), then the
// open itself is non-blocking and its fstat checks again, for a file replaced
// between the two steps. The descriptor then blocks as usual.
#include "platform/file_system.h"

#include "platform/os_error.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>

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
  struct statfs fs;
  while (statfs(sysPath, &fs) != 0)
    if (errno != EINTR) return NameCase::kUnknown;
  return FoldsCase(static_cast<uint32_t>(fs.f_type)) ? NameCase::kFolded : NameCase::kExact;
}

int OpenRegularFile(const char* sysPath, int flags, mode_t mode, struct stat* st, uint32_t* winErr) {
  // An exclusive creation opens nothing that exists: no need to look first.
  const bool exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
  if (!exclusive && stat(sysPath, st) == 0 && !S_ISREG(st->st_mode)) {
    *winErr = NotRegular(st->st_mode);
    return -1;
  }
  const int fd = open(sysPath, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    *winErr = WinErrFromErrnoAt(errno, sysPath);
    return -1;
  }
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, st) != 0 || status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    *winErr = WinErrFromErrno(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    *winErr = NotRegular(st->st_mode);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace zorvane::platform
