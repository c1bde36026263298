// ZorMD5: what the random comparison with hashlib (md5_oracle.py) does not
// reach, the reuse of one object for several messages.
#include <zorvane/zorvane.h>
#include <zorvane/md5.h>

#include <gtest/gtest.h>

namespace zorvane {
namespace {

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
