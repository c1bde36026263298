// The demo module's object. The module brings its tables and its workspace
// as resources (make_resources.cpp writes them); the object itself serves
// nothing beyond what every module answers.
#include <zorvane/module.h>

namespace {

class DemoModule final : public zorvane::ZorModule {};

}  // namespace

extern "C" zorvane::ZorModule* ZorGetModuleObject() {
  static DemoModule module;
  return &module;
}
