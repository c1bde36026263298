// Driver of string_text_oracle.py (protocol: tests/support/driver.h); texts
// travel in hexadecimal. Compared texts are followed by unlike bytes past
// their terminators; comparisons answer signs.
#include <algorithm>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

std::string Byte(const Fields& f) {
  const char c = static_cast<char>(Int(f[1]));
  const char one[2] = {c, 0};
  string utf8, oem(one);
  ZorEncodeToUTF8(one, &utf8);
  oem.DosToWchar();
  const char lower = ZorToLower(c), upper = ZorToUpper(c, false), plain = ZorToUpper(c, true);
  return HexText(&lower, 1) + " " + HexText(&upper, 1) + " " + HexText(&plain, 1) + " " + HexText(utf8) + " " +
         HexText(oem) + " " + std::to_string(ZorCharWeight(c));
}

// The text, its terminator and then `junk` bytes up to 32: what lies past the
// end must never decide a comparison.
std::vector<char> Padded(const std::string& text, char junk) {
  std::vector<char> out(text.size() + 32, junk);
  std::copy(text.begin(), text.end(), out.begin());
  out[text.size()] = 0;
  return out;
}

std::string Compare(const Fields& f) {
  const std::vector<char> v = Padded(Unhex(f[1]), 'x'), w = Padded(Unhex(f[2]), 'Y');
  const char *x = v.data(), *y = w.data();
  const uint32_t n = static_cast<uint32_t>(Int(f[3]));
  const uint32_t within = std::min<uint32_t>(n, static_cast<uint32_t>(std::min(v.size(), w.size())));
  return Line("%d %d %d %d %d %d %d", Sign(ZorStrCmp(x, y)), Sign(ZorStrICmp(x, y)), ZorStrIEq(x, y),
              Sign(ZorStrICmpN(x, y, n)), ZorStrIEqN(x, y, n), Sign(string(x).ICmp(y, n)), ZorStrEqN(x, y, within));
}

std::string Sort(const Fields& f, bool ignoreCase) {
  std::vector<std::string> words;
  for (size_t i = 1; i < f.size(); ++i) words.push_back(Unhex(f[i]));
  std::stable_sort(words.begin(), words.end(), [&](const std::string& x, const std::string& y) {
    return (ignoreCase ? ZorStrICmp(x.c_str(), y.c_str()) : ZorStrCmp(x.c_str(), y.c_str())) < 0;
  });
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + HexText(w);
  return out;
}

std::string Base64(const Fields& f) {
  const std::string bytes = Unhex(f[1]);
  string text;
  ZorBase64Encode(bytes.data(), static_cast<uint32_t>(bytes.size()), &text);
  std::vector<char> back(ZorBase64DecodedMax(text.Len()));
  const int32_t n = ZorBase64Decode(text.CStr(), text.Len(), back.data(), static_cast<uint32_t>(back.size()));
  return std::string(text.IsEmpty() ? "-" : text.CStr()) + " " +
         (n < 0 ? "error" : HexText(back.data(), static_cast<size_t>(n)));
}

}  // namespace

int main() {
  string out;
  return Serve({
      {"byte", Byte},
      {"cmp", Compare},
      {"key",
       [](const Fields& f) {
         const std::string x = Unhex(f[1]), y = Unhex(f[2]);
         return Line("%d", Sign(ZorCompIndex(x.data(), y.data(), static_cast<int32_t>(x.size()))));
       }},
      {"sort", [](const Fields& f) { return Sort(f, false); }},
      {"isort", [](const Fields& f) { return Sort(f, true); }},
      {"utf8dec",
       [&](const Fields& f) {
         out = "not cleared";
         ZorDecodefromUTF8(Unhex(f[1]).c_str(), &out);
         return HexText(out);
       }},
      {"code",
       [&](const Fields& f) {
         ZorGetUTF8FromCode(static_cast<uint32_t>(Int(f[1])), &out);
         return HexText(out);
       }},
      {"b64", Base64},
  });
}
