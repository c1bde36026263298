// One-shot zlib compression of a buffer in memory, for the packed resource
// envelope and the ZIP layer (ZorZipSpan's S_Compress and S_Uncompress).
//
// Both run a single deflate or inflate call with Z_FINISH over the whole
// input and the whole output room: the call succeeds only when zlib reports
// the end of the stream, so a destination too small, a truncated or corrupt
// stream all come back as false, never as a partial result. zlib allocates
// through the library's allocator.
#pragma once

#include <zorvane/types.h>

namespace zorvane::compression {

// One zlib stream (header and checksum included) from src into dst at
// `level` (-1: zlib's default); *dstLen gives dst's room and receives the
// bytes produced.
bool Deflate(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen, int32_t level);
// The reverse: false unless src holds one complete, valid stream whose data
// fits in *dstLen bytes.
bool Inflate(void* dst, uint32_t* dstLen, const void* src, uint32_t srcLen);

// zlib's memory routines: Alloc gives null (zlib's "out of memory") rather
// than raising.
void* Alloc(void* opaque, uint32_t items, uint32_t size);
void Free(void* opaque, void* p);

}  // namespace zorvane::compression
