// The machine the process runs on, as the library names it to people.
#pragma once

namespace zorvane {
class string;
}

namespace zorvane::platform {

// The host name (cp1252; empty when the system does not give one).
const char* MachineName(string* dst);

}  // namespace zorvane::platform
