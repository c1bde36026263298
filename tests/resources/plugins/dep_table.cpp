// A shared library with a resource table, loaded as a dependency of the bare
// plug-in: a symbol search from the plug-in finds this table, which is not
// the plug-in's own.
#include <zorvane/resource_table.h>

namespace {
const uint8_t kBytes[] = {'d', 'e', 'p'};
const zorvane::sZorRsrcItem kItems[] = {{1037u, 1u, 1036u, 3u, kBytes}};
}  // namespace

extern "C" __attribute__((visibility("default"))) const zorvane::sZorRsrcTable ZorModuleRsrcTable = {1u, kItems};
