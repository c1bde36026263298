// ZorTableDesc::Check: the verification of a description, item by item
// into a ZorVerif report, with the comments of catalogue list 120.
//
// Conditions behind each comment (n = the comment's entry in list 120).
// Error codes: 48 for a name or unique id defined twice, 20 for index
// faults, 19 for every other error; notes and alerts carry 0. Items name
// the field concerned (0 for the table and for indexes). Free slots (flags
// 0) are not checked.
// Table:
//   2  public name empty or holding a control character;
//   3  developer name (when given) not an identifier (letter or '_', then
//      letters, digits, '_');
//   4  abbreviated name empty or holding a space or control character;
//   45 note: a data table with fields and no record-name field;
//   46 a record-name field that is not a field in use;
//   47 a hi-lock (AutoLock) field that is not a field in use or cannot be
//      indexed;
//   101, 102 (English) a linked workspace / engine id on a task or
//      enumeration table;
//   103 (English) a linked workspace whose module or table number is not
//      the table's own.
// Fields:
//   5  public name empty or holding a control character;
//   6  the same public name (ignoring case) as an earlier field;
//   7  developer name (when given) not an identifier;
//   8  the same developer name as an earlier field;
//   9  a second kZorTblFfUnicID field;
//   10 a kZorTblFfUnicID field not "Long"/"Entier", or array, dynamic,
//      virtual or user;
//   12 read only (0x400) or GetNat (0x2000) without being virtual;
//   13 an array that is also dynamic, a link, an alias or a local table, or
//      an array of "BlobRef";
//   14 flags without kZorTblFfValid (repaired: the bit is set);
//   15 virtual and also dynamic, array, unique id or local table;
//   16 virtual and part of an index;
//   17 a physical type outside 1..13, a logical type above 19, or a pair
//      outside the table of CompatibleTypes (money aside, see 36);
//   24 virtual "BlobRef";
//   25 a password ("Blob", logical type 18) whose declared length is not 52;
//   26 a dynamic "BlobRef";
//   27 an unknown nature (above 43), or a text nature (names, addresses,
//      phones, web, paths, country name, IBAN, BIC, regions) on a field
//      that is not a string;
//   28 more than one of enumeration, string list, link, alias, local table;
//   29 a link without table or key field, or an alias whose source is not
//      another field in use;
//   30 rich text that is neither "BlobRef" nor a dynamic "Blob", or whose
//      declared length is not 0;
//   31 a user field that is also array, unique id, link, alias,
//      enumeration or local table;
//   32 alert: a local table whose structure (D1, D2) is not set;
//   33 a user field in a task or enumeration table;
//   34 a variable precision on a field whose logical type is not a number
//      with decimals, float or money (0-6) (repaired: removed);
//   35 a variable-precision cell that is not a 32-bit value (repaired:
//      removed);
//   36 logical type money on a physical type other than "Decimal" or
//      "Double";
//   37 alert: table C prefix + developer name longer than 32 characters;
//   38 a numeric logical type (0-6), which totals add up, on an
//      enumeration or string-list field;
//   39 read only together with Import (0x800) or AutoFill (0x1000);
//   40 an alias whose physical type or declared length differs from its
//      source field's;
//   44 a string without length or above 255, a fixed "Blob" of length 0,
//      or a field whose size did not fit the record (Validate gave it 0).
// Enumerations of the standard field families (section 11):
//   41 alert: a family bound to an enumeration id whose module is absent
//      ('^0s' is the family's short key of list 109);
//   42 a field of a family bound to an enumeration that is not an
//      enumeration field of that id (D2 = the id's low half).
// Indexes:
//   18 an index line without definition, or without parts;
//   19 a part naming a field after a part that names none;
//   20 an empty index name (code 20), or one used by an earlier index
//      (code 48);
//   21 a part whose field is not a field in use, cannot be indexed or has
//      another physical type than the part;
//   22 a part length that ZorCheckIndexSize refuses, or a key longer than
//      255 bytes;
//   43 alert: a text part shorter than its field's declared length;
//   23 a default index outside 0..number of indexes (repaired: 0).
#include <vector>

#include "tables/desc/desc_internal.h"
#include <zorvane/messages.h>
#include <zorvane/module.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

