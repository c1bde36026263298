// Storage of `string`: the inline buffer, the capacity steps, moves, self
// insertion, and a model-based random test of the editing operations against
// a plain std::string model written from the documented behaviour.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

using zorvane::string;

namespace {

bool IsInline(const string& s) {
  const auto* self = reinterpret_cast<const char*>(&s);
  return s.CStr() >= self && s.CStr() < self + sizeof(string);
}

// The capacity a length needs, stated as the table of steps (limit on
// length + 1, step size).
uint32_t ExpectedCapacity(uint32_t len) {
  const uint32_t n = len + 1;
  const struct { uint32_t below, step; } steps[] = {{512, 36}, {4096, 256}, {16384, 512}, {0xFFFFFFFF, 1024}};
  for (const auto& s : steps)
    if (n < s.below) return (n + s.step - 1) / s.step * s.step;
  return 0;
}

void ExpectText(const string& s, const std::string& want) {
  ASSERT_EQ(std::string(s.CStr(), s.Len()), want);
  ASSERT_EQ(s.CStr()[s.Len()], 0);
  ASSERT_EQ(s.Capacity(), ExpectedCapacity(s.Len()));
  ASSERT_EQ(IsInline(s), s.Capacity() == 36);
}

// Growing one character at a time moves the text only when a step is crossed,
// and shrinking back through the steps keeps the text.
TEST(StringStorage, AppendsReallocateOnlyAtSteps) {
  string s;
  std::string model;
  const char* last = s.CStr();
  for (uint32_t i = 0; i < 20000; ++i) {
    const uint32_t before = s.Capacity();
    s += static_cast<char>('a' + i % 26);
    model += static_cast<char>('a' + i % 26);
    if (s.Capacity() == before) {
      ASSERT_EQ(s.CStr(), last) << "moved without a step at " << i;
    }
    last = s.CStr();
    ASSERT_EQ(s.Capacity(), ExpectedCapacity(s.Len()));
  }
  ExpectText(s, model);
  for (uint32_t n : {17000u, 16383u, 4096u, 4095u, 512u, 511u, 36u, 35u, 0u}) {
    s.Trunc(n);
    model.resize(n);
    ExpectText(s, model);
  }
}

TEST(StringStorage, CopyAndMove) {
  string big(std::string(100, 'b').c_str()), small("tiny");
  string copy(big);
  EXPECT_NE(copy.CStr(), big.CStr());
  copy += "!";
  ExpectText(big, std::string(100, 'b'));

  const char* block = big.CStr();
  string moved(static_cast<string&&>(big));
  EXPECT_EQ(moved.CStr(), block);  // the heap block changed owner
  ExpectText(big, "");
  string movedSmall(static_cast<string&&>(small));
  ExpectText(movedSmall, "tiny");
  EXPECT_TRUE(IsInline(movedSmall));

  moved = static_cast<string&&>(movedSmall);
  ExpectText(moved, "tiny");
  moved = moved;  // self assignment
  ExpectText(moved, "tiny");
  string fromPtr(static_cast<const string*>(nullptr));
  ExpectText(fromPtr, "");
}

TEST(StringStorage, ConstructionStopsAtNul) {
  ExpectText(string("abc\0def", 7), "abc");
  ExpectText(string("abcdef", 3), "abc");
  ExpectText(string("abc", -1), "abc");
  ExpectText(string(nullptr, 4), "");
  string s("x");
  s = '\0';
  ExpectText(s, "");
  s = 'z';
  ExpectText(s, "z");
}

TEST(StringStorage, BufferAllocThenCalcLen) {
  string s;
  char* w = s.BufferAlloc(1000);
  EXPECT_EQ(w[1000], 0);
  std::memcpy(w, "short", 6);
  EXPECT_EQ(s.BufferCalcLen(), 5u);
  ExpectText(s, "short");
  s += std::string(100, 'x').c_str();  // storage is consistent afterwards
  ExpectText(s, "short" + std::string(100, 'x'));
}

// Assign and Insert of a pointer into the own text, inline and on the heap,
// including a piece longer than the stack copy.
TEST(StringStorage, SelfAssignAndInsert) {
  for (uint32_t len : {10u, 35u, 40u, 700u, 70000u}) {
    std::string model;
    for (uint32_t i = 0; i < len; ++i) model += static_cast<char>('A' + i % 23);
    for (uint32_t off : {0u, 1u, len / 3, len - 1}) {
      for (uint32_t pos : {0u, len / 2, len, len + 50}) {
        string s(model.c_str());
        s.Insert(pos, s.CStr() + off, -1);
        std::string want = model;
        want.insert(std::min<size_t>(pos, len), model.substr(off));
        ExpectText(s, want);
      }
      string a(model.c_str());
      a.Assign(a.CStr() + off, 5);
      ExpectText(a, model.substr(off, 5));
      string b(model.c_str());
      b.Assign(b.CStr() + off);
      ExpectText(b, model.substr(off));
    }
  }
  string s("abc");
  s += s;
  s += s.CStr() + 1;
  ExpectText(s, "abcabcbcabc");
}

// The documented behaviour of each operation, on std::string.
struct Model {
  std::string t;

