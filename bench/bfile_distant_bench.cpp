// Block files shared by several processes, on a local file forced distant.
// No other store shares a file this way, so there is no peer: the figures
// are counters of plain BM_ jobs.
//
// BM_DistantTx/P/F: P processes, each 200 transactions (increment a shared
//   counter block, create a 1 KB block) on one copy-on-write file; F = 1
//   flushes the operating-system buffers at each commit, F = 0 does not.
//   Counter tx_per_s: committed transactions per second of wall time.
// BM_BytesPerTx_Differential / _plain: one process, a file of 2,000 blocks
//   of 200 bytes; each transaction changes one byte of a random block and
//   creates a 300-byte block (copy-on-write). Counter bytes_per_tx: bytes
//   the block file wrote, through a counting stream, with differential
//   writes (distant) and with plain ones (the same file local).
#include <zorvane/block_file.h>
#include <zorvane/stream.h>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

constexpr int32_t kTransactions = 200;

std::string BenchFile(const char* name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/zor_bfdist_bench." + name + "." + std::to_string(getpid());
}

void RemoveFile(const std::string& file) {
  unlink(file.c_str());
  unlink((file + ".zsl").c_str());
}

void CreateWithCounter(const ZorFsa& path) {
  ZorBFile::Create(&path, 1, 1, "bench", ZorFsaCreateAlways);
  ZorBFile f;
  f.Open(&path, ZorPermReadWrite, ZorShareReadWrite, 0, -1, 1, 1);
  ZorHandle h;
  h.Init(8);
  memset(h.GetDatas(), 0, 8);
  f.BCreate(&h, 0, 1, 0, false);
  f.Close(ZorBfCloseNormal);
}

int Worker(const ZorFsa& path, int32_t flags, int32_t index) {
  ZorBFile f;
  f.Open(&path, ZorPermReadWrite, ZorShareReadWrite, flags, -1, 1, 1);
  ZorHandle data;
  data.Init(1024);
  memset(data.GetDatas(), index, 1024);
  for (int32_t t = 0; t < kTransactions; ++t) {
    f.StartTransaction();
    ZorHandle h;
    f.BRead(1, &h);
    ++*static_cast<uint64_t*>(h.GetDatas());
    f.BWrite(1, 0);
    f.BCreate(&data, index, 2, 0, true);
    f.EndTransaction();
  }
  f.Close(ZorBfCloseNormal);
  return 0;
}

void BM_DistantTx(benchmark::State& state) {
  const int32_t processes = static_cast<int32_t>(state.range(0));
  const int32_t flags = ZorBfOpenCopyOnWrite | (state.range(1) ? 0 : ZorBfOpenNoFlush);
  const std::string file = BenchFile("tx");
  const ZorFsa path(file.c_str());
  ZorSetForceDistant(true);
  for (auto _ : state) {
    state.PauseTiming();
    CreateWithCounter(path);
    state.ResumeTiming();
    std::vector<pid_t> pids;
    for (int32_t i = 1; i <= processes; ++i) {
      const pid_t pid = fork();
      if (pid == 0) _exit(Worker(path, flags, i));
      pids.push_back(pid);
    }
    for (const pid_t pid : pids) {
      int status = 0;
      waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("a worker failed");
    }
  }
  ZorSetForceDistant(false);
  RemoveFile(file);
  state.counters["tx_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * processes * kTransactions), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DistantTx)
    ->ArgsProduct({{1, 2, 4}, {0, 1}})
    ->ArgNames({"processes", "flush"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A stream that counts the bytes written through it.
class CountingStream : public iZorStream {
 public:
  explicit CountingStream(iZorStream* inner) : _inner(inner) {}
  uint64_t written = 0;

  bool Idle() override { return _inner->Idle(); }
  bool Init(const ZorFsa* p, eZorStreamPerm perm, uint32_t flags) override { return _inner->Init(p, perm, flags); }
  uint32_t Read(void* buf, uint32_t n) override { return _inner->Read(buf, n); }
  void Write(const void* buf, uint32_t n) override {
    written += n;
    _inner->Write(buf, n);
  }
  uint64_t Seek(int64_t offset, eZorSeek whence) override { return _inner->Seek(offset, whence); }
  uint64_t GetSize() override { return _inner->GetSize(); }
  void SetSize(uint64_t size) override { _inner->SetSize(size); }
  void Flush() override { _inner->Flush(); }
  void Lock(int64_t offset, uint32_t length) override { _inner->Lock(offset, length); }
  void UnLock(int64_t offset, uint32_t length) override { _inner->UnLock(offset, length); }
  int32_t Command(eZorStreamCmd cmd, void* a1, void* a2, void* a3, void* a4) override {
    // The change callback is called with the inner stream: it only ever
    // passes it along, so the block file never sees which one.
    return _inner->Command(cmd, a1, a2, a3, a4);
  }
  void Close() override { _inner->Close(); }
  void* Lock(ZorLock* guard) override { return _inner->Lock(guard); }
  void Unlock() override { _inner->Unlock(); }

 private:
  iZorStream* _inner;
};

void BytesPerTx(benchmark::State& state, bool distant) {
  const std::string file = BenchFile(distant ? "diff" : "plain");
  const ZorFsa path(file.c_str());
  ZorSetForceDistant(distant);
  ZorBFile::Create(&path, 1, 1, "bench", ZorFsaCreateAlways);
  ZorStdStream inner;
  inner.Init(&path, ZorPermReadWrite | ZorShareReadWrite, 0);
  CountingStream s(&inner);
  ZorBFile f;
  f.OpenOnStream(&s, &path, ZorBfOpenCopyOnWrite | ZorBfOpenNoFlush, -1, 1, 1);
  ZorHandle small;
  small.Init(200);
  memset(small.GetDatas(), 7, 200);
  f.StartTransaction();
  for (int i = 0; i < 2000; ++i) f.BCreate(&small, 1, 1, 0, true);
  f.EndTransaction();
  ZorHandle fresh;
  fresh.Init(300);
  memset(fresh.GetDatas(), 9, 300);
  std::mt19937 rng(5);
  s.written = 0;
  int64_t transactions = 0;
  for (auto _ : state) {
    f.StartTransaction();
    const int32_t id = 1 + static_cast<int32_t>(rng() % 2000);
    ZorHandle h;
    f.BRead(id, &h);
    static_cast<uint8_t*>(h.GetDatas())[100]++;
    f.BWrite(id, 0);
    f.BCreate(&fresh, 2, 1, 0, true);
    f.EndTransaction();
    ++transactions;
  }
  f.Close(ZorBfCloseNormal);
  inner.Close();
  ZorSetForceDistant(false);
  RemoveFile(file);
  state.counters["bytes_per_tx"] = static_cast<double>(s.written) / static_cast<double>(std::max<int64_t>(1, transactions));
}

void BM_BytesPerTx_Differential(benchmark::State& state) { BytesPerTx(state, true); }
void BM_BytesPerTx_Plain(benchmark::State& state) { BytesPerTx(state, false); }
BENCHMARK(BM_BytesPerTx_Differential)->Iterations(1000);
BENCHMARK(BM_BytesPerTx_Plain)->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();