namespace zorvane {

using namespace tdesc;

namespace {

constexpr int64_t kErrStruct = ZorErr(1, 19), kErrIndex = ZorErr(1, 20), kErrTwice = ZorErr(1, 48);
constexpr int32_t kTxtSection = 1, kTxtEnumSection = 11, kTxtNoLinkedWs = 101, kTxtNoLinkedEng = 102,
                  kTxtLinkedWsMain = 103;

bool HasControl(const char* s) {
  for (; *s; ++s)
    if (static_cast<uint8_t>(*s) < 0x20) return true;
  return false;
}

bool IsIdent(const char* s) {
  if (!*s || ZorIsDigit(*s)) return false;
  for (; *s; ++s)
    if (!(ZorIsAlNum(*s) && static_cast<uint8_t>(*s) < 0x80) && *s != '_') return false;
  return true;
}

bool IsString(uint8_t phys) { return phys == kZorPhysTypeAnsiString || phys == kZorPhysTypeUnicodeStr; }

// Logical types a physical type may carry (bit per logical type).
bool CompatibleTypes(uint8_t phys, uint8_t log) {
  constexpr uint32_t kNumbers = 0xFF;  // 0-7
  const uint32_t bit = 1u << log;
  switch (phys) {
    case kZorPhysTypeAnsiChar:
    case kZorPhysTypeUnicodeChar: return bit & (kNumbers | 1u << 9 | 1u << 19);
    case kZorPhysTypeShort:
    case kZorPhysTypeLong:
    case kZorPhysTypeQuad: return bit & (kNumbers | 1u << 10 | 1u << 11 | 1u << 16 | 1u << 17 | 1u << 19);
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeUnicodeStr: return bit & (1u << 9 | 1u << 12 | 1u << 15 | 1u << 18);
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal: return bit & (kNumbers | 1u << 8 | 1u << 10 | 1u << 11);
    case kZorPhysTypeDate: return bit & (1u << 8 | 1u << 10);
    case kZorPhysTypeBlob: return bit & (1u << 9 | 0x7Fu << 12);
    case kZorPhysTypeUuid: return bit & (1u << 9 | 1u << 12);
    case kZorPhysTypeBlobRef: return bit & (0x3Fu << 12);
    default: return false;
  }
}

// Natures that hold text: names, addresses, phones, web, paths, IBAN ...
bool IsTextNature(uint8_t n) {
  return (n >= 1 && n <= 13) || n == 22 || n == 24 || n == 32 || n == 34 || (n >= 37 && n <= 43);
}

constexpr uint8_t kMaxNature = 43;

class Checker {
 public:
  Checker(ZorTableDesc* desc, ZorVerif* report, bool repair, bool quiet)
      : _desc(desc), _report(report), _repair(repair), _quiet(quiet) {}

  bool Run();

 private:
  template <class... A>
  void Item(eZorVerifType type, int32_t field, int64_t err, int32_t id, A... args) {
    if (_quiet && type == kZorVerifNote) return;
    if (type == kZorVerifError || type == kZorVerifIrreparable) ++_errors;
    _report->AddItemMsg(type, field, err, kKernel, kListCheck, id, args...);
  }
  void FieldError(int32_t id, int64_t err = kErrStruct) {
    Item(kZorVerifError, _field, err, id, _field, _tfi.name);
  }
  // A fault that the report may repair.
  bool Repairable(int32_t id) {
    const bool fix = _repair && _report->CanRepair();
    Item(fix ? kZorVerifRepaired : kZorVerifError, _field, kErrStruct, id, _field, _tfi.name);
    return fix;
  }

  void CheckTable();
  void CheckField();
  void CheckFieldNames();
  void CheckFieldKinds();
  void CheckFieldTypes();
  void CheckFieldExtras();
  void CheckFamilies();
  void CheckIndex(int32_t index, std::vector<string>* names);
  bool InUse(int32_t field) const { return _desc->FieldValid(field); }

