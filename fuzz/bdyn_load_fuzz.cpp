// Fuzzes ZorBDyn's serialised-form reader: arbitrary bytes are either
// rejected with ZorEBasic (1, 19) or give an array on which every read
// operation stays inside its bytes, whose serialised form is the input
// again, and which keeps its heap exact through edits (the edited form is
// accepted back). Both the copying and the sharing readers are driven; Load
// sees the same bytes split after the items.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void ReadEverything(const ZorBDyn& d) {
  const int32_t n = d.GetNbItem();
  const uint32_t fixed = d.GetFixedSize();
  // An item size may be huge when there is no item: size the buffer only
  // when items exist (their bytes were in the input).
  std::vector<uint8_t> out(n > 0 ? fixed + 1 : 0);
  uint64_t sum = static_cast<uint32_t>(d.GetVersion());
  for (int32_t i = 0; i <= n; ++i) {
    void* ptr;
    int32_t len;
    const void* fixedPart = d.GetDataEx(i, &ptr, &len);
    Check((i == 0) == (fixedPart == nullptr));
    Check(d.HasData(i) == (len > 0));
    for (int32_t k = 0; k < len; ++k) sum += static_cast<uint8_t*>(ptr)[k];
    ZorHandle data;
    Check(d.GetData(i, &data) == (len > 0));
    Check(data.GetSize() == static_cast<uint32_t>(len));
    if (i == 0) continue;
    d.Get(i, out.data());
    if (fixed) {
      Check(std::memcmp(out.data(), fixedPart, fixed) == 0);
      const uint32_t keyLen = fixed < 4 ? fixed : 4;
      const int32_t found = d.Find(0, out.data(), keyLen);
      Check(found >= 1 && found <= i);
      const int32_t probe = d.Dico(fixed - keyLen, out.data(), keyLen);
      Check(probe != 0 && probe >= -(n + 1) && probe <= n);
    }
  }
  if (sum == 0xFFFFFFFFFFFFFFFFull) std::abort();  // keeps the reads
}

std::vector<uint8_t> Serialised(ZorBDyn* d) {
  ZorHandle h;
  d->GetHandle(&h, false);
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return std::vector<uint8_t>(p, p + h.GetSize());
}

// Edits that move heap bytes, then the form must be accepted again.
void EditAndReload(ZorBDyn* d) {
  const int32_t n = d->GetNbItem();
  if (n > 0) {
    d->SetData(1, "grown data", 10);
    d->SetData(n, nullptr, 0);
    d->Swap(1, n);
    d->Del((n + 1) / 2);
  }
  d->SetDynData("own", 3);
  ZorHandle h;
  d->GetHandle(&h, false);
  ZorBDyn back;
  back.Init(&h, false);
  Check(back.GetNbItem() == d->GetNbItem());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::vector<uint8_t> input(data, data + size);
  for (bool share : {false, true}) {
    std::vector<uint8_t> bytes = input;  // the shared reader may write into it
    ZorHandle h;
    h.Attach(ZorCreateHandleFromDataPtr(bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(size)));
    ZorBDyn d;
    try {
      d.Init(&h, share);
    } catch (const ZorEBasic& e) {
      Check(e.GetError() == ZorErr(1, 19));
      continue;
    }
    ReadEverything(d);
    Check(Serialised(&d) == input);
    EditAndReload(&d);
  }

  // The same bytes as the two parts of Load, split after the items.
  if (size >= ZorBDyn::kHeaderSize) {
    uint32_t itemSize;
    std::memcpy(&itemSize, data + 16, 4);
    const size_t itemsEnd = itemSize ? ZorBDyn::kHeaderSize + (size - ZorBDyn::kHeaderSize) / 2 / itemSize * itemSize
                                     : ZorBDyn::kHeaderSize;
    ZorHandle items, heap;
    items.Init(data, static_cast<uint32_t>(itemsEnd));
    heap.Init(data + itemsEnd, static_cast<uint32_t>(size - itemsEnd));
    ZorBDyn d;
    try {
      d.Load(&heap, &items);
      ReadEverything(d);
    } catch (const ZorEBasic& e) {
      Check(e.GetError() == ZorErr(1, 19));
    }
  }
  return 0;
}
