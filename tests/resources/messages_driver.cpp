// Driver of messages_oracle.py (protocol: tests/support/driver.h): catalogue
// look-ups, error texts and references; every answer is the text in
// hexadecimal.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

int main() {
  string out;
  return Serve({
      {"load", [&](const Fields& f) { return HexText(ZorLoadString(Int(f[1]), Int(f[2]), Int(f[3]), &out)); }},
      {"index", [&](const Fields& f) { return HexText(ZorLoadStringIndex(Int(f[1]), Int(f[2]), Int(f[3]), &out)); }},
      {"cst", [&](const Fields& f) { return HexText(ZorGetStringIndexCst(Int(f[1]), Int(f[2]), Int(f[3]), &out)); }},
      {"err", [&](const Fields& f) { return HexText(ZorErrToString(ZorErr(Int(f[1]), Int(f[2])), &out)); }},
      {"ref", [&](const Fields& f) { return HexText(ZorLoadString(Unhex(f[1]).c_str(), &out)); }},
  });
}
