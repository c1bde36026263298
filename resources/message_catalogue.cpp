// The message catalogue and its look-ups.
//
// Every text is message n of the string-list resource (type 4) `group` of a
// module; the library's own lists are compiled from resources/messages/
// into the library's resource section. Lists are loaded through ZorRsrc and
// cached by (module, group) in one process-wide map under a mutex; a cached
// list is never changed or freed, so a look-up holds the mutex only for the
// map search and then reads the list freely. Loading happens outside the
// mutex (it may run module code or raise); when two threads load the same
// list, the first one stored wins.
//
// Keyed lists hold entries "<key>:<text>" at places 1, 2, 3 ...; the keyed
// look-up walks the places from 1 up to the first one without a message (at
// most 1000) and answers the text after the colon of the first entry with
// that key.
//
// A message reference is a text "]m,g,n": "]" followed by the module, the
// group and the number in decimal, separated by commas, each one non-zero
// and within 32 bits, and nothing after. Any other text is an ordinary text.
#include "resources/message_catalogue.h"

#include "foundation/services/text_source.h"

#include <zorvane/messages.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>

#include <memory>
#include <mutex>
#include <unordered_map>

namespace zorvane {

namespace {

constexpr int32_t kMaxKeyedPlaces = 1000;

struct ListCache {
  std::mutex mutex;
  std::unordered_map<uint64_t, std::unique_ptr<ZorStringList>> lists;
};

ListCache& Cache() {
  static ListCache* cache = new ListCache;  // never destroyed: texts outlive static destructors
  return *cache;
}

uint64_t KeyOf(int32_t module, int32_t group) {
  return static_cast<uint64_t>(static_cast<uint32_t>(module)) << 32 | static_cast<uint32_t>(group);
}

std::unique_ptr<ZorStringList> LoadList(int32_t module, int32_t group) {
  ZorRsrc rsrc;
  if (!rsrc.Init(ZorRsrcStrList, module, group, ZorRsrcQuiet)) return nullptr;
  auto list = std::make_unique<ZorStringList>();
  list->Init(rsrc.GetHandle());
  return list;
}

// Reads a non-empty run of decimal digits into *value (at most INT32_MAX);
// returns the position after it, or null.
const char* ReadNumber(const char* p, int32_t* value) {
  if (*p < '0' || *p > '9') return nullptr;
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > INT32_MAX) return nullptr;
  }
  *value = static_cast<int32_t>(v);
  return p;
}

// Whether a keyed entry "<key>:<text>" (the key may be negative) has this
// key; *rest then points after the colon.
bool HasKey(const char* text, int32_t key, const char** rest) {
  const bool negative = *text == '-';
  int32_t value = 0;
  const char* p = ReadNumber(text + (negative ? 1 : 0), &value);
  if (!p || *p != ':' || (negative ? -static_cast<int64_t>(value) : value) != key) return false;
  *rest = p + 1;
  return true;
}

}  // namespace

namespace catalogue {

const ZorStringList* List(int32_t module, int32_t group) {
  ListCache& cache = Cache();
  const uint64_t key = KeyOf(module, group);
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    const auto it = cache.lists.find(key);
    if (it != cache.lists.end()) return it->second.get();
  }
  std::unique_ptr<ZorStringList> loaded = LoadList(module, group);
  if (!loaded) return nullptr;
  std::lock_guard<std::mutex> lock(cache.mutex);
  return cache.lists.try_emplace(key, std::move(loaded)).first->second.get();
}

const char* Text(int32_t module, int32_t group, int32_t number) {
  const ZorStringList* list = List(module, group);
  const char* text = list && list->IsDefined(number) ? list->GetText(number) : nullptr;
  return text ? text : "";
}

}  // namespace catalogue

const char* ZorLoadString(int32_t module, int32_t group, int32_t id, string* out) {
  const ZorStringList* list = catalogue::List(module, group);
  const char* text = list ? list->GetText(id) : nullptr;
  return out->Assign(text ? text : "");
}

const char* ZorLoadString(const char* ref, string* out) {
  int32_t module = 0, group = 0, id = 0;
  if (ZorParseMessageRef(ref, &module, &group, &id)) return ZorLoadString(module, group, id, out);
  return out->Assign(ref);
}

const char* ZorLoadStringIndex(int32_t module, int32_t group, int32_t key, string* out) {
  const ZorStringList* list = catalogue::List(module, group);
  for (int32_t place = 1; list && place <= kMaxKeyedPlaces && list->IsDefined(place); ++place) {
    const char* text = list->GetText(place);
    const char* rest = nullptr;
    if (text && HasKey(text, key, &rest)) return out->Assign(rest);
  }
  return out->Clear();
}

const char* ZorGetStringIndexCst(int32_t module, int32_t group, int32_t place, string* out) {
  const ZorStringList* list = catalogue::List(module, group);
  return out->Assign(list ? list->GetSymbol(place) : "");
}

int32_t ZorForEachString(int32_t module, int32_t group, ZorStringVisitor visit, void* context) {
  const ZorStringList* list = catalogue::List(module, group);
  int32_t visited = 0;
  for (int32_t id = 1; list && id <= list->GetCount(); ++id) {
    if (!list->IsDefined(id)) continue;
    ++visited;
    const char* text = list->GetText(id);
    if (!visit(context, id, text ? text : "", list->GetSymbol(id))) break;
  }
  return visited;
}

bool ZorParseMessageRef(const char* text, int32_t* module, int32_t* group, int32_t* id) {
  if (!text || *text != ']') return false;
  int32_t m = 0, g = 0, n = 0;
  const char* p = ReadNumber(text + 1, &m);
  if (!p || m == 0 || *p != ',') return false;
  p = ReadNumber(p + 1, &g);
  if (!p || g == 0 || *p != ',') return false;
  p = ReadNumber(p + 1, &n);
  if (!p || n == 0 || *p != 0) return false;
  *module = m;
  *group = g;
  *id = n;
  return true;
}

// ---------------------------------------------------------------- text source
// The foundation and the storage engine read the catalogue through the text
// source, which this layer installs when the library is loaded.

namespace {

const char* ModuleNameOfType(int32_t module, int32_t nameType, string* out) {
  return ZorGetModuleName(module, static_cast<eZorNameType>(nameType), out);
}

const texts::Source kCatalogueSource = {
    [](int32_t module, int32_t group, int32_t id, string* out) { return ZorLoadString(module, group, id, out); },
    [](const char* text, string* out) { return ZorLoadString(text, out); },
    ZorLoadStringIndex,
    catalogue::Text,
    ModuleNameOfType,
};

const bool kInstalled = (texts::Install(&kCatalogueSource), true);

}  // namespace

}  // namespace zorvane
