// Fuzzes the message-reference reader: any text either is a reference
// "]m,g,n" of three non-zero 32-bit numbers, whose look-up equals the text
// of entry n in the index of string list g of module m (read here straight
// from the resource, bypassing the catalogue's cache), or is copied
// unchanged by ZorLoadString.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorvane;

namespace {

const char* IndexText(int32_t module, int32_t group, int32_t id, ZorStringList* list) {
  ZorRsrc rsrc;
  if (!rsrc.Init(ZorRsrcStrList, module, group, ZorRsrcQuiet) || !list->Init(rsrc.GetHandle())) return "";
  const char* text = list->GetText(id);
  return text ? text : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL below
  int32_t module = 0, group = 0, id = 0;
  string out;
  const bool isRef = ZorParseMessageRef(text.c_str(), &module, &group, &id);
  ZorLoadString(text.c_str(), &out);
  if (isRef) {
    if (module <= 0 || group <= 0 || id <= 0) std::abort();
    ZorStringList list;
    if (std::strcmp(out.CStr(), IndexText(module, group, id, &list)) != 0) std::abort();
  } else if (std::strcmp(out.CStr(), text.c_str()) != 0) {
    std::abort();
  }
  return 0;
}
