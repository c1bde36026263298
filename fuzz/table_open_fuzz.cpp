// A table opened on a description attached from arbitrary bytes, its
// records taken from the same bytes (the memory store's home): walking every
// order, searching, writing, deleting and saving must stay inside the data
// and raise nothing but library errors. What is saved opens again with the
// same records.
#include <zorvane/zorvane.h>

#include <cstdint>
#include <vector>

using namespace zorvane;

namespace {

void Walk(ZorTable* t) {
  for (int32_t index = 0; index <= t->GetNbIndex() && index < 4; ++index) {
    t->SetCurIndex(index);
    int32_t steps = 0;
    for (bool ok = t->First(); ok && steps < 64; ok = t->Next(), ++steps) {
      t->GetNFromUD(t->GetCurUD());
      t->Exist();
    }
    t->Last();
    t->Prev();
    if (index > 0) {
      t->Read(kZorTblFindGreater, index);
      t->Read(kZorTblFindLess, index);
      t->Read(kZorTblFindEqual, index);
    }
  }
  t->SetModeRangeN(2, 5);
  t->First();
  t->SetModeNoDel(true);
  t->Last();
  t->SetModeFull();
}

void Change(ZorTable* t) {
  try {
    t->Raz();
    t->Write();
  } catch (const ZorEBasic&) {
  }
  try {
    if (t->ReadUD(1)) t->UpDate();
    if (t->ReadUD(2)) t->Delete();
  } catch (const ZorEBasic&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  ZorHandle h;
  h.Init(data, static_cast<uint32_t>(size));
  try {
    ZorTable t;
    t.Init(&h, true);
    Walk(&t);
    Change(&t);
    Walk(&t);
    const int32_t count = t.GetNbRecord();
    ZorHandle saved;
    saved.Copy(t.GetDescHandle());
    ZorTable again;
    again.Init(&saved, true);
    if (again.GetNbRecord() != count) __builtin_trap();
    Walk(&again);
  } catch (const ZorEBasic&) {
  }
  return 0;
}
