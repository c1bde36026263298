// The packed envelope of resource bodies (layout in <zorvane/resource.h>).
//
// Packing compresses into room for the data plus a tenth plus the 12 bytes
// of the envelope; data that does not shrink enough to fit stays as it is.
// Unpacking trusts nothing: the magics, the CRC-32 of the stream, a
// recorded size that the stream could produce at all (deflate expands at
// most about 1032 to 1, so a larger claim is refused before anything is
// allocated) and a stream that yields exactly the recorded size. Any failure
// leaves the handle untouched.
#include <zorvane/resource.h>

#include "foundation/memory/compression.h"
#include "platform/little_endian.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace zorvane {

namespace {

constexpr uint32_t kMinPacked = 32;  // smaller data is never packed
constexpr uint32_t kHeader = 6;      // "pk" + size
constexpr uint32_t kTrailer = 6;     // CRC-32 + "kp"
constexpr uint64_t kMaxExpansion = 1032;
constexpr uint8_t kHead[2] = {'p', 'k'};
constexpr uint8_t kTail[2] = {'k', 'p'};

const uint8_t* Bytes(const ZorHandle* h) { return static_cast<const uint8_t*>(h->GetDatas()); }

// The handle's record takes n bytes of src, whatever it held (a record over
// foreign memory gets a block of its own).
void ReplaceContent(ZorHandle* h, const uint8_t* src, uint32_t n) {
  if (h->IsInit()) h->SetSize(0);
  h->Init(n);
  if (n) std::memcpy(h->GetDatas(), src, n);
}

uint32_t StreamCrc(const uint8_t* p, uint32_t n) {
  return static_cast<uint32_t>(crc32(0, p, n));
}

}  // namespace

bool ZorIsHandleZipped(const ZorHandle* h) {
  const uint32_t n = h->GetSize();
  if (n < kHeader + kTrailer) return false;
  const uint8_t* p = Bytes(h);
  return std::memcmp(p, kHead, 2) == 0 && std::memcmp(p + n - 2, kTail, 2) == 0;
}

bool ZorZipHandle(ZorHandle* h) {
  const uint32_t size = h->GetSize();
  if (size < kMinPacked) return false;
  const uint64_t room = static_cast<uint64_t>(size) + size / 10 + kHeader + kTrailer;
  if (room > UINT32_MAX) return false;
  std::vector<uint8_t> out(room);
  uint32_t packed = static_cast<uint32_t>(room) - kHeader - kTrailer;
  if (!compression::Deflate(out.data() + kHeader, &packed, Bytes(h), size, Z_DEFAULT_COMPRESSION)) return false;
  std::memcpy(out.data(), kHead, 2);
  platform::PutLE32(out.data() + 2, size);
  platform::PutLE32(out.data() + kHeader + packed, StreamCrc(out.data() + kHeader, packed));
  std::memcpy(out.data() + kHeader + packed + 4, kTail, 2);
  ReplaceContent(h, out.data(), packed + kHeader + kTrailer);
  return true;
}

bool ZorUnzipHandle(ZorHandle* h) {
  if (!ZorIsHandleZipped(h)) return false;
  const uint8_t* p = Bytes(h);
  const uint32_t packed = h->GetSize() - kHeader - kTrailer;
  const uint8_t* stream = p + kHeader;
  if (platform::GetLE32(stream + packed) != StreamCrc(stream, packed)) return false;
  const uint32_t size = platform::GetLE32(p + 2);
  if (size > kMaxExpansion * packed) return false;
  std::vector<uint8_t> out(static_cast<size_t>(size) + 1);  // never empty: zlib refuses a null output
  uint32_t got = size;
  if (!compression::Inflate(out.data(), &got, stream, packed) || got != size) return false;
  ReplaceContent(h, out.data(), size);
  return true;
}

}  // namespace zorvane
