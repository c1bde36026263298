// Reads string lists given in hexadecimal on stdin, one per line, and
// answers one line per list:
//   <ok> <count> <group> then, for every id from 0 to count + 1,
//   " <text hex|~>:<defined 0|1>:<symbol hex|->"
// ("~" when the index gives no text, "-" for an empty text or symbol).
#include <zorvane/zorvane.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const char* text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    out += kDigits[*p >> 4];
    out += kDigits[*p & 15];
  }
  return out.empty() ? "-" : out;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::vector<uint8_t> bytes = FromHex(line == "-" ? "" : line);
    ZorStringList list;
    const bool ok = list.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::string answer = std::to_string(ok) + " " + std::to_string(list.GetCount()) + " " +
                         std::to_string(list.GetGroup());
    for (int32_t id = 0; id <= list.GetCount() + 1; ++id) {
      const char* text = list.GetText(id);
      answer += " " + (text ? Hex(text) : std::string("~")) + ":" + (list.IsDefined(id) ? "1" : "0") + ":" +
                Hex(list.GetSymbol(id));
    }
    std::puts(answer.c_str());
  }
  return 0;
}
