// Internal helpers of the local-file stream shared with the distant-file
// protocol: open-file-description locks and the sentinel bytes they use.
//
// Every lock of the file layer is an OFD lock (F_OFD_SETLK / F_OFD_SETLKW):
// it belongs to the open file description, so it conflicts with every other
// open of the file, in this process or another, and it survives the closing
// of any other descriptor of the same file. The share modes and the distant
// bracket live on sentinel bytes far past any data offset (data offsets stay
// below 2^62), so they never meet a byte-range lock of the data.
#pragma once

#include <zorvane/types.h>

#include <sys/types.h>

namespace zorvane::streams {

// The sentinel bytes, relative to kSentinelBase.
constexpr off_t kSentinelBase = 0x7FFFFFFFFFFFFF00;
enum : off_t {
  kSentinelHasRead = 0,    // held (shared) by every opener: all access includes reading
  kSentinelHasWrite = 1,   // held by openers with write access
  kSentinelDenyRead = 2,   // held by openers that share nothing
  kSentinelDenyWrite = 3,  // held by openers that do not share writing
  kSentinelBracket = 8,    // commands 2/3: exclusive access across processes
};

enum class LockKind { kShared, kExclusive, kRelease };

// Sets or releases an OFD lock on [start, start + len). wait: block until
// granted. Returns 0 or the errno (EAGAIN when another opener holds it).
int OfdLock(int fd, LockKind kind, off_t start, off_t len, bool wait);
// True when another open file description holds a lock that overlaps
// [start, start + len) (of any kind).
bool OfdIsHeldByOther(int fd, off_t start, off_t len);

}  // namespace zorvane::streams
