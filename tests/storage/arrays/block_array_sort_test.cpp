// Sorting, binary search and linear search of ZorBGet on every handled
// physical type, against std::stable_sort, std::lower_bound / upper_bound
// and a linear scan over the decoded keys.
//
// Each case fills items of several sizes (each item size has its own copy
// routine in the sort) with random bytes and a random key at an offset,
// drawn from a small set so that equal keys are frequent. After a sort, the
// items must be a permutation of the input and their keys must match, one
// by one, those of a stable sort of the input under the model's comparison
// (equal keys may differ in bytes, 'a' and 'A' or 0.0 and -0.0, so keys are
// matched by comparison). Then random keys are searched: Dico must return an
// equal item inside the run of equal keys, or minus the 1-based lower bound;
// Find the first or last equal item.
//
// The models decode the stored little-endian bytes by themselves; texts and
// index keys are compared with the library's collation functions, which
// have their own tests: here they only define the order being checked.
#include <zorvane/block_array.h>
#include <zorvane/string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937;

struct KeyCase {
  const char* name;
  eZorPhysType type;      // kZorPhysTypeCustom: SortEx / DicoEx / FindEx
  uint32_t fieldSize;     // bytes the field takes in the item
  int32_t len;            // the length argument of the calls
  std::function<void(Rng&, uint8_t*)> draw;
  std::function<int(const uint8_t*, const uint8_t*)> compare;  // model
};

template <class T>
T Decode(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // the host is little-endian, as the stored form
  return v;
}

template <class T>
int Sign(T a, T b) {
  return (a > b) - (a < b);
}

template <class T>
KeyCase IntegerCase(const char* name, eZorPhysType type) {
  return {name, type, sizeof(T), 0,
          [](Rng& rng, uint8_t* p) {
            static const T kEdges[] = {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), 0, -1, 1};
            const T v = rng() % 4 == 0 ? kEdges[rng() % 5] : static_cast<T>(static_cast<int64_t>(rng() % 200) - 100);
            std::memcpy(p, &v, sizeof v);
          },
          [](const uint8_t* a, const uint8_t* b) { return Sign(Decode<T>(a), Decode<T>(b)); }};
}

KeyCase DoubleCase(const char* name, eZorPhysType type) {
  return {name, type, 8, 0,
          [](Rng& rng, uint8_t* p) {
            static const double kValues[] = {0.0, -0.0, 1.5, -1.5, 1e300, -1e300, 5e-324, 0.1,
                                             std::numeric_limits<double>::infinity(),
                                             -std::numeric_limits<double>::infinity()};
            const double v = rng() % 2 ? kValues[rng() % 10] : (static_cast<int>(rng() % 100) - 50) / 8.0;
            std::memcpy(p, &v, 8);
          },
          [](const uint8_t* a, const uint8_t* b) { return Sign(Decode<double>(a), Decode<double>(b)); }};
}

// Texts of up to 10 characters in a small cp1252 alphabet: case pairs,
// accented letters, digits and a blank, so that case-folded duplicates abound.
KeyCase TextCase(const char* name, eZorPhysType type) {
  return {name, type, 11, 0,
          [](Rng& rng, uint8_t* p) {
            static const uint8_t kAlphabet[] = {'a', 'A', 'b', 'B', 0xE9, 0xC9, 'z', '0', '9', ' '};
            const uint32_t n = rng() % 4;
            for (uint32_t k = 0; k < n; ++k) p[k] = kAlphabet[rng() % sizeof kAlphabet];
            p[n] = 0;
          },
          [](const uint8_t* a, const uint8_t* b) {
            return Sign(ZorStrICmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b)), 0);
          }};
}

KeyCase BlobCase() {
  return {"Blob", kZorPhysTypeBlob, 5, 5,
          [](Rng& rng, uint8_t* p) {
            static const uint8_t kBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
            for (int k = 0; k < 5; ++k) p[k] = k < 3 ? kBytes[rng() % 5] : 0x42;
          },
          [](const uint8_t* a, const uint8_t* b) { return Sign(std::memcmp(a, b, 5), 0); }};
}

// GUID order is the order of the standard (big-endian) byte string, where
// the three leading integers are written most significant byte first.
Bytes StandardGuidBytes(const uint8_t* g) {
  return {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]};
}

KeyCase UuidCase() {
  return {"UUID", kZorPhysTypeUuid, 16, 0,
          [](Rng& rng, uint8_t* p) {
            static const uint8_t kBytes[] = {0x00, 0x01, 0x80, 0xFF};
            for (int k = 0; k < 16; ++k) p[k] = rng() % 3 ? 0x55 : kBytes[rng() % 4];
          },
          [](const uint8_t* a, const uint8_t* b) { return Sign(StandardGuidBytes(a), StandardGuidBytes(b)); }};
}

