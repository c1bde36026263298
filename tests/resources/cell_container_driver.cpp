// Driver for dyna_oracle.py: applies one ZorDyna operation per input line
// and prints one answer line for each.
//
//   R                  new empty container, and a copy target holding
//                      the text "old" at 9 9 9                   -> "1"
//   A HEX              attach a copy of the bytes HEX ("-": none) -> "1"
//   S K L C HEX        SetData of raw bytes ("-": none)          -> result
//   I K L C HEX        InsData of raw bytes                      -> result
//   T K L C TEXT       SetData of a text ("-": the empty text)   -> result
//   N K L C V          SetData of a long                         -> result
//   Q K L C V          SetDataQuad                               -> result
//   D K L C V          SetDataDbl (V in C's %a or decimal form)   -> result
//   U K L C HEX        SetDataUuid                               -> result
//   G K L C            GetData raw -> "found HEX" (HEX "-" when absent)
//   IL|DL|IC|DC K AT COUNT, SL|SC K A B                          -> result
//   ILR|DLR|ICR|DCR AT COUNT KF KT OF OT, SLR|SCR A B KF KT OF OT -> result
//   X K 0, CK FROM TO, CP 0|1 0, DK K SHIFT                       -> result
//   CB KF KT LF LT CF CT, ST K TYPE COL LF LT DOWN                -> result
//   CT K DSTKIND REPLACE, CR KF KT LF LT CF CT REPLACE (into the copy target)
//   PO                 the copy target's bytes in hex
//   F K C TEXT START   FindInCol of a text                       -> line
//   M K                GetDim -> "line col", and GetNbItem
//   V 0|1              Verif (1: with repair) -> "sound items"
//   P                  the run's bytes in hex ("-" when empty)
#include <zorvane/zorvane.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using zorvane::ZorDyna;

namespace {

std::vector<uint8_t> FromHex(const std::string& h) {
  std::vector<uint8_t> out;
  if (h == "-") return out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const void* p, uint32_t n) {
  if (n == 0) return "-";
  std::string out;
  char two[3];
  for (uint32_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", static_cast<const uint8_t*>(p)[i]);
    out += two;
  }
  return out;
}

int32_t I(std::istringstream& in) {
  long long v;
  in >> v;
  return static_cast<int32_t>(v);
}

bool Structure(ZorDyna* d, const std::string& op, std::istringstream& in) {
  const int32_t a = I(in), b = I(in);
  if (op.size() == 3) {  // the range forms
    const int32_t kf = I(in), kt = I(in), of = I(in), ot = I(in);
    if (op == "ILR") return d->InsLineRange(kf, kt, a, b, of, ot);
    if (op == "DLR") return d->DelLineRange(kf, kt, a, b, of, ot);
    if (op == "ICR") return d->InsColRange(kf, kt, a, b, of, ot);
    if (op == "DCR") return d->DelColRange(kf, kt, a, b, of, ot);
    if (op == "SLR") return d->SwapLineRange(kf, kt, a, b, of, ot);
    return d->SwapColRange(kf, kt, a, b, of, ot);
  }
  if (op == "X") return d->InvertLineCol(a);
  if (op == "CK") return d->ChangeKind(a, b);
  if (op == "DK") return d->DelKind(a, b != 0);
  if (op == "CP") return d->Compact(a != 0);
  const int32_t c = I(in);
  if (op == "IL") return d->InsLine(a, b, c);
  if (op == "DL") return d->DelLine(a, b, c);
  if (op == "IC") return d->InsCol(a, b, c);
  if (op == "DC") return d->DelCol(a, b, c);
  if (op == "SL") return d->SwapLine(a, b, c);
  return d->SwapCol(a, b, c);
}

}  // namespace

