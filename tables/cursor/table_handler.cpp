// ZorTableHandler: the neutral defaults of every hook, and the registry of
// handlers by module.
#include <map>
#include <mutex>

#include <zorvane/table.h>

namespace zorvane {

void ZorTableHandler::Open(ZorTable*) {}
void ZorTableHandler::Close(ZorTable*) {}
ZorTableStocker* ZorTableHandler::GetVirtStocker(ZorTable*) { return nullptr; }
bool ZorTableHandler::GetVal(ZorTable*, int32_t, eZorTblForm, void*, int32_t, int32_t) { return false; }
bool ZorTableHandler::SetVal(ZorTable*, int32_t, eZorTblForm, const void*, int32_t, int32_t) { return false; }
int32_t ZorTableHandler::GetFieldTotProp(ZorTable*, int32_t) { return 0; }
bool ZorTableHandler::GetFieldProp(ZorTable*, int32_t, int32_t, string*) { return false; }
bool ZorTableHandler::GetValList(ZorTable*, int32_t, ZorBGet*) { return false; }
bool ZorTableHandler::GetValPicker(ZorTable*, int32_t, string*) { return false; }
bool ZorTableHandler::FidListNeedRfrs(ZorTable*, int32_t) { return false; }
bool ZorTableHandler::DoFidAction(ZorTable*, int32_t, int32_t, void*) { return false; }
bool ZorTableHandler::GetDim(ZorTable*, int32_t, int32_t*, int32_t*) { return false; }
bool ZorTableHandler::RazDef(ZorTable*, int32_t, void*, bool) { return false; }
bool ZorTableHandler::VerifRecord(ZorTable*, ZorVerif*, int32_t, void*) { return true; }
bool ZorTableHandler::GetRecordName(ZorTable*, string*) { return false; }
int32_t ZorTableHandler::GetUsedFidList(ZorTable*, ZorBGet*) { return 0; }
bool ZorTableHandler::UsedFidListScan(ZorTable*, int32_t, void*) { return false; }
int32_t ZorTableHandler::GetUsedEnumList(ZorTable*, ZorBGet*) { return 0; }
bool ZorTableHandler::UsedEnumListScan(ZorTable*, int64_t, void*) { return false; }
int32_t ZorTableHandler::GetNavigIndex(ZorTable*) { return -1; }
int32_t ZorTableHandler::DoNavig(ZorTable*, int32_t) { return 0; }
void ZorTableHandler::BeforeHAction(ZorTable*, eZorTblHAction, int32_t, void*) {}
void ZorTableHandler::AfterHAction(ZorTable*, eZorTblHAction, int32_t, void*) {}
bool ZorTableHandler::HandleHilock(ZorTable*, int32_t, void*) { return false; }
bool ZorTableHandler::GetHilockCurMsg(ZorTable*, string*) { return false; }
int32_t ZorTableHandler::HGetRecRef(ZorTable*, string*) { return 0; }
int32_t ZorTableHandler::HReadRecRef(ZorTable*, const char*) { return 0; }
int32_t ZorTableHandler::HGetRecInfo(ZorTable*, int32_t, string*) { return 0; }

namespace {
std::mutex gMutex;
std::map<int32_t, ZorTableHandler*>& Registry() {
  static std::map<int32_t, ZorTableHandler*> registry;
  return registry;
}
}  // namespace

ZorTableHandler* ZorSetTableHandler(int32_t moduleId, ZorTableHandler* handler) {
  std::lock_guard<std::mutex> hold(gMutex);
  auto& registry = Registry();
  auto it = registry.find(moduleId);
  ZorTableHandler* previous = it == registry.end() ? nullptr : it->second;
  if (handler) {
    registry[moduleId] = handler;
  } else if (it != registry.end()) {
    registry.erase(it);
  }
  return previous;
}

ZorTableHandler* ZorGetTableHandler(int32_t moduleId) {
  std::lock_guard<std::mutex> hold(gMutex);
  auto& registry = Registry();
  auto it = registry.find(moduleId);
  return it == registry.end() ? nullptr : it->second;
}

}  // namespace zorvane
