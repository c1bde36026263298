// `zorvane bfile stress FILE [--processes N] [--transactions M] [--seed S]`:
// proves that a block file can be shared by several processes where FILE
// lives (ZorBfStress). FILE is created or emptied, N forked processes run M
// transactions each on it as a distant file, and the verification report
// is printed; exit 1 on any discrepancy. On a local disk the file is
// forced distant, so the sharing protocol is exercised there too.
#include "tools/bfile_stress_command.h"
#include "tools/commands.h"

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
};

int RunStress(const StressArgs& a) {
  string text, utf8;
  const ZorFsa path = PathArgument(a.path);
  sZorBfStressOptions options;
  options.processes = a.processes;
  options.transactions = a.transactions;
  options.seed = a.seed;
  ZorVerif report;
  report.Init(false);
  const bool clean = ZorBfStress(&path, &options, nullptr, &report);
  std::printf("%s", ZorEncodeToUTF8(report.GetText(&text), &utf8));
  return clean ? 0 : 1;
}

int RunReporting(const StressArgs& a) {
  try {
    return RunStress(a);
  } catch (const ZorException& e) {
    string text, utf8;
    e.ToString(&text);
    std::fprintf(stderr, "zorvane bfile stress: %s\n", ZorEncodeToUTF8(text.CStr(), &utf8));
    return 1;
  }
}

}  // namespace

void AddBfileStressCommand(CLI::App& bfile, int& exitCode) {
  auto args = std::make_shared<StressArgs>();
  CLI::App* cmd = bfile.add_subcommand("stress", "Several processes share a block file: run a workload, verify it");
  cmd->add_option("FILE", args->path, "Block file to create (an existing file is emptied)")->required();
  cmd->add_option("--processes", args->processes, "Processes sharing the file")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  cmd->add_option("--transactions", args->transactions, "Transactions per process")
      ->check(CLI::Range(1, 10000000))
      ->capture_default_str();
  cmd->add_option("--seed", args->seed, "Seed of the workload's choices")->capture_default_str();
  cmd->callback([args, &exitCode]() { exitCode = RunReporting(*args); });
}

}  // namespace zorvane::tool
