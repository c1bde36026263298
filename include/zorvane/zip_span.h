// ZorZipSpan: ZIP archives and spanned backups. For now only its one-shot
// zlib calls, which the packed resource envelope (<zorvane/resource.h>) uses.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class ZOR_API ZorZipSpan {
 public:
  // One zlib stream (with its header and checksum) compressed from src into
  // dst at `level` (-1: zlib's default). *dstLen gives dst's room and
  // receives the bytes produced. False, with *dstLen unchanged, unless the
  // whole stream fits in one call.
  static bool S_Compress(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen, int32_t level);
  // The reverse: false unless src holds one complete, valid stream whose
  // data fits in *dstLen bytes.
  static bool S_Uncompress(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen);
  // zlib's memory routines, through the library's allocator. S_Zalloc gives
  // null (zlib's "out of memory") rather than raising.
  static void* S_Zalloc(void* opaque, uint32_t items, uint32_t size);
  static void S_Zfree(void* opaque, void* p);
};

}  // namespace zorvane
