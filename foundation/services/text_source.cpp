// The installed text source; see text_source.h.
#include "foundation/services/text_source.h"

#include <zorvane/string.h>

#include <atomic>

namespace zorvane::texts {

namespace {

std::atomic<const Source*> installed{nullptr};

const char* Empty(string* out) { return out->Assign(""); }

}  // namespace

void Install(const Source* source) { installed.store(source, std::memory_order_release); }

const char* Load(int32_t module, int32_t group, int32_t id, string* out) {
  const Source* s = installed.load(std::memory_order_acquire);
  return s ? s->load(module, group, id, out) : Empty(out);
}

const char* LoadRef(const char* text, string* out) {
  const Source* s = installed.load(std::memory_order_acquire);
  return s ? s->loadRef(text, out) : Empty(out);
}

const char* LoadByKey(int32_t module, int32_t group, int32_t key, string* out) {
  const Source* s = installed.load(std::memory_order_acquire);
  return s ? s->loadByKey(module, group, key, out) : Empty(out);
}

const char* Defined(int32_t module, int32_t group, int32_t id) {
  const Source* s = installed.load(std::memory_order_acquire);
  return s ? s->defined(module, group, id) : "";
}

const char* ModuleName(int32_t module, int32_t nameType, string* out) {
  const Source* s = installed.load(std::memory_order_acquire);
  return s ? s->moduleName(module, nameType, out) : Empty(out);
}

}  // namespace zorvane::texts
