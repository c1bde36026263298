// `zorvane db`: databases kept in one block file.
//
//   zorvane db create FILE [--signature N] [--module LIB --module-id ID]
//                          [--csv CSV --table NAME [--index COL]... [--unique COL]...]
//   zorvane db info FILE         signature, identifier, release, data date, size, counts
//   zorvane db tables FILE       number, table id (hex), name, record count
//   zorvane db check FILE [--repair [--no-backup]]
//   zorvane db compact FILE
//   zorvane db dump FILE --table T [--index N]
//   zorvane db import-csv FILE --table T CSV [--encoding E] [--sep S] [--batch N]
//   zorvane db export-csv FILE --table T CSV [--encoding E] [--sep S] [--index N]
//
// A table T is named by its number or its name (ignoring case).
//
// create: a new file; with a module, the tables and enumerations its
// resources mark for automatic creation (the module library LIB is
// registered under ID first); with a CSV, one table named NAME whose fields
// are the header's columns, filled with the rows. Field types come from a
// first pass over the data, so that what is exported reads back the same:
//   - integer: every value is a plain integer (no sign '+', no leading zero),
//     32-bit when all fit, else 64-bit;
//   - decimal with k decimals (1 to 4): every value has a '.' and exactly k
//     digits after it, at most 12 before;
//   - date: every value is empty or a valid YYYY-MM-DD;
//   - text otherwise (and for a column that is empty throughout), as long
//     as its longest value, a dynamic text past 255 characters.
// --unique COL makes a unique index on COL; --index COL an index on COL
// that accepts duplicates: the block-file stores keep every index unique, so
// such an index ends with a hidden field "RowId" that the library fills
// with a unique id (hidden fields are neither dumped nor exported).
//
// import-csv matches columns to fields by name and commits every 100,000
// rows (--batch): a commit costs syncs, and 1M rows take 29 s with commits
// of 1,000 rows, 9.7 s with 10,000, 5.7 s with 100,000 and 5.3 s with one
// (memory stays the same). Ctrl-C, or a row that fails, commits the rows
// before it, so an interrupted or failed import leaves whole rows committed
// and the file consistent; a crash loses at most the last batch. Values go
// through the same forms as above (integers, '.' decimals, ISO dates; text
// as it is); an unknown column or a value a field refuses is an error that
// names the line.
//
// info, tables, dump and export open the file read-only. check runs every
// verification step in repair mode (damaged files open), read-only unless
// --repair, each step into one report; a step that cannot finish is a fault
// of its own. --repair first copies the file to FILE.bak, as `bfile check`
// does. Changes open the file with copy-on-write commits.
//
// Exit codes: 0 success, 1 faults found (check) or a failure, 2 usage, 130
// cancelled by Ctrl-C.
#include "tools/commands.h"
#include "tools/csv_text.h"
#include "tools/db_steps.h"
#include "tools/terminal_progress.h"
#include "tools/tool_support.h"

#include <zorvane/database_file.h>
#include <zorvane/list_table.h>
#include <zorvane/zorvane.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zorvane::tool {

