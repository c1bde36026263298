// The path tree: the components of every path of the process, shared.
//
// ZorPathTree owns an array of entries addressed by 1-based index; each holds
// its parent's index (0 for a root), a reference count and its name. The
// process has one tree (Process()), which ZorFsa uses; tests build their own.
// Every public member takes the tree's one mutex, so callers on any thread may
// use it; indexes stay valid while the caller holds a reference on them.
//
// Whether two names under one parent are the same component depends on the
// parent: a case rule, asked once per entry the first time a name is looked
// up below it, says whether its children compare with or without case (a
// directory of a case-sensitive file system, or of one that folds case).
// Roots always compare without case.
//
// The class is exported only so that tests can drive a private instance; it
// is not part of the public interface.
#pragma once

#include <zorvane/string.h>
#include <zorvane/types.h>

#include "platform/file_system.h"

#include <memory>
#include <string>
#include <string_view>

namespace zorvane {

class ZOR_API ZorPathTree {
 public:
  // The longest chain of components a path may have.
  static constexpr uint32_t kMaxDepth = 1024;

  using NameCase = platform::NameCase;
  // The case rule: how the children of the entry whose components, joined
  // by "/", are `path` compare their names. kUnknown: the entry names
  // nothing that exists; its children compare as its own name does among
  // its siblings, and so on below it without asking again. Called without
  // the tree's lock; it must not use the tree.
  using CaseRule = NameCase (*)(const std::string& path);

  // rule null: every name compares without case.
  explicit ZorPathTree(CaseRule rule = nullptr);
  ~ZorPathTree();
  ZorPathTree(const ZorPathTree&) = delete;
  ZorPathTree& operator=(const ZorPathTree&) = delete;

  // The process-wide tree, with the file system's case rule (defined beside
  // ZorFsa, which knows what the roots name); never destroyed, so that paths
  // held by static objects may be released at any point of the process exit.
  static ZorPathTree& Process();

  // Walks down from `parent` (0: among the roots) through `names`, finding
  // each component by its parent's case rule or adding it, and returns the
  // last entry with one reference taken for the caller (`parent` itself, with
  // one more reference, when n is 0). The caller holds a reference on
  // `parent`. Names are non-empty. Returns 0 when the chain would pass
  // kMaxDepth.
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
