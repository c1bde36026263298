// Driver for md5_oracle.py: digests of messages fed to ZorMD5 in pieces.
//
//   md5_driver    each input line "HEX CUTS" -> the digest text of the bytes
//                 HEX, fed to one ZorMD5 with Update calls that end at the
//                 comma-separated offsets CUTS ("-" for a single call). The
//                 same object serves every line, so reuse after Final is
//                 exercised too.
#include <zorvane/zorvane.h>
#include <zorvane/md5.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Unhex(const std::string& h) {
  std::vector<uint8_t> out;
  if (h == "-") return out;
  out.reserve(h.size() / 2);
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<size_t> Cuts(const std::string& text) {
  std::vector<size_t> cuts;
  if (text == "-") return cuts;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) cuts.push_back(std::stoul(item));
  return cuts;
}

}  // namespace

int main() {
  zorvane::ZorMD5 md5;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string hex, cutText;
    fields >> hex >> cutText;
    const std::vector<uint8_t> data = Unhex(hex);
    size_t from = 0;
    for (size_t cut : Cuts(cutText)) {
      md5.Update(data.data() + from, static_cast<uint32_t>(cut - from));
      from = cut;
    }
    md5.Update(data.data() + from, static_cast<uint32_t>(data.size() - from));
    zorvane::string digest;
    std::printf("%s\n", md5.FinalHex(&digest));
  }
  return 0;
}
