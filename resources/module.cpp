// The module registry and the base module object.
//
// A module's library file is <modules root>/<name>/<name>.so: the modules
// root is the well-known path ZorKFsaModules (code 2) or, when it is not
// registered, the directory named by ZORVANE_MODULES, else the directory of
// libzorvane.so; <root>/<name> is the module's directory.
//
// Invariants:
// - the registry holds at most one record per id, sorted by id ascending
//   (ZorBGet, key: the int32 at offset 0); the kernel (id 1, "zorvane") is
//   registered from the start with its own instance and object;
// - the type map holds sZorMType items sorted by (key1, key2, module);
// - a record's instance, once set, is never closed (modules stay loaded);
//   its object, once obtained, is kept;
// - one recursive mutex guards the registry and the application globals;
//   module code (entry points, constructors run by dlopen) may call back into
//   the registry from the same thread. Call-backs of ZorSendModuleMessage
//   and ZorInitPlugins run outside the lock.
// - nothing here raises: a module that cannot be had is a null module.
#include <dlfcn.h>

#include <atomic>
#include <exception>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/ticks.h"
#include "resources/module_loader.h"
#include <zorvane/block_array.h>
#include <zorvane/exception.h>
#include <zorvane/path.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>

namespace zorvane {

// ------------------------------------------------------------------ ZorModule

void* ZorModule::Lock(ZorLock* guard) {
  std::atomic_ref<int32_t>(_lockCount).fetch_add(1);
  std::atomic_ref<uint32_t>(_lastUse).store(platform::TickCount());
  if (guard) guard->Init(this);
  return this;
}

void ZorModule::Unlock() {
  std::atomic_ref<int32_t> count(_lockCount);
  int32_t n = count.load();
  while (n > 0 && !count.compare_exchange_weak(n, n - 1)) {
  }
}

bool ZorModule::IsLocked() const { return GetLockCount() > 0; }
int32_t ZorModule::GetLockCount() const { return std::atomic_ref<int32_t>(const_cast<int32_t&>(_lockCount)).load(); }
uint32_t ZorModule::GetLastUse() const { return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(_lastUse)).load(); }

iZorInterface* ZorModule::QueryInterface(int32_t) { return nullptr; }
int32_t ZorModule::HandleMessage(int32_t, int32_t, int32_t, int64_t, const char*, ZorHandle*) { return 0; }
int32_t ZorModule::HandleTask(eZorTaskSel, int32_t, int32_t, int64_t, const char*, void*) { return 0; }
int32_t ZorModule::HandleUtil(eZorUtilAction, int64_t, bool) { return 0; }
int32_t ZorModule::HandlePref(eZorPrefAction, int64_t, bool) { return 0; }
int32_t ZorModule::HandleHotSpot(int64_t, ZorHandle*) { return 0; }
int32_t ZorModule::ExeHotSpotStr(eZorHotSpotExe, int64_t, const char*, const ZorHotSpot*, void*, void*) { return 0; }
int32_t ZorModule::HandleBoard(int32_t, int32_t, int32_t, int64_t) { return 0; }
int32_t ZorModule::HandleTts(int32_t, eZorTtsAction, void*, void*, void*, void*) { return 0; }
int32_t ZorModule::HandleSQL(int32_t, int32_t, void*, void*, void*, void*) { return 0; }
void ZorModule::GetDutList(ZorTable*, uint32_t) {}
void ZorModule::RunDut(int32_t, uint32_t, ZorVerif*, int64_t, ZorTable*, ZorDBase*) {}
bool ZorModule::ExeScpFn(ZorScRun*, int32_t, int32_t, int32_t) { return false; }
int32_t ZorModule::ScpCmd(eZorScpCmd, int32_t, int32_t, int64_t, const char*, ZorHandle*) { return 0; }
void ZorModule::PatchTableDesc(ZorTableDesc*, uint32_t) {}
ZorWsHandler* ZorModule::GetWorkSpaceHandler(int64_t) { return nullptr; }
ZorQstHdr* ZorModule::CreateQst(int64_t) { return nullptr; }
int32_t ZorModule::HandleEda(eZorEdaSel, int32_t, int64_t, const char*, ZorHandle*, int32_t, int64_t) { return 0; }
int32_t ZorModule::HandleLCom(int32_t, ZorHandle*, ZorHandle*, IUnknown*, int32_t*) { return 0; }
int32_t ZorModule::PermGetTypeList(ZorTable*) { return 0; }
int32_t ZorModule::PermHandler(int32_t, eZorAdmPhSel, int64_t, int32_t, const char*, void*, void*, void*, void*) {
  return 0;
}
void ZorModule::HandleWruTrig(int32_t, eZorWruTrigh, ZorWs*, void*, void*, void*, void*) {}
void ZorModule::HandleWruAction(int32_t, eZorWruAch, ZorWs*, void*, void*, void*, void*) {}
void ZorModule::HandleWruIntf(int32_t, eZorWruIntfh, ZorWsWru*, void*, void*, void*, void*) {}
ZorEditHandler* ZorModule::GetInputMaskHandler(int32_t, string*) { return nullptr; }
int32_t ZorModule::HandleNvt(eZorNvtMhAction, const char*, void*, void*, void*, void*) { return 0; }

