// The stand-in path: a text and nothing more (see zorvane/fsa.h).
#include <zorvane/fsa.h>

namespace zorvane {

void ZorFsa::Init(const char* path) { _path.assign(path ? path : ""); }

bool ZorFsa::InitFromPath(const char* path) {
  Init(path);
  return IsInit();
}

void ZorFsa::KillRoot() {
  const size_t sep = _path.find_first_of("/\\", 1);
  _path.erase(0, sep == std::string::npos ? _path.size() : sep + 1);
}

}  // namespace zorvane
