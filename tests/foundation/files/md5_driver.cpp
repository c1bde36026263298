// Driver of md5_oracle.py (protocol: tests/support/driver.h): the digest of
// bytes fed by Update calls that end at the comma-separated offsets CUTS.
// One object serves every line, so that reuse after Final is exercised.
#include <zorvane/md5.h>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

int main() {
  ZorMD5 md5;
  string digest;
  return Serve({{"md5", [&](const Fields& f) {
                   const std::string data = Unhex(f[1]);
                   size_t from = 0;
                   for (const std::string& cut : f[2] == "-" ? Fields() : Split(f[2], ',')) {
                     md5.Update(data.data() + from, static_cast<uint32_t>(std::stoul(cut) - from));
                     from = std::stoul(cut);
                   }
                   md5.Update(data.data() + from, static_cast<uint32_t>(data.size() - from));
                   return std::string(md5.FinalHex(&digest));
                 }}});
}