namespace {

// The kernel's own module object: it serves nothing of its own yet.
class KernelModule final : public ZorModule {};

KernelModule& Kernel() {
  static KernelModule* const kernel = new KernelModule;  // outlives every module
  return *kernel;
}

constexpr char kKernelName[] = "zorvane";
constexpr char kSource[] = "ZorModules";
constexpr char kLibExt[] = ".so";

struct Registry {
  std::recursive_mutex mutex;
  ZorBGet records{0, sizeof(sZorModuleInfo)};
  ZorBGet types{0, sizeof(sZorMType)};
  int32_t appId = 0;
  void* appInstance = nullptr;
  ZorModule* appObject = nullptr;

  Registry() {
    records.Init();
    types.Init();
    sZorModuleInfo kernel;
    kernel.id = ZorKernelModuleId;
    std::memcpy(kernel.name, kKernelName, sizeof kKernelName);
    kernel.instance = modules::KernelInstance();
    kernel.object = &Kernel();
    records.Ins(0, &kernel);
    Kernel()._setModuleId(ZorKernelModuleId);
    Kernel()._setInstance(kernel.instance);
  }
};

// Leaked on purpose: loaded modules may use it until the process ends.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

using Guard = std::lock_guard<std::recursive_mutex>;

// The record of id (caller holds the lock); null when absent. Valid until
// the next insertion.
sZorModuleInfo* Record(Registry& reg, int32_t id) {
  const int32_t i = reg.records.Dico(kZorPhysTypeLong, 0, &id);
  return i > 0 ? static_cast<sZorModuleInfo*>(reg.records[i]) : nullptr;
}

// <modules root>/<name>/<name>.so in the system's form.
bool LibraryPath(const char* name, string* out) {
  ZorFsa dir;
  if (!name || !name[0]) return false;
  if (!ZorGetModulesRoot(&dir)) return false;
  std::string file(name);
  file += kLibExt;
  (dir / name / file.c_str()).GetSysPath(out);
  return true;
}

void DebugLine(const char* what, const char* detail) {
  std::string line(what);
  line += ": ";
  line += detail ? detail : "";
  ZorDebugPrintStr(line.c_str(), true);
}

// dlopen of the module's library; null (reason on the debug channel) on
// failure.
void* LoadLibrary(const char* name) {
  string path;
  try {
    if (!LibraryPath(name, &path)) return nullptr;
  } catch (const std::exception&) {  // a name that makes no path
    DebugLine("ZorGetModule", name);
    return nullptr;
  }
  void* instance = nullptr;
  std::string why;
  if (platform::CurrentEnv().LoadLibrary(path.CStr(), RTLD_NOW | RTLD_LOCAL, &instance, &why) != 0)
    DebugLine("ZorGetModule", why.c_str());
  return instance;
}

// The instance of record id, loading it when asked (caller holds the lock).
void* RecordInstance(Registry& reg, int32_t id, bool load) {
  sZorModuleInfo* rec = Record(reg, id);
  if (!rec) return nullptr;
  if (!rec->instance && load && rec->name[0]) {
    const std::string name(rec->name);
    void* instance = LoadLibrary(name.c_str());
    rec = Record(reg, id);  // the library's constructors may have registered modules
    if (rec && !rec->instance) rec->instance = instance;
  }
  return rec ? rec->instance : nullptr;
}

// The module object of id: from the globals, the record, or the library's
// entry point (loaded only with `load`). Null when none.
ZorModule* FindObject(int32_t id, bool load) {
  if (id == ZorKernelModuleId) return ZorGetKernelModule();
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  if (!Record(reg, id)) return nullptr;
  if (id == reg.appId && reg.appObject) return reg.appObject;
  if (ZorModule* known = Record(reg, id)->object) return known;
  void* instance = RecordInstance(reg, id, load);
  if (!instance) return nullptr;
  auto entry = reinterpret_cast<ZorGetModuleObjectFn>(modules::OwnSymbol(instance, ZOR_MODULE_ENTRY_NAME));
  if (!entry) {
    DebugLine("ZorGetModule: no " ZOR_MODULE_ENTRY_NAME " of its own", modules::InstancePath(instance).c_str());
    return nullptr;
  }
  ZorModule* object = entry();
  sZorModuleInfo* rec = Record(reg, id);
  if (!object || !rec) return nullptr;
  object->_setModuleId(id);
  object->_setInstance(instance);
  rec->object = object;
  return object;
}

ZorModule* LockOut(ZorModule* object, ZorLock* guard) {
  if (object) object->Lock(guard);
  return object;
}

int32_t CompareTypes(const void* a, const void* b, int32_t) {
  const auto* x = static_cast<const sZorMType*>(a);
  const auto* y = static_cast<const sZorMType*>(b);
  if (x->key1 != y->key1) return x->key1 < y->key1 ? -1 : 1;
  if (x->key2 != y->key2) return x->key2 < y->key2 ? -1 : 1;
  if (x->module != y->module) return x->module < y->module ? -1 : 1;
  return 0;
}

// Enters the module's type list into the type map (caller holds the lock).
void LoadTypes(Registry& reg, int32_t id) {
  const std::vector<int32_t> keys = modules::DescInts(id, ZorRsrcMTypeList, ZorRsrcIdTypeList);
  for (size_t i = 0; i + 1 < keys.size(); i += 2) {
    const sZorMType entry{keys[i], keys[i + 1], id};
    const int32_t at = reg.types.DicoEx(
        [](const void* item, const void* key, int32_t len) { return -CompareTypes(item, key, len); }, &entry, 0);
    if (at < 0) reg.types.Ins(-at, &entry);
  }
}

}  // namespace

