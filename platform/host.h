// The machine the process runs on and the user it runs for, as the library
// names them to people.
#pragma once

namespace zorvane {
class string;
}

namespace zorvane::platform {

// The host name (cp1252; empty when the system does not give one).
const char* MachineName(string* dst);
// The login name of the effective user (cp1252; $USER when the user database
// does not know it).
const char* UserName(string* dst);

}  // namespace zorvane::platform
