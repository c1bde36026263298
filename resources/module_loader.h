// Internal helpers of the module registry: the kernel's own instance and
// path, and symbols looked up in one shared object only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvane::modules {

// The library's own dlopen handle (taken once with RTLD_NOLOAD, kept).
void* KernelInstance();
// The file of the library (as the dynamic loader names it).
const std::string& KernelPath();
// The address of `name` when the object of `instance` itself defines it;
// null when it does not (also when only one of its dependencies, such as
// the library, does).
void* OwnSymbol(void* instance, const char* name);
// The path of an instance's file; "" when unknown.
std::string InstancePath(void* instance);
// The bytes of one of the module's description resources (type, id),
// wherever the resource loader finds it (own section or development tree);
// empty when absent or unreadable.
std::string DescBytes(int32_t module, int32_t type, int32_t rsrcId);
// The little-endian int32 values of such a resource: its type list or
// dependency list.
std::vector<int32_t> DescInts(int32_t module, int32_t type, int32_t rsrcId);

}  // namespace zorvane::modules