// ------------------------------------------------------------------ registry

void ZorRegisterModule(ZorModule* object, sZorModuleInfo* info, bool loadTypes) {
  if (!info) return;
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  sZorModuleInfo entry = *info;
  entry.name[sizeof entry.name - 1] = 0;
  if (!entry.object) entry.object = object;
  sZorModuleInfo* rec = Record(reg, entry.id);
  if (rec) {
    if (entry.instance) rec->instance = entry.instance;
    if (entry.object) rec->object = entry.object;
  } else {
    const int32_t at = reg.records.Dico(kZorPhysTypeLong, 0, &entry.id);
    reg.records.Ins(-at, &entry);
    if (loadTypes) LoadTypes(reg, entry.id);
  }
  rec = Record(reg, entry.id);
  if (object && rec) {
    object->_setModuleId(entry.id);
    object->_setInstance(rec->instance);
  }
}

ZorModule* ZorGetModule(int32_t id, ZorLock* guard) { return LockOut(FindObject(id, true), guard); }

ZorModule* ZorGetKernelModule() {
  TheRegistry();
  return &Kernel();
}

bool ZorIsModulePresent(int32_t id) {
  if (id == 0) return false;
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  return Record(reg, id) != nullptr;
}

bool ZorGetModuleInfo(int32_t id, sZorModuleInfo* out) {
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  const sZorModuleInfo* rec = Record(reg, id);
  if (rec && out) *out = *rec;
  return rec != nullptr;
}

int32_t ZorGetModuleIds(ZorBGet* out) {
  ZorNotNull(out, kSource);
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  out->Reset(0, sizeof(int32_t));
  const int32_t n = reg.records.GetNbItem();
  for (int32_t i = 1; i <= n; ++i) out->Ins(0, &static_cast<sZorModuleInfo*>(reg.records[i])->id);
  return n;
}

void ZorSetAppModule(int32_t id, void* instance, ZorModule* object) {
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  reg.appId = id;
  reg.appInstance = instance;
  reg.appObject = object;
  if (object) {
    object->_setModuleId(id);
    object->_setInstance(instance);
  }
}

int32_t ZorGetAppModuleId() {
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  return reg.appId;
}

void* ZorGetModuleInstance(int32_t id, bool load) {
  Registry& reg = TheRegistry();
  if (id == ZorKernelModuleId) return modules::KernelInstance();
  Guard lock(reg.mutex);
  if (id == reg.appId && reg.appInstance) return reg.appInstance;
  return RecordInstance(reg, id, load);
}

