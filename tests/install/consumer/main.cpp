// A program outside the project that uses only the installed headers and library.
#include <zorvane/zorvane.h>
#include <cstdio>

int main() {
  zorvane::string s("consumer");
  s += " ok";
  std::printf("%s\n", s.CStr());
  return s == "CONSUMER OK" ? 0 : 1;
}
