// ZorMD5: the MD5 message digest (RFC 1321), fed incrementally.
//
// The object holds the running state, the byte count and at most 63 bytes
// waiting for a full block; it allocates nothing. Feed it with Update as
// often as needed, then Final gives the 16-byte digest (or FinalHex its text
// of 32 lower-case hexadecimal digits). After Final the object is reset and
// ready for a new message.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;

class ZOR_API ZorMD5 {
 public:
  static constexpr uint32_t kDigestSize = 16;
  static constexpr uint32_t kHexSize = 32;

  ZorMD5() { Init(); }

  // Starts a new message.
  void Init();
  // Adds n bytes to the message (data may be null when n is 0).
  void Update(const void* data, uint32_t n);
  // The digest of everything added since Init; resets the object.
  void Final(uint8_t digest[kDigestSize]);
  // The same as 32 lower-case hexadecimal digits in dst.
  const char* FinalHex(string* dst);

  // The digest text of one buffer.
  static const char* S_Digest(const void* data, uint32_t n, string* dst);
  // A digest as 32 lower-case hexadecimal digits.
  static const char* S_ToHex(const uint8_t digest[kDigestSize], string* dst);

 private:
  uint32_t _state[4];
  uint64_t _count;      // bytes added so far
  uint8_t _pending[64]; // the first _count % 64 bytes of the next block
};

}  // namespace zorvane
