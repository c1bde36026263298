// Driver of strlist_oracle.py (protocol: tests/support/driver.h): a string
// list in hexadecimal -> "<ok> <count> <group>" then, for every id from 0 to
// count + 1, " <text|~>:<defined>:<symbol>" ("~" when the index gives none).
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

int main() {
  return Serve({{"list", [](const Fields& f) {
                   const std::string bytes = Unhex(f[1]);
                   ZorStringList list;
                   const bool ok = list.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
                   std::string answer = Line("%d %d %d", ok, list.GetCount(), list.GetGroup());
                   for (int32_t id = 0; id <= list.GetCount() + 1; ++id) {
                     const char* text = list.GetText(id);
                     answer += " " + (text ? HexText(text) : "~") + ":" + (list.IsDefined(id) ? "1" : "0") + ":" +
                               HexText(list.GetSymbol(id));
                   }
                   return answer;
                 }}});
}
