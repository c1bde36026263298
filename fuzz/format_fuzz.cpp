// Fuzzes the formatter on arbitrary patterns with valid arguments. The first
// ten bytes choose, per argument, a small integer (which every pointer type
// must refuse as unreadable) or a pointer to a readable 32-byte block whose
// first 8 bytes hold a double (a valid decimal and date) and which is
// NUL-terminated (a valid text, 64-bit value, GUID and four values). The
// rest is the pattern. The string and buffer forms must agree.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorvane;

namespace {

constexpr double kValues[] = {0.0, 1.5, -1234.5678, 45000.25, 5.0, 3068000.75, 1e15, -0.004};

struct Block {
  char bytes[32];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  Block blocks[10];
  uint64_t slots[10];
  for (int i = 0; i < 10; ++i) {
    memset(blocks[i].bytes, 0, sizeof blocks[i].bytes);
    const uint8_t pick = data[i];
    if (pick & 0x80) {
      slots[i] = pick & 0x7F;  // a small integer
    } else {
      const double v = kValues[pick % std::size(kValues)];
      memcpy(blocks[i].bytes, &v, sizeof v);
      memset(blocks[i].bytes + 8, 'a' + (pick & 15), pick % 20);
      slots[i] = reinterpret_cast<uint64_t>(blocks[i].bytes);
    }
  }
  const std::string pattern(reinterpret_cast<const char*>(data + 10), size - 10);
  string out;
  ZorFormString(&out, pattern.c_str(), slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6],
                slots[7], slots[8], slots[9]);
  std::string buffer(out.Len() + 1, '\0');
  ZorFormString(buffer.data(), pattern.c_str(), slots[0], slots[1], slots[2], slots[3], slots[4], slots[5],
                slots[6], slots[7], slots[8], slots[9]);
  if (strcmp(buffer.c_str(), out.CStr()) != 0) std::abort();
  return 0;
}
