// Driver of uuid_oracle.py (protocol: tests/support/driver.h); identifiers
// travel as their 16 stored bytes in hexadecimal, "-" for a refused text.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

ZorUuid FromHex(const std::string& h) { return ZorUuid(Unhex(h).data()); }
std::string Bytes(const ZorUuid& u) { return HexText(u.GetBytes(), 16); }

}  // namespace

int main() {
  string braced, bare;
  return Serve({
      {"text",
       [&](const Fields& f) {
         const ZorUuid u = FromHex(f[1]);
         return Line("%s %s", u.GetValueStr(&braced, true), u.GetValueStr(&bare, false));
       }},
      {"parse",
       [](const Fields& f) {
         ZorUuid u;
         return u.SetValueStr(f[1].c_str()) ? Bytes(u) : "-";
       }},
      {"cmp",
       [](const Fields& f) {
         const ZorUuid x = FromHex(f[1]), y = FromHex(f[2]);
         return Line("%d %d", ZorUuid::S_CmpGuid(x.GetBytes(), y.GetBytes()),
                     ZorUuid::S_IsGuidEqual(x.GetBytes(), y.GetBytes()));
       }},
      {"new", [](const Fields&) { return Bytes(ZorUuid::S_New()); }},
  });
}
