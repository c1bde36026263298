// ZorDyna: a sparse three-dimensional array of typed values addressed by
// (kind, line, column), held as one flat run of cells in a ZorHandle.
//
// The handle's bytes are the stored form itself: cells laid end to end, no
// header, no alignment. A cell is
//   kind (int32) | line (int32) | column (int32) | size (uint32) | size bytes
// all little-endian. Saving a container is copying its bytes; loading is
// attaching or copying them back.
//
// Rules every operation keeps:
// - a cell never has size 0: storing an empty or zero value removes the cell
//   (a uuid is the exception: its 16 bytes are always stored);
// - at most one cell per (kind, line, column) is written by Set...; look-ups
//   take the first cell in storage order, so a duplicate made by Ins... or
//   found in outside bytes is never seen;
// - a kind argument of kZorDynaAnyKind (0x80000000) means every kind;
// - ranges (from, to) include both ends.
// Bytes attached from outside may be malformed: scans stop at a cell whose
// header or data would run past the end of the run and never read beyond
// it. Such a tail is unreachable; Verif reports it and, when allowed,
// removes it, and a write that appends drops it.
//
// Ownership: the container holds one reference to its handle record. With
// Init(ZorHandle*) it shares the caller's record, so edits through the
// container are the caller's edits (an attached foreign record becomes a
// record of its own at the first change of size). Pointers and views handed
// out (GetConstDataHandle, Lock, SubDyna views) stay valid until the next
// change of the container.
//
// Typed encodings: text = bytes + one 0 byte; long 4 bytes; quad, double,
// decimal and date 8 bytes (decimal and date as their double); uuid 16 bytes;
// handles and raw data as they are. A decimal read back is rounded with
// FixPrec(Float, nearest).
#pragma once

#include <zorvane/date.h>
#include <zorvane/decimal.h>
#include <zorvane/handle.h>
#include <zorvane/phys_type.h>
#include <zorvane/types.h>
#include <zorvane/uuid.h>

namespace zorvane {

class string;
class ZorBGet;
class ZorVerif;

constexpr int32_t kZorDynaAnyKind = static_cast<int32_t>(0x80000000u);

// Flags of ZorDyna::Sort.
enum : uint32_t {
  kZorDynaSortDescending = 0x1,
};

class ZOR_API ZorDyna : public iZorLockable {
 public:
  ZorDyna() = default;
  ZorDyna(const ZorDyna&) = delete;
  ZorDyna& operator=(const ZorDyna&) = delete;
  ZorDyna(ZorDyna&& other) noexcept = default;
  ZorDyna& operator=(ZorDyna&& other) noexcept = default;
  ~ZorDyna() override { Trash(); }

  // ----------------------------------------------------------- set-up
  // A new empty handle.
  void Init();
  // Shares h's record (an empty container when h is null or has no record).
  void Init(ZorHandle* h);
  // Hands the record over to out; the container is left without a handle.
  void Detach(ZorHandle* out);
  ZorHandle* GetHandle() { return &_h; }
  const ZorHandle* GetHandle() const { return &_h; }
  bool IsInit() const { return _h.IsInit(); }
  void Trash() { _h.Trash(); }
  uint32_t GetRefCount() const { return _h.GetRefCount(); }
  // Size 0: no cell.
  void Clear();
  void* Lock(ZorLock* guard = nullptr) override;
  void Unlock() override;
  // out becomes a read-only view (foreign data) of the cell's bytes; false
  // and out emptied when there is no such cell.
  bool GetConstDataHandle(int32_t kind, int32_t line, int32_t col, ZorHandle* out) const;

  // ----------------------------------------------------------- raw data
  // Copies min(size, max) bytes, zero-fills the rest of out's max bytes;
  // *got (optional) receives the cell's full size, 0 when absent.
  bool GetData(int32_t kind, int32_t line, int32_t col, uint32_t max, void* out, uint32_t* got = nullptr) const;
  // Appends a cell without looking for one already there.
  bool InsData(int32_t kind, int32_t line, int32_t col, uint32_t size, const void* data);
  // True when the stored bytes changed.
  bool SetData(int32_t kind, int32_t line, int32_t col, uint32_t size, const void* data);