namespace {

struct DbArgs {
  std::string path, csv, table, module, encoding = "utf-8", sep = ",";
  std::vector<std::string> index, unique;
  int32_t signature = 0;
  int32_t moduleId = 0;
  int32_t indexNo = kZorTblIndexDef;
  int64_t batch = 100000;  // rows per commit; 0: one commit for the whole file
  bool repair = false, noBackup = false;
};

constexpr int32_t kToolModule = 1;  // module id of the tables the tool creates
constexpr int32_t kPollRows = 1000;  // rows between two looks at Ctrl-C
constexpr int32_t kMaxFixedText = 255;
constexpr int32_t kMaxKeyText = 120;  // a text's share of a key (keys hold 255 bytes)
constexpr int32_t kRepairMode = 5;
constexpr const char* kRowId = "RowId";

ZorProgress* TerminalOrNull(TerminalProgress* bar) { return isatty(STDERR_FILENO) ? bar : nullptr; }

std::string Cp1252(const std::string& utf8) {
  string text;
  return ZorDecodefromUTF8(utf8.c_str(), &text);
}

// ---------------------------------------------------------------- the file
constexpr uint32_t kReadFlags = kZorDbOpenRdOnly;
constexpr uint32_t kWriteFlags = kZorDbOpenCopyOnWrite;

// ---------------------------------------------------------------- tables
struct TableRef {
  int64_t tid = 0;
  int32_t number = 0;
  std::string name;  // cp1252
};

std::vector<TableRef> ListTables(ZorDBase* db) {
  ZorTable list;
  ZorListTableInit(&list);
  db->GetTableList(&list);
  std::vector<TableRef> out;
  string name;
  for (bool ok = list.First(); ok; ok = list.Next())
    out.push_back({list.GetValQuad(3), list.GetValLong(2), list.GetValStr(1, &name)});
  return out;
}

int32_t CountEnums(ZorDBase* db) {
  ZorTable list;
  ZorListTableInit(&list);
  db->GetEnumList(&list);
  return list.GetNbRecord();
}

TableRef FindTable(ZorDBase* db, const DbArgs& a) {
  const std::string wanted = Cp1252(a.table);
  const bool byNumber = !wanted.empty() && std::all_of(wanted.begin(), wanted.end(), ::isdigit);
  for (const TableRef& t : ListTables(db)) {
    if (byNumber ? std::to_string(t.number) == wanted : string(t.name.c_str()) == string(wanted.c_str())) return t;
  }
  throw ToolError{a.path, "no table \"" + a.table + "\" (`zorvane db tables " + a.path + "` lists them)"};
}

void OpenTable(ZorTable* t, ZorDBase* db, const DbArgs& a) {
  t->Open(db, FindTable(db, a).tid);
  if (a.indexNo == kZorTblIndexDef) return;
  if (a.indexNo < 0 || a.indexNo > t->GetNbIndex())
    throw ToolError{"--index", "the table has indexes 1 to " + std::to_string(t->GetNbIndex()) + " (0: creation order)",
                    kExitUsage};
  t->SetCurIndex(a.indexNo);
}

// The fields a CSV or a dump shows: valid, visible, stored in the record.
std::vector<int32_t> ShownFields(const ZorTable& t) {
  std::vector<int32_t> out;
  sZorTfi tfi;
  for (int32_t f = 1; f <= t.GetNbField(); ++f) {
    if (!t.GetField(f, &tfi)) continue;
    if ((tfi.flags & kZorTblFfValid) && (tfi.flags & kZorTblFfVisible) &&
        !(tfi.flags & (kZorTblFfVirtual | kZorTblFfArray | kZorTblFfUser | kZorTblFfAlias)))
      out.push_back(f);
  }
  return out;
}

// ---------------------------------------------------------------- values
bool IsIntegerType(eZorPhysType p) {
  return p == kZorPhysTypeShort || p == kZorPhysTypeLong || p == kZorPhysTypeQuad;
}
bool IsRealType(eZorPhysType p) { return p == kZorPhysTypeDecimal || p == kZorPhysTypeDouble; }

int Decimals(eZorLogType log) { return log <= kZorLogTypeDec4 ? static_cast<int>(log) : log == kZorLogTypeMoney ? 2 : -1; }

std::string IsoDate(const date& d) {
  if (d.IsEmpty()) return "";
  int32_t day = 0, month = 0, year = 0;
  d.Get(&day, &month, &year);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

// A field's value in the CSV form (cp1252).
std::string ValueText(ZorTable* t, int32_t f) {
  const eZorPhysType phys = t->GetFieldPhysType(f);
  char buf[64];
  if (IsIntegerType(phys) && !(t->GetFieldFlags(f) & (kZorTblFfEnum | kZorTblFfStrList))) {
    std::snprintf(buf, sizeof buf, "%" PRId64, t->GetValQuad(f));
    return buf;
  }
  if (IsRealType(phys)) {
    const eZorLogType log = t->GetFieldLogType(f);
    const double v = t->GetValDecimal(f).GetValue(log);
    if (Decimals(log) >= 0)
      std::snprintf(buf, sizeof buf, "%.*f", Decimals(log), v);
    else
      std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
  }
  if (phys == kZorPhysTypeDate) return IsoDate(t->GetValDate(f));
  string s;
  return t->GetValStr(f, &s);
}

// "0" or an optional '-' and digits without a leading zero, at most `digits`.
bool IsPlainInteger(const std::string& s, size_t digits) {
  const size_t start = s.size() > 1 && s[0] == '-' ? 1 : 0;
  const size_t n = s.size() - start;
  if (n == 0 || n > digits || (n > 1 && s[start] == '0') || s == "-0") return false;
  return std::all_of(s.begin() + static_cast<ptrdiff_t>(start), s.end(), ::isdigit);
}

// Digits after the '.' of a plain decimal ("-12.50" gives 2), or -1.
int DecimalsOf(const std::string& s) {
  const size_t dot = s.find('.');
  if (dot == std::string::npos || dot + 1 == s.size()) return -1;
  const std::string whole = s.substr(0, dot), frac = s.substr(dot + 1);
  if (!IsPlainInteger(whole, 12) && whole != "-0") return -1;
  if (!std::all_of(frac.begin(), frac.end(), ::isdigit)) return -1;
  if (whole == "-0" && frac.find_first_not_of('0') == std::string::npos) return -1;  // negative zero
  return static_cast<int>(frac.size());
}

// A valid "YYYY-MM-DD" (years 1600 to 9999) into *out.
bool ParseIsoDate(const std::string& s, date* out) {
  int y = 0, m = 0, d = 0, end = 0;
  if (s.size() != 10 || std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &m, &d, &end) != 3 || end != 10) return false;
  if (!std::isdigit(static_cast<unsigned char>(s[5])) || !std::isdigit(static_cast<unsigned char>(s[8])) || y < 1600)
    return false;
  date v;
  if (!v.Set(d, m, y) || !v.IsValid()) return false;
  int32_t dd = 0, mm = 0, yy = 0;
  v.Get(&dd, &mm, &yy);
  if (dd != d || mm != m || yy != y) return false;
  *out = v;
  return true;
}

// Writes the CSV form of a value into field f; false when the field refuses it.
bool SetValue(ZorTable* t, int32_t f, const std::string& text) {
  const eZorPhysType phys = t->GetFieldPhysType(f);
  if (text.empty() && (IsIntegerType(phys) || IsRealType(phys) || phys == kZorPhysTypeDate)) return t->ClearVal(f);
  if (IsIntegerType(phys) && !(t->GetFieldFlags(f) & (kZorTblFfEnum | kZorTblFfStrList))) {
    if (!IsPlainInteger(text, 19)) return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && t->SetValQuad(f, v);
  }
  if (IsRealType(phys)) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end || !std::isfinite(v) || text.find_first_of("xXeEnN") != std::string::npos) return false;
    return t->SetValDecimal(f, decimal(v, t->GetFieldLogType(f)));
  }
  if (phys == kZorPhysTypeDate) {
    date d;
    return ParseIsoDate(text, &d) && t->SetValDate(f, d);
  }
  if (phys == kZorPhysTypeAnsiString && !(t->GetFieldFlags(f) & kZorTblFfDyna)) {
    // The record buffer would cut a longer text without a word.
    int32_t len = 0, offset = 0, size = 0;
    if (t->GetFieldInfo(f, &len, &offset, &size) && text.size() > static_cast<size_t>(len)) return false;
  }
  return t->SetValStr(f, text.c_str());
}

