// The machine the process runs on and the user it runs for, as the library
// names them to people: UTF-8 texts, which the callers convert to the
// library's code page.
#pragma once

#include <string>

namespace zorvane::platform {

// The host name (empty when the system does not give one).
std::string MachineName();
// The login name of the effective user ($USER when the user database does
// not know it).
std::string UserName();

}  // namespace zorvane::platform
