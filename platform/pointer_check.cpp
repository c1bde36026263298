// Pointer readability checks; see pointer_check.h for the approach.
#include "platform/pointer_check.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zorvane::platform {

namespace {

constexpr uintptr_t kLowestValid = 0x10000;  // first 64 KiB never hold data
constexpr uintptr_t kPageSize = 4096;        // probe granularity (the smallest page)
constexpr int kCacheSlots = 16;

struct ReadableCache {
  uintptr_t pages[kCacheSlots] = {};
  int next = 0;
};

thread_local ReadableCache t_cache;

// The pipe used to let the kernel read one byte on our behalf. Both ends are
// non-blocking; every probe reads back what it wrote, so the pipe never fills.
struct ProbePipe {
  int fds[2] = {-1, -1};
  ProbePipe() {
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
  }
};

const ProbePipe& Pipe() {
  static ProbePipe pipe;
  return pipe;
}

bool KernelCanRead(uintptr_t address) {
  const ProbePipe& probe = Pipe();
  if (probe.fds[1] < 0) return true;  // no probe available: trust the pointer
  ssize_t written;
  do {
    written = write(probe.fds[1], reinterpret_cast<const void*>(address), 1);
  } while (written < 0 && errno == EINTR);
  if (written != 1) return errno != EFAULT;
  char sink;
  while (read(probe.fds[0], &sink, 1) < 0 && errno == EINTR) {
  }
  return true;
}

// Whether the page holding `address` is readable. The probe reads the
// address itself, which belongs to the range being checked (probing the
// start of the page could touch a neighbouring object).
bool PageReadable(uintptr_t address) {
  const uintptr_t page = address / kPageSize;
  ReadableCache& cache = t_cache;
  for (uintptr_t known : cache.pages)
    if (known == page) return true;
  if (!KernelCanRead(address)) return false;
  cache.pages[cache.next] = page;
  cache.next = (cache.next + 1) % kCacheSlots;
  return true;
}

}  // namespace

bool ZorIsBadPtr(const void* p, size_t n) {
  uintptr_t first = reinterpret_cast<uintptr_t>(p);
  if (first < kLowestValid) return true;
  if (n == 0) n = 1;
  uintptr_t last = first + (n - 1);
  if (last < first) return true;  // wraps around the address space
  for (uintptr_t at = first;; at = (at / kPageSize + 1) * kPageSize) {
    if (!PageReadable(at)) return true;
    if (at / kPageSize == last / kPageSize) return false;
  }
}

bool ZorIsBadStringPtr(const char* p, size_t maxLen) {
  uintptr_t at = reinterpret_cast<uintptr_t>(p);
  if (at < kLowestValid) return true;
  size_t scanned = 0;
  for (;;) {
    if (!PageReadable(at)) return true;
    size_t inPage = kPageSize - at % kPageSize;
    const void* nul = memchr(reinterpret_cast<const void*>(at), 0, inPage);
    if (nul != nullptr) {
      size_t len = scanned + (static_cast<const char*>(nul) - reinterpret_cast<const char*>(at));
      return len > maxLen;
    }
    scanned += inPage;
    if (scanned > maxLen) return true;
    at += inPage;
  }
}

}  // namespace zorvane::platform