// ---------------------------------------------------------------- CSV files
struct CsvFile {
  std::FILE* f = nullptr;
  ~CsvFile() {
    if (f) std::fclose(f);
  }
};

std::FILE* OpenCsv(const std::string& arg, bool write) {
  ToolPath(arg, write ? PathUse::kOutput : PathUse::kFile);
  std::FILE* f = std::fopen(arg.c_str(), write ? "wb" : "rb");
  if (!f) throw ToolError{arg, std::strerror(errno)};
  return f;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// ---------------------------------------------------------------- create
// What the data of one column allows (see the header comment).
struct ColumnKind {
  bool canLong = true, canQuad = true, canDate = true, anyValue = false, anyEmpty = false;
  int decimals = 0;  // 0: not seen yet, -1: not a decimal column
  size_t longest = 0;

  void See(const std::string& v) {
    longest = std::max(longest, v.size());
    if (v.empty()) {
      anyEmpty = true;
      return;
    }
    anyValue = true;
    canQuad = canQuad && IsPlainInteger(v, 18);
    canLong = canLong && canQuad && std::strtoll(v.c_str(), nullptr, 10) >= INT32_MIN &&
              std::strtoll(v.c_str(), nullptr, 10) <= INT32_MAX;
    const int k = DecimalsOf(v);
    decimals = (k < 1 || k > 4 || (decimals && decimals != k)) ? -1 : decimals == -1 ? -1 : k;
    date d;
    canDate = canDate && ParseIsoDate(v, &d);
  }
};

void AddColumnField(ZorTableDesc* d, const std::string& name, const ColumnKind& k) {
  const bool number = k.anyValue && !k.anyEmpty;
  if (number && k.canLong)
    d->AddField(name.c_str(), kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
  else if (number && k.canQuad)
    d->AddField(name.c_str(), kZorPhysTypeQuad, kZorLogTypeInt, true, 0, 0, 0, 0);
  else if (number && k.decimals > 0)
    d->AddField(name.c_str(), kZorPhysTypeDecimal, static_cast<eZorLogType>(k.decimals), true, 0, 0, 0, 0);
  else if (k.anyValue && k.canDate)
    d->AddField(name.c_str(), kZorPhysTypeDate, kZorLogTypeDate, true, 0, 0, 0, 0);
  else if (k.longest <= kMaxFixedText)
    d->AddField(name.c_str(), kZorPhysTypeAnsiString, kZorLogTypeText, true,
                static_cast<int32_t>(std::max<size_t>(k.longest, 1)), 0, 0, 0);
  else if (k.longest <= 0xFFFF)
    d->AddField(name.c_str(), kZorPhysTypeAnsiString, kZorLogTypeText, true, static_cast<int32_t>(k.longest),
                kZorTblFfDyna, 0, 0);
  else
    throw ToolError{name, "values longer than 65,535 characters do not fit a text field"};
}

// The header and the kind of each column, from a first pass over the file.
std::vector<ColumnKind> ScanColumns(const DbArgs& a, std::vector<std::string>* header) {
  CsvFile in{OpenCsv(a.csv, false)};
  CsvReader reader(in.f, a.csv, CsvFormatOf(a.sep, a.encoding));
  if (!reader.Next(header)) throw ToolError{a.csv, "empty file: the first line must name the columns"};
  std::vector<ColumnKind> kinds(header->size());
  std::vector<std::string> row;
  while (reader.Next(&row)) {
    for (size_t i = 0; i < row.size(); ++i) kinds[i].See(row[i]);
    PollBreak();
  }
  return kinds;
}

int32_t KeyPartLength(ZorTableDesc* d, int32_t f) {
  sZorTfi tfi;
  d->GetField(f, &tfi);
  return tfi.physType == kZorPhysTypeAnsiString ? std::min<int32_t>(tfi.len, kMaxKeyText) : 0;
}

void AddIndexes(ZorTableDesc* d, const DbArgs& a) {
  int32_t rowId = 0;
  auto add = [&](const std::string& col, bool unique) {
    const int32_t f = d->GetFieldId(Cp1252(col).c_str());
    if (!f) throw ToolError{col, "no such column in " + a.csv, kExitUsage};
    if (!d->IsIndexable(f)) throw ToolError{col, "this column cannot be indexed (dynamic text)", kExitUsage};
    if (!unique && !rowId) {
      rowId = d->AddField(kRowId, kZorPhysTypeLong, kZorLogTypeInt, false, 0, kZorTblFfUnicID, 0, 0);
      d->Validate();
    }
    const int32_t ix = d->AddIndex(0);
    d->SetSubIndex(ix, 1, f, KeyPartLength(d, f));
    if (!unique) d->SetSubIndex(ix, 2, rowId, 0);
  };
  for (const std::string& col : a.unique) add(col, true);
  for (const std::string& col : a.index) add(col, false);
  if (d->GetNbIndex()) d->SetDefIndex(1);
}

// A free table number of the tool's module.
int64_t NewTableId(ZorDBase* db) {
  for (int64_t n = 1; n < 256; ++n) {
    const int64_t tid = (int64_t{kToolModule} << 32) | (n << 16);
    if (!db->IsTableExist(tid)) return tid;
  }
  throw ToolError{"", "the database already holds 255 tables of the tool"};
}

void CreateCsvTable(ZorDBase* db, const DbArgs& a) {
  std::vector<std::string> header;
  const std::vector<ColumnKind> kinds = ScanColumns(a, &header);
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i].empty() || header[i].size() >= kZorTfiNameSize)
      throw ToolError{a.csv, "column " + std::to_string(i + 1) + ": a name of 1 to 25 characters is needed"};
    if (d.GetFieldId(header[i].c_str()))
      throw ToolError{a.csv, "column " + std::to_string(i + 1) + ": the name " + Utf8(header[i].c_str()) +
                                 " is used twice"};
    AddColumnField(&d, header[i], kinds[i]);
  }
  if (!d.Validate()) throw ToolError{a.csv, "the columns do not fit one record (too many or too long)"};
  AddIndexes(&d, a);
  d.Validate();
  d.SetName(Cp1252(a.table).c_str());
  d.SetTId(NewTableId(db), true);
  d.SetStorage(kZorTblStorBFile);
  db->CreateTable(d.GetHandle());
}

