// Fuzzes ZorTxtList::Init on arbitrary delimited text. The first two bytes
// choose the identifier and separator characters; the rest is the text.
// Besides not failing, the list must read back its own text form exactly,
// keep runs free of the separator, and survive searching, sorting and
// copying.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <string>

using namespace zorvane;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char idChar = static_cast<char>(data[0]), sepChar = static_cast<char>(data[1]);
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);  // read up to the first NUL

  ZorTxtList list;
  list.Init(text.c_str(), idChar, sepChar);
  const int32_t n = list.GetNbItem();
  for (int32_t i = 1; i <= n; ++i) {
    Check(list.GetItemFlags(i) & ZorTxtHasCode);
    Check(sepChar == 0 || !ZorStrChr(list.GetItemText(i), sepChar));
  }

  string form, again;
  list.GetText(&form, ZorTxtKindIdText, idChar, sepChar);
  ZorTxtList back;
  back.Init(form.CStr(), idChar, sepChar);
  Check(back.GetNbItem() == n);
  Check(ZorStrEq(back.GetText(&again, ZorTxtKindIdText, idChar, sepChar), form.CStr()));

  ZorTxtList copy(list);
  string part;
  for (int32_t i = 1; i <= n && i <= 8; ++i) {
    copy.GetItem(i, &part, ZorTxtKindCode);
    for (int32_t op : {0, 2, 5, 106, 1007, 1103}) Check(copy.Find(part.CStr(), ZorTxtKindCode, 1, op) <= n);
    Check(copy.Find(part.CStr(), ZorTxtKindCode, 1, 0) <= i);
  }
  ZorTxtList dups;
  Check(copy.IsUnicItem(ZorTxtKindText, &dups) < n || n == 0);
  copy.Sort(data[0] & 1, data[0] & 2);
  copy.Renum(1, 1, 1, n, true);
  Check(copy.GetNbItem() == n);
  return 0;
}
