// Driver for string_text_oracle.py: applies the library's text functions to
// the cases the script sends and prints the results in hex.
//
//   string_text_driver tables      one line per byte 0-255:
//                                  "byte lower upper plain utf8 oem weight"
//   string_text_driver cmp         "hexA hexB n" -> "cmp icmp ieq icmpN ieqN ICmp(n) eqN"
//                                  (signs; the texts are followed by unlike
//                                  bytes past their terminators)
//   string_text_driver key         "hexA hexB" (same length) -> sign of ZorCompIndex
//   string_text_driver sort|isort  hex words -> the words sorted by
//                                  ZorStrCmp / ZorStrICmp
//   string_text_driver utf8dec     hex UTF-8 -> hex cp1252, "-" when empty
//   string_text_driver code        every unit 0-FFFF -> hex of its UTF-8
//   string_text_driver b64         hex bytes -> "base64 hex-of-decoded-back"
#include <zorvane/zorvane.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using zorvane::string;

namespace {

std::string Hex(const char* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out.empty() ? "-" : out;
}

std::string Hex(const string& s) { return Hex(s.CStr(), s.Len()); }

std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

void Tables() {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char one[2] = {c, 0};
    string utf8, oem(one);
    zorvane::ZorEncodeToUTF8(one, &utf8);
    oem.DosToWchar();
    const char lower = zorvane::ZorToLower(c), upper = zorvane::ZorToUpper(c, false);
    const char plain = zorvane::ZorToUpper(c, true);
    std::printf("%d %s %s %s %s %s %d\n", b, Hex(&lower, 1).c_str(), Hex(&upper, 1).c_str(),
                Hex(&plain, 1).c_str(), Hex(utf8).c_str(), Hex(oem).c_str(), zorvane::ZorCharWeight(c));
  }
}

// The text, its terminator and then `junk` bytes up to 32: what lies past the
// end must never decide a comparison.
std::vector<char> Padded(const std::string& text, char junk) {
  std::vector<char> out(text.size() + 32, junk);
  std::copy(text.begin(), text.end(), out.begin());
  out[text.size()] = 0;
  return out;
}

void Compare() {
  std::string a, b;
  uint32_t n;
  while (std::cin >> a >> b >> n) {
    const std::vector<char> x = Padded(a == "-" ? "" : Unhex(a), 'x');
    const std::vector<char> y = Padded(b == "-" ? "" : Unhex(b), 'Y');
    const uint32_t within = std::min<uint32_t>(n, static_cast<uint32_t>(std::min(x.size(), y.size())));
    std::printf("%d %d %d %d %d %d %d\n", Sign(zorvane::ZorStrCmp(x.data(), y.data())),
                Sign(zorvane::ZorStrICmp(x.data(), y.data())), zorvane::ZorStrIEq(x.data(), y.data()) ? 1 : 0,
                Sign(zorvane::ZorStrICmpN(x.data(), y.data(), n)), zorvane::ZorStrIEqN(x.data(), y.data(), n) ? 1 : 0,
                Sign(string(x.data()).ICmp(y.data(), n)), zorvane::ZorStrEqN(x.data(), y.data(), within) ? 1 : 0);
  }
}

void CompareKeys() {
  std::string a, b;
  while (std::cin >> a >> b) {
    const std::string x = Unhex(a), y = Unhex(b);
    std::printf("%d\n", Sign(zorvane::ZorCompIndex(x.data(), y.data(), static_cast<int32_t>(x.size()))));
  }
}

void Sort(bool ignoreCase) {
  std::vector<std::string> words;
  for (std::string h; std::cin >> h;) words.push_back(Unhex(h));
  std::stable_sort(words.begin(), words.end(), [&](const std::string& x, const std::string& y) {
    return (ignoreCase ? zorvane::ZorStrICmp(x.c_str(), y.c_str()) : zorvane::ZorStrCmp(x.c_str(), y.c_str())) < 0;
  });
  for (const auto& w : words) std::printf("%s\n", Hex(w.data(), w.size()).c_str());
}

void Utf8Decode() {
  for (std::string h; std::cin >> h;) {
    string out("not cleared");
    zorvane::ZorDecodefromUTF8(Unhex(h).c_str(), &out);
    std::printf("%s\n", Hex(out).c_str());
  }
}

void Utf8OfUnits() {
  string out;
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    zorvane::ZorGetUTF8FromCode(u, &out);
    std::printf("%s\n", Hex(out).c_str());
  }
}

void Base64() {
  for (std::string h; std::cin >> h;) {
    const std::string bytes = h == "-" ? "" : Unhex(h);
    string text;
    zorvane::ZorBase64Encode(bytes.data(), static_cast<uint32_t>(bytes.size()), &text);
    std::vector<char> back(zorvane::ZorBase64DecodedMax(text.Len()));
    const int32_t n = zorvane::ZorBase64Decode(text.CStr(), text.Len(), back.data(), static_cast<uint32_t>(back.size()));
    std::printf("%s %s\n", text.IsEmpty() ? "-" : text.CStr(), n < 0 ? "error" : Hex(back.data(), n).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string job = argc > 1 ? argv[1] : "";
  if (job == "tables") Tables();
  else if (job == "cmp") Compare();
  else if (job == "key") CompareKeys();
  else if (job == "sort") Sort(false);
  else if (job == "isort") Sort(true);
  else if (job == "utf8dec") Utf8Decode();
  else if (job == "code") Utf8OfUnits();
  else if (job == "b64") Base64();
  else return 2;
  return 0;
}