void RegisterModule(const DbArgs& a) {
  const ZorFsa lib = ToolPath(a.module, PathUse::kFile);
  std::string dir = a.module.substr(0, a.module.rfind('/') == std::string::npos ? 0 : a.module.rfind('/'));
  std::string name = a.module.substr(a.module.rfind('/') + 1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) name.resize(name.size() - 3);
  // The registry finds a module as <root>/<name>/<name>.so.
  const size_t slash = dir.rfind('/');
  if (dir.substr(slash == std::string::npos ? 0 : slash + 1) != name || name.empty() || name.size() >= 64)
    throw ToolError{a.module, "a module library is <folder>/<name>/<name>.so", kExitUsage};
  ZorFsa root;
  if (!root.InitFromSysPath(slash == std::string::npos ? "." : dir.substr(0, std::max<size_t>(slash, 1)).c_str(), true))
    throw ToolError{a.module, "the modules folder cannot be used"};
  ZorFsa::KRegister(ZorKFsaModules, &root);
  if (!LoadToolModule(a.moduleId, name.c_str())) throw ToolError{a.module, "not a module library of this library"};
}

void ImportRows(ZorDBase* db, const DbArgs& a, bool keepsRows, int64_t* rows);

int RunCreate(const DbArgs& a) {
  const ZorFsa path = ToolPath(a.path, PathUse::kNewFile);
  if (!a.csv.empty() && a.table.empty()) throw ToolError{"--csv", "needs --table NAME", kExitUsage};
  if (!a.module.empty() && a.moduleId <= 1) throw ToolError{"--module", "needs --module-id (above 1)", kExitUsage};
  if (!a.module.empty()) RegisterModule(a);
  Db db;
  db->CreateBase(&path, a.signature, false);
  try {
    db.Open(path, kWriteFlags);
    if (!a.module.empty()) db->UpdateAuto(a.moduleId, true, true, false);
    int64_t rows = 0;
    if (!a.csv.empty()) {
      CreateCsvTable(db.get(), a);
      ImportRows(db.get(), a, false, &rows);
    }
    std::printf("created %s: %zu tables, %" PRId64 " rows\n", PathText(path).c_str(), ListTables(db.get()).size(),
                rows);
    db.Close();
  } catch (...) {
    // A half-made database is of no use: the command leaves no file.
    if (db->IsOpen()) db.Close();
    ZorFsaCmd(&path, ZorFsaCmdQuiet).Remove();
    throw;
  }
  return 0;
}

