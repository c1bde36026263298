// Sequential write and read of 256 MiB in 64 KiB pieces through ZorStdStream
// against plain write(2)/read(2) with the same piece size, on a file under
// $TMPDIR (else /tmp).
#include <zorvane/stream.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

constexpr uint32_t kPiece = 64 * 1024;
constexpr uint64_t kTotal = uint64_t{256} << 20;

std::string BenchFile() {
  const char* dir = getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/zor_stream_bench." + std::to_string(getpid());
}

void CreateEmpty(const std::string& path) { close(open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600)); }

std::vector<char> Piece() {
  std::vector<char> buf(kPiece);
  for (uint32_t i = 0; i < kPiece; ++i) buf[i] = static_cast<char>(i * 31);
  return buf;
}

void BM_SeqWrite_Ours(benchmark::State& state) {
  const std::string file = BenchFile();
  const ZorFsa path(file.c_str());
  const std::vector<char> buf = Piece();
  for (auto _ : state) {
    CreateEmpty(file);
    ZorStdStream s;
    s.Init(&path, ZorPermReadWrite | ZorShareExclusive, 0);
    for (uint64_t done = 0; done < kTotal; done += kPiece) s.Write(buf.data(), kPiece);
    s.Close();
  }
  unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_SeqWrite_Peer(benchmark::State& state) {
  const std::string file = BenchFile();
  const std::vector<char> buf = Piece();
  for (auto _ : state) {
    CreateEmpty(file);
    const int fd = open(file.c_str(), O_RDWR);
    for (uint64_t done = 0; done < kTotal; done += kPiece)
      if (write(fd, buf.data(), kPiece) != kPiece) state.SkipWithError("write");
    close(fd);
  }
  unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The file to read is written once, outside the timing.
std::string PrepareReadFile() {
  const std::string file = BenchFile() + ".r";
  const std::vector<char> buf = Piece();
  const int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  for (uint64_t done = 0; done < kTotal; done += kPiece)
    if (write(fd, buf.data(), kPiece) != kPiece) break;
  close(fd);
  return file;
}

void BM_SeqRead_Ours(benchmark::State& state) {
  const std::string file = PrepareReadFile();
  const ZorFsa path(file.c_str());
  std::vector<char> buf(kPiece);
  for (auto _ : state) {
    ZorStdStream s;
    s.Init(&path, ZorPermRead | ZorShareRead, 0);
    while (s.Read(buf.data(), kPiece) == kPiece) {
    }
    s.Close();
  }
  unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_SeqRead_Peer(benchmark::State& state) {
  const std::string file = PrepareReadFile();
  std::vector<char> buf(kPiece);
  for (auto _ : state) {
    const int fd = open(file.c_str(), O_RDONLY);
    while (read(fd, buf.data(), kPiece) == kPiece) {
    }
    close(fd);
  }
  unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

}  // namespace

BENCHMARK(BM_SeqWrite_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SeqWrite_Peer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SeqRead_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SeqRead_Peer)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
