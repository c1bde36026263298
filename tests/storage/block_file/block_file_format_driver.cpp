// Driver of block_file_format_oracle.py (protocol: tests/support/driver.h):
// one operation per question on one ZorBFile.
// "check" runs the four checks with a verifier (repair, mode) at a check
// level and answers the report TAB-separated: "S<title>" per section,
// "E<text>" per fault, "R<text>" per repaired fault (UTF-8), then the four
// results. Block data of SEED are bytes (SEED * 131 + i * 7 + i / 251) mod 256.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

ZorHandle Pattern(int32_t size, int32_t seed) {
  ZorHandle h;
  if (size == 0) return h;
  h.Init(static_cast<uint32_t>(size));
  auto* p = static_cast<uint8_t*>(h.GetDatas());
  for (int32_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed * 131 + i * 7 + i / 251);
  return h;
}

std::string Report(const ZorVerif& v) {
  string text, utf8;
  std::string out;
  int32_t item = 1;
  for (int32_t s = 1; s <= v.GetNbSection(); ++s) {
    out += std::string("S") + ZorEncodeToUTF8(v.GetSectionTitle(s, &text), &utf8) + "\t";
    sZorVerifItem info;
    for (; v.GetItem(item, &info) && info.section == s; ++item)
      out += (info.type == kZorVerifRepaired ? "R" : "E") +
             std::string(ZorEncodeToUTF8(v.GetItemComment(item, &text), &utf8)) + "\t";
  }
  return out;
}

std::string Checks(ZorBFile& f, ZorVerif* v) {
  const bool r[4] = {f.CheckDir(v), f.CheckCrossBlock(v), f.CheckLostSpace(v), f.CheckBlockOwnerType(v)};
  return (v ? Report(*v) : "") + Line("%d %d %d %d", r[0], r[1], r[2], r[3]);
}

void Open(ZorBFile& f, const std::string& path, int32_t flags) {
  const ZorFsa fsa(path.c_str());
  f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, flags, -1, -1, -1);
}

}  // namespace

int main() {
  ZorBFile f;
  return Serve({
      {"create",
       [&](const Fields& a) {
         const ZorFsa fsa(a[1].c_str());
         ZorBFile::Create(&fsa, Int(a[2]), 0, "oracle", ZorFsaCreateAlways);
         Open(f, a[1], Int(a[3]));
       }},
      {"open", [&](const Fields& a) { Open(f, a[1], Int(a[2])); }},
      {"close", [&](const Fields&) { f.Close(ZorBfCloseNormal); }},
      {"begin", [&](const Fields&) { f.StartTransaction(); }},
      {"end", [&](const Fields&) { f.EndTransaction(); }},
      {"new",
       [&](const Fields& a) {
         ZorHandle data = Pattern(Int(a[3]), Int(a[6]));
         return std::to_string(f.BCreate(Int(a[3]) ? &data : nullptr, Int(a[1]), static_cast<int16_t>(Int(a[2])),
                                         static_cast<uint32_t>(Int(a[4])), Int(a[5]) != 0));
       }},
      {"write",
       [&](const Fields& a) {
         ZorHandle data = Pattern(Int(a[2]), Int(a[4]));
         f.BWriteCopy(Int(a[1]), &data, Int(a[3]));
       }},
      {"del", [&](const Fields& a) { f.BDelete(Int(a[1])); }},
      {"need",
       [&](const Fields&) {
         return Line("%d %d %d", f.NeedCompact(ZorBfCompact10Percent), f.NeedCompact(ZorBfCompactAny),
                     f.NeedCompact(ZorBfCompactAll));
       }},
      {"compact",
       [&](const Fields& a) { return Line("%d", f.Compact(static_cast<eZorBfCompact>(Int(a[1])), false, false)); }},
      {"check",
       [&](const Fields& a) {
         ZorVerif v;
         v.Init(Int(a[1]) != 0, Int(a[2]));
         const int32_t level = ZorGetCheckLevel();
         ZorSetCheckLevel(Int(a[3]));
         const std::string report = Checks(f, &v);
         ZorSetCheckLevel(level);
         return report;
       }},
      {"quick", [&](const Fields&) { return Checks(f, nullptr); }},
  });
}
