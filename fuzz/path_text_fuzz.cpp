// Fuzzes InitFromPath on arbitrary text: every form of an accepted path must
// be readable, its internal form must name the same entry again, a refusal
// must carry (1, 15) or (1, 38), and no entry of the tree may outlive the
// paths that held it.
#include <zorvane/zorvane.h>

#include "foundation/files/path_tree.h"

#include <cstdlib>
#include <string>

using namespace zorvane;

namespace {

void Check(const char* text) {
  ZorFsa path;
  try {
    path.InitFromPath(text);
  } catch (const ZorEBasic& e) {
    if (e.GetError() != ZorErr(1, 15) && e.GetError() != ZorErr(1, 38)) std::abort();
    return;
  }
  string s;
  for (int32_t kind = 0; kind <= 3; ++kind) path.GetPath(kind, &s);
  path.GetSysPath(&s);
  for (int32_t kind = 0; kind <= 2; ++kind) path.GetName(&s, kind);
  path.GetPathMedia();
  path.IsVirtual();
  ZorFsa again;
  if (!again.InitFromPath(path.GetPath(ZorFsaPathInternal, &s), true) || again != path) std::abort();
  ZorFsa parent;
  if (parent.InitFromChild(&path) != !path.IsRoot()) std::abort();
  if (parent.IsInit() && !parent.IsParent(&path)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL below
  static const bool warm = ZorFsa::KExiste(ZorKFsaStdLog);  // the cached standard log stays held
  (void)warm;
  const uint32_t before = ZorPathTree::Process().LiveCount();
  Check(text.c_str());
  if (ZorPathTree::Process().LiveCount() != before) std::abort();
  return 0;
}
