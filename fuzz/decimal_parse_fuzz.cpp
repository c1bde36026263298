// Fuzzes the reading of decimal texts: every Set form on arbitrary bytes.
//
// Input: byte 0 picks the logical type, byte 1 the sign flag and the explicit
// separators, the rest is the text (cut at its first NUL). Checked on every
// input: a failed parse leaves 0; a successful one gives a finite value; a
// value that reads back is written by ToKernel and ToStr, and the kernel text
// of a valid value reads back to the same double.
#include <zorvane/zorvane.h>

#include <cmath>
#include <cstdlib>
#include <string>

using namespace zorvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Exercise(const decimal& d, eZorLogType type) {
  string text;
  d.ToStr(&text, type);
  d.ToStr(&text, type, true, 1, 0);
  d.ToKernel(&text, type);
  const int32_t resolved = type == kZorLogTypeMoney ? ZorGetDocConfig().moneyType : type;
  if (!d.IsValid() || resolved > kZorLogTypeInt || resolved < 0) return;
  decimal back;
  Check(back.SetKernel(text.CStr(), type));
  // Beyond 15 significant digits the reading keeps 18 digits and may round
  // twice; within them the text names the value exactly.
  if (std::fabs(d._getDouble()) < 1e6) Check(back._getDouble() == d._getDouble());
}

void ParseAll(const char* text, eZorLogType type, uint8_t flags) {
  const char separators[] = {0, 1, ' ', '.', ',', '\''};
  const bool allowSign = (flags & 1) != 0;
  const char thousands = separators[(flags >> 1) % 6];
  const char point = separators[(flags >> 4) % 6];
  for (int form = 0; form < 3; ++form) {
    decimal v;
    bool ok = false;
    if (form == 0) ok = v.Set(text, type);
    if (form == 1) ok = v.SetKernel(text, type);
    if (form == 2) ok = v.Set(text, type, allowSign, thousands, point);
    if (!ok) {
      Check(v._getDouble() == 0);
      continue;
    }
    Check(std::isfinite(v._getDouble()));
    Exercise(v, type);
  }
  ZorExpToLogType(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const auto type = static_cast<eZorLogType>(static_cast<int8_t>(data[0]) % 24);
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  ParseAll(text.c_str(), type, data[1]);
  return 0;
}
