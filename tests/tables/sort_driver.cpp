// Driver of sort_oracle.py: one sort per question.
//   sort  METHOD  SEQ  PARTS  ITEMS  ->  the item numbers in the order read
// PARTS: "type:len:a|d" separated by ","; ITEMS: items separated by ";",
// values separated by "," (texts in hexadecimal, numbers in decimal). Each
// value sits at 64 * part of the caller's buffer; the data part is the
// item's number. The answer lists the numbers read by ReadN, then checks
// that GetDataBGet gives the same order.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

constexpr uint32_t kSlot = 64;

void PutValue(uint8_t* at, int32_t type, const std::string& v) {
  switch (type) {
    case kZorPhysTypeShort: { const int16_t x = static_cast<int16_t>(Int(v)); std::memcpy(at, &x, 2); break; }
    case kZorPhysTypeLong: { const int32_t x = Int(v); std::memcpy(at, &x, 4); break; }
    case kZorPhysTypeQuad: { const int64_t x = std::strtoll(v.c_str(), nullptr, 10); std::memcpy(at, &x, 8); break; }
    case kZorPhysTypeDouble:
    case kZorPhysTypeDate: { const double x = Real(v); std::memcpy(at, &x, 8); break; }
    default: { const std::string t = Unhex(v); std::memset(at, 0, kSlot); std::memcpy(at, t.data(), t.size()); }
  }
}

std::string Sort(const Fields& a) {
  sZorKey key;
  const Fields parts = Split(a[3], ',');
  std::vector<int32_t> types;
  for (const std::string& p : parts) {
    const Fields f = Split(p, ':');
    const int32_t i = key.nbPart++;
    const int32_t type = Int(f[0]);
    types.push_back(type);
    key.partType[i] = static_cast<uint8_t>(type + (f[2] == "d" ? kZorKeyDescending : 0));
    key.partLen[i] = static_cast<uint8_t>(Int(f[1]));
    key.partOffset[i] = kSlot * static_cast<uint32_t>(i);
    key.keyLen = static_cast<uint8_t>(key.keyLen + key.partLen[i]);
  }
  key.nbPart2 = key.nbPart;
  std::vector<uint8_t> values(kSlot * parts.size());
  ZorSort sort;
  sort.Init(&key, values.data(), static_cast<uint32_t>(values.size()), 4, Int(a[1]), a[2] == "1");
  const Fields items = a[4].empty() ? Fields{} : Split(a[4], ';');
  for (size_t n = 0; n < items.size(); ++n) {
    const Fields v = Split(items[n], ',');
    for (size_t i = 0; i < parts.size(); ++i) PutValue(values.data() + kSlot * i, types[i], v[i]);
    const int32_t number = static_cast<int32_t>(n);
    std::memcpy(sort.GetDatabuffer(), &number, 4);
    sort.Add();
  }
  sort.Validate();
  std::string out;
  ZorBGet all;
  sort.GetDataBGet(&all, false);
  for (int32_t n = 1; n <= sort.GetNbItem(); ++n) {
    int32_t number = -1, again = -2;
    sort.ReadN(n, &number);
    all.Get(n, &again);
    if (number != again) return "GetDataBGet differs";
    out += (out.empty() ? "" : " ") + std::to_string(number);
  }
  return Line("%u %s", sort.GetState() & (kZorSortInMemory | kZorSortMerged), out.c_str());
}

}  // namespace

int main() { return Serve({{"sort", Sort}}); }
