// Driver of table_values_oracle.py: one memory table with a field of every
// kind; every command first clears the record (Raz), then acts on field F
// (element L, C) and answers "<ok> <text hex> <field bytes hex> ...".
//   fields                 "name:phys:log:flags:len:offset:size" per field, comma-separated
//   conf N                 document configuration 0 (the default) or 1
//   set F L C HEX          SetValStr
//   raw F HEX              the field's bytes replaced, then read back:
//                          "text long quad decimal date"
//   long F L C V / quad F L C V / dec F V / date F V     typed setters
//   chg F HOW HEX          SetValStr then ChangeVal
//   handle F HEX           SetValHandle, then GetValHandle: "... <got> <set> <hex>"
//   add F A B              field set to A (integer or decimal), then AddVal(B)
//   misc F UD HEX          "<SetValRef> <GetValRef> <SetValUuid> <set> <ClearVal> <set> <uuid hex>"
//   minmax F MAX           SetValMinMax
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

ZorTable gTable;

void Describe(ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, int64_t{7} << 32 | 4 << 16);
  struct FieldShape {
    const char* name;
    eZorPhysType phys;
    eZorLogType log;
    int32_t len;
    uint32_t flags;
  };
  const FieldShape fields[] = {
      {"C8", kZorPhysTypeAnsiChar, kZorLogTypeInt, 0, 0},       {"CT", kZorPhysTypeAnsiChar, kZorLogTypeText, 0, 0},
      {"CB", kZorPhysTypeAnsiChar, kZorLogTypeBoolean, 0, 0},   {"U", kZorPhysTypeUnicodeChar, kZorLogTypeInt, 0, 0},
      {"UT", kZorPhysTypeUnicodeChar, kZorLogTypeText, 0, 0},   {"S", kZorPhysTypeShort, kZorLogTypeInt, 0, 0},
      {"L", kZorPhysTypeLong, kZorLogTypeInt, 0, 0},            {"Q", kZorPhysTypeQuad, kZorLogTypeInt, 0, 0},
      {"T", kZorPhysTypeAnsiString, kZorLogTypeText, 10, 0},    {"W", kZorPhysTypeUnicodeStr, kZorLogTypeText, 8, 0},
      {"F", kZorPhysTypeDouble, kZorLogTypeFloat, 0, 0},        {"D0", kZorPhysTypeDecimal, kZorLogTypeDec0, 0, 0},
      {"D1", kZorPhysTypeDecimal, kZorLogTypeDec1, 0, 0},       {"D2", kZorPhysTypeDecimal, kZorLogTypeDec2, 0, 0},
      {"D3", kZorPhysTypeDecimal, kZorLogTypeDec3, 0, 0},       {"D4", kZorPhysTypeDecimal, kZorLogTypeDec4, 0, 0},
      {"DF", kZorPhysTypeDecimal, kZorLogTypeFloat, 0, 0},      {"DM", kZorPhysTypeDecimal, kZorLogTypeMoney, 0, 0},
      {"DI", kZorPhysTypeDecimal, kZorLogTypeInt, 0, 0},        {"Day", kZorPhysTypeDate, kZorLogTypeDate, 0, 0},
      {"B", kZorPhysTypeBlob, kZorLogTypeData, 6, 0},           {"G", kZorPhysTypeUuid, kZorLogTypeText, 36, 0},
      {"P", kZorPhysTypeBlob, kZorLogTypePassWord, 52, 0},      {"E", kZorPhysTypeAnsiString, kZorLogTypeText, 20, kZorTblFfEnum},
      {"Al", kZorPhysTypeLong, kZorLogTypeInt, 0, 0},           {"YL", kZorPhysTypeLong, kZorLogTypeInt, 0, kZorTblFfDyna},
      {"YT", kZorPhysTypeAnsiString, kZorLogTypeText, 12, kZorTblFfDyna},
      {"YD", kZorPhysTypeDecimal, kZorLogTypeDec2, 0, kZorTblFfDyna},
      {"Lk", kZorPhysTypeLong, kZorLogTypeInt, 0, kZorTblFfLink}, {"RO", kZorPhysTypeAnsiString, kZorLogTypeText, 10, kZorTblFfRdOnly},
      {"R", kZorPhysTypeBlobRef, kZorLogTypePict, 4, 0},
  };
  for (const FieldShape& s : fields) d->AddField(s.name, s.phys, s.log, true, s.len, s.flags, 0, kZorTblFirstFree);
  d->SetFieldAlias(25, 7, 0);
  d->AddArray("A", kZorPhysTypeShort, kZorLogTypeInt, 2, 1, true, 0, 0, kZorTblFirstFree);  // field 32
  d->Validate();
}

void Configure(int n) {
  ZorDocConfig c;
  if (n == 1) {
    std::strcpy(c.decimalSeps, ".");
    std::strcpy(c.thousandsSeps, ",");
    c.moneyType = 4;
    std::strcpy(c.dateSeps, "-");
    c.dateOrder = ZorDateOrderYMD;
    std::strcpy(c.datePattern, "CY/M/D");
    c.timeSep = '.';
  }
  ZorSetDocConfig(c);
}

std::string FieldBytes(int32_t f) {
  int32_t len, offset, size;
  gTable.GetFieldInfo(f, &len, &offset, &size);
  return HexText(gTable.GetRecord() + offset, static_cast<size_t>(size));
}

std::string After(int32_t f, bool ok, int32_t l = 0, int32_t c = 0) {
  string text;
  gTable.GetValStr(f, &text, l, c);
  return Line("%d ", ok) + HexText(text) + " " + FieldBytes(f);
}