// Index keys: 6 bytes, 0x01 pads and case pairs, compared over the length.
void DrawIndexKey(Rng& rng, uint8_t* p) {
  static const uint8_t kBytes[] = {'A', 'a', 'B', 'P', 'p', 0x01, 0xE0, 0xC0};
  for (int k = 0; k < 6; ++k) p[k] = k < 3 ? kBytes[rng() % sizeof kBytes] : 0x01;
}

int CompareIndexKeys(const uint8_t* a, const uint8_t* b) {
  return Sign(ZorStrICmpN(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b), 6), 0);
}

int32_t CompareU16(const void* a, const void* b, int32_t len) {
  EXPECT_EQ(len, 2);
  return Sign(Decode<uint16_t>(static_cast<const uint8_t*>(a)), Decode<uint16_t>(static_cast<const uint8_t*>(b)));
}

KeyCase CustomCase() {
  return {"Custom", kZorPhysTypeCustom, 2, 2,
          [](Rng& rng, uint8_t* p) {
            const uint16_t v = static_cast<uint16_t>(rng() % 3 ? rng() % 300 : 65535 - rng() % 3);
            std::memcpy(p, &v, 2);
          },
          [](const uint8_t* a, const uint8_t* b) { return Sign(Decode<uint16_t>(a), Decode<uint16_t>(b)); }};
}

std::vector<KeyCase> AllCases() {
  return {IntegerCase<int16_t>("Short", kZorPhysTypeShort), IntegerCase<int32_t>("Long", kZorPhysTypeLong),
          IntegerCase<int64_t>("Quad", kZorPhysTypeQuad),
          TextCase("AnsiString", kZorPhysTypeAnsiString), TextCase("String", kZorPhysTypeString),
          DoubleCase("Double", kZorPhysTypeDouble), DoubleCase("Decimal", kZorPhysTypeDecimal),
          DoubleCase("Date", kZorPhysTypeDate), BlobCase(), UuidCase(), CustomCase()};
}

// One array of random items with keys at `offset`, and what the model says.
class SortCheck {
 public:
  SortCheck(const KeyCase& kc, uint32_t itemSize, uint32_t offset, int32_t n, Rng& rng)
      : _kc(kc), _itemSize(itemSize), _offset(offset), _rng(rng), _array(3, itemSize) {
    _array.Init();
    _array.SetHeader("hdr");
    Bytes flat;
    for (int32_t i = 0; i < n; ++i) {
      Bytes& item = _input.emplace_back(itemSize);
      for (auto& b : item) b = static_cast<uint8_t>(rng());
      kc.draw(rng, item.data() + offset);
      flat.insert(flat.end(), item.begin(), item.end());
    }
    _array.InsRange(0, flat.data(), n);
  }

  void Sort(bool descending, bool indexKeys) {
    if (indexKeys)
      _array.SortIndex(_offset, _kc.len);
    else if (_kc.type == kZorPhysTypeCustom)
      _array.SortEx(CompareU16, descending, _kc.len);
    else
      _array.Sort(_kc.type, _offset, descending, _kc.len);
    _sorted = _input;
    std::stable_sort(_sorted.begin(), _sorted.end(), [&](const Bytes& a, const Bytes& b) {
      const int c = _kc.compare(a.data() + _offset, b.data() + _offset);
      return descending ? c > 0 : c < 0;
    });
  }

  void ExpectSorted() const {
    std::vector<Bytes> got;
    for (int32_t i = 1; i <= _array.GetNbItem(); ++i) {
      const auto* p = static_cast<const uint8_t*>(_array[i]);
      got.emplace_back(p, p + _itemSize);
    }
    for (size_t k = 0; k < got.size(); ++k)
      ASSERT_EQ(_kc.compare(got[k].data() + _offset, _sorted[k].data() + _offset), 0) << _kc.name << " at " << k;
    std::vector<Bytes> a = got, b = _input;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_EQ(a, b) << _kc.name << ": not a permutation of the input";
    char header[3];
    _array.GetHeader(header);
    ASSERT_EQ(std::memcmp(header, "hdr", 3), 0);
  }

