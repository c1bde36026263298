// `zorvane bfile`: inspection and maintenance of a block file.
//
//   zorvane bfile info FILE              header fields, counters, directory summary
//   zorvane bfile check FILE [--repair [--no-backup]]
//                                        the four checks, with their report
//   zorvane bfile compact FILE [--mode N]
//   zorvane bfile dump FILE              one line per directory entry
//   zorvane bfile salvage IN OUT         the sound blocks of IN copied into OUT
//   zorvane bfile stress ...             (tools/bfile_stress_command.cpp)
//
// A journal left beside the file by a crash (FILE.zbj) is applied by every
// opening: info, dump and check show the file with its committed
// transactions (the journal stays), info and check say what it holds and
// whether it is valid; check --repair and compact put it into the file.
//
// info, dump and check open the file read-only and tolerant of damage
// (ZorBfOpenTolerant), so that a file that no longer opens can still be
// examined, and they keep writers out while they look (a file that another
// process writes to is refused rather than half seen); check also looks at
// the bad-close bit. check --repair first copies the file to FILE.bak
// (unless --no-backup; an existing FILE.bak is never overwritten), then
// opens it for writing, resets a crash counter left by an interrupted
// rearrangement, allows every repair (lost space included: verifier mode 5,
// check level 2), writes the result when it closes, and says how many blocks
// the repair removed. compact opens the file normally, so a damaged file is
// refused (check it first). salvage is for damage that no repair reaches:
// it never changes IN and refuses an existing OUT.
//
// Exit codes: 0 success, 1 faults found (check) or a failure, 2 usage, 130
// cancelled by Ctrl-C. Command-line texts are UTF-8 and library texts cp1252.
#include "tools/bfile_stress_command.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"
#include "tools/tool_support.h"

