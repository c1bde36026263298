// What a module tells about itself beyond its record: version, language,
// dependencies, whether a file is a module; and the library's own entry
// point.
//
// - A module describes itself in its description resource (ZorRsrcModuleDesc,
//   id 1): an option string (zorvane/format.h) whose keys are the names of
//   its name types:
//     -Version='2.5.1' -PubName='Compta generale' -DevName='Compta' -CId=compta
//     -PubComment='...' -DevComment='...' -Trigger='...'
//   Every key is optional. A module without a public, developer or C name
//   of its own is known by its registered (file) name under those types.
// - Versions are "major.minor.patch", numbered major << 16 | minor << 8 |
//   patch: the library's is ZOR_VERSION, another module's the Version of its
//   description (0 and "" without one).
// - A module has no language of its own until one is set (ZorSetModuleLang);
//   its language pack is the sub-directory "<lang>" of its directory.
// - The dependency list is resource (ZorRsrcDepList, ZorRsrcIdDepList) of
//   the module: int32 module ids, little-endian.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "resources/module_loader.h"
#include <zorvane/block_array.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/path.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>

#ifndef ZOR_VERSION
#define ZOR_VERSION "0.0.0"
#endif

namespace zorvane {

namespace {

struct Languages {
  std::mutex mutex;
  std::map<int32_t, int32_t> byModule;
};

Languages& TheLanguages() {
  static Languages* const langs = new Languages;
  return *langs;
}

uint32_t VersionNumber(const char* text) {
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(text, "%u.%u.%u", &major, &minor, &patch);
  return (major & 0xFFFF) << 16 | (minor & 0xFF) << 8 | (patch & 0xFF);
}

constexpr int32_t kDescId = 1;
constexpr char kSource[] = "ZorModules";

// The key of a name type in the module description; null for none.
const char* DescKey(eZorNameType type) {
  switch (type) {
    case ZorNamePublic: return "PubName";
    case ZorNameDev: return "DevName";
    case ZorNameCId: return "CId";
    case ZorNameVersion: return "Version";
    case ZorNamePubComment: return "PubComment";
    case ZorNameDevComment: return "DevComment";
    case ZorNameTrigger: return "Trigger";
    default: return nullptr;
  }
}

// The value of `key` in the description of a registered module ("" when
// the module, its description or the key is missing).
const char* DescValue(int32_t id, const char* key, string* out) {
  out->Clear();
  if (!key || !ZorIsModulePresent(id)) return out->CStr();
  const std::string desc = modules::DescBytes(id, ZorRsrcModuleDesc, kDescId);
  ZorGetStrOpt(desc.c_str(), key, out);
  return out->CStr();
}

bool IsNameOfModule(eZorNameType type) {
  return type == ZorNamePublic || type == ZorNameDev || type == ZorNameCId;
}

}  // namespace

uint32_t ZorGetModuleVersion(int32_t id, string* out) {
  string text;
  if (id == ZorKernelModuleId)
    text = ZOR_VERSION;
  else
    DescValue(id, DescKey(ZorNameVersion), &text);
  const uint32_t number = VersionNumber(text.CStr());
  if (out) *out = std::move(text);
  return number;
}

const char* ZorGetModuleName(int32_t id, eZorNameType type, string* out) {
  ZorNotNull(out, kSource);
  sZorModuleInfo info;
  if (!ZorGetModuleInfo(id, &info)) return out->Clear();
  if (type == ZorNameModule) return out->Assign(info.name);
  if (type == ZorNameVersion) {
    ZorGetModuleVersion(id, out);
    return out->CStr();
  }
  if (DescValue(id, DescKey(type), out)[0] || !IsNameOfModule(type)) return out->CStr();
  return out->Assign(info.name);
}

int32_t ZorGetModuleLang(int32_t id, bool) {
  Languages& langs = TheLanguages();
  std::lock_guard<std::mutex> lock(langs.mutex);
  const auto it = langs.byModule.find(id);
  return it == langs.byModule.end() ? -1 : it->second;
}

void ZorSetModuleLang(int32_t id, int32_t lang) {
  Languages& langs = TheLanguages();
  std::lock_guard<std::mutex> lock(langs.mutex);
  if (lang < 0)
    langs.byModule.erase(id);
  else
    langs.byModule[id] = lang;
}

bool ZorGetLangPackFsa(int32_t module, int32_t lang, ZorFsa* out) {
  ZorNotNull(out, kSource);
  ZorFsa dir;
  if (lang < 0 || !ZorGetModuleFsa(module, &dir)) return false;
  out->InitFromParent(&dir, std::to_string(lang).c_str());
  return true;
}

int32_t ZorGetDepIds(int32_t id, ZorBGet* out, bool recursive) {
  ZorNotNull(out, kSource);
  out->Reset(0, sizeof(int32_t));
  std::vector<int32_t> seen;
  std::vector<int32_t> pending{id};
  for (size_t next = 0; next < pending.size(); ++next) {
    for (int32_t dep : modules::DescInts(pending[next], ZorRsrcDepList, ZorRsrcIdDepList)) {
      if (dep == id || std::find(seen.begin(), seen.end(), dep) != seen.end()) continue;
      seen.push_back(dep);
      if (recursive) pending.push_back(dep);
    }
  }
  for (int32_t dep : seen) out->Ins(0, &dep);
  return static_cast<int32_t>(seen.size());
}

bool ZorIsZorModule(const char* file) {
  if (!file || !file[0]) return false;
  platform::Env& env = platform::CurrentEnv();
  void* instance = nullptr;
  if (env.LoadLibrary(file, RTLD_LAZY | RTLD_LOCAL, &instance, nullptr) != 0) return false;
  const bool found = modules::OwnSymbol(instance, ZOR_MODULE_ENTRY_NAME) != nullptr;
  env.UnloadLibrary(instance);
  return found;
}

}  // namespace zorvane

// The library's own entry point, as every module library has one.
extern "C" ZOR_API zorvane::ZorModule* ZorGetModuleObject() { return zorvane::ZorGetKernelModule(); }