// ---------------------------------------------------------------- import
// Field numbers of the header's columns.
std::vector<int32_t> MatchColumns(const ZorTable& t, const std::vector<std::string>& header, const DbArgs& a) {
  const std::vector<int32_t> shown = ShownFields(t);
  std::vector<int32_t> out;
  for (const std::string& col : header) {
    const int32_t f = t.GetFieldId(col.c_str());
    if (!f || std::find(shown.begin(), shown.end(), f) == shown.end())
      throw ToolError{a.csv, "line 1: the table has no field \"" + Utf8(col.c_str()) + "\""};
    out.push_back(f);
  }
  return out;
}

// The import proper: rows committed by batches; a failure keeps the rows
// before it (and says so when keepsRows: create removes its file) and names
// its line.
void ImportRows(ZorDBase* db, const DbArgs& a, bool keepsRows, int64_t* rows) {
  ZorTable t;
  t.Open(db, FindTable(db, a).tid);
  CsvFile in{OpenCsv(a.csv, false)};
  CsvReader reader(in.f, a.csv, CsvFormatOf(a.sep, a.encoding));
  std::vector<std::string> row;
  if (!reader.Next(&row)) throw ToolError{a.csv, "empty file: the first line must name the columns"};
  const std::vector<int32_t> fields = MatchColumns(t, row, a);
  TerminalProgress bar;
  ZorProgress* progress = TerminalOrNull(&bar);
  string title;
  if (progress) progress->Begin(ZorDecodefromUTF8(("importing " + a.csv).c_str(), &title), FileSize(a.csv));
  uint64_t shown = reader.Offset();
  const int64_t before = *rows;
  auto kept = [&]() -> std::string {
    const int64_t n = *rows - before;
    return keepsRows ? " (" + std::to_string(n) + (n == 1 ? " row" : " rows") + " before it imported)" : "";
  };
  while (true) {
    db->StartTransaction();
    int64_t n = 0;
    try {
      for (; (a.batch <= 0 || n < a.batch) && !ZorIsUserBreak() && reader.Next(&row); ++n) {
        t.Raz();
        for (size_t i = 0; i < fields.size(); ++i) {
          if (!SetValue(&t, fields[i], row[i]))
            throw ToolError{a.csv, "line " + std::to_string(reader.Line()) + ": the field \"" +
                                       Utf8(t.GetFieldName(fields[i], &title)) + "\" refuses \"" +
                                       Utf8(row[i].c_str()) + "\""};
        }
        t.Write();
        ++*rows;
      }
    } catch (const ZorException& e) {
      db->EndTransaction();
      if (e.GetError() == ZorErr(1, 1000)) throw;  // Ctrl-C seen by the library
      string text;
      throw ToolError{a.csv, "line " + std::to_string(reader.Line()) + ": " + Utf8(e.ToString(&text)) + kept()};
    } catch (const ToolError& e) {
      db->EndTransaction();
      throw ToolError{e.path, e.text + kept(), e.exitCode};
    }
    db->EndTransaction();
    if (progress) progress->Step(static_cast<int64_t>(reader.Offset() - shown));
    shown = reader.Offset();
    PollBreak();
    if (a.batch <= 0 || n < a.batch) break;
  }
  if (progress) progress->End();
}