#include <zorvane/zorvane.h>

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace zorvane::tool {

namespace {

struct BFileArgs {
  std::string path;
  std::string out;
  bool repair = false;
  bool noBackup = false;
  int mode = ZorBfCompactAny;
};

// Every opening closes normally even when a command fails or is cancelled:
// what was done is written and the open marker cleared.
constexpr int32_t kInspectFlags = ZorBfOpenTolerant | ZorBfOpenCheckBadClose | ZorBfOpenCloseNormal;
constexpr int32_t kRepairMode = 5;
constexpr int32_t kRepairLevel = 2;

void OpenFile(ZorBFile& f, const ZorFsa& path, bool write, int32_t flags) {
  f.Open(&path, write ? ZorPermReadWrite : ZorPermRead, write ? ZorShareExclusive : ZorShareRead, flags, -1, -1,
         -1);
  PollBreak();
}

int32_t UsedBlocks(ZorBFile& f) {
  int32_t used = 0;
  f.BExist(0, &used);
  return used;
}

ZorProgress* TerminalOrNull(TerminalProgress* bar) { return isatty(STDERR_FILENO) ? bar : nullptr; }

// ---------------------------------------------------------------- info
void PrintHeader(ZorBFile& f) {
  string text;
  std::printf("file: %s\n", Utf8(f.GetFsa()->GetPath(ZorFsaPathDisplay, &text)).c_str());
  std::printf("file type: %d\nsignature: %d\n", f.GetFType(), f.GetSignature());
  std::printf("identifier: 0x%08x\nuser release: %d\n", static_cast<uint32_t>(f.GetFGuId()), f.GetUserRel());
  std::printf("creation string: %s\n", Utf8(f.GetCreaStr(&text)).c_str());
  std::printf("update counter: %" PRIu64 "\n", f.GetUpdateCounter());
  std::printf("crash counter: %d\nbad close: %s\nbad-open count: %d\n", f.GetCrashFlag(false),
              f.IsBadClose(false) ? "yes" : "no", f.BadOpenCount(false));
}

void PrintSummary(ZorBFile& f) {
  int32_t freeWithSpace = 0, emptySlots = 0, dirBytes = 0, usedBytes = 0, used = 0;
  uint32_t reserved = 0;
  const int32_t count = f.GetNbBlock(&freeWithSpace, &emptySlots);
  const uint64_t size = f.GetSize(&dirBytes, &usedBytes, &reserved);
  f.BExist(0, &used);
  const uint64_t dataArea = size > f.GetDataStart() ? size - f.GetDataStart() : 0;
  std::printf("file size: %" PRIu64 "\ndata start: %u\n", size, f.GetDataStart());
  std::printf("entries: %d (used %d, free with space %d, empty slots %d)\n", count, used, freeWithSpace, emptySlots);
  if (f.GetRecordedDirCount() != static_cast<uint32_t>(count))
    std::printf("entries past the end of the file: %u\n", f.GetRecordedDirCount() - static_cast<uint32_t>(count));
  std::printf("stored bytes: %d\nreserved bytes: %u\n", usedBytes, reserved);
  std::printf("spare room in blocks: %u\n", reserved - static_cast<uint32_t>(usedBytes));
  std::printf("space outside blocks: %" PRIu64 "\n", dataArea > reserved ? dataArea - reserved : 0);
  std::printf("needs compaction: %s (any: %s, all: %s)\n", f.NeedCompact(ZorBfCompact10Percent) ? "yes" : "no",
              f.NeedCompact(ZorBfCompactAny) ? "yes" : "no", f.NeedCompact(ZorBfCompactAll) ? "yes" : "no");
}

// The side journal a crash left beside the file: what the opening found.
// A reader shows the file with the journal's committed transactions.
void PrintJournal(ZorBFile& f, bool verdict) {
  sZorBfJournalInfo j;
  f.GetJournalInfo(&j);
  if (!j.exists) {
    if (!verdict) std::printf("journal: none\n");
    return;
  }
  if (j.foreign) {
    std::printf("journal: %s\n", verdict ? "not valid (damaged, or another file's): ignored" : "ignored (damaged, or another file's)");
    return;
  }
  if (j.cut) {
    std::printf("journal: %s\n", verdict ? "not valid (cut short after a record; later ones may be missing): ignored"
                                          : "ignored (cut short after a record; later ones may be missing)");
    return;
  }
  if (j.stale) {
    std::printf("journal: %s\n", verdict ? "not valid (older than the file, which was written since): ignored"
                                          : "ignored (older than the file, which was written since)");
    return;
  }
  std::printf("journal: %s%" PRId64 " committed transactions in %" PRId64 " bytes, %" PRId64 " of them not yet in the file%s\n",
              verdict ? "valid, " : "", j.records, j.bytes, j.pending,
              j.tornTail ? "; an interrupted record after them is ignored" : "");
}

int RunInfo(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, ToolPath(a.path, PathUse::kFile), false, kInspectFlags);
  PrintHeader(f);
  PrintJournal(f, false);
  PrintSummary(f);
  f.Close(ZorBfCloseNormal);
  return 0;
}

// ---------------------------------------------------------------- check
// A crash counter left set is the first fault: the file no longer opens.
void CheckCrashCounter(ZorBFile& f, ZorVerif& v) {
  if (f.GetCrashFlag(false) == 0) return;
  string text;
  ZorErrToString(ZorErr(1, 32), &text);
  // A reset clears a counter of exactly 1, what one interrupted compaction
  // leaves; deeper counts stay faults.
  if (v.CanRepair()) f.GetCrashFlag(true);
  v.AddItem(f.GetCrashFlag(false) == 0 ? kZorVerifRepaired : kZorVerifError, text.CStr());
}

// Error items of section `section` of the report.
int32_t Errors(const ZorVerif& v, int32_t section) {
  int32_t n = 0;
  sZorVerifItem item;
  for (int32_t i = 1; v.GetItem(i, &item); ++i) n += item.section == section && item.type == kZorVerifError;
  return n;
}

int RunCheck(const BFileArgs& a) {
  const ZorFsa path = ToolPath(a.path, PathUse::kFile);
  ZorFsa backup;
  if (a.repair && !a.noBackup) backup = BackupBeforeRepair(a.path, path);
  ZorBFile f;
  try {
    OpenFile(f, path, a.repair, kInspectFlags);
  } catch (...) {
    // Nothing was repaired: the copy would only be clutter.
    if (backup.IsInit()) ZorFsaCmd(&backup, ZorFsaCmdQuiet).Remove();
    throw;
  }
  const int32_t usedBefore = UsedBlocks(f);
  int32_t doomed = 0;  // blocks of unknown owner and type, which a repair deletes
  ZorVerif v;
  v.Init(a.repair, a.repair ? kRepairMode : 0);
  const int32_t level = ZorGetCheckLevel();
  if (a.repair) ZorSetCheckLevel(std::max(level, kRepairLevel));
  try {
    CheckCrashCounter(f, v);
    f.CheckDir(&v);
    f.CheckCrossBlock(&v);
    f.CheckLostSpace(&v);
    const int32_t sections = v.GetNbSection();
    f.CheckBlockOwnerType(&v);
    if (v.GetNbSection() > sections) doomed = Errors(v, v.GetNbSection());
  } catch (...) {
    ZorSetCheckLevel(level);
    throw;
  }
  ZorSetCheckLevel(level);
  const int32_t usedAfter = UsedBlocks(f);
  PrintJournal(f, true);
  f.Close(ZorBfCloseNormal);
  string text;
  std::fputs(Utf8(v.GetText(&text)).c_str(), stdout);
  if (a.repair) {
    std::printf("repair removed %d of %d blocks\n", usedBefore - usedAfter, usedBefore);
    if (backup.IsInit()) std::printf("backup before the repair: %s\n", PathText(backup).c_str());
  } else if (doomed) {
    std::printf("check --repair would delete %d of %d blocks (unknown owner and type)\n", doomed, usedBefore);
  }
  return v.GetNbFault() == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- compact
int RunCompact(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, ToolPath(a.path, PathUse::kFile), true, ZorBfOpenCloseNormal);
  const uint64_t before = f.GetSize(nullptr, nullptr, nullptr);
  TerminalProgress bar;
  const bool done = f.Compact(static_cast<eZorBfCompact>(a.mode), true, true, TerminalOrNull(&bar));
  const uint64_t after = f.GetSize(nullptr, nullptr, nullptr);
  f.Close(ZorBfCloseNormal);
  if (done) std::printf("%" PRIu64 " -> %" PRIu64 " bytes\n", before, after);
  return 0;
}

// ---------------------------------------------------------------- dump
int RunDump(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, ToolPath(a.path, PathUse::kFile), false, kInspectFlags);
  std::printf("id\towner\ttype\tsize\tcapacity\tposition\tflags\n");
  sZorBfBRef e;
  for (int32_t id = 1; f.GetEntry(id, &e); ++id) {
    PollBreak();
    std::printf("%d\t%d\t%d\t%u\t%u\t%" PRIu64 "\t0x%02x\n", id, e.owner, e.type, e.size, e.capacity, e.GetPos(),
                e.flags);
  }
  f.Close(ZorBfCloseNormal);
  return 0;
}

