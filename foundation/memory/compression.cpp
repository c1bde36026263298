// One-shot zlib calls; see compression.h. zlib is initialised with the
// interface version "1.2.7"; zlib checks only the major number, so any 1.x
// library accepts it.
#include "foundation/memory/compression.h"

#include <zorvane/exception.h>
#include <zorvane/memory.h>

#include <zlib.h>

namespace zorvane::compression {

namespace {

constexpr char kZlibInterface[] = "1.2.7";

void PrepareStream(z_stream* z, const void* src, uint32_t srcLen, void* dst, uint32_t dstLen) {
  *z = z_stream{};
  z->zalloc = &Alloc;
  z->zfree = &Free;
  z->next_in = static_cast<Bytef*>(const_cast<void*>(src));
  z->avail_in = srcLen;
  z->next_out = static_cast<Bytef*>(dst);
  z->avail_out = dstLen;
}

}  // namespace

bool Deflate(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen, int32_t level) {
  z_stream z;
  PrepareStream(&z, src, srcLen, dst, *dstLen);
  if (deflateInit_(&z, level, kZlibInterface, static_cast<int>(sizeof z)) != Z_OK) return false;
  const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
  if (done) *dstLen = static_cast<uint32_t>(z.total_out);
  deflateEnd(&z);
  return done;
}

bool Inflate(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen) {
  z_stream z;
  PrepareStream(&z, src, srcLen, dst, *dstLen);
  if (inflateInit_(&z, kZlibInterface, static_cast<int>(sizeof z)) != Z_OK) return false;
  const bool done = inflate(&z, Z_FINISH) == Z_STREAM_END;
  if (done) *dstLen = static_cast<uint32_t>(z.total_out);
  inflateEnd(&z);
  return done;
}

void* Alloc(void*, uint32_t items, uint32_t size) {
  const uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes == 0 || bytes > UINT32_MAX) return nullptr;
  try {
    return ZorMemAlloc(static_cast<uint32_t>(bytes));
  } catch (const ZorException&) {
    return nullptr;  // zlib reports Z_MEM_ERROR; nothing may unwind through it
  }
}

void Free(void*, void* p) { ZorMemFree(p); }

}  // namespace zorvane::compression
