// Driver of path_text_oracle.py (protocol: tests/support/driver.h): the
// system and internal forms of the ZorFsa of a text. Each path is released
// before the next line, so every line is spelled as it was written.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

int main() {
  string sys, internal;
  return Serve({{"path", [&](const Fields& f) {
                   const ZorFsa path(f[1].c_str());
                   return std::string(path.GetPath(0, &sys)) + '\t' + path.GetPath(1, &internal);
                 }}});
}
