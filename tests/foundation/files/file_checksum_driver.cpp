// Driver of file_checksum_oracle.py (protocol: tests/support/driver.h). The
// work runs in DoIdle(0) steps, so that the digest goes through every stop
// point of the idle loop.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

int main() {
  string digest;
  return Serve({{"sum", [&](const Fields& f) {
                   ZorFsa fsa;
                   fsa.InitFromPath(f[1].c_str());
                   ZorFileCheckSum sum;
                   sum.Init(&fsa, f[2] == "dir", f[3].c_str());
                   while (!sum.DoIdle(0)) {
                   }
                   return Line("%s %d", sum.GetCheckSum(&digest, false), sum.GetNbFile());
                 }}});
}
