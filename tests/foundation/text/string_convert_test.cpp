// Conversions of `string` that the Python oracle (string_text_oracle.py)
// does not reach (OEM back to cp1252, Base64 errors, Encrypt and Decrypt),
// the C-string helpers, comparisons across page ends, and the raw memory
// helpers.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

std::string Text(const string& s) { return std::string(s.CStr(), s.Len()); }

TEST(StringConvert, OemRoundTripWhereBothPagesHaveTheCharacter) {
  int mapped = 0;
  for (int b = 1; b < 256; ++b) {
    const char one[2] = {static_cast<char>(b), 0};
    string s(one);
    s.WcharToDos();
    if (s[0] == '?' && b != '?') continue;
    ++mapped;
    EXPECT_EQ(static_cast<uint8_t>(s.DosToWchar()[0]), b) << b;
  }
  EXPECT_GT(mapped, 200);
  string s;
  EXPECT_STREQ(s.WcharToDos("\xe9\xe8"), "\x82\x8a");  // e-acute, e-grave in cp850
  EXPECT_EQ(s.Len(), 2u);
  EXPECT_STREQ(ZorDecodefromUTF8(nullptr, &s), "");
}

TEST(StringConvert, Base64Decoding) {
  char buf[64];
  auto decode = [&](const char* t, uint32_t room = sizeof buf) {
    const int32_t n = ZorBase64Decode(t, ZorStrLen(t), buf, room);
    return n < 0 ? std::string("<error>") : std::string(buf, n);
  };
  EXPECT_EQ(decode("aGVsbG8="), "hello");
  EXPECT_EQ(decode("aGVsbG8"), "hello");  // padding may be left out
  EXPECT_EQ(decode("aGVs\r\nbG8g d29y bGQ="), "hello world");
  EXPECT_EQ(decode(""), "");
  for (const char* bad : {"a", "aGVsb", "aGVsbG8==", "aG=sbG8", "a===", "====", "aGVs!G8=", "aGVsbG8=x"})
    EXPECT_EQ(decode(bad), "<error>") << bad;
  EXPECT_EQ(decode("aGVsbG8=", 4), "<error>");
  EXPECT_EQ(decode("aGVsbG8=", 5), "hello");
}

TEST(StringConvert, EncryptRoundTrips) {
  std::mt19937 rng(99);
  for (int i = 0; i < 2000; ++i) {
    std::string plain(rng() % 80, ' '), key(rng() % 12, ' ');
    for (char& c : plain) c = static_cast<char>(1 + rng() % 255);
    for (char& c : key) c = static_cast<char>(1 + rng() % 255);
    const uint32_t mode = rng() % 2;
    string s(plain.c_str()), enc, dec;
    s.Encrypt(key.c_str(), mode, &enc);
    EXPECT_EQ(Text(s), plain);  // the source is untouched when dst is given
    if (mode) {
      EXPECT_EQ(enc.Len(), plain.size());  // no byte scrambles to 0
    }
    if (plain.size() > 4) {
      EXPECT_NE(Text(enc), plain);
    }
    enc.Decrypt(key.c_str(), mode, &dec);
    ASSERT_EQ(Text(dec), plain) << "mode " << mode;
    s.Encrypt(key.c_str(), mode);
    s.Decrypt(key.c_str(), mode);
    ASSERT_EQ(Text(s), plain);
  }
}

TEST(StringConvert, EncryptDependsOnKeyAndEveryByte) {
  string a("The same secret text"), b("The same secret texT"), ea, eb, ek;
  a.Encrypt("key", 1, &ea);
  b.Encrypt("key", 1, &eb);
  a.Encrypt("kez", 1, &ek);
  EXPECT_EQ(Text(ea).substr(0, 19), Text(eb).substr(0, 19));
  EXPECT_NE(Text(ea), Text(eb));
  EXPECT_NE(Text(ea), Text(ek));
  string wrong;
  ea.Decrypt("kez", 1, &wrong);
  EXPECT_NE(Text(wrong), Text(a));
  string garbage("not base64 at all!");
  EXPECT_STREQ(garbage.Decrypt("key", 0), "");
}

TEST(StringFunctions, CopyFindReplaceEscape) {
  char buf[8];
  EXPECT_STREQ(ZorStrCpyN(buf, "abcdefghij", sizeof buf), "abcdefg");
  EXPECT_STREQ(ZorStrCpyN(buf, "abc", 1), "");
  const char* hay = "xx\xe9T\xc9 Ete";
  EXPECT_EQ(ZorStrFind(hay, "\xc9t\xe9", true), hay + 2);
  EXPECT_EQ(ZorStrFind(hay, "ETE", true), hay + 6);
  EXPECT_EQ(ZorStrFind(hay, "ETE", false), nullptr);
  EXPECT_TRUE(ZorStrContains(hay, "", true));
  EXPECT_FALSE(ZorStrContains(hay, "ete ", true));

  char text[] = "a,b,,c";
  EXPECT_TRUE(ZorStrReplace(text, ',', 0));
  EXPECT_STREQ(text, "abc");
  EXPECT_FALSE(ZorStrReplace(text, ',', ';'));

  string esc;
  EXPECT_STREQ(ZorEscapeString("a\tb\nc\vd\fe\rf\"g'h\\", &esc, true), "a\\tb\\nc\\vd\\fe\\rf\\\"g\\'h\\");
  EXPECT_STREQ(ZorEscapeString("\"'", &esc, false), "\"'");

  std::unique_ptr<char, void (*)(void*)> dup(ZorStrDup("copy"), ZorMemFree);
  EXPECT_STREQ(dup.get(), "copy");
  EXPECT_TRUE(ZorIsDigit('0') && ZorIsDigit('9') && !ZorIsDigit('/') && !ZorIsDigit(':'));
  EXPECT_TRUE(ZorStrIsEmpty(nullptr));
  EXPECT_TRUE(ZorStrIsEmpty(""));
  EXPECT_EQ(ZorStrSize("abc"), 4u);
  EXPECT_EQ(ZorStrICmp("abc", "ABD"), ZorCharWeight('c') - ZorCharWeight('D'));
  EXPECT_EQ(ZorStrICmp("ab", "ABC"), -1);
  EXPECT_EQ(ZorStrICmp("abc", "AB"), 1);
}

