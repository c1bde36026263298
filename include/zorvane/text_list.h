// `ZorTxtList`: a short ordered list of coded texts, and the helpers that
// read the identifier prefix and the label separator of such texts.
//
// An item is an optional 32-bit identifier and a stored text: a code, or a
// code, the label separator (the three bytes A0 2D A0: no-break space,
// hyphen, no-break space) and a label. Items are numbered from 1. Texts of
// fewer than 64 characters live inside the item; longer ones in a heap
// `string` that the item owns, so copying a list copies every text.
//
// Parts of an item are chosen by a kind: ZorTxtKindId (the identifier in
// decimal, empty without one), ZorTxtKindCode, ZorTxtKindLabel,
// ZorTxtKindText (the whole stored text) and ZorTxtKindIdText (the
// identifier part, a separator character and the whole stored text, so
// ":text" without identifier). Any other kind selects the empty text.
//
// An index outside 1..count raises ZorEBasic (1, 18).
#pragma once

#include <zorvane/block_array.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorFsa;

// Item flags.
inline constexpr uint32_t ZorTxtHasId = 0x1;
inline constexpr uint32_t ZorTxtHasCode = 0x10;
inline constexpr uint32_t ZorTxtHasLabel = 0x100;

// Item parts (the `kind` arguments).
inline constexpr uint32_t ZorTxtKindId = 1;
inline constexpr uint32_t ZorTxtKindCode = 16;
inline constexpr uint32_t ZorTxtKindLabel = 256;
inline constexpr uint32_t ZorTxtKindText = 272;
inline constexpr uint32_t ZorTxtKindIdText = 273;

// Comparison operators of ZorTxtList::Find. Adding ZorTxtOpSwap compares the
// search text against the item's part instead (the part is the pattern).
inline constexpr int32_t ZorTxtOpEqual = 0;
inline constexpr int32_t ZorTxtOpEqual1 = 1;
inline constexpr int32_t ZorTxtOpGreater = 2;
inline constexpr int32_t ZorTxtOpLess = 3;
inline constexpr int32_t ZorTxtOpContains = 5;
inline constexpr int32_t ZorTxtOpStartsWith = 6;
inline constexpr int32_t ZorTxtOpEndsWith = 7;
inline constexpr int32_t ZorTxtOpFirst = 99;  // index 1 without searching
inline constexpr int32_t ZorTxtOpNotEqual = 101;
inline constexpr int32_t ZorTxtOpLessEqual = 102;
inline constexpr int32_t ZorTxtOpGreaterEqual = 103;
inline constexpr int32_t ZorTxtOpNotContains = 105;
inline constexpr int32_t ZorTxtOpNotStartsWith = 106;
inline constexpr int32_t ZorTxtOpNotEndsWith = 107;
inline constexpr int32_t ZorTxtOpNone = 199;  // -1 without searching
inline constexpr int32_t ZorTxtOpSwap = 1000;

// The label separator, as a C string.
inline constexpr char kZorLabelSep[] = "\xA0-\xA0";
inline constexpr uint32_t kZorLabelSepLen = 3;

// One item as the list stores it. `text` holds the stored text when it is
// shorter than 64 characters (longText is then null); otherwise `longText`,
// owned by the item, holds it and `text` is empty.
struct sZorTxtItem {
  static constexpr uint32_t kInline = 64;
  int32_t id;           // valid when flags has ZorTxtHasId, else 0
  char text[kInline];
  string* longText;
  uint32_t flags;
};

// Splits a stored text at its first label separator (case-sensitive); either
// output may be null. Without separator the whole text is the code, the label
// is empty and the result is false.
ZOR_API bool ZorGetRecordCode(const char* text, string* code, string* label);

// Identifier prefix: an optional "-", one or more decimal digits that fit a
// signed 32-bit value, then idChar. ZorIsStrId tells whether text starts
// with one; ZorExtractStrId stores it in *id and returns the text after it,
// or returns null (with *id untouched) when the text has none. An idChar of
// 0 never matches.
ZOR_API bool ZorIsStrId(const char* text, char idChar);
ZOR_API const char* ZorExtractStrId(const char* text, int32_t* id, char idChar);

// A source of rows for ZorTxtList::Init: a table's records in reading order,
// read through its identifier and text fields, or any other row supplier.
class ZOR_API iZorTxtListSource {
 public:
  virtual ~iZorTxtListSource();
  // Moves to the next row (the first one on the first call); false after
  // the last.
  virtual bool NextRow() = 0;
  // The current row's identifier; false when it has none.
  virtual bool GetRowId(int32_t* id) = 0;
  // The current row's text (code, or code, label separator and label).
  virtual const char* GetRowText(string* dst) = 0;
};

// A receiver of rows for ZorTxtList::GetList: one call per item, in order.
class ZOR_API iZorTxtListSink {
 public:
  virtual ~iZorTxtListSink();
  virtual void AddRow(int32_t index, const int32_t* id, const char* code, const char* label) = 0;
};

