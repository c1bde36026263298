// Driver of format_oracle.py (protocol: tests/support/driver.h).
//
//   fmt PATTERN ARG...   (PATTERN in hex, 0 to 10 arguments)
//       -> the result in hex, TAB, the number of debug-channel messages
// The formatter is called with exactly the arguments of the line, each
// "n:<signed 32-bit>", "q:<signed 64-bit>" (passed by pointer), "s:<text
// hex>", "g:<16 bytes hex>", "y:a,b,c,d", or one of the bad ones "s:null",
// "s:bug", "p:low", "p:noaccess" and "y:null". Integer slots get garbage in
// their upper 32 bits, which the formatter must ignore. The result is
// "buffer-differs:" and the string's when the entry point that writes into
// a buffer gives another text.
#include <sys/mman.h>

#include <array>
#include <cstring>
#include <deque>
#include <utility>

#include "support/driver.h"

using namespace zorvane::test;

namespace {

int g_debugCount = 0;
void CountDebug(const char*, void*) { ++g_debugCount; }

char* g_noAccess = nullptr;  // a page that cannot be read

// What the arguments of one case point to.
struct Storage {
  std::deque<std::string> texts;
  std::deque<int64_t> quads;
  std::deque<std::vector<uint8_t>> blobs;
  std::deque<std::vector<int32_t>> rects;
};

uint64_t Slot(const std::string& arg, Storage* st) {
  const std::string kind = arg.substr(0, 1), value = arg.size() > 2 ? arg.substr(2) : "";
  if (kind == "n") return 0xDEADBEEF00000000ull | static_cast<uint32_t>(std::stol(value));
  if (kind == "q") {
    st->quads.push_back(std::stoll(value));
    return reinterpret_cast<uint64_t>(&st->quads.back());
  }
  if (arg == "s:null" || arg == "y:null") return 0;
  if (arg == "s:bug") return 0x00475542;
  if (arg == "p:low") return 0x1234;
  if (arg == "p:noaccess") return reinterpret_cast<uint64_t>(g_noAccess + 8);
  if (kind == "s") {
    st->texts.push_back(Unhex(value));
    return reinterpret_cast<uint64_t>(st->texts.back().c_str());
  }
  if (kind == "g") {
    std::string bytes = Unhex(value);
    st->blobs.emplace_back(bytes.begin(), bytes.end());
    return reinterpret_cast<uint64_t>(st->blobs.back().data());
  }
  if (kind == "y") {
    std::vector<int32_t> v;
    for (const std::string& n : Split(value, ',')) v.push_back(static_cast<int32_t>(std::stol(n)));
    st->rects.push_back(v);
    return reinterpret_cast<uint64_t>(st->rects.back().data());
  }
  std::fprintf(stderr, "format_driver: bad argument %s\n", arg.c_str());
  std::exit(2);
}

// Both entry points with the first N slots as the arguments; returns the
// debug messages of the first.
template <size_t... I>
int FormatWith(zorvane::string* out, char* buffer, const char* pattern, const uint64_t* s, std::index_sequence<I...>) {
  g_debugCount = 0;
  zorvane::ZorFormString(out, pattern, s[I]...);
  const int debugCount = g_debugCount;
  zorvane::ZorFormString(buffer, pattern, s[I]...);
  return debugCount;
}
template <size_t N>
int FormatN(zorvane::string* out, char* buffer, const char* pattern, const uint64_t* s) {
  return FormatWith(out, buffer, pattern, s, std::make_index_sequence<N>{});
}
template <size_t... N>
constexpr auto FormTable(std::index_sequence<N...>) {
  return std::array{&FormatN<N>...};
}
constexpr auto kFormatN = FormTable(std::make_index_sequence<11>{});

std::string Format(const Fields& f, zorvane::string& out) {
  Storage st;
  uint64_t s[10] = {};
  const size_t n = std::min<size_t>(f.size() - 2, 10);
  for (size_t i = 0; i < n; ++i) s[i] = Slot(f[i + 2], &st);
  static char buffer[1 << 18];
  const int debugCount = kFormatN[n](&out, buffer, Unhex(f[1]).c_str(), s);
  return (std::strcmp(buffer, out.CStr()) ? "buffer-differs:" : "") + Hex(out.CStr(), out.Len()) +
         Line("\t%d", debugCount);
}

}  // namespace

int main() {
  zorvane::ZorSetDebugSink(CountDebug, nullptr);
  g_noAccess = static_cast<char*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  zorvane::string out;  // one string for every case: left-overs must not show
  return Serve({{"fmt", [&](const Fields& f) { return Format(f, out); }}});
}