std::string Fields_(const Fields&) {
  std::string out;
  sZorTfi t;
  for (int32_t i = 1; i <= gTable.GetNbField(); ++i) {
    gTable.GetField(i, &t);
    out += Line("%s%s:%d:%d:%u:%d:%d:%d", i > 1 ? "," : "", t.name, t.physType, t.logType, t.flags, t.len, t.offset,
                t.size);
  }
  return out;
}

std::string Raw(const Fields& a) {
  const int32_t f = Int(a[1]);
  const std::string bytes = Unhex(a[2]);
  int32_t len, offset, size;
  gTable.GetFieldInfo(f, &len, &offset, &size);
  std::memcpy(gTable.GetRecord() + offset, bytes.data(), std::min<size_t>(bytes.size(), size_t(size)));
  string text;
  gTable.GetValStr(f, &text);
  return HexText(text) + Line(" %d %lld %.17g %.17g", gTable.GetValLong(f), (long long)gTable.GetValQuad(f),
                              gTable.GetValDecimal(f)._getDouble(), gTable.GetValDate(f).GetValue());
}

std::string Typed(const Fields& a) {
  const int32_t f = Int(a[1]);
  if (a[0] == "dec") {
    const bool ok = gTable.SetValDecimal(f, decimal(Real(a[2]), kZorLogTypeFloat));
    return After(f, ok) + Line(" %.17g", gTable.GetValDecimal(f)._getDouble() + 0.0);
  }
  if (a[0] == "date") {
    date d;
    d.SetValue(Real(a[2]));
    const bool ok = gTable.SetValDate(f, d);
    return After(f, ok) + Line(" %.17g", gTable.GetValDate(f).GetValue());
  }
  const int32_t l = Int(a[2]), c = Int(a[3]);
  const int64_t v = std::strtoll(a[4].c_str(), nullptr, 10);
  const bool ok = a[0] == "long" ? gTable.SetValLong(f, static_cast<int32_t>(v), l, c) : gTable.SetValQuad(f, v, l, c);
  return After(f, ok, l, c) + Line(" %d %lld", gTable.GetValLong(f, l, c), (long long)gTable.GetValQuad(f, l, c));
}

std::string Set(const Fields& a) {
  const int32_t f = Int(a[1]), l = Int(a[2]), c = Int(a[3]);
  const bool ok = gTable.SetValStr(f, Unhex(a[4]).c_str(), l, c);
  return After(f, ok, l, c) + Line(" %.17g", gTable.GetValDate(f).GetValue() + gTable.GetValDecimal(f)._getDouble());
}

std::string Handle(const Fields& a) {
  const int32_t f = Int(a[1]);
  ZorHandle in = HandleOf(Unhex(a[2])), out;
  const bool ok = gTable.SetValHandle(f, &in);
  const bool got = gTable.GetValHandle(f, &out);
  return After(f, ok) + Line(" %d %d ", got, gTable.FieldIsSetOk(f)) + HexText(out);
}

// SetValRef, SetValUuid, FieldIsSetOk, ClearVal and FieldIsSetOk again.
std::string Misc(const Fields& a) {
  const int32_t f = Int(a[1]);
  const bool refOk = gTable.SetValRef(f, static_cast<uint32_t>(std::strtoul(a[2].c_str(), nullptr, 10)));
  const uint32_t ref = gTable.GetValRef(f);
  const bool uuidOk = gTable.SetValUuid(f, ZorUuid(Unhex(a[3]).data()));
  const std::string uuid = HexText(gTable.GetValUuid(f).GetBytes(), ZorUuid::kSize);
  const bool set = gTable.FieldIsSetOk(f);
  const bool cleared = gTable.ClearVal(f);
  return Line("%d %u %d %d %d %d ", refOk, ref, uuidOk, set, cleared, gTable.FieldIsSetOk(f)) + uuid;
}

// AddVal to a field holding an integer or a decimal first.
std::string Add(const Fields& a) {
  const int32_t f = Int(a[1]);
  if (!gTable.SetValQuad(f, std::strtoll(a[2].c_str(), nullptr, 10)))
    gTable.SetValDecimal(f, decimal(Real(a[2]), kZorLogTypeFloat));
  const bool ok = gTable.AddVal(f, decimal(Real(a[3]), kZorLogTypeFloat));
  return After(f, ok);
}

std::string MinMax(const Fields& a) {
  const int32_t f = Int(a[1]);
  return After(f, gTable.SetValMinMax(f, Int(a[2]) != 0));
}

std::string Change(const Fields& a) {
  const int32_t f = Int(a[1]);
  gTable.SetValStr(f, Unhex(a[3]).c_str());
  return After(f, gTable.ChangeVal(f, static_cast<eZorTblChgVal>(Int(a[2]))));
}

}  // namespace

int main() {
  ZorTableDesc desc;
  Describe(&desc);
  gTable.Init(&desc);
  auto clean = [](auto f) {
    return [f](const Fields& a) {
      gTable.Raz();
      return f(a);
    };
  };
  return Serve({{"fields", Fields_}, {"conf", [](const Fields& a) { Configure(Int(a[1])); }}, {"set", clean(Set)},
                {"raw", clean(Raw)}, {"long", clean(Typed)}, {"quad", clean(Typed)}, {"dec", clean(Typed)},
                {"date", clean(Typed)}, {"chg", clean(Change)}, {"handle", clean(Handle)}, {"add", clean(Add)},
                {"misc", clean(Misc)}, {"minmax", clean(MinMax)}});
}
