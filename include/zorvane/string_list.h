// String lists: the resources (type 4) that hold a module's numbered
// messages, and the look-ups over them.
//
// A string list is a cell container (<zorvane/cell_container.h>):
//   (1, 1, 1)  long: the group number       (1, 2, 1)  text: the category
//   (1, 3, 1)  text: the description
//   (2, n, 0)  long: flags of message n (1)  (2, n, 1)  text: message n
//   (2, n, 2)  text: its second text         (2, n, 3)  text: its symbolic name
//   (2, n, 6)  text: a comment
//   (0, 0, 0)  the direct index: a 32-bit count c (the highest message
//              number), c 32-bit offsets (message i's at byte 4 * i), and
//              the NUL-terminated texts they point to, offsets counted from
//              the start of this cell's data. Numbers inside 1..c without a
//              message point to the list's text for "undefined".
// Message texts are read through the index; "defined" and the symbolic
// names through the cells.
#pragma once

#include <zorvane/handle.h>
#include <zorvane/types.h>

#include <memory>

namespace zorvane {

class string;

// One string list read for look-ups. Init copies (and unpacks) the bytes
// and decodes the index once; every text returned points into the object
// and lives as long as it. Const look-ups may run on several threads.
class ZOR_API ZorStringList {
 public:
  ZorStringList();
  ~ZorStringList();
  ZorStringList(const ZorStringList&) = delete;
  ZorStringList& operator=(const ZorStringList&) = delete;

  // False when the bytes hold no usable index (the list then answers as an
  // empty one). Bytes that are a packed envelope are unpacked first.
  bool Init(const ZorHandle* h);
  bool Init(const void* data, uint32_t size);

  // The index's count (the highest message number), 0 when none.
  int32_t GetCount() const;
  // The index's text of message id; null when id is outside 1..count or
  // its entry does not point at a NUL-terminated text inside the index.
  const char* GetText(int32_t id) const;
  // Whether the list has a message id (cells of kind 2 on its line).
  bool IsDefined(int32_t id) const;
  // The symbolic name of message id, "" when none.
  const char* GetSymbol(int32_t id) const;
  int32_t GetGroup() const;

 private:
  struct State;
  std::unique_ptr<State> _s;
};

// Every message of a list, in number order: `visit` receives the number,
// the text, the symbolic name ("" when none) and may stop the walk by
// returning false. Returns the number of messages visited; 0 when the list
// does not exist. (ZorGetStringList, the list-table form, is in
// zorvane/list_table.h.)
using ZorStringVisitor = bool (*)(void* context, int32_t id, const char* text, const char* symbol);
ZOR_API int32_t ZorForEachString(int32_t module, int32_t group, ZorStringVisitor visit, void* context);

}  // namespace zorvane
