// Driver for uuid_oracle.py: ZorUuid's text forms, parsing, order and new
// identifiers, one answer line per input line.
//
//   T HEX     the 16 stored bytes HEX -> "BRACED BARE FORMAT_g FORMAT_G"
//             (GetValueStr with and without braces, the formatter's g and G)
//   P TEXT    -> the stored bytes in hex after SetValueStr, or "-" when the
//             text is refused ("P" alone: the empty text)
//   C HEX HEX -> S_CmpGuid and S_IsGuidEqual of the two values
//   N         -> the bytes of a new identifier
#include <zorvane/zorvane.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

using zorvane::ZorUuid;

namespace {

ZorUuid FromHex(const std::string& h) {
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(std::stoi(h.substr(2 * i, 2), nullptr, 16));
  return ZorUuid(b);
}

std::string Hex(const ZorUuid& u) {
  std::string out;
  char two[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(two, sizeof two, "%02x", u.GetBytes()[i]);
    out += two;
  }
  return out;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string op, a, b;
    in >> op >> a >> b;
    zorvane::string s1, s2, s3, s4;
    if (op == "T") {
      const ZorUuid u = FromHex(a);
      u.GetValueStr(&s1, true);
      u.GetValueStr(&s2, false);
      zorvane::ZorFormString(&s3, "^0g", u.GetBytes());
      zorvane::ZorFormString(&s4, "^0G", u.GetBytes());
      std::printf("%s %s %s %s\n", s1.CStr(), s2.CStr(), s3.CStr(), s4.CStr());
    } else if (op == "P") {
      ZorUuid u;
      std::printf("%s\n", u.SetValueStr(a.c_str()) ? Hex(u).c_str() : "-");
    } else if (op == "C") {
      const ZorUuid x = FromHex(a), y = FromHex(b);
      std::printf("%d %d\n", ZorUuid::S_CmpGuid(x.GetBytes(), y.GetBytes()),
                  ZorUuid::S_IsGuidEqual(x.GetBytes(), y.GetBytes()) ? 1 : 0);
    } else if (op == "N") {
      std::printf("%s\n", Hex(ZorUuid::S_New()).c_str());
    }
  }
  return 0;
}