int main() {
  ZorDyna d, other;
  d.Init();
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string op, arg;
    in >> op;
    if (op == "R") {
      d.Init();
      other.Init();
      other.SetData(9, 9, 9, "old");
      std::puts("1");
    } else if (op == "A") {
      in >> arg;
      const std::vector<uint8_t> bytes = FromHex(arg);
      zorvane::ZorHandle h;
      h.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
      d.Init(&h);
      std::puts("1");
    } else if (op == "S" || op == "I" || op == "T" || op == "N" || op == "Q" || op == "D" || op == "U") {
      const int32_t k = I(in), l = I(in), c = I(in);
      in >> arg;
      bool r = false;
      if (op == "S" || op == "I" || op == "U") {
        const std::vector<uint8_t> b = FromHex(arg);
        const auto n = static_cast<uint32_t>(b.size());
        if (op == "S") r = d.SetData(k, l, c, n, b.data());
        if (op == "I") r = d.InsData(k, l, c, n, b.data());
        if (op == "U") r = d.SetDataUuid(k, l, c, zorvane::ZorUuid(b.data()));
      } else if (op == "T") {
        r = d.SetData(k, l, c, arg == "-" ? "" : arg.c_str());
      } else if (op == "N") {
        r = d.SetData(k, l, c, static_cast<int32_t>(std::stoll(arg)));
      } else if (op == "Q") {
        r = d.SetDataQuad(k, l, c, static_cast<int64_t>(std::stoll(arg)));
      } else {
        r = d.SetDataDbl(k, l, c, std::strtod(arg.c_str(), nullptr));
      }
      std::puts(r ? "1" : "0");
    } else if (op == "G") {
      const int32_t k = I(in), l = I(in), c = I(in);
      zorvane::ZorHandle h;
      const bool found = d.GetData(k, l, c, &h);
      std::printf("%d %s\n", found ? 1 : 0, Hex(h.GetDatas(), h.GetSize()).c_str());
    } else if (op == "CB") {
      const int32_t kf = I(in), kt = I(in), lf = I(in), lt = I(in), cf = I(in), ct = I(in);
      std::puts(d.Clear(kf, kt, lf, lt, cf, ct) ? "1" : "0");
    } else if (op == "ST") {
      const int32_t k = I(in), type = I(in), c = I(in), lf = I(in), lt = I(in), down = I(in);
      std::puts(d.Sort(k, static_cast<zorvane::eZorPhysType>(type), c, lf, lt, down ? zorvane::kZorDynaSortDescending : 0)
                    ? "1" : "0");
    } else if (op == "CT") {
      const int32_t k = I(in), dk = I(in), replace = I(in);
      std::puts(d.CopyTo(k, &other, dk, replace != 0) ? "1" : "0");
    } else if (op == "CR") {
      const int32_t kf = I(in), kt = I(in), lf = I(in), lt = I(in), cf = I(in), ct = I(in), replace = I(in);
      std::puts(d.CopyToRange(&other, kf, kt, lf, lt, cf, ct, replace != 0) ? "1" : "0");
    } else if (op == "F") {
      const int32_t k = I(in), c = I(in);
      in >> arg;
      std::printf("%d\n", d.FindInCol(k, c, arg.c_str(), I(in)));
    } else if (op == "M") {
      const int32_t k = I(in);
      int32_t ml = 0, mc = 0;
      const int32_t lines = d.GetDim(k, &ml, &mc);  // answers the greatest line too
      std::printf("%d %d %d\n", lines == ml ? ml : -1, mc, d.GetNbItem(k));
    } else if (op == "V") {
      zorvane::ZorVerif v;
      v.Init(I(in) != 0);
      const bool sound = d.Verif(&v);
      std::printf("%d %d\n", sound ? 1 : 0, v.GetNbItem(zorvane::kZorVerifError));
    } else if (op == "P" || op == "PO") {
      const zorvane::ZorHandle* h = (op == "P" ? d : other).GetHandle();
      std::printf("%s\n", Hex(h->GetDatas(), h->GetSize()).c_str());
    } else {
      std::puts(Structure(&d, op, in) ? "1" : "0");
    }
  }
  return 0;
}
