// A ZorDyna attached to arbitrary bytes: every read operation must stay
// inside them (the input is copied to a block of exactly its size, so a read
// past the end is caught), then Verif with repair must leave a run that a
// second Verif finds sound and whose cells are all still readable.
#include <zorvane/zorvane.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

void ReadEverything(const ZorDyna& d, int32_t k, int32_t l, int32_t c) {
  string s;
  ZorHandle h;
  int32_t n;
  int64_t q;
  double x;
  decimal dec;
  date dt;
  ZorUuid u;
  uint8_t raw[8];
  d.GetData(k, l, c, &s);
  d.GetData(k, l, c, &h);
  d.GetData(k, l, c, &n, 0);
  d.GetDataQuad(k, l, c, &q, 0);
  d.GetData(k, l, c, &x, 0.0);
  d.GetData(k, l, c, &dec);
  d.GetData(k, l, c, &dt);
  d.GetDataUuid(k, l, c, &u);
  d.GetData(k, l, c, sizeof raw, raw);
  d.GetConstDataHandle(k, l, c, &h);
  d.GetSize(k, l, c);
  ZorDyna sub;
  d.SubDyna(&sub, k, l, c, true);
  sub.GetNbItem(kZorDynaAnyKind);
  d.FindInCol(k, c, "a", 0);
  d.FindInCol(k, c, 1, INT32_MIN);
  d.FindInLine(k, l, "", 0);
  d.FindInLine(k, l, n, 0);
  d.GetDim(k);
  d.GetNbItem(k);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> exact(data, data + size);
  ZorHandle h;
  h.Attach(ZorCreateHandleFromDataPtr(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(size)));
  ZorDyna d;
  d.Init(&h);
  // Places taken from the input's first cell, and a few fixed ones.
  int32_t k = 0, l = 0, c = 0;
  if (size >= 12) {
    std::memcpy(&k, data, 4);
    std::memcpy(&l, data + 4, 4);
    std::memcpy(&c, data + 8, 4);
  }
  ReadEverything(d, k, l, c);
  ReadEverything(d, 0, 0, 0);
  ReadEverything(d, kZorDynaAnyKind, 1, 1);
  d.GetNbKind();
  d.GetKindMax();

  ZorDyna copy;
  d.CopyTo(kZorDynaAnyKind, &copy, 0, false);
  ZorVerif report;
  report.Init(true);
  d.Verif(&report);
  if (!d.Verif(nullptr)) __builtin_trap();
  if (d.GetNbItem(kZorDynaAnyKind) != copy.GetNbItem(kZorDynaAnyKind)) __builtin_trap();
  return 0;
}
