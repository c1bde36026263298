// Modules: the kernel library (module 1) and the shared objects that extend
// an application, each named by a 32-bit module identifier.
//
// The registry keeps one record (sZorModuleInfo) per module, sorted by
// identifier. A module's library is loaded on first need, from
//   <modules root>/<name>/<name>.so
// where the modules root is the well-known path ZorKFsaModules (code 2;
// when not registered: the directory in ZORVANE_MODULES, else the directory
// of libzorvane.so) and <modules root>/<name> is the module's directory
// (ZorGetModuleFsa), which also holds its loose resources in a development
// tree. A loaded library is never unloaded.
//
// A module library exports one extern "C" function without arguments,
// ZOR_MODULE_ENTRY_NAME, returning its module object (a ZorModule that lives
// as long as the library). The kernel exports the same entry for itself.
//
// ZorGetModule hands the object out locked: the caller releases it through
// the guard (or with Unlock when no guard was given). Failures to load give
// a null module, never an exception; the loader's reason goes to the debug
// channel.
//
// A module's resources are one sorted table in its own object
// (zorvane/resource_table.h), found from its instance by ZorGetRsrcTable.
#pragma once

#include <zorvane/handle.h>
#include <zorvane/name_type.h>
#include <zorvane/resource_table.h>
#include <zorvane/types.h>

// The name of a module library's entry point: extern "C" ZorModule* (void).
#define ZOR_MODULE_ENTRY_NAME "ZorGetModuleObject"

namespace zorvane {

class string;
class ZorFsa;
class ZorBGet;
class ZorModule;
// Types of other subsystems that the call-back interface names.
class ZorTable;
class ZorTableDesc;
class ZorDBase;
class ZorVerif;
class ZorScRun;
class ZorWs;
class ZorWsWru;
class ZorWsHandler;
class ZorQstHdr;
class ZorHotSpot;
class ZorEditHandler;
class IUnknown;

// Selectors of the call-backs; their values belong to the services that
// send them.
enum eZorTaskSel : int32_t;
enum eZorUtilAction : int32_t;
enum eZorPrefAction : int32_t;
enum eZorHotSpotExe : int32_t;
enum eZorTtsAction : int32_t;
enum eZorScpCmd : int32_t;
enum eZorEdaSel : int32_t;
enum eZorAdmPhSel : int32_t;
enum eZorWruTrigh : int32_t;
enum eZorWruAch : int32_t;
enum eZorWruIntfh : int32_t;
enum eZorNvtMhAction : int32_t;

enum : int32_t {
  ZorKernelModuleId = 1,
  ZorKFsaModules = 2,          // well-known path code of the modules root
  ZorModuleFlagPlugIn = 0x1,   // sZorModuleInfo::flags: started by ZorInitPlugins
  ZorModuleMsgPlugIn = 52,     // the plug-in start/stop message
  ZorModuleMsgStop = 10,       // its first parameter when stopping (0 when starting)
  ZorQiPrefHandler = 5,        // QueryInterface number of the preference handler
  ZorSendLoad = 0x1,           // ZorSendModuleMessage: load the module when needed
};

// Identifiers of the module's own description resources (types 7 and 14,
// kept in the section with the module description).
enum : int32_t {
  ZorRsrcIdTypeList = 7,    // int32 pairs, little-endian: the module's type keys
  ZorRsrcIdDepList = 14,    // int32 module ids, little-endian
};

// A registry record. The identifier is the first field and the sort key.
struct sZorModuleInfo {
  int32_t id = 0;
  uint32_t flags = 0;      // ZorModuleFlagPlugIn
  char name[64] = {};      // base name of the module's library and directory
  void* instance = nullptr;     // the loaded library (dlopen handle), null until loaded
  ZorModule* object = nullptr;  // the module object, null until obtained
};

// An entry of the type map: a type's two key values and its module.
struct sZorMType {
  int32_t key1;
  int32_t key2;
  int32_t module;
};
static_assert(sizeof(sZorMType) == 12);

// A service interface of a module, reached by number.
class ZOR_API iZorInterface {
 public:
  virtual iZorInterface* QueryInterface(int32_t id) = 0;
  virtual ~iZorInterface() = default;
};

// The call-back interface of a module. Every operation answers "not
// handled" (0, false or null) here; a module overrides what it serves.
class ZOR_API ZorModule : public iZorLockable, public iZorInterface {
 public:
  ZorModule() = default;
  ZorModule(const ZorModule&) = delete;
  ZorModule& operator=(const ZorModule&) = delete;
  ~ZorModule() override = default;