// ---------------------------------------------------------------- salvage
int RunSalvage(const BFileArgs& a) {
  const ZorFsa in = ToolPath(a.path, PathUse::kFile);
  const ZorFsa out = ToolPath(a.out, PathUse::kNewFile);
  ZorVerif v;
  v.Init(false, 0);
  sZorBfSalvage result;
  TerminalProgress bar;
  ZorBFile::Salvage(&in, &out, &v, TerminalOrNull(&bar), &result);
  string text;
  std::fputs(Utf8(v.GetText(&text)).c_str(), stdout);
  std::printf("salvage kept %d blocks and dropped %d", result.kept, result.dropped);
  if (result.missing) std::printf(", and %d directory entries past the end of the file", result.missing);
  std::printf("; the sound blocks are in %s\n", PathText(out).c_str());
  return 0;
}

CLI::App* AddFileCommand(CLI::App* parent, const char* name, const char* help, std::shared_ptr<BFileArgs> args,
                         int (*run)(const BFileArgs&), int& exitCode) {
  return AddFileSubcommand(parent, "bfile", name, help, "Block file", args, run, exitCode);
}

}  // namespace

void AddBFileCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<BFileArgs>();
  CLI::App* cmd = app.add_subcommand("bfile", "Inspect, check, repair, compact and salvage a block file");
  cmd->require_subcommand(1);
  AddFileCommand(cmd, "info", "Header fields, counters and directory summary", args, RunInfo, exitCode);
  CLI::App* check =
      AddFileCommand(cmd, "check", "Run the four checks (exit 1 when faults remain)", args, RunCheck, exitCode);
  CLI::Option* repair =
      check->add_flag("--repair", args->repair, "Repair what can be repaired (writes FILE.bak first)");
  check->add_flag("--no-backup", args->noBackup, "Repair without keeping FILE.bak")->needs(repair);
  AddFileCommand(cmd, "compact", "Compact the file in place", args, RunCompact, exitCode)
      ->add_option("--mode", args->mode, "1: when 10 % is wasted, 2: any compactable waste, 3: all waste")
      ->check(CLI::Range(1, 3));
  AddFileCommand(cmd, "dump", "One line per directory entry", args, RunDump, exitCode);
  AddFileCommand(cmd, "salvage", "Copy the sound blocks of a file that no longer opens into a new file", args,
                 RunSalvage, exitCode)
      ->add_option("OUT", args->out, "New block file (must not exist)")
      ->required();
  AddBfileStressCommand(*cmd, exitCode);
}

}  // namespace zorvane::tool
