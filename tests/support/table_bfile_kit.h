// Tables in a block file without the database file: a ZorDBase that keeps
// descriptions as type-100 blocks of each table's owner and hands tables
// their block stores. Header-only, so that tests, benchmarks and fuzz
// targets share it.
#pragma once

#include <zorvane/zorvane.h>

namespace zortest {

class BFileTables : public zorvane::ZorDBase {
 public:
  explicit BFileTables(zorvane::ZorBFile* file) : _file(file) {
    _open = true;
    _rdOnly = !file->IsWriteEnable();
  }
  zorvane::eZorTblStor GetStorage() const override { return zorvane::kZorTblStorBFile; }
  zorvane::ZorBFile* GetStockPtr() const override { return _file; }
  zorvane::ZorTableStocker* GetStocker(zorvane::ZorTable* table) override {
    return zorvane::ZorTSBFile::MakeFor(table);
  }
  bool IsTableExist(int64_t tableId) override {
    zorvane::ZorHandle h;
    return zorvane::ZorReadTableDescBlock(_file, tableId, &h);
  }
  bool GetTableHandle(int64_t tableId, zorvane::ZorHandle* out, bool) override {
    return zorvane::ZorReadTableDescBlock(_file, tableId, out);
  }
  void StartTransaction() override { _file->StartTransaction(); }
  void EndTransaction() override { _file->EndTransaction(); }
  bool IsTransaction() const override { return _file->CountTransaction() > 0; }

  using zorvane::ZorDBase::CreateTable;
  // Stores desc as table tableId kept in this file (storage kind: block
  // file), inside one transaction.
  void CreateTable(zorvane::ZorTableDesc* desc, int64_t tableId) {
    desc->SetTId(tableId, false);
    desc->SetStorage(zorvane::kZorTblStorBFile);
    _file->StartTransaction();
    zorvane::ZorWriteTableDescBlock(_file, tableId, desc->GetHandle());
    _file->EndTransaction();
  }

 private:
  zorvane::ZorBFile* _file;
};

// A table id of module 1: table number n.
inline int64_t TableIdOf(int32_t n) { return (int64_t{1} << 32) | (int64_t{n} << 16); }

}  // namespace zortest
