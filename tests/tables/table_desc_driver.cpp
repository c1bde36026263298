// Driver of table_desc_oracle.py and key_text_oracle.py.
//   build <name>      hex of the container of a reference description
//   validate <hex>    the description validated: "<0|1> <hex of container>"
//   sort L1 L2 items  items are "hexA/hexB" pairs separated by commas, each a
//                     record of two AnsiString fields keyed by parts of lengths
//                     L1 and L2; answers the item numbers in key order under
//                     ZorCompIndex (stable: equal keys keep their order)
#include <algorithm>
#include <map>
#include <numeric>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

constexpr int64_t kTid = (int64_t{7} << 32) | (3 << 16);

// Customers: template fields, a record name and two indexes.
void Customers(ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, kTid);
  d->SetName("Clients");
  d->SetAbrName("Cli");
  for (int32_t t : {1001, 6, 8, 9, 10, 12, 13, 15, 20, 24, 25, 26, 27}) d->AddField(t, nullptr, kZorTblFirstFree);
  d->SetFieldName(2, "Code");
  d->SetFieldName(2, "CliCode", ZorNameDev);
  d->SetRecNameFid(3, 4, 0);
  d->SetFieldVPrec(11, 3);
  d->SetSubIndex(d->AddIndex(0), 1, 2, 0);
  const int32_t byName = d->AddIndex(0);
  d->SetSubIndex(byName, 1, 3, 10);
  d->SetSubIndex(byName, 2, 10, 0);
  d->SetIndexName(byName, "ByName");
  d->SetDefIndex(1);
}

// An enumeration with a code and a label (its UUID fixed afterwards).
void Enumeration(ZorTableDesc* d) {
  d->Create(kZorTblTypeEnum, int64_t{9} << 32 | 12);
  d->AddField("Value", kZorPhysTypeShort, kZorLogTypeInt, true, 0, 0, 0, kZorTblFirstFree);
  d->AddField("Label", kZorPhysTypeString, kZorLogTypeText, true, 40, 0, 0, kZorTblFirstFree);
  d->SetSubIndex(d->AddIndex(0), 1, 1, 0);
}

// Task parameters: source and mode templates, a unicode text and a quad.
void Task(ZorTableDesc* d) {
  d->Create(kZorTblTypeTask, int64_t{9} << 32 | 5);
  d->AddField(1004, nullptr, kZorTblFirstFree);
  d->AddField(1005, nullptr, kZorTblFirstFree);
  d->AddField("Title", kZorPhysTypeUnicodeStr, kZorLogTypeText, false, 20, 0, 0, kZorTblFirstFree);
  d->AddField("Stamp", kZorPhysTypeQuad, kZorLogTypeInt, true, 0, 0, 0, kZorTblFirstFree);
}

