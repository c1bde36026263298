// Fuzzes ZorPnv::AddRsrcTxt on arbitrary resource text. The first byte
// chooses escapes and the writer's line width; the rest is the text. A
// text is either refused with a library error, leaving the dictionary
// empty, or read; what was read must come back unchanged through the
// resource writer.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <string>

using namespace zorvane;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameEntries(const ZorPnv& a, const ZorPnv& b) {
  if (a.GetNbLines() != b.GetNbLines()) return false;
  string x, y;
  for (int32_t i = 1; i <= a.GetNbLines(); ++i)
    if (!ZorStrEq(a.GetItemText(i), b.GetItemText(i))) return false;
  return ZorStrEq(a.GetList(&x), b.GetList(&y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool escapes = data[0] & 1;
  const uint32_t width = data[0] >> 4;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // read up to the first NUL

  ZorPnv pnv;
  try {
    pnv.AddRsrcTxt(text.c_str(), escapes);
  } catch (const ZorEBasic& e) {
    Check(ZorErrNumber(e.GetError()) == 19 && pnv.GetNbLines() == 0);
    return 0;
  }
  string form;
  pnv.GetRsrcTxt(&form, width, escapes ? ZorPnvRsrcEscapes : 0, data[0] & 2);
  ZorPnv back;
  back.AddRsrcTxt(form.CStr(), escapes);
  Check(SameEntries(pnv, back));
  for (int32_t i = 1; i <= pnv.GetNbLines() && i <= 4; ++i) {
    string name, value;
    pnv.GetItem(i, &name, ZorTxtKindCode);
    Check(ZorPnv::IsValidName(name.CStr()) && pnv.IsNameExist(name.CStr()));
    pnv.GetTxt(&value, name.CStr(), 'E');
  }
  return 0;
}
