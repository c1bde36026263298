// The stand-in path: a text and nothing more (see zorvane/fsa.h).
#include <zorvane/fsa.h>
#include <zorvane/string.h>

namespace zorvane {

void ZorFsa::Init(const char* path) { _path.assign(path ? path : ""); }

bool ZorFsa::InitFromPath(const char* path) {
  Init(path);
  return IsInit();
}

const char* ZorFsa::GetPath(int32_t kind, string* out) const {
  (void)kind;  // every form of the path is its text until the path tree exists
  return out->Assign(_path.c_str());
}

void ZorFsa::KillRoot() {
  const size_t sep = _path.find_first_of("/\\", 1);
  _path.erase(0, sep == std::string::npos ? _path.size() : sep + 1);
}

}  // namespace zorvane
