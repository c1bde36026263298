// Fuzzes the reading of date texts in every field order.
//
// Input: byte 0 picks the order (1-6), the two-digit-year rule, the
// end-of-month correction and a pivot; the rest is the text (cut at its first
// NUL). Checked on every input: parsing fills the value even when it fails
// (0 on failure); a date read is empty or lies in the calendar, and its
// kernel text reads back to the same value; the same bytes as a time stamp
// and as a format pattern never misbehave.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t head = data[0];
  const char* raw = reinterpret_cast<const char*>(data + 1);
  const std::string text(raw, strnlen(raw, size - 1));
  const char* p = text.c_str();

  ZorDocConfig config;
  config.dateOrder = static_cast<eZorDateOrder>(head % 6 + 1);
  config.twoDigitYearRule = (head & 0x08) != 0;
  config.endOfMonthCorrection = (head & 0x10) != 0;
  config.yearPivot = (head >> 5) * 14;
  config.workDate = 154868;  // 1 January 2024
  ZorDocConfigScope scope(config);

  date v;
  v.SetValue(-1);
  const bool ok = v.Set(p);
  if (!ok && !v.IsEmpty()) std::abort();
  if (ok && !v.IsEmpty() && !v.IsValid()) std::abort();
  if (!v.IsEmpty()) {
    string kernel;
    v.ToKernel(&kernel);
    date back;
    ZorDocConfig plain = config;
    plain.twoDigitYearRule = false;
    ZorDocConfigScope kernelScope(plain);
    if (!back.SetKernel(kernel.CStr()) || back.GetValue() != v.GetValue()) std::abort();
  }

  date stamp;
  if (stamp.SetTimeStamp(p) && text.size() == 19 && text[10] == 'T') {
    string again;
    if (text != stamp.ToTimeStampStr(&again)) std::abort();
  }
  string out;
  date(ZorDateAddSeconds, &v, static_cast<int32_t>(size) * 997).Format(p, &out);
  return 0;
}