  // After an ascending sort.
  void ExpectSearches(int rounds, bool indexKeys) {
    for (int r = 0; r < rounds; ++r) {
      Bytes key(_kc.fieldSize);
      _kc.draw(_rng, key.data());
      auto less = [&](const Bytes& item, const Bytes& k) { return _kc.compare(item.data() + _offset, k.data()) < 0; };
      auto greater = [&](const Bytes& k, const Bytes& item) { return _kc.compare(k.data(), item.data() + _offset) < 0; };
      const auto lo = std::lower_bound(_sorted.begin(), _sorted.end(), key, less) - _sorted.begin();
      const auto hi = std::upper_bound(_sorted.begin(), _sorted.end(), key, greater) - _sorted.begin();
      const int32_t got = Dico(key.data(), indexKeys);
      ASSERT_TRUE(lo == hi ? got == -static_cast<int32_t>(lo + 1) : got > lo && got <= hi)
          << _kc.name << ": " << got << " for the run [" << lo << ", " << hi << ")";
      if (indexKeys) continue;
      ASSERT_EQ(Find(key.data(), false), lo == hi ? -1 : static_cast<int32_t>(lo + 1)) << _kc.name;
      ASSERT_EQ(Find(key.data(), true), lo == hi ? -1 : static_cast<int32_t>(hi)) << _kc.name;
    }
  }

  // Linear search on the unsorted input order.
  void ExpectFindsUnsorted(int rounds) {
    for (int r = 0; r < rounds; ++r) {
      Bytes key(_kc.fieldSize);
      _kc.draw(_rng, key.data());
      int32_t first = -1, last = -1;
      for (size_t k = 0; k < _input.size(); ++k) {
        if (_kc.compare(_input[k].data() + _offset, key.data()) != 0) continue;
        if (first < 0) first = static_cast<int32_t>(k + 1);
        last = static_cast<int32_t>(k + 1);
      }
      ASSERT_EQ(Find(key.data(), false), first) << _kc.name;
      ASSERT_EQ(Find(key.data(), true), last) << _kc.name;
    }
  }

 private:
  int32_t Dico(const void* key, bool indexKeys) const {
    if (indexKeys) return _array.DicoIndex(_offset, key, _kc.len);
    if (_kc.type == kZorPhysTypeCustom) return _array.DicoEx(CustomKeyVsItem, key, _kc.len);
    return _array.Dico(_kc.type, _offset, key, _kc.len);
  }
  int32_t Find(const void* key, bool backwards) const {
    if (_kc.type == kZorPhysTypeCustom) return _array.FindEx(CompareU16, key, backwards, _kc.len);
    return _array.Find(_kc.type, _offset, key, backwards, _kc.len);
  }
  // DicoEx reads fn(item, key) as the key's comparison against the item.
  static int32_t CustomKeyVsItem(const void* item, const void* key, int32_t len) { return CompareU16(key, item, len); }

  const KeyCase& _kc;
  uint32_t _itemSize, _offset;
  Rng& _rng;
  ZorBGet _array;
  std::vector<Bytes> _input, _sorted;
};

// Item sizes with their own copy routine, an odd one, and one above the
// sort's stack buffer.
const uint32_t kItemSizes[] = {4, 8, 16, 24, 32, 13, 300};

}  // namespace

TEST(BGetSortTypes, EveryTypeSortsAndSearchesLikeTheModel) {
  Rng rng(20240601);
  for (const KeyCase& kc : AllCases()) {
    for (uint32_t itemSize : kItemSizes) {
      // The custom comparison sees whole items: its field is at offset 0.
      const uint32_t offset = kc.type == kZorPhysTypeCustom ? 0 : (itemSize >= kc.fieldSize + 3 ? 3 : 0);
      if (itemSize < offset + kc.fieldSize) continue;
      for (int32_t n : {0, 1, 2, 17, 40, 1500}) {
        SCOPED_TRACE(testing::Message() << kc.name << " item size " << itemSize << " n " << n);
        for (bool descending : {false, true}) {
          SortCheck check(kc, itemSize, offset, n, rng);
          if (!descending) check.ExpectFindsUnsorted(20);
          check.Sort(descending, false);
          check.ExpectSorted();
          if (!descending) check.ExpectSearches(100, false);
        }
      }
    }
  }
}

TEST(BGetSortTypes, IndexKeysSortAndSearchOverTheirLength) {
  Rng rng(77);
  const KeyCase kc{"Index", kZorPhysTypeBlob, 6, 6, DrawIndexKey, CompareIndexKeys};
  for (uint32_t itemSize : {8u, 24u, 13u}) {
    for (int32_t n : {0, 1, 3, 1000}) {
      SCOPED_TRACE(testing::Message() << "item size " << itemSize << " n " << n);
      SortCheck check(kc, itemSize, 2, n, rng);
      check.Sort(false, true);
      check.ExpectSorted();
      check.ExpectSearches(100, true);
    }
  }
}
