// Text buffers: offsets of the text pool, duplicates, growth with its
// reserve, the cached pointer while locked, and a random comparison with a
// plain byte string.
#include <zorvane/handle.h>
#include <zorvane/string.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

using namespace zorvane;

namespace {

std::string Content(const ZorTextBuf& buf) {
  string s;
  buf.GetString(&s);
  return std::string(s.CStr(), s.Len());
}

}  // namespace

// The random test below covers texts, duplicates and plain appends; here the
// characters, the empty text before anything was written and formatting.
TEST(TextBuf, CharactersTheEmptyEntryAndFormats) {
  ZorTextBuf buf;
  buf.Init(true);
  EXPECT_EQ(buf.AddText("ab"), 1u);
  EXPECT_EQ(buf.AddChar('x'), 4u);
  EXPECT_EQ(buf.AddChar(0), 0u);
  EXPECT_EQ(Content(buf), std::string("\0ab\0x\0", 6));
  ZorTextBuf plain;
  plain.Init(false);
  EXPECT_EQ(plain.AddText(nullptr), 0u);  // writes the empty entry once
  EXPECT_EQ(plain.AddText("ab", 0), 0u);  // an explicit length of 0 is the empty text
  EXPECT_EQ(plain.GetLen(), 1u);

  // Cat builds one plain text, without a terminator until asked.
  buf.Init(false);
  EXPECT_EQ(buf.CatText("abc"), 0u);
  EXPECT_EQ(buf.CatChar('-'), 3u);
  EXPECT_EQ(buf.CatText("xyz", 2), 4u);
  EXPECT_EQ(buf.CatText(""), 6u);
  EXPECT_EQ(buf.CatTextEx("^0s=^1i", "n", -42), 6u);
  EXPECT_EQ(buf.CatZTerm(), 11u);
  EXPECT_EQ(Content(buf), std::string("abc-xyn=-42\0", 12));
  EXPECT_EQ(buf.AddTextEx("[^0Z4i]", 7), 12u);
  ZorLock guard;
  buf.Lock(&guard);
  EXPECT_STREQ(buf.GetText(12), "[0007]");
}

TEST(TextBuf, GrowsWithAReserveAndOnlyWhenFull) {
  ZorTextBuf buf;
  buf.Init(false);
  buf.CatText("abc");
  ZorHandle* h = buf.GetHandle();
  EXPECT_EQ(h->GetSize(), 3u + 32768u);
  const void* block = h->GetDatas();
  const std::string fill(32768, 'f');
  buf.CatText(fill.c_str());
  EXPECT_EQ(h->GetSize(), 3u + 32768u);
  EXPECT_EQ(h->GetDatas(), block);
  buf.CatChar('g');
  EXPECT_EQ(h->GetSize(), 3u + 32768u + 1u + 32768u);
  EXPECT_EQ(buf.GetLen(), 3u + 32768u + 1u);
}

TEST(TextBuf, LockedPointerFollowsGrowthAndUnlockClearsIt) {
  ZorTextBuf buf;
  buf.Init(true);
  ZorLock guard;
  buf.Lock(&guard);
  const uint32_t first = buf.AddText("kept");
  const std::string big(70000, 'b');
  const uint32_t second = buf.AddText(big.c_str());  // moves the block
  EXPECT_STREQ(buf.GetText(first), "kept");
  EXPECT_EQ(std::string(buf.GetText(second)), big);
  EXPECT_TRUE(ZorIsHandleLocked(buf.GetHandle()->GetRecord()));
  guard.Trash();
  EXPECT_EQ(buf.GetText(first), nullptr);
  EXPECT_FALSE(ZorIsHandleLocked(buf.GetHandle()->GetRecord()));

  // Locked while still empty, then filled.
  ZorTextBuf fresh;
  fresh.Init(false);
  EXPECT_EQ(fresh.Lock(), ZorNoData());
  EXPECT_EQ(fresh.GetText(0), nullptr);
  const uint32_t at = fresh.AddText("late");
  EXPECT_STREQ(fresh.GetText(at), "late");
  fresh.Unlock();
}

TEST(TextBuf, InitFromAHandleSharesOrCopies) {
  ZorHandle h;
  h.Init("ab\0cd", 6);
  ZorTextBuf shared, copied;
  shared.Init(&h, true);
  copied.Init(&h, false);
  EXPECT_EQ(h.GetRefCount(), 2u);
  EXPECT_EQ(shared.GetHandle()->GetRecord(), h.GetRecord());
  EXPECT_NE(copied.GetHandle()->GetDatas(), h.GetDatas());
  EXPECT_EQ(shared.GetLen(), 6u);
  EXPECT_EQ(copied.AddDupText("cd"), 3u);
  EXPECT_EQ(copied.AddText("e"), 6u);
  EXPECT_EQ(Content(copied), std::string("ab\0cd\0e\0", 8));
  shared.Trash();
  EXPECT_EQ(h.GetRefCount(), 1u);
  EXPECT_FALSE(shared.IsInit());
}

// Random appends against a byte string; AddDupText against a search of the
// texts from offset 1 on.
TEST(TextBuf, RandomAppendsMatchAByteString) {
  std::mt19937 rng(11);
  const char alphabet[] = "ab";
  for (int round = 0; round < 100; ++round) {
    ZorTextBuf buf;
    const bool withEmpty = rng() % 2;
    buf.Init(withEmpty);
    std::string model = withEmpty ? std::string(1, '\0') : std::string();
    std::map<uint32_t, std::string> texts;
    for (int step = 0; step < 80; ++step) {
      SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
      std::string s;
      for (uint32_t n = rng() % 4; n; --n) s += alphabet[rng() % 2];
      const uint32_t op = rng() % 4;
      if (op <= 1 && s.empty()) {  // the empty text: offset 0, written once
        ASSERT_EQ(buf.AddText(s.c_str(), 0), 0u);
        if (model.empty()) model += '\0';
        continue;
      }
      if (op <= 1) {
        // AddDupText: the first terminated text equal to s that starts at offset 1 or after a terminator.
        const std::string nul(1, '\0'), from1 = nul + (model.size() > 1 ? model.substr(1) : "");
        const size_t hit = op ? from1.find(nul + s + nul) : std::string::npos;
        const uint32_t got = op ? buf.AddDupText(s.c_str()) : buf.AddText(s.c_str(), static_cast<int32_t>(s.size()));
        ASSERT_EQ(got, hit == std::string::npos ? model.size() : hit + 1);
        if (hit == std::string::npos) model += s + '\0';
        texts[got] = s;
      } else if (op == 2) {
        ASSERT_EQ(buf.CatText(s.c_str()), model.size());
        model += s;
      } else {
        ASSERT_EQ(buf.CatZTerm(), model.size());
        model += '\0';
      }
      ASSERT_EQ(Content(buf), model);
    }
    ZorLock guard;
    buf.Lock(&guard);
    for (const auto& [offset, text] : texts) EXPECT_EQ(buf.GetText(offset), text);
  }
}
