// The resource section of a module: its own sorted table (rsrc_table.h),
// found through its dlopen handle.
//
// dlsym on a module's handle searches the module and then everything it was
// loaded with, the library included, so a module without a table would be
// handed the library's. A symbol counts only when the object that defines
// it is the instance's own object. The loader is reached through the
// environment (platform/env.h).
#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <string>
#include <tuple>

#include "platform/env.h"
#include "platform/little_endian.h"
#include "resources/module_loader.h"
#include <zorvane/handle.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>

namespace zorvane {
namespace modules {

namespace {
int LocateSelf() { return 0; }
}  // namespace

void* KernelInstance() {
  static void* const instance = [] {
    platform::Env& env = platform::CurrentEnv();
    platform::LoadedObject self;
    void* handle = nullptr;
    if (env.ObjectOfAddress(reinterpret_cast<const void*>(&LocateSelf), &self) != 0 || self.file.empty() ||
        env.LoadLibrary(self.file.c_str(), RTLD_LAZY | RTLD_NOLOAD, &handle, nullptr) != 0)
      return static_cast<void*>(nullptr);
    return handle;
  }();
  return instance;
}

const std::string& KernelPath() {
  static const std::string path = InstancePath(KernelInstance());
  return path;
}

void* OwnSymbol(void* instance, const char* name) {
  if (!instance) return nullptr;
  platform::Env& env = platform::CurrentEnv();
  platform::LoadedObject own, definer;
  void* sym = nullptr;
  if (env.ObjectOfHandle(instance, &own) != 0 || env.FindSymbol(instance, name, &sym) != 0 ||
      env.ObjectOfAddress(sym, &definer) != 0 || definer.id != own.id)
    return nullptr;
  return sym;
}

std::string InstancePath(void* instance) {
  platform::LoadedObject object;
  if (!instance || platform::CurrentEnv().ObjectOfHandle(instance, &object) != 0) return {};
  return object.file;
}

std::string DescBytes(int32_t module, int32_t type, int32_t rsrcId) {
  ZorRsrc rsrc;
  try {
    if (!rsrc.Init(type, module, rsrcId, ZorRsrcQuiet)) return {};
  } catch (const std::exception&) {  // an unreadable loose file: none
    return {};
  }
  const ZorHandle* h = rsrc.GetHandle();
  if (!h->GetSize()) return {};
  return std::string(static_cast<const char*>(h->GetDatas()), h->GetSize());
}

std::vector<int32_t> DescInts(int32_t module, int32_t type, int32_t rsrcId) {
  const std::string bytes = DescBytes(module, type, rsrcId);
  std::vector<int32_t> values;
  for (size_t at = 0; at + 4 <= bytes.size(); at += 4)
    values.push_back(static_cast<int32_t>(platform::GetLE32(bytes.data() + at)));
  return values;
}

}  // namespace modules

const sZorRsrcTable* ZorGetRsrcTable(void* instance) {
  return static_cast<const sZorRsrcTable*>(modules::OwnSymbol(instance, ZOR_RSRC_TABLE_SYMBOL));
}

bool ZorFindRsrcItem(const sZorRsrcTable* table, uint32_t sectionType, uint32_t id, uint32_t lang,
                     const sZorRsrcItem** out) {
  if (!table || !table->items) return false;
  const auto key = std::make_tuple(sectionType, id, lang);
  const sZorRsrcItem* end = table->items + table->count;
  const sZorRsrcItem* it = std::lower_bound(table->items, end, key, [](const sZorRsrcItem& item, const auto& k) {
    return std::make_tuple(item.type, item.id, item.lang) < k;
  });
  if (it == end || std::make_tuple(it->type, it->id, it->lang) != key) return false;
  if (out) *out = it;
  return true;
}

}  // namespace zorvane
