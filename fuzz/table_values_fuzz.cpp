// The values of a table's current record read from arbitrary bytes: the
// first part of the input becomes the record buffer, the rest the current
// record's dynamic part, and every typed getter, the text and handle forms
// and the text edits run over every field of a description that holds a
// field of every kind (arrays, aliases, dynamic, enumeration, blob, BlobRef,
// local table, UUID, password). Reads must stay inside the buffer and raise
// nothing but library errors; a text read back must write and read again
// to the same text.
#include <zorvane/zorvane.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

void Describe(ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, int64_t{7} << 32 | 5 << 16);
  for (int32_t phys = kZorPhysTypeAnsiChar; phys <= kZorPhysTypeBlobRef; ++phys) {
    for (int32_t log : {kZorLogTypeDec2, kZorLogTypeMoney, kZorLogTypeInt, kZorLogTypeText, kZorLogTypeBoolean})
      d->AddField("f", static_cast<eZorPhysType>(phys), static_cast<eZorLogType>(log), true, 9, 0, 0, kZorTblFirstFree);
    d->AddField("y", static_cast<eZorPhysType>(phys), kZorLogTypeDec3, true, 9, kZorTblFfDyna, 0, kZorTblFirstFree);
    d->AddArray("a", static_cast<eZorPhysType>(phys), kZorLogTypeDec1, 2, 3, true, 5, 0, kZorTblFirstFree);
  }
  d->AddField("p", kZorPhysTypeBlob, kZorLogTypePassWord, false, 52, 0, 0, kZorTblFirstFree);
  d->AddField("e", kZorPhysTypeAnsiString, kZorLogTypeText, true, 20, kZorTblFfEnum, 0, kZorTblFirstFree);
  d->AddField(28, nullptr, kZorTblFirstFree);  // local table
  const int32_t alias = d->AddField("al", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, kZorTblFirstFree);
  d->SetFieldAlias(alias, 4, 0);
  const int32_t loop = d->AddField("lp", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, kZorTblFirstFree);
  d->SetFieldAlias(loop, loop, 0);
  d->Validate();
}

void ReadField(ZorTable* t, int32_t f, int32_t line, int32_t col) {
  string text, again;
  ZorHandle h;
  t->GetValLong(f, line, col);
  t->GetValQuad(f, line, col);
  t->GetValDecimal(f, line, col);
  t->GetValDate(f, line, col);
  t->GetValUuid(f, line, col);
  t->GetValHandle(f, &h, line, col);
  t->FieldIsSetOk(f, line, col);
  t->GetValStr(f, &text, line, col);
  // What reads as text writes back as the same text (numbers and dates
  // have oracles of their own).
  const eZorPhysType type = t->GetFieldPhysType(f);
  if (type >= kZorPhysTypeDouble && type <= kZorPhysTypeDate) return;
  if (t->SetValStr(f, text.CStr(), line, col) && std::strcmp(t->GetValStr(f, &again, line, col), text.CStr()) != 0)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ZorTable* table = [] {
    ZorTableDesc desc;
    Describe(&desc);
    auto* t = new ZorTable();
    t->Init(&desc);
    return t;
  }();
  if (size > (1u << 16)) return 0;
  try {
    table->Raz();
    const size_t rec = std::min<size_t>(size, table->GetBufferSize());
    std::vector<uint8_t> record(table->GetBufferSize());
    if (rec) std::memcpy(record.data(), data, rec);
    table->SetBufferData(record.data());
    ZorHandle cells;
    cells.Init(data + rec, static_cast<uint32_t>(size - rec));
    table->GetDyna()->Init(&cells);
    string text;
    ZorHandle h;
    for (int32_t f = 0; f <= table->GetNbField() + 1; ++f) {
      ReadField(table, f, 0, 0);
      ReadField(table, f, 2, 3);
      ReadField(table, f, 3, 0);
      table->GetValArray(f, &h);
      table->GetValLocTbl(f, &h);
      table->ChangeVal(f, static_cast<eZorTblChgVal>(f % 6));
    }
    table->GetRecordName(&text);
  } catch (const ZorException&) {
  }
  return 0;
}
