// ZorMD5: the test suite of RFC 1321 and the behaviours that the random
// comparison with hashlib (md5_oracle.py) does not single out.
#include <zorvane/zorvane.h>
#include <zorvane/md5.h>

#include <gtest/gtest.h>

#include <string>

namespace zorvane {
namespace {

std::string Digest(const std::string& text) {
  string out;
  return ZorMD5::S_Digest(text.data(), static_cast<uint32_t>(text.size()), &out);
}

TEST(MD5, Rfc1321TestSuite) {
  EXPECT_EQ(Digest(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Digest("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Digest("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Digest("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Digest("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Digest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// A million "a" one byte at a time: the pending block is filled and emptied
// 15625 times, and the bit length needs more than 16 bits.
TEST(MD5, OneByteUpdatesOfAMillionBytes) {
  ZorMD5 md5;
  for (int i = 0; i < 1000000; ++i) md5.Update("a", 1);
  string hex;
  EXPECT_STREQ(md5.FinalHex(&hex), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5, FinalResetsForTheNextMessage) {
  ZorMD5 md5;
  md5.Update("some earlier message", 20);
  uint8_t first[ZorMD5::kDigestSize];
  md5.Final(first);
  md5.Update("abc", 3);
  string hex;
  EXPECT_STREQ(md5.FinalHex(&hex), "900150983cd24fb0d6963f7d28e17f72");
  // Init discards what was added.
  md5.Update("xyz", 3);
  md5.Init();
  EXPECT_STREQ(md5.FinalHex(&hex), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace zorvane
