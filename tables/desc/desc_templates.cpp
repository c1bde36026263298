// Field templates: ready-made descriptors by template id. The public name
// is the template's label in list 131 ("<id>:<label>"), except for the few
// templates whose name is replaced.
#include <iterator>

#include "tables/desc/desc_internal.h"
#include <zorvane/messages.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tdesc;

namespace {

struct Template {
  int32_t id;
  uint8_t phys;
  uint8_t log;
  uint16_t len;
  uint8_t nature;
  uint32_t flags;  // added to kZorTblFfValid | kZorTblFfTmpl
  int32_t nameText;  // entry of list 110 replacing the label, 0 for none
};

constexpr uint8_t kAC = kZorPhysTypeAnsiChar, kSh = kZorPhysTypeShort, kLg = kZorPhysTypeLong,
                  kQd = kZorPhysTypeQuad, kAS = kZorPhysTypeAnsiString, kDt = kZorPhysTypeDate,
                  kDc = kZorPhysTypeDecimal, kBl = kZorPhysTypeBlob, kBR = kZorPhysTypeBlobRef,
                  kUu = kZorPhysTypeUuid;
constexpr uint8_t kInt = kZorLogTypeInt, kTxt = kZorLogTypeText;
constexpr uint32_t kStd = 0x1806, kDyn = 0x1816;

constexpr Template kTemplates[] = {
    {1, kAC, kInt, 0, 0, kStd, 0},
    {2, kAC, kTxt, 0, 0, kStd, 0},
    {3, kSh, kInt, 0, 0, kStd, 0},
    {4, kLg, kInt, 0, 0, kStd, 0},
    {5, kQd, kInt, 0, 0, kStd, 0},
    {6, kAS, kTxt, 35, 0, kStd, 0},
    {7, kAS, kTxt, 255, 0, kDyn, 0},
    {8, kAS, kTxt, 35, 1, kStd, 0},
    {9, kAS, kTxt, 35, 2, kStd, 0},
    {10, kAS, kTxt, 35, 4, kStd, 0},
    {11, kAS, kTxt, 35, 5, kStd, 0},
    {12, kAS, kTxt, 10, 6, kStd, 0},
    {13, kAS, kTxt, 35, 7, kStd, 0},
    {14, kAS, kTxt, 35, 3, kStd, 0},
    {15, kAS, kTxt, 25, 8, kStd, 0},
    {16, kAS, kTxt, 25, 9, kStd, 0},
    {17, kAS, kTxt, 25, 10, kStd, 0},
    {18, kAS, kTxt, 25, 11, kStd, 0},
    {19, kAS, kTxt, 127, 12, kDyn, 0},
    {20, kAS, kTxt, 127, 13, kDyn, 0},
    {21, kAS, kTxt, 35, 0, kStd | kZorTblFfStrList, 0},
    {22, kAS, kTxt, 35, 0, kStd | kZorTblFfEnum, 0},
    {23, kAC, kZorLogTypeBoolean, 0, 0, kStd, 0},
    {24, kDt, kZorLogTypeDate, 0, 0, kStd, 0},
    {25, kDc, kZorLogTypeMoney, 0, 0, kStd, 0},
    {26, kBR, kZorLogTypePict, 0, 0, 0x806, 0},
    {27, kBl, kZorLogTypeRichTxt, 0, 0, kDyn, kTxtTmplComment},
    {28, kBl, kZorLogTypeData, 15, 0, kZorTblFfLocTbl | kZorTblFfDyna, 0},
    {29, kAS, kTxt, 35, 34, kStd, 0},
    {30, kAS, kTxt, 34, 37, kDyn, 0},
    {31, kAS, kTxt, 11, 38, kDyn, 0},
    {32, kAS, kTxt, 35, 0, 0x800040E, 0},
    {33, kUu, kTxt, 36, 0, kStd, 0},
    {34, kAS, kTxt, 50, 1, kStd, 0},
    {35, kAS, kTxt, 35, 40, kStd, 0},
    {36, kAS, kTxt, 35, 41, kStd, 0},
    {37, kAS, kTxt, 35, 42, kStd, 0},
    {38, kAS, kTxt, 35, 43, kStd, 0},
    {1001, kLg, kInt, 0, 0, kZorTblFfUnicID, 0},
    {1002, kAS, kTxt, 25, 0, kStd, 0},
    {1003, kAS, kTxt, 35, 0, 0x240E, 0},
    {1004, kLg, kInt, 0, 28, 0, kTxtTmplSource},
    {1005, kAS, kTxt, 18, 29, kZorTblFfStrList, kTxtTmplRwMode},
};

const Template* FindTemplate(int32_t id) {
  for (const Template& t : kTemplates)
    if (t.id == id) return &t;
  return nullptr;
}

}  // namespace

bool ZorTableDesc::FillTfiFromTmpl(int32_t templateId, sZorTfi* out) {
  *out = sZorTfi();
  string label;
  const Template* t = FindTemplate(templateId);
  if (!t) {
    out->physType = kZorPhysTypeLong;
    out->logType = kZorLogTypeInt;
    PutText(reinterpret_cast<uint8_t*>(out->name), kZorTfiNameSize,
            ZorLoadString(kKernel, kListTables, kTxtDeleted, &label));
    return false;
  }
  if (t->nameText)
    ZorLoadString(kKernel, kListTables, t->nameText, &label);
  else
    ZorLoadStringIndex(kKernel, kListTemplates, templateId, &label);
  PutText(reinterpret_cast<uint8_t*>(out->name), kZorTfiNameSize, label.CStr());
  out->physType = t->phys;
  out->logType = t->log;
  out->len = t->len;
  out->nature = t->nature;
  out->flags = kZorTblFfValid | kZorTblFfTmpl | t->flags;
  if (templateId == 1005) {
    out->d1 = 1;
    out->d2 = 140;
  }
  return true;
}

}  // namespace zorvane
