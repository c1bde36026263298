// See tools/db_steps.h.
#include "tools/db_steps.h"

#include "tools/tool_support.h"

#include <zorvane/list_table.h>

#include <algorithm>
#include <vector>

namespace zorvane::tool {

namespace {

constexpr int32_t kAllSteps = 0x2FF;
constexpr int32_t kRepairLevel = 2;

// Every step that GetDutList gives, run into one report.
void RunSteps(ZorDBase* db, ZorVerif* v) {
  ZorTable steps;
  ZorListTableInit(&steps);
  db->GetDutList(&steps, kAllSteps);
  std::vector<int32_t> codes;
  for (bool ok = steps.First(); ok; ok = steps.Next()) codes.push_back(steps.GetValLong(2));
  string title, text;
  for (size_t i = 0; i < codes.size(); ++i) {
    PollBreak();
    const int32_t sections = v->GetNbSection();
    try {
      db->RunDut(codes[i], kAllSteps, v, 0, nullptr);
    } catch (const ZorEBasic& e) {
      // A step that cannot finish (a description block it cannot read) is
      // a fault of its own; the other steps still run.
      if (e.GetError() == ZorErr(1, 1000)) throw;
      steps.ReadN(static_cast<int32_t>(i) + 1);
      if (v->GetNbSection() == sections) v->AddSection(steps.GetValStr(1, &title));
      v->AddItem(kZorVerifIrreparable, e.ToString(&text));
    }
  }
}

}  // namespace

void Db::Open(const ZorFsa& path, uint32_t flags) {
  _db.OpenBase(&path, kAnySignature, flags | kZorDbOpenCloseNormal);
  PollBreak();
}

void VerifyDatabase(ZorDBase* db, ZorVerif* v) {
  const int32_t level = ZorGetCheckLevel();
  ZorSetCheckLevel(std::max(level, kRepairLevel));
  try {
    RunSteps(db, v);
  } catch (...) {
    ZorSetCheckLevel(level);
    throw;
  }
  ZorSetCheckLevel(level);
}

bool CompactDatabase(const ZorFsa& path, ZorProgress* progress, uint64_t* before, uint64_t* after) {
  Db db;
  db.Open(path, kZorDbOpenCopyOnWrite);
  *before = db->GetSize();
  // ToolsUtil's test, then the block file's compaction with the caller's
  // progress display.
  const bool done = db->ToolsUtil(kZorDbToolNeedCompact, ZorBfCompactAny, nullptr, 0) &&
                    db->GetStockPtr()->Compact(ZorBfCompactAny, false, true, progress);
  *after = db->GetSize();
  db.Close();
  return done;
}

}  // namespace zorvane::tool
