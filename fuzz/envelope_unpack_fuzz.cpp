// Fuzzes the packed-envelope reader: any bytes either unpack (and then they
// were an envelope whose recorded size is the size of the result) or are
// left exactly as they were.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ZorHandle h;
  h.Init(data, static_cast<uint32_t>(size));
  const bool looks = ZorIsHandleZipped(&h);
  if (ZorUnzipHandle(&h)) {
    uint32_t recorded = 0;
    std::memcpy(&recorded, data + 2, 4);  // little-endian host
    if (!looks || h.GetSize() != recorded) std::abort();
  } else if (h.GetSize() != size || (size && std::memcmp(h.GetDatas(), data, size) != 0)) {
    std::abort();
  }
  return 0;
}
