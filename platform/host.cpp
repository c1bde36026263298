// Host and user names come from the system in UTF-8 and are converted to the
// library's code page.
#include "platform/host.h"

#include <zorvane/string.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace zorvane::platform {

const char* MachineName(string* dst) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  return ZorDecodefromUTF8(host, dst);
}

const char* UserName(string* dst) {
  const char* name = nullptr;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[1024];
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found) name = found->pw_name;
  if (!name) name = std::getenv("USER");
  return ZorDecodefromUTF8(name ? name : "", dst);
}

}  // namespace zorvane::platform
