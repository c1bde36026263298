// Fuzzes the string-list reader: any bytes (packed or not) read as a list,
// then every entry of its index, its "defined" marks and symbolic names are
// read; under the sanitizers no read may leave the bytes. Every text the
// index gives ends before the end of the list.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ZorStringList list;
  const bool ok = list.Init(data, static_cast<uint32_t>(size));
  if (!ok && list.GetCount() != 0) std::abort();
  size_t total = 0;
  for (int32_t id = -1; id <= list.GetCount() + 1; ++id) {
    if (const char* text = list.GetText(id)) total += std::strlen(text);
    if (list.IsDefined(id) && (id < 1 || id > list.GetCount())) std::abort();
    total += std::strlen(list.GetSymbol(id));
  }
  return total == static_cast<size_t>(-1);
}
