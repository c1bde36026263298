// Driver of key_text_oracle.py (protocol: tests/support/driver.h).
// "sort L1 L2 items": items are "hexA/hexB" pairs separated by commas; each
// becomes a record of two AnsiString fields, keyed by a part of length L1 on
// the first and L2 on the second. Answers the item numbers in the order of
// their keys under ZorCompIndex (a stable sort: equal keys keep their order).
#include <algorithm>
#include <numeric>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

static std::string Sort(const Fields& f) {
  sZorKey key;
  key.nbPart = 2;
  key.partType[0] = key.partType[1] = kZorPhysTypeAnsiString;
  key.partLen[0] = static_cast<uint8_t>(Int(f[1]));
  key.partLen[1] = static_cast<uint8_t>(Int(f[2]));
  key.keyLen = static_cast<uint8_t>(key.partLen[0] + key.partLen[1]);
  key.partOffset[1] = 64;
  std::vector<std::string> keys;
  for (const std::string& item : Split(f[3], ',')) {
    const Fields texts = Split(item, '/');
    char record[128] = {};
    std::strncpy(record, Unhex(texts[0]).c_str(), 63);
    std::strncpy(record + 64, Unhex(texts[1]).c_str(), 63);
    ZorBuildIndex(&key, record, sizeof record, keys.emplace_back(key.keyLen, '\0').data());
  }
  std::vector<int> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return ZorCompIndex(keys[a].data(), keys[b].data(), key.keyLen) < 0; });
  std::string out;
  for (int i : order) out += (out.empty() ? "" : ",") + std::to_string(i);
  return out;
}

int main() { return Serve({{"sort", Sort}}); }