  // ----------------------------------------------------------- typed data
  // Each getter answers whether the cell exists; when not, the output gets
  // the default (or is emptied).
  bool GetData(int32_t kind, int32_t line, int32_t col, string* out) const;
  bool InsData(int32_t kind, int32_t line, int32_t col, const char* text);
  bool SetData(int32_t kind, int32_t line, int32_t col, const char* text);

  bool GetData(int32_t kind, int32_t line, int32_t col, ZorHandle* out) const;
  bool InsData(int32_t kind, int32_t line, int32_t col, const ZorHandle* h);
  bool SetData(int32_t kind, int32_t line, int32_t col, const ZorHandle* h);

  bool GetData(int32_t kind, int32_t line, int32_t col, int32_t* out, int32_t def = 0) const;
  bool InsData(int32_t kind, int32_t line, int32_t col, int32_t value);
  bool SetData(int32_t kind, int32_t line, int32_t col, int32_t value);

  bool GetDataQuad(int32_t kind, int32_t line, int32_t col, int64_t* out, int64_t def = 0) const;
  bool InsDataQuad(int32_t kind, int32_t line, int32_t col, int64_t value);
  bool SetDataQuad(int32_t kind, int32_t line, int32_t col, int64_t value);

  bool GetData(int32_t kind, int32_t line, int32_t col, double* out, double def = 0) const;
  bool InsDataDbl(int32_t kind, int32_t line, int32_t col, double value);
  bool SetDataDbl(int32_t kind, int32_t line, int32_t col, double value);

  bool GetData(int32_t kind, int32_t line, int32_t col, decimal* out, const decimal& def = decimal()) const;
  bool InsData(int32_t kind, int32_t line, int32_t col, const decimal& value);
  bool SetData(int32_t kind, int32_t line, int32_t col, const decimal& value);

  bool GetData(int32_t kind, int32_t line, int32_t col, date* out, const date& def = date()) const;
  bool InsData(int32_t kind, int32_t line, int32_t col, const date& value);
  bool SetData(int32_t kind, int32_t line, int32_t col, const date& value);

  bool GetDataUuid(int32_t kind, int32_t line, int32_t col, ZorUuid* out) const;
  bool InsDataUuid(int32_t kind, int32_t line, int32_t col, const ZorUuid& value);
  bool SetDataUuid(int32_t kind, int32_t line, int32_t col, const ZorUuid& value);

  // ----------------------------------------------------------- structure
  // Each answers whether a cell changed. Counts below 1 do nothing.
  // Lines at or above `line` move up by count.
  bool InsLine(int32_t kind, int32_t line, int32_t count);
  bool InsLineRange(int32_t kindFrom, int32_t kindTo, int32_t line, int32_t count, int32_t colFrom, int32_t colTo);
  bool InsCol(int32_t kind, int32_t col, int32_t count);
  bool InsColRange(int32_t kindFrom, int32_t kindTo, int32_t col, int32_t count, int32_t lineFrom, int32_t lineTo);
  // Lines [line, line + count - 1] go, higher lines move down by count.
  bool DelLine(int32_t kind, int32_t line, int32_t count);
  bool DelLineRange(int32_t kindFrom, int32_t kindTo, int32_t line, int32_t count, int32_t colFrom, int32_t colTo);
  bool DelCol(int32_t kind, int32_t col, int32_t count);
  bool DelColRange(int32_t kindFrom, int32_t kindTo, int32_t col, int32_t count, int32_t lineFrom, int32_t lineTo);
  // Removes the kind's cells; with shift, higher kinds move down to close
  // the gap.
  bool DelKind(int32_t kind, bool shift);
  bool DelKindRange(int32_t kindFrom, int32_t kindTo, bool shift);
  // Removes every cell inside the box.
  bool Clear(int32_t kindFrom, int32_t kindTo, int32_t lineFrom, int32_t lineTo, int32_t colFrom, int32_t colTo);
  bool SwapLine(int32_t kind, int32_t a, int32_t b);
  bool SwapLineRange(int32_t kindFrom, int32_t kindTo, int32_t a, int32_t b, int32_t colFrom, int32_t colTo);
  bool SwapCol(int32_t kind, int32_t a, int32_t b);
  bool SwapColRange(int32_t kindFrom, int32_t kindTo, int32_t a, int32_t b, int32_t lineFrom, int32_t lineTo);
  // Every cell of the kind exchanges its line and column.
  bool InvertLineCol(int32_t kind);
  // Cells of kind `from` become kind `to`, replacing cells of `to` at the
  // same places.
  bool ChangeKind(int32_t from, int32_t to);

