// Resource types: their names, the extensions of their loose files and the
// types under which a module's section stores them.
//
// One table, in type order, is the whole truth: a type exists when it is in
// the table (12 is not used). Several types share an extension (".MDesc",
// ".Bin", ".StrList"); mapping an extension back gives the first of them.
// Names and extensions are identifiers of the stored form, not texts for
// people.
#include <zorvane/resource.h>

#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"

#include <iterator>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorRsrc";
constexpr int32_t kTextGroup = 104;
constexpr int32_t kBadTypeText = 352;  // "ZorGetRsrcTypeName: Bad type '^0i'"
constexpr int32_t kErrRsrcType = 7;

struct TypeInfo {
  int32_t type;
  const char* name;
  const char* ext;  // with its dot; "" when the type has no loose file
};

constexpr TypeInfo kTypes[] = {
    {1, "ModuleDesc", ".MDesc"},   {2, "Config", ".Config"},       {3, "Fsa", ".Fsa"},
    {4, "StrList", ".StrList"},    {5, "Dialog", ".Msk"},          {6, "TableDesc", ".TDesc"},
    {7, "MTypeList", ".MDesc"},    {8, "Icon", ".Icn"},            {9, "Cursor", ".Cur"},
    {10, "Image", ".Img"},         {11, "MDescData", ".MDesc"},    {13, "Menu", ".Men"},
    {14, "DepList", ".MDesc"},     {15, "MobId", ".MobId"},        {16, "Message", ".Msg"},
    {17, "Constant", ".Cst"},      {18, "Locker", ".Lck"},         {19, "Enum", ".Enum"},
    {20, "Pref", ".Pref"},         {21, "Util", ".Util"},          {22, "WorkSpace", ".WS"},
    {23, "Brevant", ".Brevant"},   {24, "PSys", ".PSys"},          {25, "BackPage", ".BkPge"},
    {26, "StdTxt", ".StdTxt"},     {27, "RichTxt", ".RichTxt"},    {28, "Sound", ".SndPrf"},
    {29, "ToolBar", ".ToolBar"},   {30, "ChartStyle", ".ChrtSty"}, {31, "Quest", ".Quest"},
    {32, "Global", ".Glob"},       {33, "ComEng", ".ComEng"},      {34, "AppColor", ".AppClr"},
    {35, "Board", ".Board"},       {36, "MenuTag", ".MnuTag"},     {37, "Binary", ".Bin"},
    {100, "Task", ".Task"},        {997, "RawBinary", ".Bin"},     {998, "RawStrList", ".StrList"},
    {999, "RsrcDir", ""},
};

const TypeInfo* FindType(int32_t type) {
  for (const TypeInfo& t : kTypes) {
    if (t.type == type) return &t;
  }
  return nullptr;
}

const TypeInfo& RequireType(int32_t type) {
  const TypeInfo* t = FindType(type);
  if (!t) ZorRaise(kSource, ZorErr(1, kErrRsrcType), nullptr, {kTextGroup, kBadTypeText}, type);
  return *t;
}

}  // namespace

const char* ZorGetRsrcTypeName(int32_t type) { return RequireType(type).name; }

const char* ZorGetRsrcTypeExt(int32_t type) { return RequireType(type).ext; }

int32_t ZorGetRsrcTypeFromTypeName(const char* name) {
  for (const TypeInfo& t : kTypes) {
    if (name && ZorStrIEq(t.name, name)) return t.type;
  }
  return 0;
}

int32_t ZorGetRsrcTypeFromExt(const char* ext) {
  for (const TypeInfo& t : kTypes) {
    if (ext && *ext && *t.ext && ZorStrIEq(t.ext + 1, ext)) return t.type;
  }
  return 0;
}

uint32_t ZorGetRsrcSectionType(int32_t type) {
  switch (type) {
    case ZorRsrcMTypeList:
    case ZorRsrcMDescData:
    case ZorRsrcDepList: return 1000 + ZorRsrcModuleDesc;
    case ZorRsrcCursor: return 12;  // the standard cursor-group type
    case ZorRsrcRawBinary: return 1000 + ZorRsrcBinary;
    case ZorRsrcRawStrList: return 1000 + ZorRsrcStrList;
    default: return 1000 + static_cast<uint32_t>(type);
  }
}

const char* ZorGetRsrcFileName(eZorRsrcType type, int32_t id, string* out) {
  return ZorFormString(out, "^0i^1s", id, ZorGetRsrcTypeExt(type));
}

const char* ZorGetRsrcFileName(eZorRsrcType type, string* name) {
  *name += ZorGetRsrcTypeExt(type);
  return name->CStr();
}

}  // namespace zorvane
