// Fuzzes the boolean filters. The first byte chooses: even, the rest is a
// text given to SetSource, whose rebuilt text must compile again and rebuild
// to itself; odd, the rest is a program attached by Init. Either way the
// program is printed and evaluated twice over a small variable list:
// library errors only, and the same outcome both times.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace zorvane;

namespace {

void AddVar(ZorBGet* list, const char* name, uint32_t id, int32_t value) {
  sZorBoolVar v{};
  std::strcpy(v.name, name);
  v.id = id;
  v.value = value;
  list->Ins(0, &v);
}

template <class F>
void LibraryErrorsOnly(F fn) {
  try {
    fn();
  } catch (const ZorEBasic&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ZorBGet vars(0, kZorBoolVarSize);
  vars.Init();
  AddVar(&vars, "a", 1, 2);
  AddVar(&vars, "B", 7, 0);
  AddVar(&vars, "b", 3, -5);
  AddVar(&vars, "x_1", 0x80000000u, 1);
  ZorBoolEval f;
  if (data[0] % 2 == 0) {
    f.Init(&vars);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // up to a NUL
    if (f.SetSource(text.c_str())) {
      string once, twice;
      f.GetSource(&once);
      // The rebuilt text may add a level of parentheses ("!a<b" gives
      // "!(a<b)"), which can pass the nesting limit (error 2).
      if (!f.SetSource(once.CStr())) {
        if (f.GetErrorCode() != 2) std::abort();
      } else if (std::strcmp(f.GetSource(&twice), once.CStr()) != 0) {
        std::abort();
      }
    }
  } else {
    ZorHandle program;
    program.Init(data + 1, static_cast<uint32_t>(size - 1));
    f.Init(&vars, &program);
    LibraryErrorsOnly([&] {
      string text;
      f.GetSource(&text);
    });
  }
  int32_t outcome[2] = {-1, -1};
  for (int32_t& o : outcome) LibraryErrorsOnly([&] { o = f.Eval(); });
  if (outcome[0] != outcome[1]) std::abort();
  return 0;
}