  ZorTableDesc* _desc;
  ZorVerif* _report;
  bool _repair, _quiet;
  int32_t _errors = 0;
  int32_t _field = 0;
  sZorTfi _tfi;
  int32_t _uniqueIds = 0;
  std::vector<string> _names, _devNames;
};

bool Checker::Run() {
  string name;
  _report->AddSectionMsg(kKernel, kListCheck, kTxtSection, _desc->GetName(&name));
  CheckTable();
  for (_field = 1; _field <= _desc->GetNbField(); ++_field) {
    _desc->GetField(_field, &_tfi);
    if (_tfi.flags) CheckField();
  }
  _field = 0;
  std::vector<string> indexNames;
  for (int32_t i = 1, n = _desc->GetNbIndex(); i <= n; ++i) CheckIndex(i, &indexNames);
  const int32_t def = _desc->GetDefIndex();
  if (def < 0 || def > _desc->GetNbIndex()) {
    const bool fix = _repair && _report->CanRepair();
    Item(fix ? kZorVerifRepaired : kZorVerifError, 0, kErrIndex, 23);
    if (fix) _desc->SetDefIndex(0);
  }
  CheckFamilies();
  return _errors == 0;
}

void Checker::CheckTable() {
  string text;
  _desc->GetName(&text);
  if (text.IsEmpty() || HasControl(text.CStr())) Item(kZorVerifError, 0, kErrStruct, 2);
  _desc->GetName(&text, ZorNameDev);
  if (!text.IsEmpty() && !IsIdent(text.CStr())) Item(kZorVerifError, 0, kErrStruct, 3);
  _desc->GetAbrName(&text);
  if (text.IsEmpty() || HasControl(text.CStr()) || text.PosCh(' ') >= 0) Item(kZorVerifError, 0, kErrStruct, 4);

  const eZorTblType type = _desc->GetType();
  bool anyRecName = false;
  for (int32_t i = 1; i <= 3; ++i) {
    const int32_t f = _desc->GetRecNameFid(i);
    if (f) anyRecName = true;
    if (f && !InUse(f)) Item(kZorVerifError, f, kErrStruct, 46);
  }
  if (!anyRecName && type == kZorTblTypeStd && _desc->GetNbField() > 0) Item(kZorVerifNote, 0, 0, 45);
  const int32_t hil = _desc->GetHilFid();
  if (hil && (!InUse(hil) || !_desc->IsIndexable(hil))) Item(kZorVerifError, hil, kErrStruct, 47);

  const int64_t ws = _desc->GetLinkedWsId();
  const bool plain = type == kZorTblTypeStd;
  if (ws && !plain) Item(kZorVerifError, 0, kErrStruct, kTxtNoLinkedWs);
  if (_desc->GetLinkedEngId() && !plain) Item(kZorVerifError, 0, kErrStruct, kTxtNoLinkedEng);
  const uint64_t tableBits = 0xFFFFFFFF00FF0000ull;
  if (ws && plain && (static_cast<uint64_t>(ws) & tableBits) != (static_cast<uint64_t>(_desc->GetTId()) & tableBits)) {
    _desc->GetName(&text);
    Item(kZorVerifError, 0, kErrStruct, kTxtLinkedWsMain, text.CStr());
  }
}

void Checker::CheckField() {
  if (!(_tfi.flags & kZorTblFfValid) && Repairable(14)) {
    _tfi.flags |= kZorTblFfValid;
    _desc->SetField(_field, &_tfi);
  }
  CheckFieldNames();
  CheckFieldKinds();
  CheckFieldTypes();
  CheckFieldExtras();
}

void Checker::CheckFieldNames() {
  const bool autoNamed = (_tfi.flags & kZorTblFfUser) && !(_tfi.flags & kZorTblFfUserNamed);
  string name(_tfi.name);
  if (name.IsEmpty() || HasControl(name.CStr())) FieldError(5);
  for (const string& other : _names)
    if (!autoNamed && !name.IsEmpty() && ZorStrICmp(other.CStr(), name.CStr()) == 0) FieldError(6, kErrTwice);
  if (!autoNamed) _names.push_back(name);

  string dev, prefix;
  _desc->GetFieldName(_field, &dev, ZorNameDev);
  if (dev.IsEmpty()) return;
  if (!IsIdent(dev.CStr())) FieldError(7);
  for (const string& other : _devNames)
    if (ZorStrICmp(other.CStr(), dev.CStr()) == 0) FieldError(8, kErrTwice);
  _devNames.push_back(dev);
  _desc->GetName(&prefix, ZorNameCId);
  if (prefix.Len() + dev.Len() > 32) Item(kZorVerifAlert, _field, 0, 37, _field, _tfi.name);
}

void Checker::CheckFieldKinds() {
  const uint32_t f = _tfi.flags;
  const bool isVirtual = f & kZorTblFfVirtual;
  if (f & kZorTblFfUnicID) {
    if (++_uniqueIds > 1) FieldError(9, kErrTwice);
    if (_tfi.physType != kZorPhysTypeLong || _tfi.logType != kZorLogTypeInt ||
        (f & (kZorTblFfArray | kZorTblFfDyna | kZorTblFfVirtual | kZorTblFfUser)))
      FieldError(10);
  }
  if (!isVirtual && (f & (kZorTblFfRdOnly | kZorTblFfGetNat)) && !(f & kZorTblFfUser)) FieldError(12);
  if ((f & kZorTblFfArray) &&
      ((f & (kZorTblFfDyna | kZorTblFfLink | kZorTblFfAlias | kZorTblFfLocTbl)) || _tfi.physType == kZorPhysTypeBlobRef))
    FieldError(13);
  if (isVirtual && (f & (kZorTblFfDyna | kZorTblFfArray | kZorTblFfUnicID | kZorTblFfLocTbl)) && !(f & kZorTblFfUser))
    FieldError(15);
  if (isVirtual && (f & kZorTblFfIndexed)) FieldError(16);
  if (isVirtual && _tfi.physType == kZorPhysTypeBlobRef) FieldError(24);
  if ((f & kZorTblFfDyna) && _tfi.physType == kZorPhysTypeBlobRef) FieldError(26);
  const uint32_t options = f & (kZorTblFfEnum | kZorTblFfStrList | kZorTblFfLink | kZorTblFfAlias | kZorTblFfLocTbl);
  if (options & (options - 1)) FieldError(28);
  if (f & kZorTblFfUser) {
    if (f & (kZorTblFfArray | kZorTblFfUnicID | kZorTblFfLink | kZorTblFfAlias | kZorTblFfEnum | kZorTblFfLocTbl))
      FieldError(31);
    if (_desc->GetType() != kZorTblTypeStd) FieldError(33);
  }
  if ((f & kZorTblFfLocTbl) && !_tfi.d1 && !_tfi.d2) Item(kZorVerifAlert, _field, 0, 32, _field, _tfi.name);
  if ((f & kZorTblFfRdOnly) && (f & (kZorTblFfImport | kZorTblFfAutoFill))) FieldError(39);
}

void Checker::CheckFieldTypes() {
  const uint8_t phys = _tfi.physType, log = _tfi.logType;
  const bool money = log == kZorLogTypeMoney;
  if (money && phys != kZorPhysTypeDecimal && phys != kZorPhysTypeDouble)
    FieldError(36);
  else if (log > kZorLogTypeBoolean || !CompatibleTypes(phys, log))
    FieldError(17);
  if (phys == kZorPhysTypeBlob && log == kZorLogTypePassWord && _tfi.len != 52) FieldError(25);
  if (_tfi.nature > kMaxNature || (IsTextNature(_tfi.nature) && !IsString(phys))) FieldError(27);
  if (log == kZorLogTypeRichTxt &&
      (!(phys == kZorPhysTypeBlobRef || (phys == kZorPhysTypeBlob && (_tfi.flags & kZorTblFfDyna))) || _tfi.len != 0))
    FieldError(30);
  if (log <= kZorLogTypeMoney && (_tfi.flags & (kZorTblFfEnum | kZorTblFfStrList))) FieldError(38);
  const bool fixed = !(_tfi.flags & (kZorTblFfVirtual | kZorTblFfDyna | kZorTblFfUser | kZorTblFfAlias));
  const bool badLen = (IsString(phys) && (_tfi.len == 0 || _tfi.len > 255)) ||
                      (phys == kZorPhysTypeBlob && _tfi.len == 0 && fixed && log != kZorLogTypePassWord);
  const bool lost = fixed && _tfi.size == 0 && ZorGetPhysTypeSize(static_cast<eZorPhysType>(phys), _tfi.len) > 0 &&
                    !(_tfi.flags & (kZorTblFfEnum | kZorTblFfStrList));
  if (badLen || lost) FieldError(44);
}

void Checker::CheckFieldExtras() {
  const uint32_t f = _tfi.flags;
  if (f & kZorTblFfLink && (!_tfi.d1 || !_tfi.d2)) FieldError(29);
  if (f & kZorTblFfAlias) {
    const int32_t source = static_cast<int32_t>(_tfi.d1);
    sZorTfi src;
    if (source == _field || !InUse(source)) {
      FieldError(29);
    } else if (_desc->GetField(source, &src) && (src.physType != _tfi.physType || src.len != _tfi.len)) {
      FieldError(40);
    }
  }
  // The variable precision: a 32-bit cell, on numbers with decimals only.
  ZorDyna& cells = ZorTableDescAccess::Cells(_desc);
  ZorDyna extras;
  if (!cells.SubDyna(&extras, 0, kLineFieldSub, _field, false)) return;
  const uint32_t size = extras.GetSize(0, 1, kSubVPrec);
  if (size == 4 && _tfi.logType > kZorLogTypeMoney && _desc->GetFieldVPrec(_field) != 0 && Repairable(34))
    _desc->SetFieldVPrec(_field, 0);
  if (size != 0 && size != 4 && Repairable(35)) {
    extras.SetData(0, 1, kSubVPrec, 0u, nullptr);
    cells.SetData(0, kLineFieldSub, _field, extras.GetHandle());
  }
}

void Checker::CheckFamilies() {
  string key;
  bool section = false;
  for (int32_t family = 1; family <= kMaxNature; ++family) {
    const int64_t enumId = _desc->GetStdFidFamEnumId(family);
    if (!enumId) continue;
    if (!section) _report->AddSectionMsg(kKernel, kListCheck, kTxtEnumSection);
    section = true;
    ZorGetStringIndexCst(kKernel, kListNatures, family + 1, &key);
    if (!ZorIsModulePresent(static_cast<int32_t>(enumId >> 32))) Item(kZorVerifAlert, 0, 0, 41, key.CStr());
    for (int32_t i = 1, n = _desc->GetNbField(); i <= n; ++i) {
      _desc->GetField(i, &_tfi);
      if (!_tfi.flags || _tfi.nature != family) continue;
      if (!(_tfi.flags & kZorTblFfEnum) || _tfi.d2 != static_cast<uint32_t>(enumId))
        Item(kZorVerifError, i, kErrStruct, 42, i, _tfi.name, key.CStr());
    }
  }
}

void Checker::CheckIndex(int32_t index, std::vector<string>* names) {
  sZorKey key;
  _desc->GetIndex(index, &key);
  string name;
  _desc->GetIndexName(index, &name);
  const char* shown = name.CStr();
  int32_t parts = 0, total = 0;
  bool discontinuous = false, badField = false, badSize = false, shorter = false;
  for (int32_t p = 0; p < kZorKeyMaxParts; ++p) {
    const int32_t f = key.partField[p];
    if (f == 0) continue;
    if (p > 0 && key.partField[p - 1] == 0) discontinuous = true;
    ++parts;
    total += key.partLen[p];
    sZorTfi tfi;
    if (!_desc->GetField(f, &tfi) || !tfi.flags || !_desc->IsIndexable(f) || key.partType[p] % 100 != tfi.physType) {
      badField = true;
      continue;
    }
    if (!ZorCheckIndexSize(key.partType[p], key.partLen[p], tfi.len)) badSize = true;
    if (IsString(tfi.physType) && key.partLen[p] < tfi.len) shorter = true;
  }
  if (parts == 0) return Item(kZorVerifError, 0, kErrIndex, 18, index);
  if (discontinuous) Item(kZorVerifError, 0, kErrIndex, 19, index);
  bool twice = false;
  for (const string& other : *names)
    if (ZorStrICmp(other.CStr(), shown) == 0) twice = true;
  if (name.IsEmpty() || twice) Item(kZorVerifError, 0, twice ? kErrTwice : kErrIndex, 20, index, shown);
  names->push_back(name);
  if (badField) Item(kZorVerifError, 0, kErrIndex, 21, index, shown);
  if (badSize || total > 255) Item(kZorVerifError, 0, kErrIndex, 22, index, shown);
  if (shorter) Item(kZorVerifAlert, 0, 0, 43, index, shown);
}

}  // namespace

bool ZorTableDesc::Check(ZorVerif* report, bool repair, bool quiet) {
  Checker checker(this, report, repair, quiet);
  return checker.Run();
}

}  // namespace zorvane