  // ----------------------------------------------------------- copies
  // The cells of `kind` are set into dst under dstKind (with kZorDynaAnyKind,
  // every cell under its own kind); with replace, dst's cells of the target
  // kinds are removed first. dst must be another container.
  bool CopyTo(int32_t kind, ZorDyna* dst, int32_t dstKind, bool replace) const;
  // The cells inside the box are set into dst at the same places; with
  // replace, dst's box is cleared first.
  bool CopyToRange(ZorDyna* dst, int32_t kindFrom, int32_t kindTo, int32_t lineFrom, int32_t lineTo, int32_t colFrom,
                   int32_t colTo, bool replace) const;
  // out is given the cell's bytes as a container (or an array): a view of
  // them with `view` (read only, valid until this container changes), else a
  // private copy. False, and out emptied, when the cell is absent.
  bool SubDyna(ZorDyna* out, int32_t kind, int32_t line, int32_t col, bool view) const;
  bool SubBGet(ZorBGet* out, int32_t kind, int32_t line, int32_t col, bool view) const;

  // ----------------------------------------------------------- queries
  // The highest line and column (0 when none, never below 0) of the kind's
  // cells; returns the highest line.
  int32_t GetDim(int32_t kind, int32_t* maxLine = nullptr, int32_t* maxCol = nullptr) const;
  // Distinct kinds; the highest kind (0 when empty); cells of a kind.
  int32_t GetNbKind() const;
  int32_t GetKindMax() const;
  int32_t GetNbItem(int32_t kind) const;
  // The cell's size, 0 when absent.
  uint32_t GetSize(int32_t kind, int32_t line, int32_t col) const;
  bool IsItemExist(int32_t kind, int32_t line, int32_t col) const;
  // In storage order, the line of the first text cell of the kind and column
  // at line >= startLine equal to text ignoring case; startLine - 1 when
  // none. The long forms compare 4-byte cells. FindInLine exchanges lines
  // and columns.
  int32_t FindInCol(int32_t kind, int32_t col, const char* text, int32_t startLine) const;
  int32_t FindInCol(int32_t kind, int32_t col, int32_t value, int32_t startLine) const;
  int32_t FindInLine(int32_t kind, int32_t line, const char* text, int32_t startCol) const;
  int32_t FindInLine(int32_t kind, int32_t line, int32_t value, int32_t startCol) const;

  // ----------------------------------------------------------- maintenance
  // Reorders the lines of the kind present in [lineFrom, lineTo] by their
  // cell in column col, compared as `type` (an absent cell is the zero or
  // empty value); the set of line numbers stays, equal keys keep their
  // order, every cell of a line moves with it. Types: Short, Long, Quad,
  // the double types, the text types (ignoring case), Uuid; anything else
  // compares the bytes. True when a line moved.
  bool Sort(int32_t kind, eZorPhysType type, int32_t col, int32_t lineFrom, int32_t lineTo, uint32_t flags = 0);
  // Renumbers the lines (or columns) of all cells 1, 2, 3 ... in their order.
  bool Compact(bool lines);
  // Checks the run: cells running past the end, bytes after the last cell,
  // cells of size 0, duplicated places. True when sound. With a report,
  // every fault is an item of a section and is repaired when the report
  // allows; without one the first fault answers false.
  bool Verif(ZorVerif* report);
  // Verif with a report of its own, repairing when asked.
  bool Dut(bool repair);

 private:
  ZorHandle _h;
};

}  // namespace zorvane