// The comparison functions against their definition, on texts of mixed
// ASCII and accented bytes of up to 60 characters placed so that they end
// at or near a page end, the second one before a page that cannot be read.
int32_t ICmpModel(const std::string& a, const std::string& b) {
  for (size_t i = 0;; ++i) {
    const uint8_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y && ZorToUpper(static_cast<char>(x)) != ZorToUpper(static_cast<char>(y))) {
      if (x == 0) return -1;
      if (y == 0) return 1;
      return ZorCharWeight(static_cast<char>(x)) - ZorCharWeight(static_cast<char>(y));
    }
    if (x == 0) return 0;
  }
}

TEST(StringFunctions, CaseInsensitiveCompareNearPageEnds) {
  std::mt19937 rng(3);
  char* pages = static_cast<char*>(mmap(nullptr, 3 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + 2 * 4096, 4096, PROT_NONE), 0);
  const char alphabet[] = "aAbBzZ09@[`{\xe9\xc9\xff\x9f ";
  auto random = [&](const std::string& like) {
    std::string s = like;
    for (char& c : s)
      if (rng() % 6 == 0) c = ZorToUpper(c) == c ? ZorToLower(c) : ZorToUpper(c);
    if (rng() % 3 == 0) s.resize(rng() % (s.size() + 1));
    if (rng() % 4 == 0 && !s.empty()) s[rng() % s.size()] = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string base(rng() % 60, ' ');
    for (char& c : base) c = alphabet[rng() % (rng() % 4 ? 6 : sizeof alphabet - 1)];
    const std::string a = random(base), b = random(base);
    // a ends just before the first page end, b at a random distance from the second.
    char* pa = pages + 4096 - a.size() - 1 - rng() % 3;
    char* pb = pages + 2 * 4096 - b.size() - 1 - rng() % 20;
    std::memcpy(pa, a.c_str(), a.size() + 1);
    std::memcpy(pb, b.c_str(), b.size() + 1);
    ASSERT_EQ(ZorStrICmp(pa, pb), ICmpModel(a, b)) << a << " | " << b;
    ASSERT_EQ(ZorStrICmp(pb, pa), ICmpModel(b, a)) << b << " | " << a;
    ASSERT_EQ(ZorStrIEq(pa, pb), ICmpModel(a, b) == 0);
  }
  munmap(pages, 3 * 4096);
}

TEST(Memory, CopyMoveSwapCompare) {
  char a[300], b[300];
  for (int i = 0; i < 300; ++i) a[i] = static_cast<char>(i), b[i] = static_cast<char>(~i);
  EXPECT_EQ(ZorCopyMemory(b, a, 10), b + 10);
  EXPECT_EQ(ZorCmpMemory(a, b, 10), 0);
  EXPECT_EQ(ZorCopyMemory(a, a, 10), a + 10);
  EXPECT_EQ(ZorMoveMemory(a + 1, a, 20), a + 21);
  EXPECT_EQ(a[1], 0);
  EXPECT_EQ(a[20], 19);
  EXPECT_LT(ZorCmpMemory("abc", "abd", 3), 0);
  EXPECT_GT(ZorCmpMemory("\xff", "\x01", 1), 0);

  for (uint32_t n : {1u, 255u, 256u, 300u}) {
    std::vector<char> x(n, 'x'), y(n, 'y');
    x[0] = '1';
    ZorSwapMemory(x.data(), y.data(), n);
    EXPECT_EQ(y[0], '1');
    EXPECT_EQ(x[n - 1], 'y');
    EXPECT_EQ(y[n - 1], n == 1 ? '1' : 'x');
  }
  char zero[5] = {1, 2, 3, 4, 5};
  ZorZeroMemory(zero, 4);
  ZorFillMemory(zero, 2, 7);
  EXPECT_EQ(std::string(zero, 5), std::string("\x07\x07\0\0\x05", 5));
}

TEST(Memory, StackPointersAndInfo) {
  int local = 0;
  std::unique_ptr<int> heap(new int(0));
  static int global = 0;
  EXPECT_TRUE(ZorIsStackPtr(&local));
  EXPECT_FALSE(ZorIsStackPtr(heap.get()));
  EXPECT_FALSE(ZorIsStackPtr(&global));

  sZorMemInfo info;
  ASSERT_TRUE(ZorGetMemInfo(&info));
  EXPECT_GT(info.totalPhys, 0);
  EXPECT_LE(info.availPhys, info.totalPhys);
  EXPECT_GT(info.processResident, 0);
  EXPECT_LE(info.memoryLoad, 100u);
  EXPECT_GT(info.totalVirtual, 0u);
  EXPECT_GT(info.workingSet, 0u);
  EXPECT_GE(info.peakWorkingSet, info.workingSet);
  EXPECT_EQ(ZorSetMaxMem(123456789012), 123456789012);

  void* p = ZorMemAlloc(0);
  p = ZorMemRealloc(p, 1000);
  static_cast<char*>(p)[999] = 1;
  ZorMemFree(p);
  ZorMemFree(nullptr);
}

}  // namespace