// The list is a ZorBGet of sZorTxtItem records (no header). It owns its
// array (never shared with another list) and every long text; the array's
// own operations are private, since moving a record's bytes without its text
// would break that ownership. Pointers returned by GetItemText and GetRecord
// stay valid until the next change of the list.
class ZOR_API ZorTxtList : private ZorBGet {
 public:
  ZorTxtList();
  ZorTxtList(const ZorTxtList& other);
  ZorTxtList(ZorTxtList&& other) noexcept;
  ZorTxtList& operator=(const ZorTxtList& other);
  ZorTxtList& operator=(ZorTxtList&& other) noexcept;
  virtual ~ZorTxtList();

  // ------------------------------------------------------------ building
  // Items are the runs of text between sepChar characters; empty runs are
  // skipped. A run that starts with an identifier prefix (see ZorExtractStrId)
  // has that identifier and the rest as its text. A null text gives an empty
  // list.
  void Init(const char* text, char idChar, char sepChar);
  // The whole file, read as above; the stream's errors are raised.
  void Init(const ZorFsa* file, char idChar, char sepChar);
  // One item per row of the source, its identifier as the row gives it.
  void Init(iZorTxtListSource* rows);
  void Trash();
  using ZorBGet::IsInit;
  void Clear();
  using ZorBGet::GetNbItem;

  // ------------------------------------------------------------ editing
  // Appends (inserts at index 1..count+1) an item and returns its index.
  // Without noId it has the identifier; a non-empty label is joined to the
  // code with the label separator.
  int32_t Add(const char* code, int32_t id = 0, bool noId = true, const char* label = nullptr);
  int32_t Ins(int32_t index, const char* code, int32_t id = 0, bool noId = true, const char* label = nullptr);
  // Changes parts: without noId the identifier is set; a null code or label
  // keeps that part, an empty one removes it, another replaces it.
  void Set(int32_t index, const char* code, int32_t id, bool noId, const char* label);
  // Deletes up to count items from index on.
  void Del(int32_t index, int32_t count = 1);
  void Swap(int32_t a, int32_t b);
  void Invert();
  // Removes the parts of a kind: the identifier (1), the code (16), the label
  // (256), code and label (272) or everything (273).
  void ClearItem(int32_t index, uint32_t kind);

  // ------------------------------------------------------------ reading
  // The code, identifier and label (any output may be null); true when the
  // item has an identifier.
  bool Get(int32_t index, string* code, int32_t* id, string* label) const;
  int32_t GetItemId(int32_t index) const;
  uint32_t GetItemFlags(int32_t index) const;
  const char* GetItemText(int32_t index) const;
  const sZorTxtItem* GetRecord(int32_t index) const;
  // Writes the part of the kind (sep goes between identifier and text for
  // kind 273) and returns the identifier (0 without one).
  int32_t GetItem(int32_t index, string* dst, uint32_t kind, char sep = ':') const;
  // The part of every item joined by sep; idChar is the separator of kind
  // 273, where an item without identifier is written as its text alone, so
  // that GetText(dst, 273, idChar, sep) reads back through Init(text, idChar,
  // sep) when no code contains sep or starts like an identifier.
  const char* GetText(string* dst, uint32_t kind, char idChar, char sep) const;
  // Hands every item to the sink; returns the count.
  int32_t GetList(iZorTxtListSink* rows) const;

  // ------------------------------------------------------------ searching
  // The first index >= start whose part of the kind satisfies the operator
  // against text, or -1. Text comparisons ignore case; for kind 1 and a
  // non-empty text, the ordering operators compare identifiers with the
  // text's numeric value (items without identifier compare as texts).
  // Kind 273 uses ":" between identifier and text.
  int32_t Find(const char* text, uint32_t kind, int32_t start = 1, int32_t op = ZorTxtOpEqual) const;
  int32_t GetLine(int32_t id, int32_t start = 1) const;
  // 0 when the parts of the kind are unique (ignoring case). Otherwise,
  // without a list, the index of the last item that repeats an earlier one;
  // with a list, the list is emptied and receives the part of each repeating
  // item (with its index as identifier) from the last item down, and the
  // result is its count.
  int32_t IsUnicItem(uint32_t kind, ZorTxtList* duplicates = nullptr, char sep = ':') const;

  // ------------------------------------------------------------ ordering
  // Stable sort by identifier (items without one count as 0) or by code
  // (ZorStrICmp of the codes without labels).
  void Sort(bool descending = false, bool byId = false);
  // Items from `from` to min(to, count) get the identifiers first,
  // first + step, ...; items without identifier are skipped unless `all`.
  void Renum(int32_t first, int32_t step, int32_t from = 1, int32_t to = 0x7FFFFFFF, bool all = false);

 protected:
  sZorTxtItem* _item(int32_t index) const;   // checked, 1-based
  sZorTxtItem* _slots() const;               // item 1 (the array has no header)
  void _checkIndex(int32_t index, int32_t last) const;
  sZorTxtItem* _insert(int32_t index);        // a zeroed record at index

 private:
  void _copyFrom(const ZorTxtList& other);
  // Replaces the items by n records whose texts the list then owns (when
  // this returns; a failure leaves them to the caller).
  void _adopt(sZorTxtItem* records, int32_t n);
};

}  // namespace zorvane
