// Index keys of a table: 1M records of six fields (Long, AnsiString 35,
// Date, Decimal, Short, AnsiString 10) with three indexes (Long + text;
// descending Date + Short + short text; 16-byte Decimal + Long). Ours is
// ZorBuildIndex; the peer is a plain encoder of the same bytes with
// snprintf and memcpy. Each iteration builds the three keys of one record;
// items_per_second counts keys.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

constexpr uint32_t kRecords = 1 << 20;
// Record layout: Long 0, AnsiString 35 at 4 (36 bytes), Date 40, Decimal 48,
// Short 56, AnsiString 10 at 58 (11 bytes); 69 bytes.
constexpr uint32_t kRecordSize = 69;
constexpr int kIndexes = 3;

sZorKey Index(std::initializer_list<int> types, std::initializer_list<int> lens,
              std::initializer_list<uint32_t> offsets) {
  sZorKey k;
  int i = 0;
  for (int t : types) k.partType[i++] = static_cast<uint8_t>(t);
  k.nbPart = static_cast<uint8_t>(i);
  i = 0;
  for (int l : lens) k.keyLen = static_cast<uint8_t>(k.keyLen + (k.partLen[i++] = static_cast<uint8_t>(l)));
  i = 0;
  for (uint32_t o : offsets) k.partOffset[i++] = o;
  return k;
}

const sZorKey kKeys[kIndexes] = {Index({4, 6}, {8, 35}, {0, 4}), Index({110, 3, 6}, {8, 4, 10}, {40, 56, 58}),
                                 Index({9, 4}, {16, 8}, {48, 0})};

const std::vector<uint8_t>& Records() {
  static const std::vector<uint8_t> records = [] {
    std::vector<uint8_t> v(static_cast<size_t>(kRecords) * kRecordSize);
    uint64_t x = 88172645463325252ull;
    auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    for (uint32_t r = 0; r < kRecords; ++r) {
      uint8_t* p = &v[static_cast<size_t>(r) * kRecordSize];
      const int32_t id = static_cast<int32_t>(next());
      std::memcpy(p, &id, 4);
      const int n = static_cast<int>(next() % 36), m = static_cast<int>(next() % 11);
      for (int i = 0; i < n; ++i) p[4 + i] = static_cast<uint8_t>('a' + next() % 26);
      for (int i = 0; i < m; ++i) p[58 + i] = static_cast<uint8_t>('0' + next() % 10);
      const double day = 40000 + static_cast<double>(next() % 20000) + static_cast<double>(next() % 86400) / 86400;
      const double money = static_cast<double>(static_cast<int64_t>(next() % 200000000) - 100000000) / 100;
      const int16_t qty = static_cast<int16_t>(next());
      std::memcpy(p + 40, &day, 8);
      std::memcpy(p + 48, &money, 8);
      std::memcpy(p + 56, &qty, 2);
    }
    return v;
  }();
  return records;
}

// The peer: hexadecimal digits from snprintf turned into letters.
void PeerLetters(char* out, uint64_t v, int letters) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%0*llX", letters, static_cast<unsigned long long>(v));
  for (int i = 0; i < letters; ++i)
    out[i] = static_cast<char>(hex[i] <= '9' ? 'A' + (hex[i] - '0') : 'K' + (hex[i] - 'A'));
}

void PeerText(char* out, const uint8_t* field, int len) {
  const size_t n = strnlen(reinterpret_cast<const char*>(field), static_cast<size_t>(len));
  std::memcpy(out, field, n);
  std::memset(out + n, 1, static_cast<size_t>(len) - n);
}

void PeerBinary64(char* out, const uint8_t* field, int len) {
  double d;
  std::memcpy(&d, field, 8);
  const double whole = std::trunc(d);
  PeerLetters(out, (static_cast<uint32_t>(static_cast<int64_t>(whole)) ^ 0x80000000u), 8);
  if (len == 8) return;
  const int digits = len - 8;
  const uint64_t mask = (1ull << (4 * digits)) - 1;
  const auto fraction = static_cast<uint64_t>(static_cast<int64_t>((d - whole) * std::pow(10.0, digits)));
  PeerLetters(out + 8, (fraction & mask) ^ (1ull << (4 * digits - 1)), digits);
}

struct Revert {
  uint8_t rev[256];
  Revert() {
    uint8_t byWeight[256];
    for (int b = 0; b < 256; ++b) byWeight[ZorCharWeight(static_cast<char>(b))] = static_cast<uint8_t>(b);
    for (int b = 0; b < 256; ++b) rev[b] = byWeight[255 - ZorCharWeight(static_cast<char>(b))];
    rev[0] = rev[255] = 0;
  }
};
const Revert kRev;

void PeerKey(const sZorKey& k, const uint8_t* rec, char* out) {
  for (int i = 0, pos = 0; i < k.nbPart; pos += k.partLen[i++]) {
    const uint8_t* f = rec + k.partOffset[i];
    const int type = k.partType[i] % 100, len = k.partLen[i];
    int32_t l;
    int16_t s;
    switch (type) {
      case 3: std::memcpy(&s, f, 2), PeerLetters(out + pos, static_cast<uint16_t>(s) ^ 0x8000u, 4); break;
      case 4: std::memcpy(&l, f, 4), PeerLetters(out + pos, static_cast<uint32_t>(l) ^ 0x80000000u, 8); break;
      case 6: PeerText(out + pos, f, len); break;
      default: PeerBinary64(out + pos, f, len); break;
    }
    if (k.partType[i] > 100)
      for (int j = pos; j < pos + len; ++j) out[j] = static_cast<char>(kRev.rev[static_cast<uint8_t>(out[j])]);
  }
}

// Both encoders must give the same bytes before either is timed.
void CheckSameBytes() {
  static const bool checked = [] {
    const std::vector<uint8_t>& recs = Records();
    char a[256], b[256];
    for (uint32_t r = 0; r < kRecords; r += 7)
      for (const sZorKey& k : kKeys) {
        ZorBuildIndex(&k, &recs[static_cast<size_t>(r) * kRecordSize], kRecordSize, a);
        PeerKey(k, &recs[static_cast<size_t>(r) * kRecordSize], b);
        if (std::memcmp(a, b, k.keyLen) != 0) {
          std::fprintf(stderr, "table_key_bench: the peer's key differs for record %u\n", r);
          std::abort();
        }
      }
    return true;
  }();
  (void)checked;
}

template <class Build>
void RunKeys(benchmark::State& state, Build build) {
  CheckSameBytes();
  const uint8_t* recs = Records().data();
  char out[kIndexes][256];
  uint32_t r = 0;
  for (auto _ : state) {
    const uint8_t* rec = recs + static_cast<size_t>(r) * kRecordSize;
    for (int i = 0; i < kIndexes; ++i) build(kKeys[i], rec, out[i]);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
    r = (r + 1) & (kRecords - 1);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kIndexes);
}

void BM_TableKeys_Ours(benchmark::State& state) {
  RunKeys(state, [](const sZorKey& k, const uint8_t* rec, char* out) { ZorBuildIndex(&k, rec, kRecordSize, out); });
}

void BM_TableKeys_Peer(benchmark::State& state) {
  RunKeys(state, [](const sZorKey& k, const uint8_t* rec, char* out) { PeerKey(k, rec, out); });
}

}  // namespace

BENCHMARK(BM_TableKeys_Ours);
BENCHMARK(BM_TableKeys_Peer);
BENCHMARK_MAIN();
