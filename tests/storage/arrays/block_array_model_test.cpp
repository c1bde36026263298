// Model-based random tests of ZorBGet and ZorBDyn: long random sequences of
// operations, each applied to the array and to a plain std::vector model,
// with the whole content compared after every step.
//
// ZorBGet's model is the header bytes and a vector of items; the array's
// handle must hold exactly header + items. Sources for insertions and
// writes are sometimes taken from inside the array itself.
//
// ZorBDyn's model is the version, the array's own data and a vector of
// (fixed part, data) items. Every few steps the serialised form is decoded
// by this test's own reader: header fields, item references inside the heap,
// the heap exactly covered by the referenced ranges; and it is loaded back
// (copied or shared in place), split by Save and joined by Load, or copied,
// and the reloaded array must equal the model too.
#include <zorvane/dynamic_blocks.h>
#include <zorvane/block_array.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937;

Bytes RandomBytes(Rng& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes HandleBytes(const ZorHandle& h) {
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return h.GetSize() ? Bytes(p, p + h.GetSize()) : Bytes();
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// ------------------------------------------------------------------ ZorBGet

class BGetModel {
 public:
  BGetModel(uint32_t seed, uint32_t headerSize, uint32_t itemSize)
      : _rng(seed), _hs(headerSize), _is(itemSize), _array(headerSize, itemSize), _header(headerSize, 0) {
    _array.Init();
  }

  void Step() {
    const int32_t n = static_cast<int32_t>(_items.size());
    switch (_rng() % 14) {
      case 0: case 1: Insert(Position(n + 2), 1); break;
      case 2: Insert(Position(n + 2), static_cast<int32_t>(_rng() % 6)); break;
      case 3: if (n) Delete(Pick(n), 1); break;
      case 4: if (n) Delete(Pick(n + 1) - 1, static_cast<int32_t>(_rng() % 5)); break;  // 0: no item
      case 5: if (n) SetItem(Pick(n)); break;
      case 6: if (n) SwapItems(Pick(n), Pick(n)); break;
      case 7: if (n) SubSet(Pick(n)); break;
      case 8: SubInsert(Position(n + 2)); break;
      case 9: MultiClear(n); break;
      case 10: Resize(); break;
      case 11: SetHeader(); break;
      case 12: if (n) ClearItem(Pick(n)); break;
      case 13: Reinit(); break;
    }
  }

  void Check() const {
    ASSERT_EQ(_array.GetNbItem(), static_cast<int32_t>(_items.size()));
    Bytes expected = _header;
    for (const Bytes& item : _items) expected.insert(expected.end(), item.begin(), item.end());
    ASSERT_EQ(HandleBytes(*const_cast<ZorBGet&>(_array).GetHandle()), expected);
  }

 private:
  int32_t Pick(int32_t n) { return static_cast<int32_t>(_rng() % n) + 1; }
  int32_t Position(int32_t bound) { return static_cast<int32_t>(_rng() % (bound + 1)); }
  static size_t Index(int32_t before, size_t n) { return before <= 0 || before > static_cast<int32_t>(n) ? n : before - 1; }

  // A source of count items and their bytes: random bytes (the source is
  // *model), zeros (null), or items of the array itself when there are enough.
  const void* Source(int32_t count, Bytes* model) {
    const int32_t n = static_cast<int32_t>(_items.size());
    const uint32_t kind = _rng() % 3;
    if (kind == 1 || count == 0) {
      model->assign(static_cast<size_t>(count) * _is, 0);
      return nullptr;
    }
    if (kind == 2 && n >= count) {
      const int32_t first = static_cast<int32_t>(_rng() % (n - count + 1)) + 1;
      model->clear();
      for (int32_t k = 0; k < count; ++k) model->insert(model->end(), _items[first - 1 + k].begin(), _items[first - 1 + k].end());
      return _array[first];
    }
    *model = RandomBytes(_rng, static_cast<size_t>(count) * _is);
    return model->data();
  }

  void Insert(int32_t before, int32_t count) {
    Bytes model;
    const void* src = Source(count, &model);
    const int32_t got = _array.InsRange(before, src, count);
    const size_t at = Index(before, _items.size());
    ASSERT_EQ(got, count ? static_cast<int32_t>(at + 1) : 0);
    for (int32_t k = 0; k < count; ++k)
      _items.insert(_items.begin() + at + k, Bytes(model.begin() + k * _is, model.begin() + (k + 1) * _is));
  }

  void Delete(int32_t i, int32_t count) {
    _array.DelRange(i, count);
    if (i == 0) return;
    const size_t end = std::min(_items.size(), static_cast<size_t>(i - 1 + std::max(count, 0)));
    _items.erase(_items.begin() + (i - 1), _items.begin() + end);
  }

  void SetItem(int32_t i) {
    Bytes model;
    const void* src = Source(1, &model);
    if (!src) return;
    _array.Set(i, src);
    _items[i - 1] = model;
  }

  void ClearItem(int32_t i) {
    _array.ClearItem(i);
    std::fill(_items[i - 1].begin(), _items[i - 1].end(), 0);
  }

  void SwapItems(int32_t i, int32_t j) {
    _array.Swap(i, j);
    std::swap(_items[i - 1], _items[j - 1]);
  }

  void SubSet(int32_t i) {
    const uint32_t offset = _rng() % _is, len = _rng() % (_is - offset + 1);
    const Bytes bytes = RandomBytes(_rng, len);
    _array.SubSet(i, bytes.data(), offset, len);
    std::copy(bytes.begin(), bytes.end(), _items[i - 1].begin() + offset);
    Bytes out(len);
    _array.SubGet(i, out.data(), offset, len);
    ASSERT_EQ(out, bytes);
  }

  // The source is sometimes a piece of an item of the array itself.
  void SubInsert(int32_t before) {
    const uint32_t offset = _rng() % _is, len = _rng() % (_is - offset + 1);
    Bytes bytes = RandomBytes(_rng, len);
    const void* src = bytes.data();
    if (!_items.empty() && _rng() % 2) {
      const int32_t from = Pick(static_cast<int32_t>(_items.size()));
      const uint32_t at = _rng() % (_is - len + 1);
      bytes.assign(_items[from - 1].begin() + at, _items[from - 1].begin() + at + len);
      src = static_cast<const uint8_t*>(_array[from]) + at;
    }
    const int32_t got = _array.SubIns(before, src, offset, len);
    const size_t at = Index(before, _items.size());
    ASSERT_EQ(got, static_cast<int32_t>(at + 1));
    Bytes item(_is, 0);
    std::copy(bytes.begin(), bytes.end(), item.begin() + offset);
    _items.insert(_items.begin() + at, item);
  }

  void MultiClear(int32_t n) {
    const int32_t from = static_cast<int32_t>(_rng() % (n + 3)) - 1, to = static_cast<int32_t>(_rng() % (n + 3)) - 1;
    const uint32_t offset = _rng() % _is;
    const int32_t len = _rng() % 4 == 0 ? -1 : static_cast<int32_t>(_rng() % (_is - offset + 1));
    const int32_t lo = std::max(from, 1), hi = std::min(to, n);
    const uint32_t at = len < 0 ? 0 : offset, count = len < 0 ? _is : static_cast<uint32_t>(len);
    ASSERT_EQ(_array.MultiClear(from, to, at, len), lo > hi ? 0 : hi - lo + 1);
    for (int32_t i = lo; i <= hi; ++i) std::fill_n(_items[i - 1].begin() + at, count, 0);
  }

  void Resize() {
    const int32_t n = static_cast<int32_t>(_rng() % 12);
    _array.SetNbItem(n, true);
    _items.resize(n, Bytes(_is, 0));
  }

  void SetHeader() {
    _header = RandomBytes(_rng, _hs);
    _array.SetHeader(_header.data());
    Bytes out(_hs);
    _array.GetHeader(out.data());
    ASSERT_EQ(out, _header);
  }

  void Reinit() {
    const uint32_t how = _rng() % 3;
    if (how == 0) {
      ZorBGet copy;
      _array.CopyTo(&copy);
      _array = std::move(copy);
    } else if (how == 1) {
      ZorHandle h;
      _array.Detach(&h);
      _array.Init(&h);
    } else {
      _array.Clear();
      _items.clear();
    }
  }

  Rng _rng;
  uint32_t _hs, _is;
  ZorBGet _array;
  Bytes _header;
  std::vector<Bytes> _items;
};

// ------------------------------------------------------------------ ZorBDyn

struct DynItem {
  Bytes fixed, data;
};

class BDynModel {
 public:
  BDynModel(uint32_t seed, uint32_t fixedSize) : _rng(seed), _fs(fixedSize) { _dyn.Init(static_cast<int32_t>(fixedSize)); }

  void Step() {
    const int32_t n = static_cast<int32_t>(_items.size());
    switch (_rng() % 12) {
      case 0: case 1: Insert(static_cast<int32_t>(_rng() % (n + 3))); break;
      case 2: if (n) Delete(Pick(n)); break;
      case 3: case 4: case 5: SetData(Pick(n + 1) - 1); break;  // 0: the array's own data
      case 6: DelData(Pick(n + 1) - 1); break;
      case 7: if (n) SetFixed(Pick(n)); break;
      case 8: if (n) SwapItems(Pick(n), Pick(n)); break;
      case 9: _version = static_cast<int32_t>(_rng()); _dyn.SetVersion(_version); break;
      case 10: if (_rng() % 8 == 0) ClearAll(); break;
      case 11: RoundTrip(); break;
    }
  }

  void Check() const {
    ASSERT_EQ(_dyn.GetNbItem(), static_cast<int32_t>(_items.size()));
    ASSERT_EQ(_dyn.GetVersion(), _version);
    ASSERT_EQ(_dyn.GetFixedSize(), _fs);
    for (int32_t i = 0; i <= static_cast<int32_t>(_items.size()); ++i) {
      const Bytes& data = i ? _items[i - 1].data : _own;
      ZorHandle h;
      ASSERT_EQ(_dyn.GetData(i, &h), !data.empty());
      ASSERT_EQ(HandleBytes(h), data) << "item " << i;
      ASSERT_EQ(_dyn.HasData(i), !data.empty());
      void* ptr = nullptr;
      int32_t len = -1;
      void* fixed = _dyn.GetDataEx(i, &ptr, &len);
      ASSERT_EQ(len, static_cast<int32_t>(data.size()));
      ASSERT_EQ(ptr == nullptr, data.empty());
      if (i == 0) {
        ASSERT_EQ(fixed, nullptr);
        continue;
      }
      Bytes out(_fs);
      _dyn.Get(i, out.data());
      ASSERT_EQ(out, _items[i - 1].fixed);
      ASSERT_TRUE(std::equal(out.begin(), out.end(), static_cast<const uint8_t*>(fixed)));
    }
  }

  void CheckSerialised(const Bytes& form) const {
    ASSERT_GE(form.size(), 20u);
    const uint32_t itemSize = _fs + 8, n = static_cast<uint32_t>(_items.size());
    ASSERT_EQ(Le32(&form[0]), static_cast<uint32_t>(_version));
    ASSERT_EQ(Le32(&form[4]), n);
    ASSERT_EQ(Le32(&form[16]), itemSize);
    const size_t heapAt = 20 + static_cast<size_t>(n) * itemSize;
    ASSERT_GE(form.size(), heapAt);
    size_t total = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    auto check = [&](const uint8_t* ref, const Bytes& data) {
      const uint32_t offset = Le32(ref), len = Le32(ref + 4);
      ASSERT_EQ(len, data.size());
      if (!len) return;
      ASSERT_LE(heapAt + offset + len, form.size());
      ASSERT_TRUE(std::equal(data.begin(), data.end(), form.begin() + heapAt + offset));
      ranges.emplace_back(offset, len);
      total += len;
    };
    check(&form[8], _own);
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* item = &form[20 + static_cast<size_t>(k) * itemSize];
      check(item, _items[k].data);
      ASSERT_TRUE(std::equal(_items[k].fixed.begin(), _items[k].fixed.end(), item + 8));
    }
    ASSERT_EQ(form.size() - heapAt, total) << "the heap has a gap";
    std::sort(ranges.begin(), ranges.end());
    for (size_t k = 1; k < ranges.size(); ++k) ASSERT_LE(ranges[k - 1].first + ranges[k - 1].second, ranges[k].first);
  }

 private:
  int32_t Pick(int32_t n) { return static_cast<int32_t>(_rng() % n) + 1; }

  Bytes RandomData() {
    const uint32_t kind = _rng() % 8;
    return RandomBytes(_rng, kind == 0 ? 0 : (kind < 6 ? _rng() % 12 + 1 : _rng() % 300 + 1));
  }

  void Insert(int32_t before) {
    const bool zero = _rng() % 4 == 0;
    const Bytes fixed = zero ? Bytes(_fs, 0) : RandomBytes(_rng, _fs);
    const int32_t got = _dyn.Ins(before, zero ? nullptr : fixed.data());
    const size_t at = before <= 0 || before > static_cast<int32_t>(_items.size()) ? _items.size() : before - 1;
    ASSERT_EQ(got, static_cast<int32_t>(at + 1));
    _items.insert(_items.begin() + at, DynItem{fixed, {}});
  }

  void Delete(int32_t i) {
    _dyn.Del(i);
    _items.erase(_items.begin() + (i - 1));
  }

  Bytes& DataOf(int32_t i) { return i ? _items[i - 1].data : _own; }

  // New data: random bytes, a handle, or the data of another item read in
  // place from the heap (a source that moves when the old range goes).
  void SetData(int32_t i) {
    const int32_t n = static_cast<int32_t>(_items.size());
    const uint32_t kind = _rng() % 4;
    if (kind == 0 && n) {
      const int32_t j = Pick(n + 1) - 1;
      void* ptr;
      int32_t len;
      _dyn.GetDataEx(j, &ptr, &len);
      _dyn.SetData(i, ptr, static_cast<uint32_t>(len));
      DataOf(i) = DataOf(j);
    } else if (kind == 1) {
      const Bytes data = RandomData();
      ZorHandle h;
      h.Init(data.data(), static_cast<uint32_t>(data.size()));
      _dyn.SetData(i, &h);
      DataOf(i) = data;
    } else {
      // Same length half of the time: the overwrite in place.
      Bytes data = RandomData();
      if (kind == 2 && !DataOf(i).empty()) data = RandomBytes(_rng, DataOf(i).size());
      if (i == 0 && _rng() % 2)
        _dyn.SetDynData(data.data(), static_cast<uint32_t>(data.size()));
      else
        _dyn.SetData(i, data.data(), static_cast<uint32_t>(data.size()));
      DataOf(i) = data;
    }
  }

  void DelData(int32_t i) {
    _dyn.DelData(i);
    DataOf(i).clear();
  }

  void SetFixed(int32_t i) {
    const Bytes fixed = RandomBytes(_rng, _fs);
    _dyn.Set(i, fixed.data());
    _items[i - 1].fixed = fixed;
  }

  void SwapItems(int32_t i, int32_t j) {
    _dyn.Swap(i, j);
    std::swap(_items[i - 1], _items[j - 1]);
  }

  void ClearAll() {
    const bool keep = _rng() % 2;
    _dyn.Clear(keep);
    _items.clear();
    _version = 1;
    if (!keep) _own.clear();
  }

  // Out through the serialised form (or Save, or Copy) and back in.
  void RoundTrip() {
    ZorHandle form;
    const bool detach = _rng() % 4 == 0;
    _dyn.GetHandle(&form, detach);
    _form = HandleBytes(form);
    CheckSerialised(_form);
    if (detach) {
      ASSERT_EQ(_dyn.GetNbItem(), 0);
      ASSERT_EQ(_dyn.GetVersion(), _version);
      ASSERT_FALSE(_dyn.HasData(0));
    }
    const uint32_t how = _rng() % 4;
    if (how == 0) {
      _dyn.Init(&form, false);
    } else if (how == 1) {  // shared in place: the array writes into _shared until it resizes
      _dyn.Trash();
      _shared.swap(_form);
      ZorHandle view;
      view.Attach(ZorCreateHandleFromDataPtr(_shared.data(), static_cast<uint32_t>(_shared.size())));
      _dyn.Init(&view, true);
    } else {
      ZorBDyn whole;
      whole.Init(&form, false);
      if (how == 3) {
        ASSERT_TRUE(_dyn.Copy(&whole));
      } else {
        ZorHandle heap, items;
        whole.Save(&heap, &items);
        _dyn.Load(&heap, &items);
      }
    }
  }

  Rng _rng;
  uint32_t _fs;
  ZorBDyn _dyn;
  int32_t _version = 1;
  Bytes _own;
  std::vector<DynItem> _items;
  Bytes _form, _shared;
};

}  // namespace

TEST(BGetModel, RandomOperationSequencesMatchTheVectorModel) {
  const uint32_t shapes[][2] = {{0, 4}, {20, 24}, {3, 1}, {7, 33}, {0, 300}};
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    const auto& shape = shapes[seed % 5];
    BGetModel model(seed, shape[0], shape[1]);
    for (int step = 0; step < 3000; ++step) {
      model.Step();
      ASSERT_NO_FATAL_FAILURE(model.Check()) << "seed " << seed << " step " << step;
    }
  }
}

TEST(BDynModel, RandomOperationSequencesMatchTheVectorModel) {
  const uint32_t fixedSizes[] = {0, 4, 13, 40};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    BDynModel model(seed, fixedSizes[seed % 4]);
    for (int step = 0; step < 2500; ++step) {
      model.Step();
      ASSERT_NO_FATAL_FAILURE(model.Check()) << "seed " << seed << " step " << step;
    }
  }
}
