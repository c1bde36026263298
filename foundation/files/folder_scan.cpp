// ZorFsaScan: the entries of a directory tree, depth first, in a stable order
// (see zorvane/file_commands.h for the order itself).
//
// The scan keeps a stack of levels, one per directory being walked; a level
// holds the directory's entries read and sorted at once (files first, then
// directories), and the position of the next one. A directory is read when
// it is entered, so the memory used is the sum of the open levels. A
// directory already on the stack (a symbolic link back up the tree) is not
// entered again.
//
// Entries are skipped when a path could not name them faithfully: names that
// are not UTF-8 held by cp1252, names with a backslash or trailing spaces
// (the path tree reads both otherwise), and a name that equals an earlier one
// of the same directory but for case where the tree gives both one path (a
// directory that folds case; on a case-sensitive one both are listed).
#include <zorvane/file_commands.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"
#include "foundation/files/file_args.h"
#include "platform/env.h"

#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorFiles";

struct Item {
  string name;  // cp1252
  bool isDir = false;
  int64_t size = 0;
};

struct Level {
  ZorFsa dir;
  std::string rel;  // relative path of the directory, "" or ending with "/"
  dev_t dev = 0;
  ino_t ino = 0;
  std::vector<Item> items;
  size_t next = 0;
};

bool Before(const Item& a, const Item& b) {
  if (a.isDir != b.isDir) return !a.isDir;
  const int32_t c = ZorStrICmp(a.name.CStr(), b.name.CStr());
  return c != 0 ? c < 0 : ZorStrCmp(a.name.CStr(), b.name.CStr()) < 0;
}

bool UsableName(const char* utf8, bool hidden, string* name) {
  if (utf8[0] == '.' && (!hidden || !utf8[1] || (utf8[1] == '.' && !utf8[2]))) return false;
  string back;
  ZorDecodefromUTF8(utf8, name);
  if (!ZorStrEq(ZorEncodeToUTF8(name->CStr(), &back), utf8)) return false;
  return !ZorStrChr(name->CStr(), '\\') && name->CStr()[name->Len() - 1] != ' ';
}

// Drops the second of two neighbours whose names differ only in case when the
// path tree makes them one path (see the top of the file).
void DropCaseTwins(const ZorFsa& dir, std::vector<Item>* items) {
  auto twin = [&dir](const Item& a, const Item& b) {
    return a.isDir == b.isDir && ZorStrIEq(a.name.CStr(), b.name.CStr()) && dir / a.name == dir / b.name;
  };
  items->erase(std::unique(items->begin(), items->end(), twin), items->end());
}

// Reads and sorts a directory (symbolic links followed); 0 or the error
// that keeps it from being read.
int ReadLevel(Level* level, bool hidden) {
  string sys;
  platform::DirListing listing;
  if (const int err = platform::CurrentEnv().ListDir(level->dir.GetSysPath(&sys), true, &listing)) return err;
  level->dev = listing.device;
  level->ino = listing.inode;
  for (const platform::DirEntry& e : listing.entries) {
    Item item;
    if (!UsableName(e.name.c_str(), hidden, &item.name)) continue;
    if (!S_ISDIR(e.mode) && !S_ISREG(e.mode)) continue;
    item.isDir = S_ISDIR(e.mode);
    item.size = item.isDir ? 0 : static_cast<int64_t>(e.size);
    level->items.push_back(std::move(item));
  }
  std::sort(level->items.begin(), level->items.end(), Before);
  DropCaseTwins(level->dir, &level->items);
  return 0;
}

}  // namespace

struct ZorFsaScan::State {
  uint32_t flags = 0;
  std::vector<Level> stack;
  Item current;
  std::string currentRel;

  bool OnStack(dev_t dev, ino_t ino) const {
    for (const Level& l : stack)
      if (l.dev == dev && l.ino == ino) return true;
    return false;
  }

  // Enters a sub-directory; false when it is unreadable or already open.
  void Enter(const ZorFsa& dir, const std::string& rel) {
    Level level;
    level.dir = dir;
    level.rel = rel + "/";
    if (ReadLevel(&level, flags & ZorFsaScanHidden) != 0 || OnStack(level.dev, level.ino)) return;
    stack.push_back(std::move(level));
  }
};

ZorFsaScan::ZorFsaScan() = default;
ZorFsaScan::~ZorFsaScan() = default;

void ZorFsaScan::Init(const ZorFsa* dir, uint32_t flags) {
  auto s = std::make_unique<State>();
  s->flags = flags;
  Level root;
  root.dir = files::RequirePath(dir, kSource, __LINE__, "ZorFsaScan::Init(dir)");
  if (const int err = ReadLevel(&root, flags & ZorFsaScanHidden)) ZorRaiseErrno(kSource, err, dir);
  s->stack.push_back(std::move(root));
  _state = std::move(s);
}

bool ZorFsaScan::IsInit() const { return _state != nullptr; }

void ZorFsaScan::Trash() { _state.reset(); }

bool ZorFsaScan::Next(ZorFsa* path) {
  files::NonNull(path, kSource, __LINE__, "ZorFsaScan::Next(path)");
  if (!_state) return false;
  State& s = *_state;
  while (!s.stack.empty()) {
    Level& top = s.stack.back();
    if (top.next == top.items.size()) {
      s.stack.pop_back();
      continue;
    }
    s.current = top.items[top.next++];
    s.currentRel = top.rel + s.current.name.CStr();
    *path = top.dir / s.current.name;
    if (s.current.isDir && (s.flags & ZorFsaScanRecurse)) s.Enter(*path, s.currentRel);  // may move `top`
    if (!s.current.isDir || (s.flags & ZorFsaScanDirs)) return true;
  }
  return false;
}

bool ZorFsaScan::IsDir() const { return _state && _state->current.isDir; }

int64_t ZorFsaScan::GetSize() const { return _state ? _state->current.size : 0; }

const char* ZorFsaScan::GetRelPath(string* dst) const {
  files::NonNull(dst, kSource, __LINE__, "ZorFsaScan::GetRelPath(dst)");
  return dst->Assign(_state ? _state->currentRel.c_str() : "");
}

}  // namespace zorvane
