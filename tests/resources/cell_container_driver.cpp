// Driver of cell_container_oracle.py (protocol: tests/support/driver.h): one
// ZorDyna operation per question on a container and a copy target; results
// are "1" or "0", bytes travel in hexadecimal.
//
//   R                  new empty container; the copy target holds "old" at 9 9 9
//   A HEX              attach a copy of the bytes
//   S|I|U K L C HEX    SetData, InsData of raw bytes, SetDataUuid
//   T K L C TEXT       SetData of a text ("-": the empty text)
//   N|Q|D K L C V      SetData of a long, SetDataQuad, SetDataDbl (V in C's %a form)
//   G K L C            GetData raw -> "found HEX"
//   IL|DL|IC|DC K AT COUNT, SL|SC K A B, and the range forms
//   ILR|DLR|ICR|DCR AT COUNT KF KT OF OT, SLR|SCR A B KF KT OF OT
//   X K, CK FROM TO, CP LINES, DK K SHIFT, CB KF KT LF LT CF CT
//   ST K TYPE COL LF LT DOWN, CT K DSTKIND REPLACE, CR KF KT LF LT CF CT REPLACE
//   F K C TEXT START   FindInCol of a text -> line
//   M K                GetDim -> "greatest line, greatest column, GetNbItem"
//   V REPAIR           Verif -> "sound items"
//   P, PO              the container's, the copy target's bytes
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

std::string Result(bool r) { return r ? "1" : "0"; }

// The line or column edits: a kind and two numbers, or two numbers and a box.
bool Structure(ZorDyna& d, const Fields& f) {
  const std::string& op = f[0];
  const int32_t a = Int(f[1]), b = Int(f[2]), c = Int(f[3]);
  if (op.size() == 3) {
    const int32_t kt = Int(f[4]), of = Int(f[5]), ot = Int(f[6]);
    if (op == "ILR") return d.InsLineRange(c, kt, a, b, of, ot);
    if (op == "DLR") return d.DelLineRange(c, kt, a, b, of, ot);
    if (op == "ICR") return d.InsColRange(c, kt, a, b, of, ot);
    if (op == "DCR") return d.DelColRange(c, kt, a, b, of, ot);
    if (op == "SLR") return d.SwapLineRange(c, kt, a, b, of, ot);
    return d.SwapColRange(c, kt, a, b, of, ot);
  }
  if (op == "IL") return d.InsLine(a, b, c);
  if (op == "DL") return d.DelLine(a, b, c);
  if (op == "IC") return d.InsCol(a, b, c);
  if (op == "DC") return d.DelCol(a, b, c);
  if (op == "SL") return d.SwapLine(a, b, c);
  return d.SwapCol(a, b, c);
}

}  // namespace

int main() {
  ZorDyna d, other;
  d.Init();
  auto edit = [&](const Fields& f) { return Result(Structure(d, f)); };
  auto raw = [&](const Fields& f, auto set) {
    const std::string b = Unhex(f[4]);
    return Result(set(Int(f[1]), Int(f[2]), Int(f[3]), static_cast<uint32_t>(b.size()), b.data()));
  };
  return Serve({
      {"R",
       [&](const Fields&) {
         d.Init();
         other.Init();
         other.SetData(9, 9, 9, "old");
         return "1";
       }},
      {"A",
       [&](const Fields& f) {
         ZorHandle h = HandleOf(Unhex(f[1]));
         d.Init(&h);
         return "1";
       }},
      {"S", [&](const Fields& f) { return raw(f, [&](auto... a) { return d.SetData(a...); }); }},
      {"I", [&](const Fields& f) { return raw(f, [&](auto... a) { return d.InsData(a...); }); }},
      {"U",
       [&](const Fields& f) {
         const std::string b = Unhex(f[4]);
         return Result(d.SetDataUuid(Int(f[1]), Int(f[2]), Int(f[3]), ZorUuid(b.data())));
       }},
      {"T", [&](const Fields& f) { return Result(d.SetData(Int(f[1]), Int(f[2]), Int(f[3]), f[4] == "-" ? "" : f[4].c_str())); }},
      {"N", [&](const Fields& f) { return Result(d.SetData(Int(f[1]), Int(f[2]), Int(f[3]), Int(f[4]))); }},
      {"Q", [&](const Fields& f) { return Result(d.SetDataQuad(Int(f[1]), Int(f[2]), Int(f[3]), std::stoll(f[4]))); }},
      {"D", [&](const Fields& f) { return Result(d.SetDataDbl(Int(f[1]), Int(f[2]), Int(f[3]), Real(f[4]))); }},
      {"G",
       [&](const Fields& f) {
         ZorHandle h;
         const bool found = d.GetData(Int(f[1]), Int(f[2]), Int(f[3]), &h);
         return Result(found) + " " + HexText(h);
       }},
      {"IL", edit}, {"DL", edit}, {"IC", edit}, {"DC", edit}, {"SL", edit}, {"SC", edit},
      {"ILR", edit}, {"DLR", edit}, {"ICR", edit}, {"DCR", edit}, {"SLR", edit}, {"SCR", edit},
      {"X", [&](const Fields& f) { return Result(d.InvertLineCol(Int(f[1]))); }},
      {"CK", [&](const Fields& f) { return Result(d.ChangeKind(Int(f[1]), Int(f[2]))); }},
      {"CP", [&](const Fields& f) { return Result(d.Compact(Int(f[1]) != 0)); }},
      {"DK", [&](const Fields& f) { return Result(d.DelKind(Int(f[1]), Int(f[2]) != 0)); }},
      {"CB",
       [&](const Fields& f) {
         return Result(d.Clear(Int(f[1]), Int(f[2]), Int(f[3]), Int(f[4]), Int(f[5]), Int(f[6])));
       }},
      {"ST",
       [&](const Fields& f) {
         const uint32_t flags = Int(f[6]) ? uint32_t{kZorDynaSortDescending} : 0u;
         return Result(d.Sort(Int(f[1]), static_cast<eZorPhysType>(Int(f[2])), Int(f[3]), Int(f[4]), Int(f[5]), flags));
       }},
      {"CT", [&](const Fields& f) { return Result(d.CopyTo(Int(f[1]), &other, Int(f[2]), Int(f[3]) != 0)); }},
      {"CR",
       [&](const Fields& f) {
         return Result(d.CopyToRange(&other, Int(f[1]), Int(f[2]), Int(f[3]), Int(f[4]), Int(f[5]), Int(f[6]),
                                     Int(f[7]) != 0));
       }},
      {"F", [&](const Fields& f) { return Line("%d", d.FindInCol(Int(f[1]), Int(f[2]), f[3].c_str(), Int(f[4]))); }},
      {"M",
       [&](const Fields& f) {
         int32_t lines = 0, cols = 0;
         const int32_t answer = d.GetDim(Int(f[1]), &lines, &cols);  // the greatest line too
         return Line("%d %d %d", answer == lines ? lines : -1, cols, d.GetNbItem(Int(f[1])));
       }},
      {"V",
       [&](const Fields& f) {
         ZorVerif v;
         v.Init(Int(f[1]) != 0);
         const bool sound = d.Verif(&v);
         return Line("%d %d", sound ? 1 : 0, v.GetNbItem(kZorVerifError));
       }},
      {"P", [&](const Fields&) { return HexText(*d.GetHandle()); }},
      {"PO", [&](const Fields&) { return HexText(*other.GetHandle()); }},
  });
}