  static std::string Piece(const std::string& p, int32_t n) {
    const std::string upTo = p.substr(0, p.find('\0'));
    return n < 0 ? upTo : upTo.substr(0, static_cast<size_t>(n));
  }
  void Insert(uint32_t pos, const std::string& p) { t.insert(std::min<size_t>(pos, t.size()), p); }
  void Delete(uint32_t from, uint32_t to) {
    to = std::min<uint32_t>(to, static_cast<uint32_t>(t.size()));
    if (from < to) t.erase(from, to - from);
  }
  void Pad(int32_t n, char c) {
    const size_t m = static_cast<size_t>(n < 0 ? -int64_t{n} : n);
    if (t.size() >= m) t.resize(m);
    else if (n > 0) t.append(m - t.size(), c);
    else t.insert(0, m - t.size(), c);
  }
  void Trim(char lead, char trail) {
    while (trail && !t.empty() && t.back() == trail) t.pop_back();
    size_t i = 0;
    while (lead && i < t.size() && t[i] == lead) ++i;
    t.erase(0, i);
  }
  std::string Mid(uint32_t from, uint32_t to) const {
    to = std::min<uint32_t>(to, static_cast<uint32_t>(t.size()));
    return from > t.size() || to <= from ? "" : t.substr(from, to - from);
  }
};

std::string RandomText(std::mt19937& rng, uint32_t maxLen) {
  std::string s(std::uniform_int_distribution<uint32_t>(0, maxLen)(rng), ' ');
  for (char& c : s) c = "ab AB.xy"[rng() % 8];
  return s;
}

TEST(StringStorage, RandomOperationsMatchTheModel) {
  std::mt19937 rng(42);
  for (int round = 0; round < 40; ++round) {
    string s;
    Model m;
    for (int step = 0; step < 400; ++step) {
      const uint32_t len = static_cast<uint32_t>(m.t.size());
      auto pos = [&] { return std::uniform_int_distribution<uint32_t>(0, len + 3)(rng); };
      const std::string text = RandomText(rng, rng() % 4 == 0 ? 600 : 40);
      const int32_t n = static_cast<int32_t>(rng() % 50) - 5;
      switch (rng() % 12) {
        case 0: s.Assign(text.c_str(), n); m.t = Model::Piece(text, n); break;
        case 1: { const uint32_t p = pos(); s.Insert(p, text.c_str(), n); m.Insert(p, Model::Piece(text, n)); break; }
        case 2: { const uint32_t p = pos(); s.Insert(p, 'c', n); if (n > 0) m.Insert(p, std::string(n, 'c')); break; }
        case 3: { const uint32_t a = pos(), b = rng() % 5 ? pos() : 0xFFFFFFFF; s.Delete(a, b); m.Delete(a, b); break; }
        case 4: { const uint32_t p = pos(); s.Trunc(p); if (p < len) m.t.resize(p); break; }
        case 5: { const int32_t k = static_cast<int32_t>(pos()) * (rng() % 2 ? 1 : -1) + static_cast<int32_t>(rng() % 300); s.Pad(k, '0'); m.Pad(k, '0'); break; }
        case 6: s.Trim(' ', '.'); m.Trim(' ', '.'); break;
        case 7: { const uint32_t a = pos(), b = pos(); string d; s.Mid(&d, a, b); ExpectText(d, m.Mid(a, b)); if (rng() % 2) { s.Mid(&s, a, b); m.t = m.Mid(a, b); } break; }
        case 8: { const uint32_t k = pos(); string d; s.Right(&d, k); ExpectText(d, m.t.substr(len - std::min(k, len))); s.Left(&s, k); m.t.resize(std::min(k, len)); break; }
        case 9: s += text.c_str(); m.t += text; break;
        case 10: {
          const char to = rng() % 2 ? 'z' : '\0';
          EXPECT_EQ(s.ReplaceAll('a', to), m.t.find('a') != std::string::npos);
          std::string r;
          for (char c : m.t)
            if (c != 'a') r += c; else if (to) r += to;
          m.t = r;
          break;
        }
        case 11: {
          const uint32_t p = pos(), off = len ? rng() % len : 0;
          s.Insert(p, s.CStr() + off, n);
          m.Insert(p, Model::Piece(m.t.substr(off), n));
          break;
        }
      }
      ExpectText(s, m.t);
    }
  }
}

}  // namespace
