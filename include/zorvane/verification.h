// ZorVerif: the report that check routines fill (block files, databases,
// table descriptions, preference files, cell containers, script compiles).
//
// A report is a sequence of sections, each titled, holding items. An item
// has a type (eZorVerifType: note, error, alert, question, repaired,
// irreparable), the field number and the error code it concerns (0 when
// none), a comment, and any number of comment lines added after it. Items
// added before the first section belong to section 0, which has no title.
//
// The report also carries what the checker may do: the repair permission
// and a mode, a level that some checks read to allow deeper repairs (above
// 4, lost space of block files is reclaimed).
//
// Texts are code page 1252, copied into the report. The report owns
// everything it holds; it is used by one thread at a time.
#pragma once

#include <zorvane/form_args.h>
#include <zorvane/types.h>

namespace zorvane {

class string;

// Item types; their labels are entries of the catalogue list 121.
enum eZorVerifType : int32_t {
  kZorVerifNote = 1,
  kZorVerifError = 2,
  kZorVerifAlert = 3,
  kZorVerifAsk = 4,
  kZorVerifRepaired = 5,
  kZorVerifIrreparable = 6,
};

// One item as returned by ZorVerif::GetItem (the texts are read apart).
struct sZorVerifItem {
  eZorVerifType type;
  int32_t section;  // 0 before the first section
  int32_t field;
  int64_t err;
};

class ZOR_API ZorVerif {
 public:
  ZorVerif();
  ZorVerif(const ZorVerif&) = delete;
  ZorVerif& operator=(const ZorVerif&) = delete;
  ~ZorVerif();

  // Empties the report and sets what the checker may do.
  void Init(bool repair = false, int32_t mode = 0);
  void Trash();

  bool CanRepair() const { return _repair; }
  void SetRepair(bool repair) { _repair = repair; }
  int32_t GetMode() const { return _mode; }
  void SetMode(int32_t mode) { _mode = mode; }

  // ----------------------------------------------------------- filling
  // A new section, current until the next; returns its number (from 1).
  int32_t AddSection(const char* title);
  // The title is catalogue message (module, group, id) formatted with the
  // arguments (zorvane/format.h).
  template <class... A>
  int32_t AddSectionMsg(int32_t module, int32_t group, int32_t id, A... args) {
    return AddSectionMsgArgs(module, group, id, ZorFormArgs::Of(args...));
  }
  int32_t AddSectionMsgArgs(int32_t module, int32_t group, int32_t id, const ZorFormArgs& args);
  // An item of the current section; returns its number (from 1).
  int32_t AddItem(eZorVerifType type, const char* comment, int32_t field = 0, int64_t err = 0);
  template <class... A>
  int32_t AddItemMsg(eZorVerifType type, int32_t field, int64_t err, int32_t module, int32_t group, int32_t id,
                     A... args) {
    return AddItemMsgArgs(type, field, err, module, group, id, ZorFormArgs::Of(args...));
  }
  int32_t AddItemMsgArgs(eZorVerifType type, int32_t field, int64_t err, int32_t module, int32_t group, int32_t id,
                         const ZorFormArgs& args);
  // A comment line under the last item, or under the current section when
  // it has no item yet.
  void AddComment(const char* text);

  // ----------------------------------------------------------- reading
  int32_t GetNbSection() const;
  const char* GetSectionTitle(int32_t section, string* out) const;
  // Items of a type, or of every type with 0.
  int32_t GetNbItem(int32_t type = 0) const;
  // Items that are faults: errors, alerts, questions and irreparable ones.
  int32_t GetNbFault() const;
  bool GetItem(int32_t item, sZorVerifItem* out) const;
  const char* GetItemComment(int32_t item, string* out) const;
  // The comment lines under an item, or under a section's title, joined by
  // line feeds.
  const char* GetItemComments(int32_t item, string* out) const;
  const char* GetSectionComments(int32_t section, string* out) const;
  // The whole report for people: titles, then one line per item
  // "<type label>: <comment>", comment lines indented below it.
  const char* GetText(string* out) const;

 private:
  struct Impl;
  Impl* _impl;
  bool _repair = false;
  int32_t _mode = 0;
};

}  // namespace zorvane
