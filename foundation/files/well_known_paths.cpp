// Well-known paths: the registry of code -> (path, public name) behind
// ZorFsa::KRegister, InitFromKFsa and the "!Cst!" texts.
//
// The registry has its own small lock. Code 115, the standard log, is built
// in: $ZORVANE_LOG when set, else $XDG_STATE_HOME/zorvane/zorvane.log, else
// $HOME/.local/state/zorvane/zorvane.log, else the temporary directory; it
// is resolved once and cached until S_KClearCache. Lock order: registry, then
// tree; nothing raises while the registry lock is held.
#include <zorvane/path.h>
#include <zorvane/string.h>

#include "foundation/files/file_args.h"
#include "foundation/files/well_known_paths.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorFsa";
constexpr const char* kConstMarker = "!Cst!";

struct Registration {
  ZorFsa path;
  std::string pubName;
  bool builtIn = false;
};

struct Registry {
  std::mutex mutex;
  std::map<int32_t, Registration> byCode;
};

Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

std::string DefaultPubName(int32_t code) { return std::string(kConstMarker) + std::to_string(code); }

bool AbsoluteEnv(const char* name, std::string* dst) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return false;
  dst->assign(value);
  return true;
}

// The text of the standard log's path.
std::string StdLogText() {
  std::string text;
  if (const char* forced = std::getenv("ZORVANE_LOG"); forced && forced[0]) return forced;
  if (AbsoluteEnv("XDG_STATE_HOME", &text)) return text + "/zorvane/zorvane.log";
  if (AbsoluteEnv("HOME", &text)) return text + "/.local/state/zorvane/zorvane.log";
  if (!AbsoluteEnv("TMPDIR", &text)) text = "/tmp";
  return text + "/zorvane.log";
}

// Finds a code's registration, resolving the built-in ones; the caller holds
// the registry lock. Null for an unknown code.
const Registration* Lookup(Registry& reg, int32_t code) {
  auto it = reg.byCode.find(code);
  if (it != reg.byCode.end()) return &it->second;
  if (code != ZorKFsaStdLog) return nullptr;
  // A constant text would come back here under the registry lock.
  const std::string text = StdLogText();
  if (ZorStrIEqN(text.c_str(), kConstMarker, 5)) return nullptr;
  Registration r;
  if (!r.path.InitFromSysPath(text.c_str(), true)) return nullptr;
  r.pubName = DefaultPubName(code);
  r.builtIn = true;
  return &reg.byCode.emplace(code, std::move(r)).first->second;
}

// The code named by the head of a "!Cst!" text: a number or a public name.
bool CodeOfConstName(Registry& reg, std::string_view head, int32_t* code) {
  if (!head.empty() && head.size() < 10 && head.find_first_not_of("0123456789") == std::string_view::npos) {
    *code = static_cast<int32_t>(std::stoi(std::string(head)));
    return true;
  }
  const std::string full = std::string(kConstMarker) + std::string(head);
  for (const auto& [c, r] : reg.byCode) {
    if (ZorStrIEq(r.pubName.c_str(), full.c_str()) || ZorStrIEq(r.pubName.c_str(), std::string(head).c_str())) {
      *code = c;
      return true;
    }
  }
  return false;
}

}  // namespace

bool files::WellKnownBase(std::string_view head, ZorFsa* base) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  int32_t code = 0;
  const Registration* r = CodeOfConstName(reg, head, &code) ? Lookup(reg, code) : nullptr;
  if (r) *base = r->path;
  return r != nullptr;
}

bool ZorFsa::InitFromKFsa(int32_t code, const char* name) {
  Registry& reg = TheRegistry();
  ZorFsa base;
  {
    std::lock_guard<std::mutex> lock(reg.mutex);
    const Registration* r = Lookup(reg, code);
    if (r) base = r->path;
  }
  if (!base.IsInit()) return false;
  if (name && name[0]) {
    InitFromParent(&base, name);
  } else {
    *this = std::move(base);
  }
  return true;
}


void ZorFsa::KRegister(int32_t code, const ZorFsa* path, const char* pubName) {
  Registration r;
  if (path) r.path = *path;
  r.pubName = pubName && pubName[0] ? pubName : DefaultPubName(code);
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  reg.byCode.insert_or_assign(code, std::move(r));
}

bool ZorFsa::KUnRegister(int32_t code) {
  Registration removed;
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.byCode.find(code);
  if (it == reg.byCode.end() || it->second.builtIn) return false;
  removed = std::move(it->second);
  reg.byCode.erase(it);
  return true;
}

bool ZorFsa::KExiste(int32_t code) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  return Lookup(reg, code) != nullptr;
}

const char* ZorFsa::KGetPubName(int32_t code, string* dst) {
  files::NonNull(dst, kSource, __LINE__, "ZorFsa::KGetPubName(dst)");
  std::string name;
  {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const Registration* r = Lookup(reg, code);
    if (r) name = r->pubName;
  }
  return dst->Assign(name.c_str());
}

void ZorFsa::S_KClearCache() {
  std::vector<Registration> dropped;
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  for (auto it = reg.byCode.begin(); it != reg.byCode.end();) {
    if (it->second.builtIn) {
      dropped.push_back(std::move(it->second));
      it = reg.byCode.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace zorvane
