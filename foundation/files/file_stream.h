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

#include <zorvane/path.h>
#include <zorvane/stream.h>
#include <zorvane/types.h>

#include <string>

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

namespace zorvane {

class ZorDistantLink;
class ZorAsyncHelper;
namespace platform {
class Env;
}

struct ZorStdStream::Rep {
  int _fd = -1;
  platform::Env* _env = nullptr;  // the environment that opened _fd
  uint32_t _flags = 0;
  uint32_t _perm = 0;
  uint64_t _pos = 0;        // asynchronous mode: the kept position
  uint64_t _openSize = 0;   // the size at open, then the size the stream recorded
  ZorFsa _path;
  std::string _osPath;      // the operating-system path, for delete-on-close
  int32_t _locks = 0;
  int32_t _bracket = 0;     // depth of commands 2/3
  bool _selfOwned = false;
  ZorDistantLink* _distant = nullptr;  // owned; distant files only
  ZorAsyncHelper* _async = nullptr;    // owned; large asynchronous files only
};

}  // namespace zorvane
