// Fuzzes the UTF-8 decoder on arbitrary bytes. A result is either empty (the
// input is malformed) or one cp1252 byte per character, and the text
// re-encoded from a non-empty result decodes to the same result.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <string>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  string out, utf8, again;
  ZorDecodefromUTF8(input.c_str(), &out);
  if (out.Len() > ZorStrLen(input.c_str())) std::abort();
  if (out.IsEmpty()) return 0;
  ZorEncodeToUTF8(out.CStr(), &utf8);
  ZorDecodefromUTF8(utf8.CStr(), &again);
  if (!ZorStrEq(again.CStr(), out.CStr())) std::abort();
  return 0;
}
