// ZorTxtList: building, editing and reading.
//
// The items are the records of the private ZorBGet base (no header, one
// sZorTxtItem per item). Records move as bytes: a record's only resource,
// the heap string of a long text, belongs to whichever record holds the
// pointer. Invariants kept by every function:
//   - a record's id is 0 unless ZorTxtHasId is set;
//   - longText is null exactly when the stored text is shorter than
//     sZorTxtItem::kInline characters, and `text` is then that text;
//   - no two records (of this list or another) hold the same heap string,
//     so copies of a list copy every long text, and a record's text is
//     freed before its bytes are dropped.
// ZorTxtHasCode and ZorTxtHasLabel describe the stored text: the label is
// what follows the first label separator when ZorTxtHasLabel is set.
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/memory.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>
#include <zorvane/text_list.h>

#include "foundation/errors/raise.h"
#include "foundation/lists/text_list_item.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "string\\ZorTxtList";
constexpr int32_t kErrMemory = 1;
constexpr int32_t kErrOutRange = 18;
constexpr uint32_t kItemSize = sizeof(sZorTxtItem);

string* NewLongText(const char* text, uint32_t n) {
  void* block = ZorMemAlloc(sizeof(string));
  return new (block) string(text, static_cast<int32_t>(n));
}

void DeleteLongText(string* s) {
  s->~string();
  ZorMemFree(s);
}

bool HasSeparator(const char* text) { return ZorStrFind(text, kZorLabelSep) != nullptr; }

// The flags that a stored text read from outside (a delimited text, a row)
// gets: always a code, and a label when it holds the separator.
uint32_t FlagsOfText(const char* text) { return ZorTxtHasCode | (HasSeparator(text) ? ZorTxtHasLabel : 0); }

// The stored text of a code and a label, with the flags that describe it.
uint32_t BuildText(const char* code, const char* label, bool withLabel, string* dst) {
  *dst = code;
  if (withLabel) {
    *dst += kZorLabelSep;
    *dst += label;
  }
  return (code[0] ? ZorTxtHasCode : 0) | (withLabel ? ZorTxtHasLabel : 0);
}

// Records built outside a list (one allocation for the list instead of one
// per item); they own their texts until Release hands them over.
class Staging {
 public:
  Staging() = default;
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() {
    for (sZorTxtItem& it : _items) txt_item::FreeText(&it);
  }

  void Add(const char* text, uint32_t flags, int32_t id) {
    sZorTxtItem& it = _items.emplace_back();  // zeroed
    it.flags = flags;
    it.id = (flags & ZorTxtHasId) ? id : 0;
    txt_item::SetText(&it, text, ZorStrLen(text));
  }
  sZorTxtItem* Data() { return _items.data(); }
  int32_t Size() const { return static_cast<int32_t>(_items.size()); }
  void Release() { _items.clear(); }

 private:
  std::vector<sZorTxtItem> _items;
};

}  // namespace

// ---------------------------------------------------------------- item helpers

namespace txt_item {

void FreeText(sZorTxtItem* it) {
  if (it->longText) DeleteLongText(it->longText);
  it->longText = nullptr;
  it->text[0] = 0;
}

void SetText(sZorTxtItem* it, const char* text, uint32_t n) {
  string* fresh = n < sZorTxtItem::kInline ? nullptr : NewLongText(text, n);  // a failure changes nothing
  string* old = it->longText;
  if (!fresh) {
    std::memmove(it->text, text, n);  // text may be this item's own inline text
    it->text[n] = 0;
  } else {
    it->text[0] = 0;
  }
  it->longText = fresh;
  if (old) DeleteLongText(old);  // only now: text may have pointed into it
}

void DeepenText(sZorTxtItem* to) {
  string* shared = to->longText;
  to->longText = nullptr;
  if (shared) to->longText = NewLongText(shared->CStr(), shared->Len());
}

const char* Part(const sZorTxtItem& it, uint32_t kind, char sep, string* dst) {
  const char* text = Text(it);
  const bool hasLabel = it.flags & ZorTxtHasLabel;
  switch (kind) {
    case ZorTxtKindId:
      if (it.flags & ZorTxtHasId) return ZorLongToStr(it.id, dst);
      break;
    case ZorTxtKindCode:
      if (!(it.flags & ZorTxtHasCode)) break;
      if (!hasLabel) return dst->Assign(text);
      ZorGetRecordCode(text, dst, nullptr);
      return dst->CStr();
    case ZorTxtKindLabel:
      if (!hasLabel) break;
      ZorGetRecordCode(text, nullptr, dst);
      return dst->CStr();
    case ZorTxtKindText:
      if (it.flags & (ZorTxtHasCode | ZorTxtHasLabel)) return dst->Assign(text);
      break;
    case ZorTxtKindIdText: {
      string whole;
      Part(it, ZorTxtKindText, sep, &whole);
      Part(it, ZorTxtKindId, sep, dst);  // empty without an identifier
      *dst += sep;
      *dst += whole;
      return dst->CStr();
    }
    default:
      break;
  }
  return dst->Clear();
}

}  // namespace txt_item

