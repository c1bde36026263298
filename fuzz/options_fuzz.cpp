// Fuzzes the option-string readers and writers on arbitrary text: the
// readers must agree on whether an option is present, and a removed option
// must be gone whatever the text around it.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <string>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL below
  static const char* const kNames[] = {"a", "ab", "Name", "x1", "-", "$", "'", "="};
  for (const char* name : kNames) {
    string value;
    int32_t n;
    int64_t q;
    decimal d;
    const bool found = ZorGetStrOpt(text.c_str(), name, &value);
    if (ZorGetStrOptBool(text.c_str(), name) != found) std::abort();
    if (ZorGetStrOptLong(text.c_str(), name, &n) != found) std::abort();
    if (ZorGetStrOptQuad(text.c_str(), name, &q) != found) std::abort();
    if (ZorGetStrOptDecimal(text.c_str(), name, &d) != found) std::abort();
    if (!found && (!value.IsEmpty() || n != 0 || q != 0)) std::abort();

    string edited;
    ZorDelStrOpt(&edited, name, text.c_str());
    if (ZorGetStrOptBool(edited.CStr(), name)) std::abort();
    ZorAddStrOpt(&edited, name, text.c_str());
    ZorAddStrCDataOpt(&edited, name, text.c_str(), text.c_str());
    ZorAddStrOptBool(&edited, name, false);
    if (ZorGetStrOptBool(edited.CStr(), name)) std::abort();
  }
  return 0;
}
