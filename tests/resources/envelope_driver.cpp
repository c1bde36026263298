// Answers envelope and one-shot zlib questions read from stdin, one per
// line; data travels as hexadecimal ("-" for none). Each answer is one line
// "<0|1> <hex>": the result and the bytes afterwards.
//   pack <hex>                      ZorZipHandle; the handle's bytes
//   unpack <hex>                    ZorUnzipHandle; the handle's bytes
//   zipped <hex>                    ZorIsHandleZipped; no bytes
//   compress <level> <room> <hex>   ZorZipSpan::S_Compress; the bytes produced
//   uncompress <room> <hex>         ZorZipSpan::S_Uncompress; the bytes produced
#include <zorvane/zorvane.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

void Answer(bool ok, const uint8_t* p, size_t n) {
  std::string line = ok ? "1 " : "0 ";
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    line += kDigits[p[i] >> 4];
    line += kDigits[p[i] & 15];
  }
  if (n == 0) line += "-";
  std::puts(line.c_str());
}

void AnswerHandle(bool ok, const ZorHandle& h) {
  Answer(ok, static_cast<const uint8_t*>(h.GetDatas()), h.GetSize());
}

}  // namespace

int main() {
  std::string line, command, hex;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    in >> command;
    if (command == "pack" || command == "unpack" || command == "zipped") {
      in >> hex;
      const std::vector<uint8_t> data = FromHex(hex);
      ZorHandle h;
      h.Init(data.data(), static_cast<uint32_t>(data.size()));
      if (command == "zipped") {
        Answer(ZorIsHandleZipped(&h), nullptr, 0);
      } else {
        const bool ok = command == "pack" ? ZorZipHandle(&h) : ZorUnzipHandle(&h);
        AnswerHandle(ok, h);
      }
    } else if (command == "compress" || command == "uncompress") {
      int32_t level = 0;
      uint32_t room = 0;
      if (command == "compress") in >> level;
      in >> room >> hex;
      const std::vector<uint8_t> src = FromHex(hex);
      std::vector<uint8_t> dst(room + 1);
      uint32_t got = room;
      const bool ok = command == "compress"
                          ? ZorZipSpan::S_Compress(dst.data(), &got, src.data(), static_cast<uint32_t>(src.size()), level)
                          : ZorZipSpan::S_Uncompress(dst.data(), &got, src.data(), static_cast<uint32_t>(src.size()));
      if (ok || got == room) {
        Answer(ok, dst.data(), ok ? got : 0);
      } else {
        std::puts("0 length-changed-on-failure");
      }
    } else {
      std::puts("?");
    }
    std::fflush(stdout);
  }
  return 0;
}
