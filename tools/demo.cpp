// `zorvane demo [--out FILE] [--invoices N]`: the invoicing demo.
//
// It registers the demo module (tools/demo_module: four tables and a
// workspace, kept as the module's resources), creates a database whose
// tables come from those resources (UpdateAuto), fills it with invoices of a
// French shop, walks the invoices through the module's workspace -- the
// customer and the items are read through field identifiers, so through the
// workspace's linked entries --, totals them in `decimal`, then runs every
// verification step of `zorvane db check` and a compaction.
//
// Amounts: a line's HT (before tax) is quantity x unit price, its TVA (the
// tax) HT x the item's rate / 100, each rounded to the cent as `decimal`
// rounds (halves away from zero); an invoice and the whole run add them up,
// and TTC = HT + TVA.
//
// The data are the same on every run (a fixed seed). The file is refused
// when it exists and is not a database this command made (its signature is
// the module's identifier). The library's texts are cp1252: every line goes
// through UTF-8 before it reaches the terminal; the French words below are
// UTF-8 in this source and decoded once.
#include "tools/commands.h"
#include "tools/db_steps.h"
#include "tools/demo_module/demo_schema.h"
#include "tools/tool_support.h"

#include <zorvane/workspace.h>
#include <zorvane/zorvane.h>

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zorvane::tool {

namespace {

using namespace zorvane::demo;

struct DemoArgs {
  std::string path = "zorvane-demo.zdb";
  int32_t invoices = 1000;
};

constexpr int32_t kCustomerCount = 300;
constexpr int32_t kItemCount = 200;
constexpr int32_t kMaxLines = 8;
constexpr int32_t kShownInvoices = 3;
constexpr uint64_t kSeed = 20250102;

// ---------------------------------------------------------------- data
// splitmix64: the same numbers on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : _s(seed) {}
  int32_t Below(int32_t n) { return static_cast<int32_t>(Next() % static_cast<uint64_t>(n)); }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) { return list[Below(N)]; }

 private:
  uint64_t Next() {
    uint64_t z = (_s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t _s;
};

const char* const kTrades[] = {"Boulangerie", "Boucherie", "Épicerie", "Pâtisserie", "Fromagerie", "Librairie",
                               "Café",        "Hôtel",     "Brasserie", "Crèmerie",   "Quincaillerie", "Traiteur"};
const char* const kSurnames[] = {"Lefèvre", "Dupré",   "Gérard",  "Mercier",  "Bézier", "Noël",   "Lemaître",
                                 "Fournier", "Benoît", "Girard",  "Ménard",   "Faure",  "Lévêque", "Chevalier",
                                 "Bœuf",     "Hervé",  "Célestin", "Guérin",  "Rivière", "Perrot"};
const char* const kCities[] = {"Besançon", "Orléans", "Nîmes", "Saint-Étienne", "Angoulême", "Évreux", "Béziers",
                               "Sète",     "Périgueux", "Montbéliard", "Lyon", "Brest", "Créteil", "Agen"};
const char* const kProducts[] = {"Crème fraîche", "Pâté de campagne", "Café moulu", "Thé à la menthe", "Œufs frais",
                                 "Gâteau basque", "Comté affiné", "Crêpes sucrées", "Miel de lavande",
                                 "Pain d'épices", "Brioche", "Confiture de mûres"};
const char* const kVariants[] = {"", " bio", " maison", " 250 g", " 500 g", " 1 kg", " de Provence", " fermier"};
// Drinks and goods that are not food, at the full rate.
const char* const kTaxedProducts[] = {"Bière blonde", "Cidre brut", "Vin de Bourgogne", "Savon à l'huile d'olive",
                                      "Bougie parfumée", "Torchon brodé"};

std::string Cp1252(const char* utf8) {
  string text;
  return ZorDecodefromUTF8(utf8, &text);
}

decimal Amount(int32_t units, eZorLogType type) {
  return decimal(units / kZorDecimalFactor[type], type);
}

std::string Code(char prefix, int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%c%04d", prefix, n);
  return buf;
}

void FillCustomers(ZorDBase* db, Random* rng, std::vector<uint32_t>* uds) {
  ZorTable t;
  t.Open(db, TableId(kCustomers));
  for (int32_t i = 1; i <= kCustomerCount; ++i) {
    t.Raz();
    t.SetValStr(kCustCode, Code('C', i).c_str());
    t.SetValStr(kCustName, Cp1252((std::string(rng->Pick(kTrades)) + " " + rng->Pick(kSurnames)).c_str()).c_str());
    t.SetValStr(kCustCity, Cp1252(rng->Pick(kCities)).c_str());
    t.Write();
    uds->push_back(t.GetLastWrittenUD());
  }
}

// Items 1 to kItemCount; *prices gets their unit prices.
void FillItems(ZorDBase* db, Random* rng, std::vector<decimal>* prices) {
  ZorTable t;
  t.Open(db, TableId(kItems));
  for (int32_t i = 1; i <= kItemCount; ++i) {
    const bool taxed = rng->Below(4) == 0;
    const std::string label = std::string(taxed ? rng->Pick(kTaxedProducts) : rng->Pick(kProducts)) + rng->Pick(kVariants);
    static const int32_t kRates[] = {550, 1000};  // food: 5,5 %; prepared: 10 %
    const int32_t rate = taxed ? 2000 : kRates[rng->Below(2)];
    prices->push_back(Amount(50 + rng->Below(4950), kZorLogTypeDec2));
    t.Raz();
    t.SetValStr(kItemCode, Code('A', i).c_str());
    t.SetValStr(kItemLabel, Cp1252(label.c_str()).c_str());
    t.SetValDecimal(kItemPrice, prices->back());
    t.SetValDecimal(kItemRate, Amount(rate, kZorLogTypeDec2));
    t.Write();
  }
}

// Invoices through the year, each of 1 to kMaxLines lines; a quarter of the
// lines are weighed (thousandths of a kilogram), the others counted.
void FillInvoices(ZorDBase* db, Random* rng, int32_t count, const std::vector<uint32_t>& customers,
                  const std::vector<decimal>& prices, int32_t* lineCount) {
  ZorTable inv, lines;
  inv.Open(db, TableId(kInvoices));
  lines.Open(db, TableId(kLines));
  date start;
  start.Set(2, 1, 2025);
  for (int32_t n = 1; n <= count; ++n) {
    date day = start;
    day.Add(ZorDateAddDays, static_cast<int32_t>(int64_t{n - 1} * 360 / count));
    inv.Raz();
    inv.SetValLong(kInvNumber, n);
    inv.SetValDate(kInvDate, day);
    inv.SetValLong(kInvCustomer, static_cast<int32_t>(customers[rng->Below(kCustomerCount)]));
    inv.Write();
    const int32_t nbLines = 1 + rng->Below(kMaxLines);
    for (int32_t l = 1; l <= nbLines; ++l, ++*lineCount) {
      const int32_t item = 1 + rng->Below(kItemCount);
      const int32_t quantity = rng->Below(4) == 0 ? 100 + rng->Below(4900) : 1000 * (1 + rng->Below(12));
      lines.Raz();
      lines.SetValLong(kLineInvoice, n);
      lines.SetValLong(kLineNumber, l);
      lines.SetValStr(kLineItem, Code('A', item).c_str());
      lines.SetValDecimal(kLineQuantity, Amount(quantity, kZorLogTypeDec3));
      lines.SetValDecimal(kLinePrice, prices[item - 1]);
      lines.Write();
    }
    if (n % 100 == 0) PollBreak();
  }
}

// The tables of the module's resources, filled in one transaction.
int32_t CreateAndFill(const ZorFsa& path, int32_t invoices) {
  Db db;
  try {
    db->CreateBase(&path, kSignature, true);
  } catch (const ZorException& e) {
    string text;
    throw ToolError{PathText(path), Utf8(e.ToString(&text)) + " (choose a folder you can write with --out)"};
  }
  int32_t lineCount = 0;
  try {
    db.Open(path, kZorDbOpenCopyOnWrite);
    db->UpdateAuto(kModuleId, true, true, false);
    Random rng(kSeed);
    std::vector<uint32_t> customers;
    std::vector<decimal> prices;
    db->StartTransaction();
    try {
      FillCustomers(db.get(), &rng, &customers);
      FillItems(db.get(), &rng, &prices);
      FillInvoices(db.get(), &rng, invoices, customers, prices, &lineCount);
    } catch (...) {
      db->EndTransaction();
      throw;
    }
    db->EndTransaction();
    db.Close();
  } catch (...) {
    // A half-made database is of no use: the command leaves no file.
    if (db->IsOpen()) db.Close();
    ZorFsaCmd(&path, ZorFsaCmdQuiet).Remove();
    throw;
  }
  return lineCount;
}

// ---------------------------------------------------------------- the walk
struct Totals {
  decimal ht, tva, ttc;
  void Add(const Totals& o) {
    ht.Add(&o.ht, kZorLogTypeDec2);
    tva.Add(&o.tva, kZorLogTypeDec2);
    ttc.Add(&o.ttc, kZorLogTypeDec2);
  }
};

// "^0.3" and "^0.2": the document configuration's separators.
std::string Num(const decimal& d, int32_t decimals, int32_t width = 0) {
  string text;
  text.Format(decimals == 3 ? "^0.3" : "^0.2", &d);
  std::string s = text.CStr();
  return s.size() < static_cast<size_t>(width) ? std::string(width - s.size(), ' ') + s : s;
}

// A cp1252 text cut or padded to `width` characters, in UTF-8.
std::string Column(const char* cp1252, size_t width) {
  std::string s(cp1252);
  s.resize(width, ' ');
  return Utf8(s.c_str());
}

// The field identifiers the walk reads, by name.
struct Fields {
  int64_t number, day, customer, city, quantity, price, label, rate;
};

Fields FindFields(ZorWs* ws) {
  auto find = [ws](const char* name) {
    const int64_t wsf = ws->NameToWsf(name);
    if (!wsf) throw ToolError{kModuleName, std::string("the workspace has no field ") + name + " (rebuild the module)"};
    return wsf;
  };
  return {find("Numero"),           find("Date"),  find("Client\\Nom"),          find("Client\\Ville"),
          find("Lignes\\Quantite"), find("Lignes\\Prix"), find("Lignes\\Article\\Libelle"),
          find("Lignes\\Article\\TauxTVA")};
}

// The current invoice's lines (the lines entry ranged on its number); the
// first invoices are printed.
Totals InvoiceTotals(ZorWs* ws, const Fields& f, bool show) {
  ZorTable* lines = ws->GetWsfTable(f.quantity);
  const int32_t number = ws->GetValLong(f.number);
  lines->SetModeRangeLong(kLineInvoice, number, number);
  string name, city, label;
  if (show) {
    std::printf("\nFacture %d du %s, %s (%s)\n", number, Utf8(ws->GetValStr(f.day, &name)).c_str(),
                Utf8(ws->GetValStr(f.customer, &name)).c_str(), Utf8(ws->GetValStr(f.city, &city)).c_str());
  }
  Totals t;
  for (bool ok = lines->First(); ok; ok = lines->Next()) {
    const decimal quantity = ws->GetValDecimal(f.quantity), price = ws->GetValDecimal(f.price);
    const decimal rate = ws->GetValDecimal(f.rate);
    decimal ht = quantity, tva;
    ht.Mul(&price, kZorLogTypeDec2);
    tva.TVAFromHT(&ht, &rate, kZorLogTypeDec2);
    t.ht.Add(&ht, kZorLogTypeDec2);
    t.tva.Add(&tva, kZorLogTypeDec2);
    if (show)
      std::printf("  %s x %s %s  %s  TVA %s %%\n", Num(quantity, 3, 8).c_str(),
                  Column(ws->GetValStr(f.label, &label), 32).c_str(), Num(price, 2, 7).c_str(),
                  Num(ht, 2, 9).c_str(), Num(rate, 2, 5).c_str());
  }
  lines->SetModeFull();
  t.ttc.Set(&t.ht, kZorLogTypeDec2).Add(&t.tva, kZorLogTypeDec2);
  if (show)
    std::printf("  HT %s   TVA %s   TTC %s\n", Num(t.ht, 2).c_str(), Num(t.tva, 2).c_str(), Num(t.ttc, 2).c_str());
  return t;
}

// Every invoice through the module's workspace; the overall totals.
Totals WalkInvoices(const ZorFsa& path, int32_t* count) {
  Db db;
  db.Open(path, kZorDbOpenRdOnly);
  Totals all;
  {
    ZorWs ws;
    ws.InitFromRsrc(kWorkspaceId, db.get());
    const Fields f = FindFields(&ws);
    for (bool ok = ws.First(); ok; ok = ws.Next(), ++*count) {
      all.Add(InvoiceTotals(&ws, f, *count < kShownInvoices));
      if (*count % 100 == 0) PollBreak();
    }
  }
  db.Close();
  return all;
}

// ---------------------------------------------------------------- the file
// A database this command made: any other file is left alone.
bool IsDemoDatabase(const ZorFsa& path) {
  try {
    Db db;
    db.Open(path, kZorDbOpenRdOnly);
    const bool demo = db->GetSignature() == kSignature;
    db.Close();
    return demo;
  } catch (const ZorException& e) {
    if (e.GetError() == ZorErr(-1, 32) || e.GetError() == ZorErr(1, 1000)) throw;  // in use, or Ctrl-C
    return false;
  }
}

ZorFsa DemoFile(const std::string& arg) {
  const ZorFsa path = ToolPath(arg, PathUse::kOutput);
  struct stat st {};
  if (::stat(arg.c_str(), &st) == 0 && !IsDemoDatabase(path))
    throw ToolError{arg, "exists and is not a database of `zorvane demo`: move it away or choose another --out"};
  return path;
}

void RegisterDemoModule() {
  if (!LoadToolModule(kModuleId, kModuleName))
    throw ToolError{kModuleName, "the demo module is missing: it belongs in zorvane_demo/ beside libzorvane.so "
                                 "(build the zorvane_demo target)"};
}

int RunDemo(const DemoArgs& a) {
  RegisterDemoModule();
  const ZorFsa path = DemoFile(a.path);
  const std::string where = PathText(path);
  const int32_t lines = CreateAndFill(path, a.invoices);
  std::printf("zorvane %s: the invoicing demo\n", ZOR_VERSION);
  std::printf("created %s from the resources of module %s (%d): 4 tables, %d customers, %d items, %d invoices, "
              "%d lines\n", where.c_str(), kModuleName, kModuleId, kCustomerCount, kItemCount, a.invoices, lines);
  int32_t count = 0;
  const Totals all = WalkInvoices(path, &count);
  std::printf("\nTotal of %d invoices: HT %s   TVA %s   TTC %s\n", count, Num(all.ht, 2).c_str(),
              Num(all.tva, 2).c_str(), Num(all.ttc, 2).c_str());

  ZorVerif v;
  v.Init(false, 0);
  {
    Db db;
    db.Open(path, CheckOpenFlags(false));
    VerifyDatabase(db.get(), &v);
    db.Close();
  }
  uint64_t before = 0, after = 0;
  const bool compacted = CompactDatabase(path, nullptr, &before, &after);
  std::printf("\nverification: %d steps, %d faults; compaction: %s\n", v.GetNbSection(), v.GetNbFault(),
              compacted ? (std::to_string(before) + " -> " + std::to_string(after) + " bytes").c_str()
                        : "nothing to compact");
  std::printf("\nThe invoices were read through the workspace \"Factures\" of the module: the customer and the\n"
              "items through its linked entries. The database is %s; next, try:\n"
              "  zorvane db tables %s\n  zorvane db check %s\n  zorvane db dump %s --table Factures\n",
              where.c_str(), a.path.c_str(), a.path.c_str(), a.path.c_str());
  return v.GetNbFault() == 0 ? 0 : kExitFailure;
}

}  // namespace

void AddDemoCommand(CLI::App& app, int& exitCode) {
  auto a = std::make_shared<DemoArgs>();
  CLI::App* demo = app.add_subcommand("demo", "Create, fill, read, check and compact an invoicing database");
  demo->add_option("--out", a->path, "The database to create (default zorvane-demo.zdb)");
  demo->add_option("--invoices", a->invoices, "Number of invoices (default 1000)")->check(CLI::Range(1, 1000000));
  demo->callback([a, &exitCode]() { exitCode = RunReported("demo", a->path, [&] { return RunDemo(*a); }); });
}

}  // namespace zorvane::tool
