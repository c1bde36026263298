// A library that links the kernel library but defines no entry point: a
// symbol search from it reaches the library's own ZorGetModuleObject.
#include <zorvane/module.h>

extern "C" __attribute__((visibility("default"))) bool ZorTestNoEntryMarker() { return zorvane::ZorIsModulePresent(4243); }
