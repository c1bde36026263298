// Reads formatting cases from stdin, one per line, and prints for each the
// result in hexadecimal and the number of debug-channel messages it caused:
//     <pattern hex> TAB <arg 0> TAB ... <arg n-1>      (n from 0 to 10)
// The formatter is called with exactly the n arguments of the line.
// Each argument is "n:<signed 32-bit>", "q:<signed 64-bit>" (passed by
// pointer), "s:<text hex>", "g:<16 bytes hex>", "y:a,b,c,d", or one of the
// bad ones "s:null", "s:bug", "p:low", "p:noaccess" and "y:null". Integer
// slots get garbage in their upper 32 bits, which the formatter must ignore.
#include <zorvane/zorvane.h>

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

int g_debugCount = 0;
void CountDebug(const char*, void*) { ++g_debugCount; }

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = line.find(sep, start)) != std::string::npos; start = at + 1)
    parts.push_back(line.substr(start, at - start));
  parts.push_back(line.substr(start));
  return parts;
}

// Storage that outlives one case: the texts and values pointed to.
struct Storage {
  std::deque<std::string> texts;
  std::deque<int64_t> quads;
  std::deque<std::vector<uint8_t>> blobs;
  std::deque<std::vector<int32_t>> rects;
  char* noAccess = nullptr;  // a page that cannot be read
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
  if (arg == "p:noaccess") return reinterpret_cast<uint64_t>(st->noAccess + 8);
  if (kind == "s") {
    st->texts.push_back(FromHex(value));
    return reinterpret_cast<uint64_t>(st->texts.back().c_str());
  }
  if (kind == "g") {
    std::string bytes = FromHex(value);
    st->blobs.emplace_back(bytes.begin(), bytes.end());
    return reinterpret_cast<uint64_t>(st->blobs.back().data());
  }
  if (kind == "y") {
    std::vector<int32_t> v;
    for (const std::string& n : Split(value, ',')) v.push_back(static_cast<int32_t>(std::stol(n)));
    st->rects.push_back(v);
    return reinterpret_cast<uint64_t>(st->rects.back().data());
  }
  fprintf(stderr, "format_driver: bad argument %s\n", arg.c_str());
  exit(2);
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

}  // namespace

int main() {
  zorvane::ZorSetDebugSink(CountDebug, nullptr);
  Storage st;
  st.noAccess = static_cast<char*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  char line[1 << 16];
  zorvane::string out;
  while (fgets(line, sizeof line, stdin) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::vector<std::string> fields = Split(text, '\t');
    std::string pattern = FromHex(fields[0]);
    uint64_t s[10] = {};
    const size_t n = std::min<size_t>(fields.size() - 1, 10);
    for (size_t i = 0; i < n; ++i) s[i] = Slot(fields[i + 1], &st);
    static char buffer[1 << 18];
    const int debugCount = kFormatN[n](&out, buffer, pattern.c_str(), s);
    if (strcmp(buffer, out.CStr()) != 0) printf("buffer-differs:");
    for (uint32_t i = 0; i < out.Len(); ++i) printf("%02x", static_cast<unsigned char>(out[i]));
    printf("\t%d\n", debugCount);
    st.texts.clear();
    st.quads.clear();
    st.blobs.clear();
    st.rects.clear();
  }
  return 0;
}
