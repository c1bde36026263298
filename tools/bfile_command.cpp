// `zorvane bfile`: inspection and maintenance of a block file.
//
//   zorvane bfile info FILE              header fields, counters, directory summary
//   zorvane bfile check FILE [--repair]  the four checks, with their report
//   zorvane bfile compact FILE [--mode N]
//   zorvane bfile dump FILE              one line per directory entry
//   zorvane bfile stress ...             (tools/bfile_stress_command.cpp)
//
// info, dump and check open the file read-only and tolerant of damage
// (ZorBfOpenTolerant), so that a file that no longer opens can still be
// examined; check also looks at the bad-close bit. check --repair opens it for
// writing, resets a crash counter left by an interrupted rearrangement,
// allows every repair (lost space included: verifier mode 5, check level 2)
// and writes the result when it closes. compact opens the file normally, so a
// damaged file is refused (check it first).
//
// Exit codes: 0 success, 1 faults found (check) or a library error, 2 usage.
// Command-line texts are UTF-8 and library texts cp1252.
#include "tools/bfile_stress_command.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

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
  bool repair = false;
  int mode = ZorBfCompactAny;
};

constexpr int32_t kInspectFlags = ZorBfOpenTolerant | ZorBfOpenCheckBadClose;
constexpr int32_t kRepairMode = 5;
constexpr int32_t kRepairLevel = 2;

std::string Utf8(const char* cp1252) {
  string out;
  return ZorEncodeToUTF8(cp1252, &out);
}

ZorFsa PathOf(const std::string& arg) {
  ZorFsa path = PathArgument(arg);
  // A missing file is an error here, not a file to create.
  ZorFsaCmd(&path).GetLogSize();
  return path;
}

void OpenFile(ZorBFile& f, const ZorFsa& path, bool write, int32_t flags) {
  f.Open(&path, write ? ZorPermReadWrite : ZorPermRead, write ? ZorShareExclusive : ZorShareReadWrite, flags, -1, -1,
         -1);
}

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
  std::printf("stored bytes: %d\nreserved bytes: %u\n", usedBytes, reserved);
  std::printf("spare room in blocks: %u\n", reserved - static_cast<uint32_t>(usedBytes));
  std::printf("space outside blocks: %" PRIu64 "\n", dataArea > reserved ? dataArea - reserved : 0);
  std::printf("needs compaction: %s (any: %s, all: %s)\n", f.NeedCompact(ZorBfCompact10Percent) ? "yes" : "no",
              f.NeedCompact(ZorBfCompactAny) ? "yes" : "no", f.NeedCompact(ZorBfCompactAll) ? "yes" : "no");
}

int RunInfo(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, PathOf(a.path), false, kInspectFlags);
  PrintHeader(f);
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

int RunCheck(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, PathOf(a.path), a.repair, kInspectFlags);
  ZorVerif v;
  v.Init(a.repair, a.repair ? kRepairMode : 0);
  const int32_t level = ZorGetCheckLevel();
  if (a.repair) ZorSetCheckLevel(std::max(level, kRepairLevel));
  try {
    CheckCrashCounter(f, v);
    f.CheckDir(&v);
    f.CheckCrossBlock(&v);
    f.CheckLostSpace(&v);
    f.CheckBlockOwnerType(&v);
  } catch (...) {
    ZorSetCheckLevel(level);
    throw;
  }
  ZorSetCheckLevel(level);
  f.Close(ZorBfCloseNormal);
  string text;
  std::fputs(Utf8(v.GetText(&text)).c_str(), stdout);
  return v.GetNbFault() == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- compact
int RunCompact(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, PathOf(a.path), true, 0);
  const uint64_t before = f.GetSize(nullptr, nullptr, nullptr);
  TerminalProgress bar;
  const bool done = f.Compact(static_cast<eZorBfCompact>(a.mode), true, true, isatty(STDERR_FILENO) ? &bar : nullptr);
  const uint64_t after = f.GetSize(nullptr, nullptr, nullptr);
  f.Close(ZorBfCloseNormal);
  if (done) std::printf("%" PRIu64 " -> %" PRIu64 " bytes\n", before, after);
  return 0;
}

// ---------------------------------------------------------------- dump
int RunDump(const BFileArgs& a) {
  ZorBFile f;
  OpenFile(f, PathOf(a.path), false, kInspectFlags);
  std::printf("id\towner\ttype\tsize\tcapacity\tposition\tflags\n");
  sZorBfBRef e;
  for (int32_t id = 1; f.GetEntry(id, &e); ++id)
    std::printf("%d\t%d\t%d\t%u\t%u\t%" PRIu64 "\t0x%02x\n", id, e.owner, e.type, e.size, e.capacity, e.GetPos(),
                e.flags);
  f.Close(ZorBfCloseNormal);
  return 0;
}

// Library errors are reported here so that their cp1252 text reaches the
// terminal as UTF-8.
int RunReporting(int (*run)(const BFileArgs&), const BFileArgs& a) {
  try {
    return run(a);
  } catch (const ZorException& e) {
    string text;
    std::fprintf(stderr, "zorvane bfile: %s\n", Utf8(e.ToString(&text)).c_str());
    return 1;
  }
}

CLI::App* AddFileCommand(CLI::App* parent, const char* name, const char* help, std::shared_ptr<BFileArgs> args,
                         int (*run)(const BFileArgs&), int& exitCode) {
  CLI::App* cmd = parent->add_subcommand(name, help);
  cmd->add_option("FILE", args->path, "Block file")->required();
  cmd->callback([args, run, &exitCode]() { exitCode = RunReporting(run, *args); });
  return cmd;
}

}  // namespace

void AddBFileCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<BFileArgs>();
  CLI::App* cmd = app.add_subcommand("bfile", "Inspect, check and compact a block file");
  cmd->require_subcommand(1);
  AddFileCommand(cmd, "info", "Header fields, counters and directory summary", args, RunInfo, exitCode);
  AddFileCommand(cmd, "check", "Run the four checks (exit 1 when faults remain)", args, RunCheck, exitCode)
      ->add_flag("--repair", args->repair, "Repair what can be repaired (opens the file for writing)");
  AddFileCommand(cmd, "compact", "Compact the file in place", args, RunCompact, exitCode)
      ->add_option("--mode", args->mode, "1: when 10 % is wasted, 2: any compactable waste, 3: all waste")
      ->check(CLI::Range(1, 3));
  AddFileCommand(cmd, "dump", "One line per directory entry", args, RunDump, exitCode);
  AddBfileStressCommand(*cmd, exitCode);
}

}  // namespace zorvane::tool
