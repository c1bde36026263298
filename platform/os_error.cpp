// errno to Windows error numbers.
//
// The table keeps what a caller on Windows would have seen for
// the same failure: a missing file is 2 but a missing directory on the way is
// 3, opening a directory as a file is an access denial (5), a failed lock
// attempt (EAGAIN/EWOULDBLOCK, EDEADLK from a lock call) is the lock
// violation 33, a busy executable file (ETXTBSY) is the sharing violation 32,
// and a cancelled operation is 1223, which ZorWinErrToZor turns into the
// user cancellation (1, 1000). Everything else falls back to 31, the general
// failure, so that every errno still gives a text.
#include "platform/os_error.h"

#include "platform/env.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zorvane::platform {

namespace {

struct ErrnoMapping {
  int err;
  uint32_t winErr;
};

constexpr uint32_t kWinErrGenFailure = 31;

constexpr ErrnoMapping kErrnoTable[] = {
    {EPERM, 5},          {ENOENT, 2},          {EINTR, 995},          {EIO, 1117},
    {ENXIO, 21},         {E2BIG, 87},          {ENOEXEC, 193},        {EBADF, 6},
    {EAGAIN, 33},        {ENOMEM, 8},          {EACCES, 5},           {EFAULT, 487},
    {EBUSY, 170},        {EEXIST, 80},         {EXDEV, 17},           {ENODEV, 15},
    {ENOTDIR, 3},        {EISDIR, 5},          {EINVAL, 87},          {ENFILE, 4},
    {EMFILE, 4},         {ETXTBSY, 32},        {EFBIG, 223},          {ENOSPC, 112},
    {ESPIPE, 132},       {EROFS, 19},          {EMLINK, 1142},        {EPIPE, 109},
    {EDEADLK, 33},       {ENAMETOOLONG, 206},  {ENOLCK, 33},          {ENOSYS, 50},
    {ENOTEMPTY, 145},    {ELOOP, 1921},        {EOVERFLOW, 534},      {EILSEQ, 1113},
    {EOPNOTSUPP, 50},    {ETIMEDOUT, 1460},    {ECONNREFUSED, 1225},  {EHOSTUNREACH, 1232},
    {ENETUNREACH, 1231}, {EDQUOT, 1295},       {ESTALE, 64},          {ECANCELED, 1223},
};

}  // namespace

uint32_t WinErrFromErrno(int err) {
  if (err == 0) return 0;
  for (const ErrnoMapping& m : kErrnoTable)
    if (m.err == err) return m.winErr;
  return kWinErrGenFailure;
}

uint32_t WinErrFromErrnoAt(int err, const char* sysPath) {
  if (err != ENOENT || sysPath == nullptr) return WinErrFromErrno(err);
  const char* slash = std::strrchr(sysPath, '/');
  if (slash == nullptr || slash == sysPath) return kWinErrFileNotFound;
  const std::string parent(sysPath, static_cast<size_t>(slash - sysPath));
  struct stat st;
  const bool dirExists = CurrentEnv().PathStat(parent.c_str(), true, &st) == 0 && S_ISDIR(st.st_mode);
  return dirExists ? kWinErrFileNotFound : kWinErrPathNotFound;
}

}  // namespace zorvane::platform
