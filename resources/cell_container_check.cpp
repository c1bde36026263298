// ZorDyna: the check of a run (Verif, Dut).
//
// Faults of a run, in the order a walk meets them:
// - a cell of size 0 (writers never store one);
// - a cell at the place of an earlier cell (unreachable: look-ups take the
//   first);
// - a cell whose data runs past the end, or fewer than 16 bytes left after
//   the last cell: the unreadable tail, which ends the walk.
// Repair removes the empty and the shadowed cells and cuts the tail, so
// that what every reader saw before is exactly what remains. Messages are
// list 240 of the catalogue.
#include <zorvane/cell_container.h>
#include <zorvane/verification.h>

#include "resources/cell_layout.h"

#include <set>
#include <tuple>
#include <vector>

namespace zorvane {

using dyna::Cell;
using dyna::kHeaderSize;
using dyna::Run;

namespace {

constexpr int32_t kGroup = 240;

enum Message : int32_t {
  kTitle = 1,
  kEmptyCell = 2,
  kShadowedCell = 3,
  kCellPastEnd = 4,
  kLooseBytes = 5,
  kCellRemoved = 6,
  kTruncated = 7,
};

struct Findings {
  std::vector<uint32_t> dropped;  // offsets of empty and shadowed cells
  uint32_t end = 0;               // end of the readable prefix
  bool tail = false;
};

void ReportCell(ZorVerif* report, Message m, const Cell& c) {
  report->AddItemMsg(kZorVerifError, 0, 0, 1, kGroup, m, static_cast<int32_t>(c.at), c.kind, c.line, c.col);
}

void ReportTail(ZorVerif* report, const Run& run, uint32_t end) {
  const uint32_t left = run.Size() - end;
  if (left >= kHeaderSize) {
    report->AddItemMsg(kZorVerifError, 0, 0, 1, kGroup, kCellPastEnd, static_cast<int32_t>(end),
                       static_cast<int32_t>(platform::GetLE32(run.Base() + end + 12)));
  } else {
    report->AddItemMsg(kZorVerifError, 0, 0, 1, kGroup, kLooseBytes, static_cast<int32_t>(left),
                       static_cast<int32_t>(end));
  }
}

// Walks the run; with a report every fault becomes an item, without one the
// walk stops at the first fault. Answers whether the run is sound.
bool Inspect(const Run& run, ZorVerif* report, Findings* f) {
  std::set<std::tuple<int32_t, int32_t, int32_t>> places;
  dyna::Walker w(run.Base(), run.Size());
  Cell c;
  bool sound = true;
  while (w.Next(&c)) {
    const bool first = places.emplace(c.kind, c.line, c.col).second;
    const bool empty = c.size == 0;
    if (first && !empty) continue;
    sound = false;
    if (!report) return false;
    ReportCell(report, empty ? kEmptyCell : kShadowedCell, c);
    f->dropped.push_back(c.at);
  }
  f->end = w.End();
  f->tail = f->end != run.Size();
  if (f->tail && report) ReportTail(report, run, f->end);
  return sound && !f->tail;
}

void Repair(ZorHandle* h, const Findings& f, ZorVerif* report) {
  h->SetSize(f.end);
  if (f.tail) report->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kGroup, kTruncated, static_cast<int32_t>(f.end));
  // From the last so that earlier offsets stay valid.
  for (auto it = f.dropped.rbegin(); it != f.dropped.rend(); ++it) {
    const uint32_t size = platform::GetLE32(static_cast<const uint8_t*>(h->GetDatas()) + *it + 12);
    h->ReplaceData(static_cast<int32_t>(*it), static_cast<int32_t>(*it + kHeaderSize + size), nullptr, 0);
  }
  for (uint32_t at : f.dropped)
    report->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kGroup, kCellRemoved, static_cast<int32_t>(at));
}

}  // namespace

bool ZorDyna::Verif(ZorVerif* report) {
  Findings f;
  bool sound;
  {
    Run run(&_h);
    if (report) report->AddSectionMsg(1, kGroup, kTitle, static_cast<int32_t>(run.Size()));
    sound = Inspect(run, report, &f);
  }
  if (!sound && report && report->CanRepair()) Repair(&_h, f, report);
  return sound;
}

bool ZorDyna::Dut(bool repair) {
  ZorVerif report;
  report.Init(repair);
  return Verif(&report) || repair;
}

}  // namespace zorvane
