// Answers catalogue and error-text questions read from stdin, one per line,
// with one line each: the result's bytes in hexadecimal ("-" for empty).
//   load <module> <group> <number>     ZorLoadString
//   index <module> <group> <key>       ZorLoadStringIndex
//   cst <module> <group> <place>       ZorGetStringIndexCst
//   err <family> <number>              ZorErrToString
//   ref <hex of the text>              ZorLoadString of a reference text
#include <zorvane/zorvane.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

using namespace zorvane;

namespace {

void PrintHex(const char* text) {
  if (!*text) std::fputs("-", stdout);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) std::printf("%02x", *p);
  std::fputs("\n", stdout);
}

std::string FromHex(const char* hex) {
  std::string out;
  for (; hex[0] && hex[1] && hex[0] != '\n'; hex += 2) {
    unsigned v = 0;
    std::sscanf(hex, "%2x", &v);
    out += static_cast<char>(v);
  }
  return out;
}

}  // namespace

int main() {
  char line[4096], command[16], arg[4000];
  string out;
  while (std::fgets(line, sizeof line, stdin)) {
    long long a = 0, b = 0, c = 0;
    if (std::sscanf(line, "%15s %lld %lld %lld", command, &a, &b, &c) < 1) continue;
    const auto m = static_cast<int32_t>(a), g = static_cast<int32_t>(b), n = static_cast<int32_t>(c);
    if (!std::strcmp(command, "load")) {
      PrintHex(ZorLoadString(m, g, n, &out));
    } else if (!std::strcmp(command, "index")) {
      PrintHex(ZorLoadStringIndex(m, g, n, &out));
    } else if (!std::strcmp(command, "cst")) {
      PrintHex(ZorGetStringIndexCst(m, g, n, &out));
    } else if (!std::strcmp(command, "err")) {
      PrintHex(ZorErrToString(ZorErr(m, static_cast<int32_t>(static_cast<uint32_t>(b))), &out));
    } else if (!std::strcmp(command, "ref") && std::sscanf(line, "%*s %3999s", arg) == 1) {
      const std::string text = FromHex(arg);
      PrintHex(ZorLoadString(text.c_str(), &out));
    } else {
      std::puts("?");
    }
  }
  return 0;
}
