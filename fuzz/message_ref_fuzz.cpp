// Fuzzes the message-reference reader: any text either is a reference
// "]m,g,n" of three non-zero 32-bit numbers, whose look-up equals the direct
// look-up of those numbers, or is copied unchanged by ZorLoadString.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL below
  int32_t module = 0, group = 0, id = 0;
  string out, direct;
  const bool isRef = ZorParseMessageRef(text.c_str(), &module, &group, &id);
  ZorLoadString(text.c_str(), &out);
  if (isRef) {
    if (module <= 0 || group <= 0 || id <= 0) std::abort();
    if (std::strcmp(out.CStr(), ZorLoadString(module, group, id, &direct)) != 0) std::abort();
  } else if (std::strcmp(out.CStr(), text.c_str()) != 0) {
    std::abort();
  }
  return 0;
}