// ---------------------------------------------------------------- free functions

bool ZorGetRecordCode(const char* text, string* code, string* label) {
  if (!text) text = "";
  const char* sep = ZorStrFind(text, kZorLabelSep);
  if (!sep) {
    if (code) code->Assign(text);
    if (label) label->Clear();
    return false;
  }
  if (code) code->Assign(text, static_cast<int32_t>(sep - text));
  if (label) label->Assign(sep + kZorLabelSepLen);
  return true;
}

const char* ZorExtractStrId(const char* text, int32_t* id, char idChar) {
  if (!text || idChar == 0) return nullptr;
  const char* p = text;
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* digits = p;
  int64_t value = 0;
  for (; ZorIsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > 0x80000000LL) return nullptr;  // cannot fit, whatever follows
  }
  if (p == digits || *p != idChar) return nullptr;
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) return nullptr;
  *id = static_cast<int32_t>(value);
  return p + 1;
}

bool ZorIsStrId(const char* text, char idChar) {
  int32_t id;
  return ZorExtractStrId(text, &id, idChar) != nullptr;
}

iZorTxtListSource::~iZorTxtListSource() = default;
iZorTxtListSink::~iZorTxtListSink() = default;

// ---------------------------------------------------------------- life

ZorTxtList::ZorTxtList() : ZorBGet(0, kItemSize) {}

ZorTxtList::ZorTxtList(const ZorTxtList& other) : ZorBGet(0, kItemSize) { _copyFrom(other); }

ZorTxtList::ZorTxtList(ZorTxtList&& other) noexcept : ZorBGet(std::move(other)) {}

ZorTxtList& ZorTxtList::operator=(const ZorTxtList& other) {
  if (this != &other) {
    ZorTxtList copy(other);  // a failing copy leaves this list as it was
    *this = std::move(copy);
  }
  return *this;
}

ZorTxtList& ZorTxtList::operator=(ZorTxtList&& other) noexcept {
  if (this != &other) {
    Trash();
    ZorBGet::operator=(std::move(other));
  }
  return *this;
}

ZorTxtList::~ZorTxtList() { Trash(); }

void ZorTxtList::_copyFrom(const ZorTxtList& other) {
  other.CopyTo(this);
  sZorTxtItem* slots = _slots();
  const int32_t n = GetNbItem();
  for (int32_t i = 0; i < n; ++i) slots[i].longText = nullptr;  // consistent if a copy fails
  try {
    for (int32_t i = 0; i < n; ++i) {
      slots[i].longText = other._slots()[i].longText;
      txt_item::DeepenText(&slots[i]);
    }
  } catch (...) {
    Trash();
    throw;
  }
}

void ZorTxtList::Trash() {
  Clear();
  ZorBGet::Trash();
}

void ZorTxtList::Clear() {
  sZorTxtItem* slots = _slots();
  for (int32_t i = 0, n = GetNbItem(); i < n; ++i) txt_item::FreeText(&slots[i]);
  ZorBGet::Clear();
}

// ---------------------------------------------------------------- records

sZorTxtItem* ZorTxtList::_slots() const { return static_cast<sZorTxtItem*>(GetHandle()->GetDatas()); }

