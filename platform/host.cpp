// Host names come from gethostname in UTF-8 and are converted to the
// library's code page.
#include "platform/host.h"

#include <zorvane/string.h>

#include <unistd.h>

namespace zorvane::platform {

const char* MachineName(string* dst) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  return ZorDecodefromUTF8(host, dst);
}

}  // namespace zorvane::platform
