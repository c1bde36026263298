#include "platform/host.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace zorvane::platform {

std::string MachineName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  return host;
}

std::string UserName() {
  const char* name = nullptr;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[1024];
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found) name = found->pw_name;
  if (!name) name = std::getenv("USER");
  return name ? name : "";
}

}  // namespace zorvane::platform