void ZorTxtList::_checkIndex(int32_t index, int32_t last) const {
  if (index < 1 || index > last) ZorRaise(kSource, ZorErr(1, kErrOutRange));
}

sZorTxtItem* ZorTxtList::_item(int32_t index) const {
  _checkIndex(index, GetNbItem());
  return &_slots()[index - 1];
}

sZorTxtItem* ZorTxtList::_insert(int32_t index) {
  _checkIndex(index, GetNbItem() + 1);
  return static_cast<sZorTxtItem*>((*this)[ZorBGet::Ins(index, nullptr)]);
}

// ---------------------------------------------------------------- building

void ZorTxtList::Init(const char* text, char idChar, char sepChar) {
  Staging staged;
  for (const char* p = text ? text : ""; *p;) {
    const char* end = sepChar ? ZorStrChr(p, sepChar) : nullptr;
    const uint32_t n = end ? static_cast<uint32_t>(end - p) : ZorStrLen(p);
    if (n > 0) {
      const string run(p, static_cast<int32_t>(n));
      int32_t id = 0;
      const char* rest = ZorExtractStrId(run.CStr(), &id, idChar);
      const char* stored = rest ? rest : run.CStr();
      staged.Add(stored, FlagsOfText(stored) | (rest ? ZorTxtHasId : 0), id);
    }
    p += n;
    if (*p) ++p;
  }
  _adopt(staged.Data(), staged.Size());
  staged.Release();
}

void ZorTxtList::Init(const ZorFsa* file, char idChar, char sepChar) {
  ZorNotNull(file, kSource);
  ZorHandle bytes;
  {
    ZorLock guard;
    iZorStream* stream = ZorOpenStream(file, ZorPermRead | ZorShareReadWrite, &guard, 0);
    ZorReadHandle(stream, &bytes, 0, -1);
  }
  const uint32_t size = bytes.GetSize();
  if (size > 0x7FFFFFFEu) ZorRaise(kSource, ZorErr(1, kErrMemory), file);
  const string text(size ? static_cast<const char*>(bytes.GetDatas()) : "", static_cast<int32_t>(size));
  Init(text.CStr(), idChar, sepChar);
}

void ZorTxtList::Init(iZorTxtListSource* rows) {
  Staging staged;
  string text;
  while (rows && rows->NextRow()) {
    int32_t id = 0;
    const bool hasId = rows->GetRowId(&id);
    rows->GetRowText(&text);
    staged.Add(text.CStr(), FlagsOfText(text.CStr()) | (hasId ? ZorTxtHasId : 0), id);
  }
  _adopt(staged.Data(), staged.Size());
  staged.Release();
}

void ZorTxtList::_adopt(sZorTxtItem* records, int32_t n) {
  ZorTxtList built;
  built.ZorBGet::Init();
  built.InsRange(1, records, n);
  *this = std::move(built);
}

// ---------------------------------------------------------------- editing

int32_t ZorTxtList::Add(const char* code, int32_t id, bool noId, const char* label) {
  return Ins(GetNbItem() + 1, code, id, noId, label);
}

int32_t ZorTxtList::Ins(int32_t index, const char* code, int32_t id, bool noId, const char* label) {
  _checkIndex(index, GetNbItem() + 1);
  string text;
  const bool withLabel = label && label[0];
  uint32_t flags = BuildText(code ? code : "", label, withLabel, &text);
  if (!noId) flags |= ZorTxtHasId;
  sZorTxtItem* it = _insert(index);
  it->flags = flags;
  it->id = noId ? 0 : id;
  try {
    txt_item::SetText(it, text.CStr(), text.Len());
  } catch (...) {
    ZorBGet::Del(index);
    throw;
  }
  return index;
}

