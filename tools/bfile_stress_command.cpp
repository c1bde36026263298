// `zorvane bfile stress FILE [--processes N] [--transactions M] [--seed S]
// [--kills K] [--force]`: proves that a block file can be shared by several processes
// where FILE lives (ZorBfStress). FILE is created (an existing file is
// refused, or with --force emptied), N forked processes run M
// transactions each on it as a distant file, and the verification report
// is printed; exit 1 on any discrepancy. On a local disk the file is
// forced distant, so the sharing protocol is exercised there too. With
// --kills, K processes are killed (SIGKILL) at random moments and replaced;
// the verdict still accounts for every committed transaction.
#include "tools/bfile_stress_command.h"
#include "tools/tool_support.h"

#include <zorvane/zorvane.h>

#include <cstdio>
#include <memory>
#include <string>

namespace zorvane::tool {

namespace {

struct StressArgs {
  std::string path;
  int32_t processes = 4;
  int32_t transactions = 500;
  uint32_t seed = 1;
  int32_t kills = 0;
  bool force = false;
};

int RunStress(const StressArgs& a) {
  const ZorFsa path = ToolPath(a.path, PathUse::kOutput);
  if (!a.force && ZorFsaCmd(&path, ZorFsaCmdQuiet).Exists())
    throw ToolError{a.path, "already exists; pass --force to empty it"};
  string text;
  sZorBfStressOptions options;
  options.processes = a.processes;
  options.transactions = a.transactions;
  options.seed = a.seed;
  options.kills = a.kills;
  ZorVerif report;
  report.Init(false);
  sZorBfStressResult result;
  const bool clean = ZorBfStress(&path, &options, &result, &report);
  std::fputs(Utf8(report.GetText(&text)).c_str(), stdout);
  if (a.kills) std::printf("processes killed: %d\n", result.killed);
  return clean ? 0 : 1;
}

}  // namespace

void AddBfileStressCommand(CLI::App& bfile, int& exitCode) {
  auto args = std::make_shared<StressArgs>();
  CLI::App* cmd = bfile.add_subcommand("stress", "Several processes share a block file: run a workload, verify it");
  cmd->add_option("FILE", args->path, "Block file to create (an existing one only with --force)")->required();
  cmd->add_flag("--force", args->force, "Empty FILE when it exists");
  cmd->add_option("--processes", args->processes, "Processes sharing the file")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  cmd->add_option("--transactions", args->transactions, "Transactions per process")
      ->check(CLI::Range(1, 10000000))
      ->capture_default_str();
  cmd->add_option("--seed", args->seed, "Seed of the workload's choices")->capture_default_str();
  cmd->add_option("--kills", args->kills, "Processes killed at random moments (each replaced by a new one)")
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  cmd->callback([args, &exitCode]() {
    exitCode = RunReported("bfile stress", args->path, [&] { return RunStress(*args); });
  });
}

}  // namespace zorvane::tool
