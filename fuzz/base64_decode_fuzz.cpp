// Fuzzes the Base64 decoder on arbitrary text and output sizes. A decoded
// result never exceeds the room given, and re-encoding it and decoding again
// gives the same bytes.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const uint32_t len = static_cast<uint32_t>(size - 1);
  const uint32_t room = data[0] == 0xFF ? ZorBase64DecodedMax(len) : data[0];
  std::vector<char> out(room + 1);
  const int32_t n = ZorBase64Decode(text, len, out.data(), room);
  if (n < 0) return 0;
  if (static_cast<uint32_t>(n) > room) std::abort();
  string encoded;
  ZorBase64Encode(out.data(), static_cast<uint32_t>(n), &encoded);
  std::vector<char> back(ZorBase64DecodedMax(encoded.Len()));
  const int32_t m = ZorBase64Decode(encoded.CStr(), encoded.Len(), back.data(), static_cast<uint32_t>(back.size()));
  if (m != n || std::memcmp(back.data(), out.data(), n) != 0) std::abort();
  return 0;
}
