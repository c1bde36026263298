// The path tree: the components of every path of the process, shared.
//
// ZorPathTree owns an array of entries addressed by 1-based index; each holds
// its parent's index (0 for a root), a reference count and its name. The
// process has one tree (Process()), which ZorFsa uses; tests build their own.
// Every public member takes the tree's one mutex, so callers on any thread may
// use it; indexes stay valid while the caller holds a reference on them.
//
// The class is exported only so that tests can drive a private instance; it
// is not part of the public interface.
#pragma once

#include <zorvane/string.h>
#include <zorvane/types.h>

#include <memory>
#include <string>
#include <string_view>

namespace zorvane {

class ZOR_API ZorPathTree {
 public:
  // The longest chain of components a path may have.
  static constexpr uint32_t kMaxDepth = 1024;

  ZorPathTree();
  ~ZorPathTree();
  ZorPathTree(const ZorPathTree&) = delete;
  ZorPathTree& operator=(const ZorPathTree&) = delete;

  // The process-wide tree; never destroyed, so that paths held by static
  // objects may be released at any point of the process exit.
  static ZorPathTree& Process();

  // Walks down from `parent` (0: among the roots) through `names`, finding
  // each component case-insensitively or adding it, and returns the last
  // entry with one reference taken for the caller (`parent` itself, with one
  // more reference, when n is 0). The caller holds a reference on `parent`.
  // Names are non-empty. Returns 0 when the chain would pass kMaxDepth.
  int32_t Acquire(int32_t parent, const std::string_view* names, size_t n);
  // One more reference on a live entry.
  void AddRef(int32_t index);
  // Drops one reference; an entry that reaches 0 frees its slot and drops the
  // reference it held on its parent, and so on up the chain.
  void Release(int32_t index);

  // Reading a live entry the caller holds.
  int32_t Parent(int32_t index) const;
  int32_t Root(int32_t index) const;
  uint32_t Depth(int32_t index) const;  // 1 for a root
  // Appends the components from the root down, joined by "/".
  void AppendPath(int32_t index, std::string* dst) const;
  const char* Name(int32_t index, string* dst) const;
  // True when `ancestor` is a parent, grand-parent ... of `index`.
  bool IsAncestor(int32_t ancestor, int32_t index) const;

  // Book-keeping, for tests and diagnostics.
  uint32_t Size() const;       // length of the entry array, free slots included
  uint32_t LiveCount() const;  // entries with a reference
  int32_t RefCount(int32_t index) const;

 private:
  struct State;
  std::unique_ptr<State> _state;
};

}  // namespace zorvane
