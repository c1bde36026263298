// Writes the demo module's resources into the folder given as the only
// argument; the build packs them into the module (zor_add_module's
// GENERATOR). A module of your own starts from a copy of this file:
//   - a table is a ZorTableDesc: fields, indexes, storage, and the flag
//     kZorTblTfDocAutoCreate so that ZorDBase::UpdateAuto creates it; its
//     container bytes (GetHandle) become "<table number>.TDesc";
//   - a workspace is a cell container (the layout is in zorvane/workspace.h)
//     written as "<low word of its identifier>.WS".
// Block-file tables keep every index unique: the lines' index is
// (invoice, line), not the invoice alone.
#include "tools/demo_module/demo_schema.h"

#include <zorvane/workspace.h>
#include <zorvane/zorvane.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

using namespace zorvane;
using namespace zorvane::demo;

namespace {

std::string gDir;

void WriteFile(const std::string& name, const ZorHandle* h) {
  std::ofstream out(gDir + "/" + name, std::ios::binary);
  out.write(static_cast<const char*>(h->GetDatas()), h->GetSize());
  if (!out.flush()) throw std::runtime_error("cannot write " + gDir + "/" + name);
}

// A table description with the fields added by the caller between Begin
// and End.
class Table {
 public:
  Table(int32_t number, const char* name) : _number(number) {
    _d.Create(kZorTblTypeStd, 0);
    _d.SetTId(TableId(number), false);
    _d.SetName(name);
    _d.SetStorage(kZorTblStorBFile);
    _d.SetFlags(kZorTblTfDocAutoCreate);
  }
  // Adds the field that must come out as number `expected` (demo_schema.h).
  Table& Field(int32_t expected, const char* name, eZorPhysType phys, eZorLogType log, int32_t length = 0) {
    if (_d.AddField(name, phys, log, true, length, 0, 0, 0) != expected)
      throw std::logic_error(std::string("field ") + name + " is out of the schema's order");
    return *this;
  }
  Table& Text(int32_t expected, const char* name, int32_t length) {
    return Field(expected, name, kZorPhysTypeAnsiString, kZorLogTypeText, length);
  }
  Table& Link(int32_t field, int32_t table, int32_t keyField) {
    _d.SetFieldLink(field, TableId(table), keyField);
    return *this;
  }
  // A unique index on the fields, in order (text parts whole).
  Table& Index(std::initializer_list<int32_t> fields) {
    _d.Validate();
    const int32_t ix = _d.AddIndex(0);
    int32_t part = 0;
    for (int32_t f : fields) {
      sZorTfi tfi;
      _d.GetField(f, &tfi);
      _d.SetSubIndex(ix, ++part, f, tfi.physType == kZorPhysTypeAnsiString ? tfi.len : 0);
    }
    return *this;
  }
  void Write() {
    _d.SetDefIndex(1);
    if (!_d.Validate()) throw std::logic_error("the record does not fit");
    WriteFile(std::to_string(_number) + ".TDesc", _d.GetHandle());
  }

 private:
  int32_t _number;
  ZorTableDesc _d;
};

void WriteTables() {
  Table(kCustomers, "Clients")
      .Text(kCustCode, "Code", 8).Text(kCustName, "Nom", 40).Text(kCustCity, "Ville", 30)
      .Index({kCustCode}).Write();
  Table(kItems, "Articles")
      .Text(kItemCode, "Code", 8).Text(kItemLabel, "Libelle", 40)
      .Field(kItemPrice, "Prix", kZorPhysTypeDecimal, kZorLogTypeDec2)
      .Field(kItemRate, "TauxTVA", kZorPhysTypeDecimal, kZorLogTypeDec2)
      .Index({kItemCode}).Write();
  Table(kInvoices, "Factures")
      .Field(kInvNumber, "Numero", kZorPhysTypeLong, kZorLogTypeInt)
      .Field(kInvDate, "Date", kZorPhysTypeDate, kZorLogTypeDate)
      .Field(kInvCustomer, "Client", kZorPhysTypeLong, kZorLogTypeInt)
      .Link(kInvCustomer, kCustomers, kCustCode)
      .Index({kInvNumber}).Write();
  // A line keeps the price it was sold at; the rate comes from the item.
  Table(kLines, "Lignes")
      .Field(kLineInvoice, "Facture", kZorPhysTypeLong, kZorLogTypeInt)
      .Field(kLineNumber, "Ligne", kZorPhysTypeLong, kZorLogTypeInt)
      .Text(kLineItem, "Article", 8)
      .Field(kLineQuantity, "Quantite", kZorPhysTypeDecimal, kZorLogTypeDec3)
      .Field(kLinePrice, "Prix", kZorPhysTypeDecimal, kZorLogTypeDec2)
      .Link(kLineItem, kItems, kItemCode)
      .Index({kLineInvoice, kLineNumber}).Write();
}

// One entry line of the workspace: the table, its flags, the line of its
// parent (0: a direct entry) and the parent's link field.
void WsEntry(ZorDyna* ws, int32_t line, int32_t table, uint32_t flags, int32_t parent, int32_t linkField) {
  ws->SetDataQuad(2, line, 1, TableId(table));
  ws->SetData(2, line, 2, static_cast<int32_t>(flags));
  ws->SetData(2, line, 3, parent);
  ws->SetData(2, line, 4, linkField);
  ws->SetData(2, line, 5, static_cast<int32_t>(kZorWsScpRwEntry));
}

void WriteWorkspace() {
  ZorDyna ws;
  ws.Init();
  ws.SetData(1, 1, 1, "Factures");
  WsEntry(&ws, 1, kInvoices, 0, 0, 0);  // the main table
  WsEntry(&ws, 2, kCustomers, kZorWsTblLinked, 1, kInvCustomer);
  WsEntry(&ws, 3, kLines, 0, 0, 0);
  WsEntry(&ws, 4, kItems, kZorWsTblLinked, 3, kLineItem);
  WriteFile(std::to_string(kWorkspace) + ".WS", ws.GetHandle());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  gDir = argv[1];
  try {
    WriteTables();
    WriteWorkspace();
  } catch (const ZorException& e) {
    string text;
    std::fprintf(stderr, "%s\n", e.ToString(&text));
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
