// `zorvane demo`: a short tour of what the library does, printed as UTF-8.
//
// The library's texts are cp1252; every line goes through ZorEncodeToUTF8
// before it reaches the terminal. The words sorted below are cp1252 bytes
// written as escapes, so this source stays ASCII.
#include "tools/commands.h"

#include <zorvane/zorvane.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zorvane::tool {

namespace {

void PrintLine(const char* cp1252) {
  string utf8;
  ZorEncodeToUTF8(cp1252, &utf8);
  std::printf("%s\n", utf8.CStr());
}

void PrintTitle(const char* title) { std::printf("\n== %s\n", title); }

void ShowCatalogue() {
  PrintTitle("Message catalogue (module 1, cp1252 shown as UTF-8)");
  const int32_t codes[] = {1, 3, 17, 23, 59};
  for (int32_t code : codes) {
    string text, line;
    ZorErrToString(ZorErr(1, code), &text);
    line.Format("  error ^0i: ^1s", code, text.CStr());
    PrintLine(line.CStr());
  }
  string special, line;
  ZorErrToString(ZorErr(1, 1000), &special);
  line.Format("  special 1000 (never shown to users): ^0s", special.CStr());
  PrintLine(line.CStr());
}

void ShowCollation() {
  PrintTitle("Collation: lower case, upper case, then accented forms");
  std::vector<string> words = {"\xE9t\xE9", "Ecole", "ecole", "\xC9" "cole", "zebre", "\xE0 part",
                               "Abricot", "abricot", "\xE2ne", "b\xE9" "b\xE9", "Bebe", "\x9C" "uvre", "oeuf"};
  std::stable_sort(words.begin(), words.end(),
                   [](const string& a, const string& b) { return a.Cmp(b.CStr()) < 0; });
  string line("  ");
  for (const string& w : words) {
    line += w;
    line += "  ";
  }
  PrintLine(line.CStr());
  string eq;
  eq.Format("  \"ecole\" == \"ECOLE\" ignoring case: ^0s", string("ecole") == "ECOLE" ? "yes" : "no");
  PrintLine(eq.CStr());
}

void ShowHandles() {
  PrintTitle("Memory handles: sharing, copy on detach, locks");
  ZorHandle a;
  a.Init("facture-0001", 12);
  ZorHandle b;
  b.Attach(&a);
  string line;
  line.Format("  shared: ^0i owners of ^1i bytes", static_cast<int32_t>(a.GetRefCount()),
              static_cast<int32_t>(a.GetSize()));
  PrintLine(line.CStr());
  b.DetachCopy();
  line.Format("  after DetachCopy: a has ^0i owner, b has ^1i", static_cast<int32_t>(a.GetRefCount()),
              static_cast<int32_t>(b.GetRefCount()));
  PrintLine(line.CStr());
  {
    ZorLock guard;
    char* p = static_cast<char*>(b.Lock(&guard));
    p[11] = '2';
    line.Format("  locked while in scope: ^0s", ZorIsHandleLocked(b.GetRecord()) ? "yes" : "no");
    PrintLine(line.CStr());
  }
  line.Format("  unlocked after the guard: ^0s", ZorIsHandleLocked(b.GetRecord()) ? "no" : "yes");
  PrintLine(line.CStr());
}

void ShowInvoice() {
  PrintTitle("An invoice line: amounts rounded to the money type");
  decimal unitPrice, quantity(3), rate, ht, ttc, tva;
  unitPrice.SetKernel("19.99", static_cast<eZorLogType>(2));
  rate.SetKernel("20", static_cast<eZorLogType>(2));
  ht.Set(&unitPrice, static_cast<eZorLogType>(2)).Mul(&quantity, static_cast<eZorLogType>(2));
  ttc.TTC(&ht, &rate, static_cast<eZorLogType>(2));
  tva.TVAFromHT(&ht, &rate, static_cast<eZorLogType>(2));
  string line;
  line.Format("  3 x ^0.2  HT ^1.2  TVA 20 % ^2.2  TTC ^3.2", &unitPrice, &ht, &tva, &ttc);
  PrintLine(line.CStr());
  decimal euros, francs;
  francs.SetKernel("1000", static_cast<eZorLogType>(2));
  euros.ToEuro(&francs);
  line.Format("  1000 francs = ^0.2 euros", &euros);
  PrintLine(line.CStr());
}

void ShowDates() {
  PrintTitle("Dates: French names, moves, week numbers");
  date d;
  d.Set(5, 3, 2024);
  string text, line;
  d.Format("J d O CY", &text);
  line.Format("  ^0s, week ^1i, quarter ^2i", text.CStr(), d.Get(static_cast<eZorDateGet>(5)),
              d.Get(static_cast<eZorDateGet>(6)));
  PrintLine(line.CStr());
  date easter(static_cast<eZorDate>(-5), &d, 0);
  easter.Format("J d O CY", &text);
  line.Format("  Easter of that year: ^0s", text.CStr());
  PrintLine(line.CStr());
  date next(static_cast<eZorDate>(57), &d, 11);
  next.Format("D/M/CY", &text);
  line.Format("  eleven months later: ^0s", text.CStr());
  PrintLine(line.CStr());
}

void ShowFiles() {
  PrintTitle("Files: a log written through a stream, then its MD5 checksum");
  ZorFsa log;
  ZorFsaCmd::S_OpenTempo(&log, "demo", ".log");
  {
    ZorWLog writer;
    writer.Init(&log, ZorWLogReset | ZorWLogFixedDate);
    writer.WriteNote("Facture", "^0s payee", "F-0001");
    writer.WriteErr("Export", ZorErr(1, 17), nullptr);
  }
  string content, line;
  ZorWLog reader;
  reader.Init(&log, ZorWLogFixedDate);
  reader.GetLogContent(&content);
  reader.Trash();
  content.ReplaceAll('\r', 0);
  content.ReplaceAll('\t', '|');
  string first, rest;
  while (content.Split('\n', &first, &rest)) {
    line.Format("  ^0s", first.CStr());
    PrintLine(line.CStr());
    content = rest;
  }
  ZorFileCheckSum sum;
  sum.Init(&log, false, "-NoFileName -NoSize");
  sum.CalcCheckSum(false);
  string digest;
  sum.GetCheckSum(&digest, false);
  line.Format("  MD5 of the log: ^0s", digest.CStr());
  PrintLine(line.CStr());
  ZorFsaCmd(&log).Remove();
}

void ShowCells() {
  PrintTitle("Cells: an invoice kept as (kind, line, column) cells");
  ZorDyna cells;
  cells.Init();
  decimal amount;
  amount.SetKernel("59.97", static_cast<eZorLogType>(2));
  cells.SetData(1, 1, 1, "Abricots secs");
  cells.SetData(1, 1, 2, amount);
  cells.SetData(1, 1, 3, static_cast<int32_t>(3));
  cells.SetData(1, 2, 1, "Noix");
  cells.SetData(1, 2, 3, static_cast<int32_t>(0));  // zero values are not stored
  int32_t maxLine = 0, maxCol = 0;
  cells.GetDim(1, &maxLine, &maxCol);
  string line;
  line.Format("  ^0i lines, ^1i columns, ^2i bytes stored end to end", maxLine, maxCol,
              static_cast<int32_t>(cells.GetHandle()->GetSize()));
  PrintLine(line.CStr());
}

int RunDemo() {
  std::printf("zorvane %s\n", ZOR_VERSION);
  ShowCatalogue();
  ShowCollation();
  ShowHandles();
  ShowInvoice();
  ShowDates();
  ShowFiles();
  ShowCells();
  return 0;
}

}  // namespace

void AddDemoCommand(CLI::App& app, int& exitCode) {
  CLI::App* demo = app.add_subcommand("demo", "Show what the library does");
  demo->callback([&exitCode]() { exitCode = RunDemo(); });
}

}  // namespace zorvane::tool