void* ZorGetRsrcInstance(int32_t moduleId, bool load) { return ZorGetModuleInstance(moduleId, load); }

int32_t ZorFindMTypes(int32_t id, ZorBGet* out) {
  ZorNotNull(out, kSource);
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  out->Reset(0, sizeof(sZorMType));
  const int32_t n = reg.types.GetNbItem();
  for (int32_t i = 1; i <= n; ++i) {
    const auto* entry = static_cast<const sZorMType*>(reg.types[i]);
    if (id == 0 || entry->module == id) out->Ins(0, entry);
  }
  return out->GetNbItem();
}

int32_t ZorSendModuleMessage(int32_t id, int32_t msg, uint32_t flags, int32_t p1, int32_t p2, int64_t p3,
                             const char* text, ZorHandle* h) {
  ZorLock guard;
  ZorModule* module = LockOut(FindObject(id, (flags & ZorSendLoad) != 0), &guard);
  return module ? module->HandleMessage(msg, p1, p2, p3, text, h) : 0;
}

void ZorInitPlugins(bool start) {
  std::vector<int32_t> plugins;
  {
    Registry& reg = TheRegistry();
    Guard lock(reg.mutex);
    const int32_t n = reg.records.GetNbItem();
    for (int32_t i = 1; i <= n; ++i) {
      const auto* rec = static_cast<const sZorModuleInfo*>(reg.records[i]);
      if (rec->flags & ZorModuleFlagPlugIn) plugins.push_back(rec->id);
    }
  }
  for (int32_t id : plugins) {
    if (start) {
      if (!ZorGetModule(id, nullptr)) continue;  // stays locked until stopped
      ZorSendModuleMessage(id, ZorModuleMsgPlugIn, ZorSendLoad, 0, 0, 0, nullptr, nullptr);
    } else if (ZorModule* module = FindObject(id, false)) {
      ZorSendModuleMessage(id, ZorModuleMsgPlugIn, ZorSendLoad, ZorModuleMsgStop, 0, 0, nullptr, nullptr);
      module->Unlock();
    }
  }
}

void ZorFreeUnusedModules() {}

// ------------------------------------------------------------------ names and places

bool ZorGetModulesRoot(ZorFsa* out) {
  ZorNotNull(out, kSource);
  if (out->InitFromKFsa(ZorKFsaModules)) return true;
  const char* env = std::getenv("ZORVANE_MODULES");
  std::string dir = env && env[0] ? env : modules::KernelPath();
  if (!(env && env[0])) {
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return false;
    dir.resize(slash == 0 ? 1 : slash);
  }
  return out->InitFromSysPath(dir.c_str(), true);
}

bool ZorGetModuleFsa(int32_t id, ZorFsa* out) {
  ZorNotNull(out, kSource);
  string name;
  if (!ZorGetModuleName(id, ZorNameModule, &name)[0]) return false;
  ZorFsa root;
  if (!ZorGetModulesRoot(&root)) return false;
  out->InitFromParent(&root, name.CStr());
  return true;
}

int32_t ZorGetModuleFromName(const char* name, string* out) {
  if (out) out->Clear();
  if (!name) return 0;
  std::string base(name);
  if (const size_t slash = base.rfind('/'); slash != std::string::npos) base.erase(0, slash + 1);
  if (base.size() > 3 && base.compare(base.size() - 3, 3, kLibExt) == 0) base.resize(base.size() - 3);
  Registry& reg = TheRegistry();
  Guard lock(reg.mutex);
  const int32_t n = reg.records.GetNbItem();
  for (int32_t i = 1; i <= n; ++i) {
    const auto* rec = static_cast<const sZorModuleInfo*>(reg.records[i]);
    if (rec->name[0] && ZorStrIEq(rec->name, base.c_str())) {
      if (out) out->Assign(rec->name);
      return rec->id;
    }
  }
  return 0;
}

const char* ZorGetModulePath(int32_t id, string* out) {
  ZorNotNull(out, kSource);
  if (id == ZorKernelModuleId) return out->Assign(modules::KernelPath().c_str());
  if (void* instance = ZorGetModuleInstance(id, false)) return out->Assign(modules::InstancePath(instance).c_str());
  string name;
  ZorGetModuleName(id, ZorNameModule, &name);
  if (!LibraryPath(name.CStr(), out)) out->Clear();
  return out->CStr();
}

}  // namespace zorvane
