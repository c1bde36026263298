// File checksum of a 256 MiB file: ZorFileCheckSum (MD5 over the name, the
// size and the content read in 16 KiB blocks through the library's stream)
// against the system's md5sum program on the same file, timed as a
// subprocess (start, read, digest, exit). The file is written once and read
// by both sides from the page cache; a warm-up run of each fills it.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr size_t kFileSize = 256u << 20;

// The benchmark file, made on first use and removed when the program ends.
struct TempFile {
  std::string path = "/tmp/zor_checksum_bench_" + std::to_string(getpid()) + ".dat";
  TempFile() {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::mt19937_64 rng(256);
    std::vector<uint64_t> chunk(1 << 17);
    for (size_t done = 0; done < kFileSize; done += chunk.size() * 8) {
      for (auto& v : chunk) v = rng();
      std::fwrite(chunk.data(), 8, chunk.size(), f);
    }
    std::fclose(f);
  }
  ~TempFile() { std::remove(path.c_str()); }
};

const std::string& BenchFile() {
  static const TempFile file;
  return file.path;
}

void BM_Md5File256M_Ours(benchmark::State& state) {
  zorvane::ZorFsa path;
  path.InitFromPath(BenchFile().c_str());
  for (auto _ : state) {
    zorvane::ZorFileCheckSum sum;
    sum.Init(&path, false, "");
    sum.CalcCheckSum(false);
    zorvane::string digest;
    benchmark::DoNotOptimize(sum.GetCheckSum(&digest, false));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_Md5File256M_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Md5File256M_Peer(benchmark::State& state) {
  const std::string& file = BenchFile();
  char prog[] = "md5sum";
  std::vector<char> arg(file.begin(), file.end());
  arg.push_back(0);
  char* argv[] = {prog, arg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawnp(&pid, prog, &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("md5sum cannot be started");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("md5sum failed");
  }
  posix_spawn_file_actions_destroy(&actions);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_Md5File256M_Peer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
