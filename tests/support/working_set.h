// A large resident working set for the life of the object. The block
// file's cache grows its limit instead of evicting while the process's
// resident memory is below a tenth of its address space (2 GiB assumed):
// tests that want eviction to keep running under a small cache limit hold
// one of these so that the process looks busy.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace zortest {

class BusyWorkingSet {
 public:
  explicit BusyWorkingSet(size_t bytes = size_t{240} << 20) : _bytes(new char[bytes]) {
    // Touch every page so that it is resident.
    memset(_bytes.get(), 1, bytes);
  }

 private:
  std::unique_ptr<char[]> _bytes;
};

}  // namespace zortest
