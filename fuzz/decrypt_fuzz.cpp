// Fuzzes Decrypt on arbitrary text in both modes. The input is "key NUL
// text"; the decrypted text must encrypt back to a text that decrypts to it.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <string>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\0');
  const std::string key = input.substr(0, cut);
  const std::string text = cut == std::string::npos ? "" : input.substr(cut + 1);
  for (uint32_t mode = 0; mode < 2; ++mode) {
    string s(text.c_str()), plain, enc, back;
    s.Decrypt(key.c_str(), mode, &plain);
    plain.Encrypt(key.c_str(), mode, &enc);
    enc.Decrypt(key.c_str(), mode, &back);
    if (!ZorStrEq(back.CStr(), plain.CStr())) std::abort();
  }
  return 0;
}
