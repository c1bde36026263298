// Driver for bfile_format_oracle.py: runs one block file operation per input
// line and prints one answer line for each (reports end with a line ".").
//
//   create PATH FTYPE FLAGS     Create, then open for writing      -> "ok"
//   open PATH FLAGS             Open for writing with those flags  -> "ok" | "err CODE"
//   close                       Close(normal)                      -> "ok"
//   begin | end                 Start/EndTransaction               -> "ok"
//   new OWNER TYPE SIZE RESERVE COMPACT SEED
//                               BCreate (SIZE 0: no data)          -> the id
//   write ID SIZE RESERVE SEED  BWriteCopy                         -> "ok"
//   del ID                      BDelete                            -> "ok"
//   need                        NeedCompact(1), (2), (3)           -> "0|1 0|1 0|1"
//   compact MODE                Compact(MODE, false, false)        -> "0|1"
//   check REPAIR MODE LEVEL     the four checks with a verifier (repair,
//                               mode), at that check level          -> report
//   quick                       the four checks without verifier   -> "0|1 0|1 0|1 0|1"
//
// A report is one line per section "S<TAB>title" and per item
// "E<TAB>text" (fault) or "R<TAB>text" (repaired), texts in UTF-8, then
// "results d c l o" (the four results), then ".".
// Block data of SEED are bytes (SEED * 131 + i * 7 + i / 251) mod 256.
// Library errors are answered "err CODE" (the low 32 bits of the code).
#include <zorvane/zorvane.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

using namespace zorvane;

namespace {

ZorHandle Pattern(int32_t size, int32_t seed) {
  ZorHandle h;
  if (size == 0) return h;
  h.Init(static_cast<uint32_t>(size));
  auto* p = static_cast<uint8_t*>(h.GetDatas());
  for (int32_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed * 131 + i * 7 + i / 251);
  return h;
}

std::string Utf8(const char* cp1252) {
  string out;
  return ZorEncodeToUTF8(cp1252, &out);
}

void PrintReport(const ZorVerif& v, bool results[4]) {
  string text;
  int32_t item = 1;
  for (int32_t s = 1; s <= v.GetNbSection(); ++s) {
    std::cout << "S\t" << Utf8(v.GetSectionTitle(s, &text)) << "\n";
    sZorVerifItem info;
    while (v.GetItem(item, &info) && info.section == s) {
      std::cout << (info.type == kZorVerifRepaired ? "R\t" : "E\t") << Utf8(v.GetItemComment(item, &text)) << "\n";
      ++item;
    }
  }
  std::cout << "results " << results[0] << " " << results[1] << " " << results[2] << " " << results[3] << "\n.\n";
}

void RunChecks(ZorBFile& f, ZorVerif* v) {
  bool r[4];
  r[0] = f.CheckDir(v);
  r[1] = f.CheckCrossBlock(v);
  r[2] = f.CheckLostSpace(v);
  r[3] = f.CheckBlockOwnerType(v);
  if (v) {
    PrintReport(*v, r);
    return;
  }
  std::cout << r[0] << " " << r[1] << " " << r[2] << " " << r[3] << "\n";
}

void OpenFile(ZorBFile& f, const std::string& path, int32_t flags) {
  ZorFsa fsa(path.c_str());
  f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, flags, -1, -1, -1);
}

void Run(ZorBFile& f, const std::string& op, std::istringstream& in) {
  std::string path;
  int32_t a = 0, b = 0, c = 0, d = 0, e = 0, g = 0;
  if (op == "create") {
    in >> path >> a >> b;
    ZorFsa fsa(path.c_str());
    ZorBFile::Create(&fsa, a, 0, "oracle", ZorFsaCreateAlways);
    OpenFile(f, path, b);
  } else if (op == "open") {
    in >> path >> a;
    OpenFile(f, path, a);
  } else if (op == "close") {
    f.Close(ZorBfCloseNormal);
  } else if (op == "begin") {
    f.StartTransaction();
  } else if (op == "end") {
    f.EndTransaction();
  } else if (op == "new") {
    in >> a >> b >> c >> d >> e >> g;
    ZorHandle data = Pattern(c, g);
    std::cout << f.BCreate(c ? &data : nullptr, a, static_cast<int16_t>(b), static_cast<uint32_t>(d), e != 0) << "\n";
    return;
  } else if (op == "write") {
    in >> a >> b >> c >> d;
    ZorHandle data = Pattern(b, d);
    f.BWriteCopy(a, &data, c);
  } else if (op == "del") {
    in >> a;
    f.BDelete(a);
  } else if (op == "need") {
    std::cout << f.NeedCompact(ZorBfCompact10Percent) << " " << f.NeedCompact(ZorBfCompactAny) << " "
              << f.NeedCompact(ZorBfCompactAll) << "\n";
    return;
  } else if (op == "compact") {
    in >> a;
    std::cout << f.Compact(static_cast<eZorBfCompact>(a), false, false) << "\n";
    return;
  } else if (op == "check") {
    in >> a >> b >> c;
    ZorVerif v;
    v.Init(a != 0, b);
    const int32_t level = ZorGetCheckLevel();
    ZorSetCheckLevel(c);
    RunChecks(f, &v);
    ZorSetCheckLevel(level);
    return;
  } else if (op == "quick") {
    RunChecks(f, nullptr);
    return;
  }
  std::cout << "ok\n";
}

}  // namespace

int main() {
  ZorBFile f;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string op;
    in >> op;
    try {
      Run(f, op, in);
    } catch (const ZorException& ex) {
      std::cout << "err " << static_cast<int32_t>(ex.GetError() & 0xFFFFFFFF) << "\n";
    }
    std::cout.flush();
  }
  return 0;
}