  // Counts a use, records its tick count; the guard (when given) unlocks.
  void* Lock(ZorLock* guard) override;
  void Unlock() override;
  iZorInterface* QueryInterface(int32_t id) override;

  virtual int32_t HandleMessage(int32_t msg, int32_t p1, int32_t p2, int64_t p3, const char* text, ZorHandle* h);
  virtual int32_t HandleTask(eZorTaskSel sel, int32_t p1, int32_t p2, int64_t p3, const char* text, void* data);
  virtual int32_t HandleUtil(eZorUtilAction action, int64_t p, bool flag);
  virtual int32_t HandlePref(eZorPrefAction action, int64_t p, bool flag);
  virtual int32_t HandleHotSpot(int64_t id, ZorHandle* h);
  virtual int32_t ExeHotSpotStr(eZorHotSpotExe exe, int64_t id, const char* text, const ZorHotSpot* spot, void* p1,
                                void* p2);
  virtual int32_t HandleBoard(int32_t p1, int32_t p2, int32_t p3, int64_t p4);
  virtual int32_t HandleTts(int32_t p, eZorTtsAction action, void* p1, void* p2, void* p3, void* p4);
  virtual int32_t HandleSQL(int32_t p1, int32_t p2, void* p3, void* p4, void* p5, void* p6);
  virtual void GetDutList(ZorTable* out, uint32_t flags);
  virtual void RunDut(int32_t id, uint32_t flags, ZorVerif* verif, int64_t tableId, ZorTable* table, ZorDBase* db);
  virtual bool ExeScpFn(ZorScRun* run, int32_t fn, int32_t p1, int32_t p2);
  virtual int32_t ScpCmd(eZorScpCmd cmd, int32_t p1, int32_t p2, int64_t p3, const char* text, ZorHandle* h);
  virtual void PatchTableDesc(ZorTableDesc* desc, uint32_t flags);
  virtual ZorWsHandler* GetWorkSpaceHandler(int64_t wsId);
  virtual ZorQstHdr* CreateQst(int64_t id);
  virtual int32_t HandleEda(eZorEdaSel sel, int32_t p1, int64_t p2, const char* text, ZorHandle* h, int32_t p3,
                            int64_t p4);
  virtual int32_t HandleLCom(int32_t p, ZorHandle* in, ZorHandle* out, IUnknown* unk, int32_t* result);
  virtual int32_t PermGetTypeList(ZorTable* out);
  virtual int32_t PermHandler(int32_t p1, eZorAdmPhSel sel, int64_t p2, int32_t p3, const char* text, void* p4,
                              void* p5, void* p6, void* p7);
  virtual void HandleWruTrig(int32_t p, eZorWruTrigh sel, ZorWs* ws, void* p1, void* p2, void* p3, void* p4);
  virtual void HandleWruAction(int32_t p, eZorWruAch sel, ZorWs* ws, void* p1, void* p2, void* p3, void* p4);
  virtual void HandleWruIntf(int32_t p, eZorWruIntfh sel, ZorWsWru* wru, void* p1, void* p2, void* p3, void* p4);
  virtual ZorEditHandler* GetInputMaskHandler(int32_t id, string* mask);
  virtual int32_t HandleNvt(eZorNvtMhAction action, const char* text, void* p1, void* p2, void* p3, void* p4);

  int32_t GetModuleId() const { return _id; }
  void* GetInstance() const { return _instance; }
  bool IsLocked() const;
  int32_t GetLockCount() const;
  // Tick count (milliseconds) of the last Lock.
  uint32_t GetLastUse() const;

  // Set by the registry when the object is obtained or registered.
  void _setModuleId(int32_t id) { _id = id; }
  void _setInstance(void* instance) { _instance = instance; }

