// Driver for file_checksum_oracle.py: checksums of paths.
//
//   file_checksum_driver   each input line "PATH<TAB>dir|file<TAB>OPTIONS"
//                          -> "DIGEST NBFILE"
//
// Runs the work with DoIdle(0) steps, so that the digest goes through every
// stop point of the idle loop.
#include <zorvane/zorvane.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string path, kind, options;
    std::getline(fields, path, '\t');
    std::getline(fields, kind, '\t');
    std::getline(fields, options);
    zorvane::ZorFsa fsa;
    fsa.InitFromPath(path.c_str());
    zorvane::ZorFileCheckSum sum;
    sum.Init(&fsa, kind == "dir", options.c_str());
    while (!sum.DoIdle(0)) {
    }
    zorvane::string digest;
    std::printf("%s %d\n", sum.GetCheckSum(&digest, false), sum.GetNbFile());
  }
  return 0;
}
