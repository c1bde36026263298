// ZorFsa: a file path. This is a small stand-in that only remembers the
// path's text; the process-wide path tree replaces it, keeping these names.
//
// The object owns a copy of the text. GetPath fills the caller's string and
// returns its text, which stays valid until that string changes.
#pragma once

#include <zorvane/types.h>

#include <string>

namespace zorvane {

class string;

class ZOR_API ZorFsa {
 public:
  ZorFsa() = default;
  explicit ZorFsa(const char* path) { Init(path); }

  // Takes the text as it stands; a null or empty text leaves the path unset.
  void Init(const char* path);
  bool InitFromPath(const char* path);
  bool IsInit() const { return !_path.empty(); }

  // The path's text (every kind gives the same text here).
  const char* GetPath(int32_t kind, string* out) const;
  // The path's text without copying; "" when unset.
  const char* GetPathText() const { return _path.c_str(); }
  // The kind of medium: always 0 (local) until the path tree exists.
  int32_t GetPathMedia() const { return 0; }
  // Removes the root: the first component and its separator.
  void KillRoot();
  void Trash() { _path.clear(); }

 private:
  std::string _path;
};

}  // namespace zorvane