int RunImport(const DbArgs& a) {
  Db db;
  db.Open(ToolPath(a.path, PathUse::kFile), kWriteFlags);
  int64_t rows = 0;
  ImportRows(db.get(), a, true, &rows);
  db.Close();
  std::printf("imported %" PRId64 " rows\n", rows);
  return 0;
}

// ---------------------------------------------------------------- export, dump
int RunExport(const DbArgs& a) {
  Db db;
  db.Open(ToolPath(a.path, PathUse::kFile), kReadFlags);
  ZorTable t;
  OpenTable(&t, db.get(), a);
  const std::vector<int32_t> fields = ShownFields(t);
  const CsvFormat format = CsvFormatOf(a.sep, a.encoding);
  CsvFile out{OpenCsv(a.csv, true)};
  CsvWriter writer(out.f, format);
  std::vector<std::string> row;
  string name;
  for (int32_t f : fields) row.push_back(t.GetFieldName(f, &name));
  writer.Write(row);
  int64_t n = 0;
  for (bool ok = t.First(); ok; ok = t.Next(), ++n) {
    row.clear();
    for (int32_t f : fields) row.push_back(ValueText(&t, f));
    writer.Write(row);
    if (n % kPollRows == 0) PollBreak();
  }
  if (std::fflush(out.f) != 0) throw ToolError{a.csv, std::strerror(errno)};
  db.Close();
  std::printf("exported %" PRId64 " rows\n", n);
  return 0;
}

