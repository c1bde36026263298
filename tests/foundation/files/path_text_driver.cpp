// Driver for fsa_path_oracle.py: reads one path text per line and prints
// "OK <system form>\t<internal form>" or "ERR <family> <number>" for a text
// that InitFromPath refuses. Each path is released before the next line, so
// every line is spelled as it was written.
#include <zorvane/zorvane.h>

#include <iostream>
#include <string>

int main() {
  std::string line;
  zorvane::string sys, internal;
  while (std::getline(std::cin, line)) {
    try {
      const zorvane::ZorFsa path(line.c_str());
      std::cout << "OK " << path.GetPath(0, &sys) << '\t' << path.GetPath(1, &internal) << '\n';
    } catch (const zorvane::ZorEBasic& e) {
      std::cout << "ERR " << zorvane::ZorErrFamily(e.GetError()) << ' ' << zorvane::ZorErrNumber(e.GetError())
                << '\n';
    }
  }
  return 0;
}
