// The process-wide document configuration.
#include <zorvane/doc_config.h>

namespace zorvane {

namespace {
ZorDocConfig& Current() {
  static ZorDocConfig config;
  return config;
}
}  // namespace

const ZorDocConfig& ZorGetDocConfig() { return Current(); }

void ZorSetDocConfig(const ZorDocConfig& config) { Current() = config; }

ZorDocConfigScope::ZorDocConfigScope(const ZorDocConfig& config) : _saved(Current()) {
  Current() = config;
}

ZorDocConfigScope::~ZorDocConfigScope() { Current() = _saved; }

}  // namespace zorvane