int RunDump(const DbArgs& a) {
  Db db;
  db.Open(ToolPath(a.path, PathUse::kFile), kReadFlags);
  ZorTable t;
  OpenTable(&t, db.get(), a);
  const std::vector<int32_t> fields = ShownFields(t);
  string text, escaped;
  auto put = [&](size_t i, const char* cp1252) {
    std::printf("%s%s", i ? "\t" : "", Utf8(ZorEscapeString(cp1252, &escaped, false)).c_str());
  };
  for (size_t i = 0; i < fields.size(); ++i) put(i, t.GetFieldName(fields[i], &text));
  std::printf("\n");
  int64_t n = 0;
  for (bool ok = t.First(); ok; ok = t.Next(), ++n) {
    for (size_t i = 0; i < fields.size(); ++i) put(i, ValueText(&t, fields[i]).c_str());
    std::printf("\n");
    if (n % kPollRows == 0) PollBreak();
  }
  db.Close();
  return 0;
}

// ---------------------------------------------------------------- info, tables
int RunInfo(const DbArgs& a) {
  Db db;
  db.Open(ToolPath(a.path, PathUse::kFile), kReadFlags);
  date data;
  db->GetDate(nullptr, nullptr, &data);
  string text;
  std::printf("file: %s\n", Utf8(db->GetName(&text)).c_str());
  std::printf("signature: %d\nidentifier: 0x%08x\nupdate release: %d\n", db->GetSignature(),
              static_cast<uint32_t>(db->GetBaseGuid()), db->GetUpdRel());
  std::printf("data date: %s\n", data.IsEmpty() ? "none" : IsoDate(data).c_str());
  std::printf("size: %" PRIu64 "\ntables: %zu\nenumerations: %d\n", db->GetSize(), ListTables(db.get()).size(),
              CountEnums(db.get()));
  db.Close();
  return 0;
}

int RunTables(const DbArgs& a) {
  Db db;
  db.Open(ToolPath(a.path, PathUse::kFile), kReadFlags);
  std::printf("number\ttable id\tname\trecords\n");
  for (const TableRef& ref : ListTables(db.get())) {
    ZorTable t;
    t.Open(db.get(), ref.tid);
    std::printf("%d\t0x%016" PRIx64 "\t%s\t%d\n", ref.number, static_cast<uint64_t>(ref.tid), Utf8(ref.name.c_str()).c_str(),
                t.GetNbRecord());
  }
  db.Close();
  return 0;
}

// ---------------------------------------------------------------- check, compact
int RunCheck(const DbArgs& a) {
  const ZorFsa path = ToolPath(a.path, PathUse::kFile);
  ZorFsa backup;
  if (a.repair && !a.noBackup) backup = BackupBeforeRepair(a.path, path);
  Db db;
  try {
    db.Open(path, CheckOpenFlags(a.repair));
  } catch (...) {
    if (backup.IsInit()) ZorFsaCmd(&backup, ZorFsaCmdQuiet).Remove();  // nothing was repaired
    throw;
  }
  ZorVerif v;
  v.Init(a.repair, a.repair ? kRepairMode : 0);
  VerifyDatabase(db.get(), &v);
  db.Close();
  string text;
  std::fputs(Utf8(v.GetText(&text)).c_str(), stdout);
  if (backup.IsInit()) std::printf("backup before the repair: %s\n", PathText(backup).c_str());
  return v.GetNbFault() == 0 ? 0 : 1;
}