 private:
  int32_t _id = 0;
  void* _instance = nullptr;
  int32_t _lockCount = 0;   // atomic accesses (std::atomic_ref)
  uint32_t _lastUse = 0;
};

// The signature of a module library's entry point.
using ZorGetModuleObjectFn = ZorModule* (*)();

// ------------------------------------------------------------------ registry
// Inserts `info` at its sorted place or, when its id is registered, updates
// the stored instance and object from it (those given, non-null). A new
// record with `loadTypes` enters the module's type list into the type map.
// `object`, when given, receives the id and the instance.
ZOR_API void ZorRegisterModule(ZorModule* object, sZorModuleInfo* info, bool loadTypes);
// The module object, locked through `guard` (or left locked for a later
// Unlock when guard is null); null when unknown or not loadable.
ZOR_API ZorModule* ZorGetModule(int32_t id, ZorLock* guard);
ZOR_API ZorModule* ZorGetKernelModule();
// Registered and not 0.
ZOR_API bool ZorIsModulePresent(int32_t id);
// A copy of the record; false when not registered.
ZOR_API bool ZorGetModuleInfo(int32_t id, sZorModuleInfo* out);
// The registered ids in ascending order (a ZorBGet of int32 items).
ZOR_API int32_t ZorGetModuleIds(ZorBGet* out);
// The current application module (its object is used as it stands).
ZOR_API void ZorSetAppModule(int32_t id, void* instance, ZorModule* object);
ZOR_API int32_t ZorGetAppModuleId();

// The module's directory: <modules root>/<name>.
ZOR_API bool ZorGetModuleFsa(int32_t id, ZorFsa* out);
// The modules root (ZorKFsaModules, or its default).
ZOR_API bool ZorGetModulesRoot(ZorFsa* out);
// The loaded library of a module (loading it when `load`); module 1 gives
// the library's own instance. Null when none.
ZOR_API void* ZorGetModuleInstance(int32_t id, bool load);
// The instance whose section holds the module's resources; null when none.
ZOR_API void* ZorGetRsrcInstance(int32_t moduleId, bool load);
// The module's name of the given type: ZorNameModule the registered (file)
// name; ZorNameVersion the version text; the others from the module's
// description resource, where the public, developer and C names default to
// the registered name and comments and trigger to "". "" for an unknown
// module.
ZOR_API const char* ZorGetModuleName(int32_t id, eZorNameType type, string* out);
// The id of the module named `name` (a bare name, or a library path whose
// base name is taken); 0 when none. `out` (optional) gets the stored name.
ZOR_API int32_t ZorGetModuleFromName(const char* name, string* out);
// The path of the module's library file (system form); "" when unknown.
ZOR_API const char* ZorGetModulePath(int32_t id, string* out);
// The module's version as major << 16 | minor << 8 | patch, its text
// "major.minor.patch" in `out` when given: the library's own, or the Version
// of a module's description resource (0 and "" without one).
ZOR_API uint32_t ZorGetModuleVersion(int32_t id, string* out);
// The module's own language, -1 when it has none (the default).
ZOR_API int32_t ZorGetModuleLang(int32_t id, bool reload = false);
ZOR_API void ZorSetModuleLang(int32_t id, int32_t lang);
// The language pack directory: <module directory>/<lang>.
ZOR_API bool ZorGetLangPackFsa(int32_t module, int32_t lang, ZorFsa* out);
// The module ids the module depends on (its dependency list resource; with
// `recursive`, their dependencies too, each once, in first-seen order).
ZOR_API int32_t ZorGetDepIds(int32_t id, ZorBGet* out, bool recursive);
// (ZorGetDepList, the same list into a list table: zorvane/list_table.h.)
// The type-map entries (sZorMType items, sorted by keys) of module `id`, or
// of every module for id 0; returns their number.
ZOR_API int32_t ZorFindMTypes(int32_t id, ZorBGet* out);
// True when `file` is a shared object that defines the entry point itself
// (it is loaded for the check, running its constructors).
ZOR_API bool ZorIsZorModule(const char* file);
// Obtains the module (loading it only with ZorSendLoad in flags) and calls
// HandleMessage(msg, p1, p2, p3, text, h); 0 when the module is absent.
ZOR_API int32_t ZorSendModuleMessage(int32_t id, int32_t msg, uint32_t flags, int32_t p1, int32_t p2, int64_t p3,
                                     const char* text, ZorHandle* h);
// Starts (message 52, p1 0; the module stays locked) or stops (message 52,
// p1 10, then Unlock) every plug-in module in id order.
ZOR_API void ZorInitPlugins(bool start);
// Loaded modules stay loaded: nothing to do.
ZOR_API void ZorFreeUnusedModules();

// ------------------------------------------------------------------ resource section
// The instance's own table (never the library's, reached through the
// module's dependencies); null when it has none.
ZOR_API const sZorRsrcTable* ZorGetRsrcTable(void* instance);
// Binary search of (sectionType, id, lang) in a sorted table.
ZOR_API bool ZorFindRsrcItem(const sZorRsrcTable* table, uint32_t sectionType, uint32_t id, uint32_t lang,
                             const sZorRsrcItem** out);

}  // namespace zorvane

// The entry point: every module library defines it (default visibility),
// returning its module object; the library's own gives the kernel module.
extern "C" ZOR_API zorvane::ZorModule* ZorGetModuleObject();
