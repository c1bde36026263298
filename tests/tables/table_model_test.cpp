// The table cursor against a plain model, under random operations: writes
// and adds (duplicate keys, the unique id), updates, deletes, swaps,
// emptying, index changes, navigation, reads by position, UD and key, Exist,
// and views (ranges by position, by offset and by a field, selections).
//
// The model keeps the records as bytes by UD with their creation order; the
// order of an index is the creation order stably sorted by the keys that
// ZorBuildIndex makes of the records, compared with ZorCompIndex (the store
// sorts by its own sort keys). After every step the table's current UD and
// position, buffer, counts and the whole view (GetUDFromN, GetNFromUD) are
// compared with the model.
//
// RunCursorModel takes the way to open a table on a description, so that
// the same workload runs against every store. A failure names the seed and
// the step; ZOR_MODEL_SEED=<seed> runs that seed alone.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/block_file_kit.h"
#include "support/table_bfile_kit.h"
#include "support/test_util.h"
#include "tables/store/store_bfile_internal.h"

namespace zorvane {
namespace {

using Bytes = std::vector<uint8_t>;

void PutLE32(uint8_t* p, int64_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct StoreKind {
  std::function<void(ZorTable*, ZorTableDesc*)> open;
  bool udIsPlace;  // UD = place in creation order: a delete renumbers, a swap moves contents
  // A store that keeps deleted records in their slots and gives their UDs
  // to the next records (last deleted first), and refuses Add and Swap.
  bool keepsDeleted = false;
  int32_t perBlock = 0;  // records per data block (the slot of a new UD), 0: unknown
  // Closes and reopens the table, then checks the stored form (null: never).
  std::function<void(ZorTable*, ZorTableDesc*)> reopen = nullptr;
};

struct PartShape {
  int32_t field;
  bool descending;
};
struct DescShape {
  std::vector<std::pair<eZorPhysType, int32_t>> fields;  // type, declared length
  std::vector<std::vector<PartShape>> indexes;
  int32_t uniqueIdField;  // 0: none (a Long field otherwise)
};

void BuildDesc(const DescShape& s, ZorTableDesc* d) {
  d->Create(kZorTblTypeStd, 0);
  int32_t f = 0;
  for (auto [phys, len] : s.fields) {
    ++f;
    const bool isText = phys == kZorPhysTypeAnsiString;
    d->AddField(("F" + std::to_string(f)).c_str(), phys, isText ? kZorLogTypeText : kZorLogTypeInt, true, len,
                f == s.uniqueIdField ? uint32_t{kZorTblFfUnicID} : 0u, 0, 0);
  }
  d->Validate();
  for (const auto& parts : s.indexes) {
    const int32_t ix = d->AddIndex(0);
    for (size_t p = 0; p < parts.size(); ++p) d->SetSubIndex(ix, static_cast<int32_t>(p + 1), parts[p].field, 0);
    sZorKey key;
    d->GetIndex(ix, &key);
    for (size_t p = 0; p < parts.size(); ++p) key.partType[p] += parts[p].descending ? kZorKeyDescending : 0;
    d->SetIndex(ix, &key);
  }
  d->Validate();
  d->SetDefIndex(1);
}

// What the model knows of the table: record size, fields, index definitions.
struct Layout {
  uint32_t recSize = 0;
  std::vector<eZorPhysType> phys;  // field f at f - 1
  std::vector<int32_t> offset, size, len;
  std::vector<sZorKey> keys;  // index i at i - 1
  int32_t uidField = 0;
};

class Model {
 public:
  explicit Model(const Layout& l) : L(l), buf(l.recSize, 0) {}

  const Layout& L;
  std::map<uint32_t, Bytes> recs;
  std::vector<uint32_t> seq;  // UDs in creation order (slot order, deleted slots included)
  std::map<uint32_t, Bytes> dead;  // deleted records still in their slots
  std::vector<uint32_t> reusable;  // their UDs, the next to reuse last
  int32_t ruid = 0;
  int32_t index = 1;
  uint32_t curUD = 0;
  bool posKnown = false;  // the table must know the current position
  bool skipDel = false;   // mode flag 0x2: navigation in creation order skips deleted records
  Bytes buf;
  int32_t mode = 0, offset = 0, count = 0;
  std::vector<uint32_t> sel;

  std::string Key(int32_t ix, const Bytes& rec) const {
    std::string k(L.keys[ix - 1].keyLen, '\0');
    ZorBuildIndex(&L.keys[ix - 1], rec.data(), L.recSize, k.data());
    return k;
  }
  static int Cmp(const std::string& a, const std::string& b) {
    return ZorCompIndex(a.data(), b.data(), static_cast<int32_t>(a.size()));
  }
  std::vector<uint32_t> Order(int32_t ix) const {
    if (ix == 0) return seq;
    std::vector<uint32_t> o;
    for (uint32_t ud : seq) if (recs.count(ud)) o.push_back(ud);
    std::map<uint32_t, std::string> k;
    for (uint32_t ud : o) k[ud] = Key(ix, recs.at(ud));
    std::stable_sort(o.begin(), o.end(), [&](uint32_t a, uint32_t b) { return Cmp(k[a], k[b]) < 0; });
    return o;
  }
  // The UD at every position of the view (0 where a position has none).
  std::vector<uint32_t> View() const {
    if (mode == 2) return sel;
    const std::vector<uint32_t> o = Order(index);
    if (mode == 0) return o;
    std::vector<uint32_t> v;
    for (int32_t n = 1; n <= count; ++n) v.push_back(offset + n <= static_cast<int32_t>(o.size()) ? o[offset + n - 1] : 0);
    return v;
  }
  int32_t NFromUD(uint32_t ud) const {
    const std::vector<uint32_t> v = View();
    const auto it = std::find(v.begin(), v.end(), ud);
    return ud == 0 || it == v.end() ? 0 : static_cast<int32_t>(it - v.begin()) + 1;
  }
  void Fail() {
    curUD = 0;
    posKnown = false;
    std::fill(buf.begin(), buf.end(), 0);
  }
  // Reads position n; stepping (step 1 or -1) in creation order when the
  // table skips deleted records, from n on to the first record there is.
  // A deleted record still in its slot reads as such, unless skipped: by
  // ReadN when the table keeps deleted records, by stepping in creation order.
  bool ReadAt(int32_t n, int32_t step = 0) {
    const std::vector<uint32_t> v = View();
    const bool skipping = skipDel && (step == 0 || index == 0);
    for (; n >= 1 && n <= static_cast<int32_t>(v.size()); n += step) {
      const uint32_t ud = v[n - 1];
      if (recs.count(ud) || (dead.count(ud) && !skipping)) {
        curUD = ud, buf = recs.count(ud) ? recs[ud] : dead[ud], posKnown = true;
        return true;
      }
      if (step == 0 || !skipping) break;
    }
    Fail();
    return false;
  }
  // The first record (creation order) other than `except` whose key on an
  // index of [first, last] equals rec's.
  uint32_t Exist(int32_t first, int32_t last, const Bytes& rec, uint32_t except = 0) const {
    for (int32_t ix = first; ix <= last; ++ix) {
      for (uint32_t ud : seq)
        if (ud != except && recs.count(ud) && Cmp(Key(ix, recs.at(ud)), Key(ix, rec)) == 0) return ud;
    }
    return 0;
  }
  // Position of the first key >= probe (forward) or the last <= probe, 0 if none.
  int32_t Search(int32_t ix, const Bytes& probe, int32_t findMode) const {
    const std::vector<uint32_t> o = Order(ix);
    const std::string k = Key(ix, probe);
    int32_t found = 0;
    for (int32_t n = 1; n <= static_cast<int32_t>(o.size()); ++n) {
      const int c = Cmp(Key(ix, recs.at(o[n - 1])), k);
      if (findMode == 0 && c == 0) return n;
      if (findMode == 1 && c >= 0) return n;
      if (findMode == 2 && c <= 0) found = n;
    }
    return found;
  }
  void Store(const Bytes& rec, uint32_t ud) {
    recs[ud] = rec;
    if (!dead.erase(ud)) seq.push_back(ud);
    if (!reusable.empty() && reusable.back() == ud) reusable.pop_back();
  }
  void Clear() {
    recs.clear(), seq.clear(), dead.clear(), reusable.clear();
    Fail();
  }
  void Remove(uint32_t ud, bool udIsPlace, bool keepsDeleted) {
    if (keepsDeleted) {
      // The last record goes with the whole table.
      if (recs.size() == 1) return Clear();
      dead[ud] = recs[ud], recs.erase(ud), reusable.push_back(ud);
      return;
    }
    seq.erase(std::find(seq.begin(), seq.end(), ud));
    recs.erase(ud);
    if (!udIsPlace) return;
    std::map<uint32_t, Bytes> renumbered;
    for (uint32_t i = 0; i < seq.size(); ++i) renumbered[i + 1] = std::move(recs[seq[i]]), seq[i] = i + 1;
    recs.swap(renumbered);
  }
};

class Driver {
 public:
  Driver(const StoreKind& kind, const DescShape& shape, uint32_t seed) : _kind(kind), _rng(seed), _m(_layout) {
    BuildDesc(shape, &_desc);
    kind.open(&_t, &_desc);
    _layout.recSize = _t.GetBufferSize();
    for (int32_t f = 1; f <= _t.GetNbField(); ++f) {
      int32_t len = 0, off = 0, size = 0;
      _t.GetFieldInfo(f, &len, &off, &size);
      _layout.phys.push_back(_t.GetFieldPhysType(f));
      _layout.offset.push_back(off), _layout.size.push_back(size), _layout.len.push_back(len);
    }
    for (int32_t i = 1; i <= _t.GetNbIndex(); ++i) _t.GetIndexInfo(i, &_layout.keys.emplace_back());
    _layout.uidField = shape.uniqueIdField;
    // Whether the value layer changes case yet (the searches of a range do).
    for (int32_t f = 1; f <= _t.GetNbField(); ++f) {
      if (_layout.phys[f - 1] == kZorPhysTypeAnsiString && _t.SetValStr(f, "A")) _caseMaps = _t.ChangeVal(f, kZorTblChgLower);
    }
    _t.Raz();
    _m.buf.assign(_layout.recSize, 0);
    _m.index = _t.GetCurIndex();
    _m.skipDel = _storeSkipsDel = (_t.GetModeFlags() & kZorTblMfKeepDel) != 0;
  }

  void Run(int32_t steps) {
    for (int32_t step = 1; step <= steps && !::testing::Test::HasFailure(); ++step) {
      Step();
      if (!::testing::Test::HasFailure()) Check();
      if (::testing::Test::HasFailure()) ADD_FAILURE() << "at step " << step << ", operation " << _op;
    }
  }

 private:
  int32_t R(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(_rng); }
  int32_t NbIndex() const { return static_cast<int32_t>(_layout.keys.size()); }
  // A UD of the table (deleted ones included) or one near them.
  uint32_t SomeUD() {
    if (_m.seq.empty() || R(0, 3) == 0) return static_cast<uint32_t>(R(0, static_cast<int32_t>(_m.recs.size()) + 1));
    return _m.seq[R(0, static_cast<int32_t>(_m.seq.size()) - 1)] + (R(0, 5) == 0 ? 1 : 0);
  }

  char Case(char c, bool upper) const {
    const auto u = static_cast<uint8_t>(c);
    const bool isUpper = (u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7);
    const bool isLower = (u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7);
    return _caseMaps && (upper ? isLower : isUpper) ? static_cast<char>(c ^ 0x20) : c;
  }
  std::string Text(int32_t len) {
    static const char kChars[] = "aAbB\xE9\xC9";
    std::string s;
    for (int32_t i = R(0, len); i > 0; --i) s += kChars[R(0, 5)];
    return s;
  }
  const Bytes& SomeRecord() {
    auto it = _m.recs.begin();
    std::advance(it, R(0, static_cast<int32_t>(_m.recs.size()) - 1));
    return it->second;
  }
  // A random buffer, or a stored record with some fields changed (text in
  // another case: the same key), so that keys collide often.
  void Fill() {
    const bool fromRecord = !_m.recs.empty() && R(0, 2) > 0;
    if (fromRecord) _t.SetBufferData(SomeRecord().data());
    for (int32_t f = 1; f <= static_cast<int32_t>(_layout.phys.size()); ++f) {
      if (fromRecord && R(0, 2)) continue;
      if (_layout.phys[f - 1] == kZorPhysTypeLong) {
        _t.SetValLong(f, R(0, 20) == 0 ? (R(0, 1) ? INT32_MIN : INT32_MAX) : R(-3, 3));
        continue;
      }
      string s;
      std::string text = fromRecord ? _t.GetValStr(f, &s) : Text(_layout.len[f - 1]);
      for (char& c : text) c = R(0, 1) ? static_cast<char>(c ^ 0x20) : c;
      _t.SetValStr(f, text.c_str());
    }
    _t.GetBufferData(_m.buf.data());
  }

  void Write(bool add) {
    Bytes stored = _m.buf;
    if (_layout.uidField) PutLE32(stored.data() + _layout.offset[_layout.uidField - 1], _m.ruid + 1);
    const bool refused = add && _kind.keepsDeleted;
    const bool dup = !add && _m.Exist(1, NbIndex(), stored) != 0;
    uint32_t ud = 0;
    const int64_t code = test::ErrorOf([&] { ud = add ? _t.Add() : _t.Write(); });
    ASSERT_EQ(code, refused ? ZorErr(1, 25) : dup ? ZorErr(1, 48) : 0);
    if (dup || refused) return;
    ASSERT_TRUE(ud != 0 && !_m.recs.count(ud)) << "new UD " << ud;
    ASSERT_EQ(_t.GetLastWrittenUD(), ud);
    ASSERT_TRUE(!_kind.udIsPlace || ud == _m.recs.size() + 1) << "new UD " << ud;
    if (!_m.reusable.empty()) {
      ASSERT_EQ(ud, _m.reusable.back()) << "reused UD";
    } else if (_kind.perBlock) {
      ASSERT_EQ(ud % 8192, _m.seq.size() % _kind.perBlock + 1) << "slot of new UD " << ud;
    }
    _m.Store(stored, ud);
    if (_layout.uidField) ++_m.ruid;
    _m.posKnown = false;
  }

  void Update() {
    // Refused when a key it changes is another record's.
    bool dup = false;
    const bool dead = _m.dead.count(_m.curUD) != 0;
    for (int32_t ix = 1; _m.curUD && !dead && ix <= NbIndex(); ++ix)
      dup |= Model::Cmp(_m.Key(ix, _m.buf), _m.Key(ix, _m.recs[_m.curUD])) != 0 && _m.Exist(ix, ix, _m.buf, _m.curUD);
    const int64_t code = test::ErrorOf([&] { _t.UpDate(); });
    ASSERT_EQ(code, !_m.curUD || dead ? ZorErr(1, 49) : dup ? ZorErr(1, 48) : 0);
    if (code == 0) _m.recs[_m.curUD] = _m.buf;
    _m.posKnown = false;
  }

  void Delete() {
    const bool valid = _m.recs.count(_m.curUD) != 0;
    const int64_t code = test::ErrorOf([&] { _t.Delete(); });
    ASSERT_EQ(code, valid ? 0 : ZorErr(1, 49));
    if (!valid) return;  // refused: nothing changes
    _m.Remove(_m.curUD, _kind.udIsPlace, _kind.keepsDeleted);
    _m.Fail();
  }

  void Swap() {
    const uint32_t a = SomeUD(), b = SomeUD();
    const bool valid = _m.recs.count(a) && _m.recs.count(b);
    const int64_t code = test::ErrorOf([&] { _t.Swap(a, b); });
    if (_kind.keepsDeleted) {
      ASSERT_EQ(code, ZorErr(1, 25));
      return;
    }
    ASSERT_EQ(code, valid ? 0 : ZorErr(1, 49));
    if (!valid) return;
    _m.posKnown = false;
    if (_kind.udIsPlace) {
      std::swap(_m.recs[a], _m.recs[b]);
    } else {
      std::iter_swap(std::find(_m.seq.begin(), _m.seq.end(), a), std::find(_m.seq.begin(), _m.seq.end(), b));
    }
  }

  void ReadByKey() {
    if (R(0, 1)) Fill();
    const int32_t findMode = R(0, 2);
    const int32_t ix = R(0, 3) == 0 ? kZorTblIndexCur : R(1, NbIndex());
    const int32_t resolved = ix == kZorTblIndexCur ? _m.index : ix;
    const bool ok = _t.Read(static_cast<eZorTblFind>(findMode), ix);
    const int32_t n = resolved ? _m.Search(resolved, _m.buf, findMode) : 0;
    ASSERT_EQ(ok, n != 0) << "Read mode " << findMode << " index " << ix;
    if (!ok) return _m.Fail();
    _m.curUD = _m.Order(resolved)[n - 1];
    _m.buf = _m.recs[_m.curUD];
    _m.posKnown = resolved == _m.index && _m.mode == 0 && findMode != 0;  // an equal key may come from a hash
  }

  // A record of zeros with field f holding text as the value layer stores
  // it (a Long field takes its number), and with every later part of the
  // current index at its minimum or maximum (`bound` -1 or 1).
  // A Long field takes only the text of a 32-bit integer.
  bool Writable(int32_t f, const std::string& text) const {
    if (_layout.phys[f - 1] != kZorPhysTypeLong) return true;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    return text.empty() || (*end == 0 && v >= INT32_MIN && v <= INT32_MAX);  // empty: 0
  }

  Bytes Probe(int32_t f, const std::string& text, int32_t bound = 0) {
    Bytes probe(_layout.recSize, 0);
    uint8_t* at = probe.data() + _layout.offset[f - 1];
    if (_layout.phys[f - 1] == kZorPhysTypeLong) {
      PutLE32(at, std::atoi(text.c_str()));
    } else {
      std::memcpy(at, text.data(), std::min<size_t>(text.size(), _layout.size[f - 1] - 1));
    }
    const sZorKey& key = _layout.keys[std::max(_m.index, 1) - 1];
    for (int32_t p = 1; bound && p < key.nbPart; ++p) {
      at = probe.data() + _layout.offset[key.partField[p] - 1];
      const bool high = (bound > 0) != (key.partType[p] >= kZorKeyDescending);
      if (_layout.phys[key.partField[p] - 1] == kZorPhysTypeLong) {
        PutLE32(at, high ? INT32_MAX : INT32_MIN);
      } else {
        std::memset(at, high ? 0xFF : 0, _layout.size[key.partField[p] - 1]);
      }
    }
    return probe;
  }

  // SetModeRange on the first part of the current index: the first record
  // from `from` forward (text in lower case), the last up to `to` backward
  // (text in upper case), the later parts at their minimum and maximum.
  void RangeOnField() {
    const bool intersect = R(0, 3) == 0;
    const std::vector<uint32_t> previous = _m.View();
    int32_t got = 0, first = 0, last = 0;
    if (_m.index == 0) {
      got = _t.SetModeRangeLong(1, 0, 0, intersect);
    } else {
      const int32_t field = _layout.keys[_m.index - 1].partField[0];
      std::string a, b;
      if (_layout.phys[field - 1] == kZorPhysTypeLong) {
        const int32_t from = R(-4, 4), to = R(-4, 4);
        got = _t.SetModeRangeLong(field, from, to, intersect);
        a = std::to_string(from), b = std::to_string(to);
      } else {
        a = Text(_layout.len[field - 1]), b = Text(_layout.len[field - 1]);
        const bool one = R(0, 2) == 0;  // no upper bound: from on both sides
        got = _t.SetModeRangeStr(field, a.c_str(), one ? nullptr : b.c_str(), intersect);
        if (one) b = a;
        for (char& c : a) c = Case(c, false);
        for (char& c : b) c = Case(c, true);
      }
      _m.mode = 0;
      first = _m.Search(_m.index, Probe(field, a, -1), 1);
      last = _m.Search(_m.index, Probe(field, b, 1), 2);
    }
    _m.mode = 1;
    _m.count = first && last >= first ? last - first + 1 : 0;
    _m.offset = _m.count ? first - 1 : 0;
    if (intersect) {
      _m.sel.clear();
      for (uint32_t ud : _m.View())
        if (std::find(previous.begin(), previous.end(), ud) != previous.end()) _m.sel.push_back(ud);
      _m.mode = 2;
    }
    ASSERT_EQ(got, _m.mode == 2 ? static_cast<int32_t>(_m.sel.size()) : _m.count);
    _m.posKnown = false;
    if (_m.index) _m.Fail();  // the searches moved the cursor
  }

  // how: 1 First, 2 Prev, 3 Next, 4 Last, directly or through DoNavig.
  void Navigate(int32_t how) {
    const int32_t n = _m.NFromUD(_m.curUD), step = how == 3 ? 1 : -1;
    bool want = false;
    if (how == 1 || how == 4) {
      want = _m.ReadAt(how == 1 ? 1 : static_cast<int32_t>(_m.View().size()), how == 1 ? 1 : -1);
    } else {
      want = n && (how == 3 || n > 1) ? _m.ReadAt(n + step, step) : (_m.Fail(), false);
    }
    const bool got = R(0, 1)       ? _t.DoNavig(how)
                     : how == 1    ? _t.First()
                     : how == 2    ? _t.Prev()
                     : how == 3    ? _t.Next()
                                   : _t.Last();
    ASSERT_EQ(got, want) << "navigation " << how << " from " << n << " index " << _m.index << " mode " << _m.mode
                         << " skipDel " << _m.skipDel << " seq " << ::testing::PrintToString(_m.seq) << " live "
                         << _m.recs.size() << " cur " << _t.GetCurUD() << " nbN " << _t.GetNbN();
  }

  // ReadPk with the text of a stored value: one-part indexes only, each in
  // turn for index 0, on a cleared buffer with search mode 0.
  void ReadPk() {
    const int32_t ix = R(0, NbIndex()), f = _layout.keys[R(1, NbIndex()) - 1].partField[0];
    std::string text = Text(_layout.len[f - 1]);
    if (!_m.seq.empty() && R(0, 3)) {
      const uint8_t* at = SomeRecord().data() + _layout.offset[f - 1];
      text = _layout.phys[f - 1] == kZorPhysTypeLong ? std::to_string(static_cast<int32_t>(at[0] | at[1] << 8 | at[2] << 16 | at[3] << 24))
                                                     : std::string(reinterpret_cast<const char*>(at));
    }
    const bool got = _t.ReadPk(text.c_str(), ix);
    for (int32_t i = ix ? ix : 1; i <= (ix ? ix : NbIndex()); ++i) {
      const sZorKey& key = _layout.keys[i - 1];
      if (key.nbPart != 1 || !Writable(key.partField[0], text)) continue;
      if (const int32_t n = _m.Search(i, Probe(key.partField[0], text), 0)) {
        ASSERT_TRUE(got) << "ReadPk '" << text << "' index " << ix;
        _m.curUD = _m.Order(i)[n - 1], _m.buf = _m.recs[_m.curUD], _m.posKnown = false;
        return;
      }
    }
    ASSERT_FALSE(got) << "ReadPk '" << text << "' index " << ix;
    _m.Fail();
  }

  void Selection() {
    std::vector<uint32_t> uds;
    for (int32_t i = R(0, 6); i > 0; --i) {
      const uint32_t ud = SomeUD();
      if (std::find(uds.begin(), uds.end(), ud) == uds.end()) uds.push_back(ud);
    }
    ZorTSel sel;
    for (uint32_t ud : uds) sel.AddSel(ud);
    ASSERT_EQ(_t.SetModeFromTSel(&sel, R(0, 1) != 0), static_cast<int32_t>(uds.size()));
    _m.mode = 2;
    _m.sel = uds;
    _m.posKnown = false;
  }

  void Step() {
    const int32_t size = static_cast<int32_t>(_m.recs.size());
    const int32_t viewSize = static_cast<int32_t>(_m.View().size());
    switch (_op = R(0, 21)) {
      case 0: case 1: case 2: Fill(); return Write(false);
      case 3: Fill(); return Write(true);
      case 4: if (R(0, 1)) Fill(); return Update();
      case 5: case 6: return Delete();
      case 7:
        if (R(0, 30) == 0) _t.MakeEmpty(), _m.Clear();
        if (_kind.reopen && R(0, 3) == 0) Reopen();
        return;
      case 8: return Swap();
      case 9: {
        const int32_t ix = R(0, NbIndex() + 1);
        ASSERT_EQ(_t.SetCurIndex(ix), ix <= NbIndex());
        if (!_storeSkipsDel) _m.skipDel = R(0, 1), _t.SetModeFlags(kZorTblMfKeepDel, _m.skipDel);
        if (ix <= NbIndex() && ix != _m.index) _m.index = ix, _m.posKnown = false;
        return;
      }
      case 10: case 11: case 12: case 13: return Navigate(_op - 9);
      case 14: { const int32_t n = R(0, viewSize + 1); ASSERT_EQ(_t.ReadN(n), _m.ReadAt(n)) << "ReadN " << n; return; }
      case 15: {
        const uint32_t ud = SomeUD();
        const bool ok = _m.recs.count(ud) || _m.dead.count(ud);  // a deleted record reads as such
        ASSERT_EQ(_t.ReadUD(ud), ok) << "ReadUD " << ud;
        if (!ok) return _m.Fail();
        ASSERT_EQ(_t.IsDeleted(), _m.dead.count(ud) != 0);
        _m.curUD = ud, _m.buf = _m.recs.count(ud) ? _m.recs[ud] : _m.dead[ud], _m.posKnown = false;
        return;
      }
      case 16: return ReadByKey();
      case 17: return R(0, 1) ? ReadByKey() : ReadPk();
      case 18: {
        if (R(0, 1)) Fill();
        const int32_t ix = R(0, 1) ? kZorTblIndexAll : R(1, NbIndex());
        const uint32_t want = ix == kZorTblIndexAll ? _m.Exist(1, NbIndex(), _m.buf) : _m.Exist(ix, ix, _m.buf);
        ASSERT_EQ(_t.Exist(ix), want) << "Exist " << ix;
        return;
      }
      case 19: {
        const int32_t kind = R(0, 3), offset = R(0, size + 1), count = R(0, size + 1);
        if (kind == 3) return RangeOnField();
        if (kind == 0) _t.SetModeFull();
        const int32_t got = kind == 1 ? _t.SetModeRangeN(offset + 1, offset + count)
                            : kind == 2 ? _t.SetModeRangeOffset(offset, count) : count;
        ASSERT_EQ(got, count);
        _m.mode = kind ? 1 : 0, _m.offset = offset, _m.count = count, _m.posKnown = false;
        return;
      }
      case 20: return Selection();
      default: {
        ZorTSel sel;
        sel.Init(&_t);
        std::vector<uint32_t> got;
        for (int32_t i = 1; i <= sel.GetNbSel(); ++i) got.push_back(sel[i]);
        ASSERT_EQ(got, _m.View()) << "ZorTSel::Init";
        if (R(0, 9) == 0) _t.Clear(), _m.Fail();
        return;
      }
    }
  }

  void Check() {
    ASSERT_EQ(_t.GetCurUD(), _m.curUD);
    ASSERT_EQ(_t.GetCurIndex(), _m.index);
    ASSERT_EQ(static_cast<int32_t>(_t.GetMode()), _m.mode);
    Bytes buf(_layout.recSize);
    _t.GetBufferData(buf.data());
    ASSERT_EQ(test::Hex(buf.data(), buf.size()), test::Hex(_m.buf.data(), _m.buf.size())) << "buffer";
    ASSERT_EQ(_t.GetNbRecord(), static_cast<int32_t>(_m.recs.size()));
    const std::vector<uint32_t> view = _m.View();
    ASSERT_EQ(_t.GetNbN(), static_cast<int32_t>(view.size()));
    // The position: exact after a navigation, else unknown (0) or right.
    const int32_t n = _m.NFromUD(_m.curUD);
    if (_m.posKnown || _t.GetCurN() != 0) {
      ASSERT_EQ(_t.GetCurN(), n) << "position of UD " << _m.curUD;
    }
    for (int32_t i = 0; i <= static_cast<int32_t>(view.size()) + 1; ++i) {
      const uint32_t want = i >= 1 && i <= static_cast<int32_t>(view.size()) ? view[i - 1] : 0;
      ASSERT_EQ(_t.GetUDFromN(i), want) << "GetUDFromN " << i;
    }
    std::map<uint32_t, int32_t> place;  // the first position of each UD of the view
    for (int32_t i = static_cast<int32_t>(view.size()); i >= 1; --i) place[view[i - 1]] = i;
    auto nFromUD = [&](uint32_t ud) { return ud && place.count(ud) ? place[ud] : 0; };
    for (uint32_t ud = 0; ud <= _m.recs.size() + 1; ++ud) ASSERT_EQ(_t.GetNFromUD(ud), nFromUD(ud)) << "ud " << ud;
    for (uint32_t ud : _m.seq) ASSERT_EQ(_t.GetNFromUD(ud), nFromUD(ud)) << "ud " << ud;
    ASSERT_EQ(_t.GetNbDelRec(), static_cast<int32_t>(_m.dead.size()));
  }

  // The table closed and opened again: the cursor starts afresh on the
  // default index, and the stored form is checked.
  void Reopen() {
    _kind.reopen(&_t, &_desc);
    _m.Fail();
    _m.index = _t.GetCurIndex();
    _m.mode = 0;
    _m.skipDel = _storeSkipsDel;
  }

  StoreKind _kind;
  bool _caseMaps = false;
  bool _storeSkipsDel = false;  // a store that keeps deleted records sets flag 0x2 itself
  int32_t _op = 0;  // the last operation drawn (the cases of Step)
  std::mt19937 _rng;
  Layout _layout;
  ZorTableDesc _desc;
  ZorTable _t;
  Model _m;
};

const DescShape kDescs[] = {
    // One text index; a Long filler.
    {{{kZorPhysTypeAnsiString, 2}, {kZorPhysTypeLong, 0}}, {{{1, false}}}, 0},
    // A unique id outside the keys; a descending text index; Long then text.
    {{{kZorPhysTypeLong, 0}, {kZorPhysTypeAnsiString, 2}, {kZorPhysTypeLong, 0}},
     {{{2, true}}, {{3, false}, {2, false}}},
     1},
    // Three indexes, one with a descending Long second part.
    {{{kZorPhysTypeAnsiString, 3}, {kZorPhysTypeLong, 0}, {kZorPhysTypeAnsiString, 4}},
     {{{2, false}}, {{1, false}, {2, true}}, {{3, true}, {1, false}}},
     0},
    // Seventeen indexes over four fields.
    {{{kZorPhysTypeAnsiString, 2}, {kZorPhysTypeLong, 0}, {kZorPhysTypeAnsiString, 3}, {kZorPhysTypeLong, 0}},
     {{{1, false}, {2, false}}, {{2, false}, {1, false}}, {{1, false}, {3, false}}, {{3, false}, {1, true}},
      {{1, false}, {4, false}}, {{4, false}, {1, false}}, {{2, false}, {3, false}}, {{3, false}, {2, false}},
      {{2, true}, {4, false}}, {{4, false}, {2, false}}, {{3, false}, {4, false}}, {{4, true}, {3, false}},
      {{1, false}, {2, false}, {3, false}}, {{2, false}, {3, false}, {4, false}}, {{3, false}, {4, false}, {1, false}},
      {{4, false}, {1, false}, {2, false}}, {{1, true}, {2, true}, {3, true}, {4, true}}},
     0},
};

// The whole workload over every description and seed, on one kind of store.
void RunCursorModel(const StoreKind& kind, int32_t steps) {
  std::vector<uint32_t> seeds = {1, 2, 3, 4};
  if (const char* s = std::getenv("ZOR_MODEL_SEED")) seeds = {static_cast<uint32_t>(std::strtoul(s, nullptr, 10))};
  for (size_t d = 0; d < std::size(kDescs); ++d) {
    for (uint32_t seed : seeds) {
      SCOPED_TRACE("description " + std::to_string(d) + " seed " + std::to_string(seed));
      // Seventeen indexes make every check slow: fewer steps there.
      Driver(kind, kDescs[d], seed * 7919 + static_cast<uint32_t>(d)).Run(d == 3 ? steps / 4 : steps);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(TableModel, MemoryStore) {
  RunCursorModel({.open = [](ZorTable* t, ZorTableDesc* d) { t->Init(d); }, .udIsPlace = true}, 2000);
}

// The block stores on a block file in memory, with data blocks of 3
// records and leaves of a few entries, so that data blocks, leaf splits
// and leaf removals come every few steps. Every reopen checks the file and
// the table's blocks against one another.
struct BFileHome {
  std::unique_ptr<zortest::TestFile<>> file;
  std::unique_ptr<zortest::BFileTables> base;
  const int64_t tid = zortest::TableIdOf(5);
};

StoreKind BFileKind(BFileHome* home, bool small) {
  auto open = [home, small](ZorTable* t, ZorTableDesc* d) {
    home->file = std::make_unique<zortest::TestFile<>>(ZorBfOpenCopyOnWrite);
    home->base = std::make_unique<zortest::BFileTables>(&home->file->file);
    if (small) d->SetFlags(d->GetFlags() | kZorTblTfSmall);
    int32_t perBlock = 3;
    d->GetMaxData(&perBlock);
    home->base->CreateTable(d, home->tid);
    t->Open(home->base.get(), home->tid);
  };
  auto reopen = [home](ZorTable* t, ZorTableDesc*) {
    t->Trash();
    home->file->Reopen(ZorBfOpenCopyOnWrite);
    ZorVerif blocks, table;
    EXPECT_TRUE(home->file->file.CheckDir(&blocks) && home->file->file.CheckCrossBlock(&blocks));
    t->Open(home->base.get(), home->tid);
    EXPECT_TRUE(dynamic_cast<ZorTSBFile*>(t->GetStocker())->Verify(t, &table));
  };
  return {.open = open, .udIsPlace = small, .keepsDeleted = !small, .perBlock = small ? 0 : 3, .reopen = reopen};
}

class TableModelBFile : public ::testing::Test {
 protected:
  void SetUp() override { tbf::gLeafBudget = 24; }
  void TearDown() override { tbf::gLeafBudget = tbf::kBlockBudget; }
  BFileHome _home;
};

TEST_F(TableModelBFile, SeqIxStore) { RunCursorModel(BFileKind(&_home, false), 4000); }
TEST_F(TableModelBFile, SmallStore) { RunCursorModel(BFileKind(&_home, true), 2000); }

}  // namespace
}  // namespace zorvane