void ZorTxtList::Set(int32_t index, const char* code, int32_t id, bool noId, const char* label) {
  sZorTxtItem* it = _item(index);
  string oldCode, oldLabel, text;
  txt_item::Part(*it, ZorTxtKindCode, 0, &oldCode);
  txt_item::Part(*it, ZorTxtKindLabel, 0, &oldLabel);
  const bool withLabel = label ? label[0] != 0 : (it->flags & ZorTxtHasLabel) != 0;
  uint32_t flags = BuildText(code ? code : oldCode.CStr(), label ? label : oldLabel.CStr(), withLabel, &text);
  if (!code) flags = (flags & ~ZorTxtHasCode) | (it->flags & ZorTxtHasCode);
  txt_item::SetText(it, text.CStr(), text.Len());
  it->flags = flags | (it->flags & ZorTxtHasId);
  if (!noId) {
    it->flags |= ZorTxtHasId;
    it->id = id;
  }
}

void ZorTxtList::Del(int32_t index, int32_t count) {
  sZorTxtItem* first = _item(index);
  const int32_t left = GetNbItem() - index + 1;
  const int32_t n = count < left ? count : left;
  for (int32_t i = 0; i < n; ++i) txt_item::FreeText(&first[i]);
  ZorBGet::DelRange(index, n);
}

void ZorTxtList::Swap(int32_t a, int32_t b) {
  _checkIndex(a, GetNbItem());
  _checkIndex(b, GetNbItem());
  ZorBGet::Swap(a, b);
}

void ZorTxtList::Invert() {
  for (int32_t i = 1, j = GetNbItem(); i < j; ++i, --j) ZorBGet::Swap(i, j);
}

void ZorTxtList::ClearItem(int32_t index, uint32_t kind) {
  sZorTxtItem* it = _item(index);
  switch (kind) {
    case ZorTxtKindId:
      it->flags &= ~ZorTxtHasId;
      it->id = 0;
      break;
    case ZorTxtKindCode: Set(index, "", 0, true, nullptr); break;
    case ZorTxtKindLabel: Set(index, nullptr, 0, true, ""); break;
    case ZorTxtKindText: Set(index, "", 0, true, ""); break;
    case ZorTxtKindIdText:
      Set(index, "", 0, true, "");
      ClearItem(index, ZorTxtKindId);
      break;
    default: break;
  }
}

// ---------------------------------------------------------------- reading

bool ZorTxtList::Get(int32_t index, string* code, int32_t* id, string* label) const {
  const sZorTxtItem* it = _item(index);
  if (code) txt_item::Part(*it, ZorTxtKindCode, 0, code);
  if (label) txt_item::Part(*it, ZorTxtKindLabel, 0, label);
  if (id) *id = it->id;
  return it->flags & ZorTxtHasId;
}

int32_t ZorTxtList::GetItemId(int32_t index) const { return _item(index)->id; }

uint32_t ZorTxtList::GetItemFlags(int32_t index) const { return _item(index)->flags; }

const char* ZorTxtList::GetItemText(int32_t index) const { return txt_item::Text(*_item(index)); }

const sZorTxtItem* ZorTxtList::GetRecord(int32_t index) const { return _item(index); }

int32_t ZorTxtList::GetItem(int32_t index, string* dst, uint32_t kind, char sep) const {
  ZorNotNull(dst, kSource);
  const sZorTxtItem* it = _item(index);
  txt_item::Part(*it, kind, sep, dst);
  return it->id;
}

const char* ZorTxtList::GetText(string* dst, uint32_t kind, char idChar, char sep) const {
  ZorNotNull(dst, kSource);
  string out, part;
  const sZorTxtItem* slots = _slots();
  for (int32_t i = 0, n = GetNbItem(); i < n; ++i) {
    if (i > 0) out += sep;
    // An item without identifier is written as its text alone, as Init reads it.
    const bool bare = kind == ZorTxtKindIdText && !(slots[i].flags & ZorTxtHasId);
    out += txt_item::Part(slots[i], bare ? ZorTxtKindText : kind, idChar, &part);
  }
  *dst = std::move(out);
  return dst->CStr();
}

int32_t ZorTxtList::GetList(iZorTxtListSink* rows) const {
  string code, label;
  const int32_t n = GetNbItem();
  for (int32_t i = 1; i <= n; ++i) {
    int32_t id = 0;
    const bool hasId = Get(i, &code, &id, &label);
    rows->AddRow(i, hasId ? &id : nullptr, code.CStr(), label.CStr());
  }
  return n;
}

}  // namespace zorvane