int RunCompact(const DbArgs& a) {
  TerminalProgress bar;
  uint64_t before = 0, after = 0;
  if (CompactDatabase(ToolPath(a.path, PathUse::kFile), TerminalOrNull(&bar), &before, &after))
    std::printf("%" PRIu64 " -> %" PRIu64 " bytes\n", before, after);
  else
    std::printf("nothing to compact\n");
  return 0;
}

// ---------------------------------------------------------------- command line
CLI::App* AddDbStep(CLI::App* parent, const char* name, const char* help, std::shared_ptr<DbArgs> args,
                    int (*run)(const DbArgs&), int& exitCode) {
  return AddFileSubcommand(parent, "db", name, help, "Database file", args, run, exitCode);
}

void AddCsvOptions(CLI::App* cmd, DbArgs* a, bool import) {
  cmd->add_option("--encoding", a->encoding, "utf-8 (default) or cp1252");
  cmd->add_option("--sep", a->sep, "Separator: ',' (default), ';' or 'tab'");
  if (import) cmd->add_option("--batch", a->batch, "Rows per commit (default 100000; 0: one commit)")->check(CLI::NonNegativeNumber);
}

}  // namespace

void AddDbCommand(CLI::App& app, int& exitCode) {
  auto a = std::make_shared<DbArgs>();
  CLI::App* db = app.add_subcommand("db", "Create, inspect, check, compact, import into and export a database");
  db->require_subcommand(1);
  CLI::App* create = AddDbStep(db, "create", "A new database, from a module's resources or a CSV file", a,
                                  RunCreate, exitCode);
  create->add_option("--signature", a->signature, "The database signature (default 0)");
  CLI::Option* module = create->add_option("--module", a->module, "Module library <folder>/<name>/<name>.so");
  create->add_option("--module-id", a->moduleId, "The module's id")->needs(module);
  CLI::Option* csv = create->add_option("--csv", a->csv, "CSV file whose header names the fields");
  create->add_option("--table", a->table, "Name of the table made from the CSV")->needs(csv);
  create->add_option("--index", a->index, "An index on this column (duplicates allowed)")->needs(csv);
  create->add_option("--unique", a->unique, "A unique index on this column")->needs(csv);
  AddCsvOptions(create, a.get(), true);
  AddDbStep(db, "info", "Signature, identifier, release, data date, size and counts", a, RunInfo, exitCode);
  AddDbStep(db, "tables", "One line per table: number, table id, name, records", a, RunTables, exitCode);
  CLI::App* check = AddDbStep(db, "check", "Every verification step (exit 1 when faults remain)", a, RunCheck,
                                 exitCode);
  CLI::Option* repair = check->add_flag("--repair", a->repair, "Repair what can be repaired (writes FILE.bak first)");
  check->add_flag("--no-backup", a->noBackup, "Repair without keeping FILE.bak")->needs(repair);
  AddDbStep(db, "compact", "Compact the file in place", a, RunCompact, exitCode);
  for (const char* name : {"dump", "export-csv"}) {
    const bool dump = std::strcmp(name, "dump") == 0;
    CLI::App* cmd = AddDbStep(db, name, dump ? "The records of a table, tab-separated, in index order"
                                                : "A table's records into a CSV file, in index order",
                                 a, dump ? RunDump : RunExport, exitCode);
    cmd->add_option("--table", a->table, "Table number or name")->required();
    cmd->add_option("--index", a->indexNo, "Index number (0: creation order; default: the table's)");
    if (!dump) {
      cmd->add_option("CSV", a->csv, "CSV file to write")->required();
      AddCsvOptions(cmd, a.get(), false);
    }
  }
  CLI::App* import = AddDbStep(db, "import-csv", "Add a CSV file's rows to a table", a, RunImport, exitCode);
  import->add_option("--table", a->table, "Table number or name")->required();
  import->add_option("CSV", a->csv, "CSV file whose header names the fields")->required();
  AddCsvOptions(import, a.get(), true);
}

}  // namespace zorvane::tool
