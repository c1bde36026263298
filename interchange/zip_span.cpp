// The one-shot zlib calls of ZorZipSpan, done by the foundation's
// compression functions (which the packed resource envelope uses too).
#include <zorvane/zip_span.h>

#include "foundation/memory/compression.h"

namespace zorvane {

bool ZorZipSpan::S_Compress(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen, int32_t level) {
  return compression::Deflate(dst, dstLen, src, srcLen, level);
}

bool ZorZipSpan::S_Uncompress(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen) {
  return compression::Inflate(dst, dstLen, src, srcLen);
}

void* ZorZipSpan::S_Zalloc(void* opaque, uint32_t items, uint32_t size) {
  return compression::Alloc(opaque, items, size);
}

void ZorZipSpan::S_Zfree(void* opaque, void* p) { compression::Free(opaque, p); }

}  // namespace zorvane
