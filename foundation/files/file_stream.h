// Internal helpers of the local-file stream shared with the distant-file
// protocol: the sentinel bytes of its locks.
//
// Every lock of the file layer is an OFD lock (platform::Env::Lock): it
// belongs to the open file description, so it conflicts with every other
// open of the file, in this process or another, and it survives the closing
// of any other descriptor of the same file. The share modes and the distant
// bracket live on sentinel bytes far past any data offset (data offsets stay
// below 2^62), so they never meet a byte-range lock of the data.
#pragma once

#include <zorvane/types.h>

namespace zorvane::streams {

// The sentinel bytes, relative to kSentinelBase.
constexpr uint64_t kSentinelBase = 0x7FFFFFFFFFFFFF00;
enum : uint64_t {
  kSentinelHasRead = 0,    // held (shared) by every opener: all access includes reading
  kSentinelHasWrite = 1,   // held by openers with write access
  kSentinelDenyRead = 2,   // held by openers that share nothing
  kSentinelDenyWrite = 3,  // held by openers that do not share writing
  kSentinelBracket = 8,    // commands 2/3: exclusive access across processes
};

}  // namespace zorvane::streams
