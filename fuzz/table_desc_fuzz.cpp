// A table description attached from arbitrary bytes: reading, validating,
// checking and dumping it, and building the key of every index on a zeroed
// record of its static size, must stay inside the data and raise nothing
// but library errors. Validation is a fixed point: validating the stored
// result again gives the same bytes.
#include <zorvane/zorvane.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

void ReadAll(ZorTableDesc* d) {
  string text;
  sZorTfi tfi;
  for (int32_t i = 0; i <= d->GetNbField() + 1; ++i) {
    d->GetField(i, &tfi);
    d->GetFieldName(i, &text, ZorNameDev);
    d->GetFieldScript(i, &text);
    d->IsIndexable(i);
  }
  d->GetFieldId("a");
  for (int32_t i = -3; i <= d->GetNbIndex() + 1; ++i) {
    d->GetIndexName(i, &text);
    d->GetSubIndex(i, 1);
  }
  ZorBGet list;
  d->GetIndexableList(&list);
  d->FieldFamGetList(1, &list);
  d->Dump(&text);
}

void BuildKeys(ZorTableDesc* d) {
  std::vector<uint8_t> record(d->GetStaticSize());
  sZorKey key;
  for (int32_t i = 1; i <= d->GetNbIndex(); ++i) {
    d->GetIndex(i, &key);
    std::vector<uint8_t> out(key.keyLen);
    ZorBuildIndex(&key, record.data(), static_cast<uint32_t>(record.size()), out.data());
  }
}

std::vector<uint8_t> Bytes(ZorTableDesc* d) {
  const ZorHandle* h = d->GetHandle();
  const auto* p = static_cast<const uint8_t*>(h->GetDatas());
  return std::vector<uint8_t>(p, p + h->GetSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  std::vector<uint8_t> exact(data, data + size);
  ZorHandle h;
  h.Attach(ZorCreateHandleFromDataPtr(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(size)));
  try {
    ZorTableDesc d;
    d.BuildFromHdl(&h);
    ReadAll(&d);
    d.Validate();
    BuildKeys(&d);
    ZorVerif report;
    report.Init(true);
    d.Check(&report, true, false);
    d.Validate();
    const std::vector<uint8_t> once = Bytes(&d);
    ZorHandle again;
    again.Init(once.data(), static_cast<uint32_t>(once.size()));
    ZorTableDesc second;
    second.BuildFromHdl(&again);
    second.Validate();
    if (Bytes(&second) != once) __builtin_trap();
    ReadAll(&second);
  } catch (const ZorEBasic&) {
  }
  return 0;
}