// Arrays, an alias, user and dynamic fields, a deleted slot, three indexes
// (one descending part, one inserted part).
void Mixed(ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, kTid + (1 << 16));
  d->SetFlags(kZorTblTfComAccessWrOk | kZorTblTfSmall);
  d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfUnicID, 0, kZorTblFirstFree);
  d->AddArray("Grid", kZorPhysTypeShort, kZorLogTypeInt, 2, 0, true, 0, 0, kZorTblFirstFree);
  d->AddArray("Amounts", kZorPhysTypeDecimal, kZorLogTypeDec2, 3, 1, true, 0, 0, kZorTblFirstFree);
  d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, 0, 17, kZorTblFirstFree);
  d->AddField("Alias", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, 0, 0, kZorTblFirstFree);
  d->SetFieldAlias(5, 4, 0);
  d->AddField("Memo", kZorPhysTypeAnsiString, kZorLogTypeText, true, 2000, kZorTblFfDyna, 0, kZorTblFirstFree);
  d->AddField("U1", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfUser, 0, kZorTblFirstFree);
  d->AddField("U2", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfUser | kZorTblFfScript, 0, kZorTblFirstFree);
  d->AddField("Kept", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfUser | kZorTblFfUserNamed, 0,
              kZorTblFirstFree);
  d->AddField("Gone", kZorPhysTypeDate, kZorLogTypeDate, true, 0, 0, 0, kZorTblFirstFree);
  d->AddField("When", kZorPhysTypeDate, kZorLogTypeDate, true, 0, 0, 0, kZorTblFirstFree);
  d->AddField("Pass", kZorPhysTypeBlob, kZorLogTypePassWord, false, 52, 0, 0, kZorTblFirstFree);
  d->AddField("Kind", kZorPhysTypeAnsiString, kZorLogTypeText, true, 20, kZorTblFfEnum, 0, kZorTblFirstFree);
  d->AddField("Guid", kZorPhysTypeUuid, kZorLogTypeText, true, 36, 0, 0, kZorTblFirstFree);
  d->DelField(10, false);
  d->SetFieldVPrec(3, 2);
  d->SetSubIndex(d->AddIndex(0), 1, 1, 0);
  const int32_t two = d->AddIndex(0);
  d->SetSubIndex(two, 1, 11, 16);
  d->SetSubIndex(two, -1, 4, 0);
  sZorKey key;
  d->GetIndex(two, &key);
  key.partType[1] += kZorKeyDescending;
  d->SetIndex(two, &key);
  const int32_t three = d->AddIndex(1);
  d->SetSubIndex(three, 1, 14, 0);
  d->SetSubIndex(three, 2, 4, 5);
  d->SetIndexFlag(three, 0x11);
  d->SetDefIndex(2);
}

// One field of every template.
void Templates(ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, kTid + (2 << 16));
  for (int32_t t = 1; t <= 1005; t = t == 38 ? 1001 : t + 1) d->AddField(t, nullptr, kZorTblFirstFree);
}

std::string Build(const Fields& a) {
  const std::map<std::string, void (*)(ZorTableDesc*)> builders = {
      {"customers", Customers}, {"enum", Enumeration}, {"task", Task}, {"mixed", Mixed}, {"templates", Templates}};
  if (!builders.count(a[1])) return "?";
  ZorTableDesc d;
  builders.at(a[1])(&d);
  d.Validate();
  ZorHandle h;
  d.FillDescHdl(&h);
  ZorDyna cells;
  cells.Init(&h);
  if (cells.IsItemExist(3, 4, 1)) {
    const uint8_t fixed[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    cells.SetDataUuid(3, 4, 1, ZorUuid(fixed));
  }
  return HexText(*cells.GetHandle());
}

std::string Validate(const Fields& a) {
  const std::string bytes = Unhex(a[1]);
  ZorHandle in = HandleOf(bytes);
  ZorTableDesc d;
  d.BuildFromHdl(&in);
  const bool fits = d.Validate();
  return Line("%d ", fits) + HexText(*d.GetHandle());
}

std::string Sort(const Fields& f) {
  const auto l1 = static_cast<uint8_t>(Int(f[1])), l2 = static_cast<uint8_t>(Int(f[2]));
  const sZorKey key{.nbPart = 2, .partType = {kZorPhysTypeAnsiString, kZorPhysTypeAnsiString},
                    .keyLen = static_cast<uint8_t>(l1 + l2), .partLen = {l1, l2}, .partOffset = {0, 64}};
  std::vector<std::string> keys;
  for (const std::string& item : Split(f[3], ',')) {
    const Fields texts = Split(item, '/');
    char record[128] = {};
    std::strncpy(record, Unhex(texts[0]).c_str(), 63);
    std::strncpy(record + 64, Unhex(texts[1]).c_str(), 63);
    ZorBuildIndex(&key, record, sizeof record, keys.emplace_back(key.keyLen, '\0').data());
  }
  std::vector<int> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return ZorCompIndex(keys[a].data(), keys[b].data(), key.keyLen) < 0; });
  std::string out;
  for (int i : order) out.append(out.empty() ? "" : ",").append(std::to_string(i));
  return out;
}

}  // namespace

int main() { return Serve({{"build", Build}, {"validate", Validate}, {"sort", Sort}}); }
