// Driver of bool_eval_oracle.py. VARS is "-" (no list) or comma-separated
// "<name hex>:<id>:<value>"; SETS is ";"-separated value sets, each "*"
// (the list given to Init) or comma-separated "<id>:<value>" ("" for none),
// loaded in turn into one reused ZorBGet, overwritten in place.
//   text VARS HEX SETS       SetSource; "C <code> <error text>" or
//                            "P <program> <GetSource> <Eval per set>..."
//   prog VARS HEX SETS       Init with the program bytes; "P ..." as above
//   edit VARS HEX NEW        SetSource(HEX), then Edit with a user interface
//                            answering NEW ("-": none installed, headless):
//                            "<text offered> <Edit> <GetSource>"
// An Eval or GetSource answer is 1, 0 or "E<code>:<error text hex>".
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

sZorBoolVar Var(const std::string& name, const std::string& id, const std::string& value) {
  sZorBoolVar v{};
  std::memcpy(v.name, name.data(), std::min(name.size(), sizeof v.name - 1));
  v.id = static_cast<uint32_t>(std::stoll(id));
  v.value = Int(value);
  return v;
}

void Load(ZorBGet* list, const std::string& spec, bool named) {
  list->SetNbItem(0, false);
  if (spec.empty()) return;
  for (const std::string& item : Split(spec, ',')) {
    const Fields f = Split(item, ':');
    const sZorBoolVar v = named ? Var(Unhex(f[0]), f[1], f[2]) : Var("", f[0], f[1]);
    list->Ins(0, &v);
  }
}

std::string Failed(const ZorBoolEval& f) {
  string text;
  return Line("E%d:", f.GetErrorCode()) + HexText(f.GetError(&text));
}

template <class F>
std::string Try(const ZorBoolEval& f, F fn) {
  try {
    return fn();
  } catch (const ZorEBasic&) {
    return Failed(f);
  }
}

std::string Report(ZorBoolEval* f, const std::string& sets) {
  ZorHandle program;
  f->GetHandle(&program);
  std::string out = "P " + HexText(program) + " " + Try(*f, [&] {
    string text;
    return HexText(f->GetSource(&text));
  });
  ZorBGet values(0, kZorBoolVarSize);
  values.Init();
  for (const std::string& set : Split(sets, ';')) {
    if (set != "*") Load(&values, set, false);
    out += " " + Try(*f, [&] { return std::string(f->Eval(set == "*" ? nullptr : &values) ? "1" : "0"); });
  }
  return out;
}

struct AnsweringUi : iZorUserInterface {
  std::string offered, answer;
  int32_t MessageBox(const char*, const char*, uint32_t) override { return ZorIdOk; }
  bool IsShiftDown() override { return false; }
  bool EditText(string* text, const char*, uint32_t) override {
    offered = text->CStr();
    *text = answer.c_str();
    return true;
  }
};

}  // namespace

int main() {
  ZorBGet vars(0, kZorBoolVarSize);
  const auto setUp = [&](ZorBoolEval* f, const std::string& spec, const ZorHandle* program) {
    vars.Trash();
    if (spec != "-") {
      vars.Init();
      Load(&vars, spec, true);
    }
    f->Init(spec == "-" ? nullptr : &vars, program);
  };
  return Serve({
      {"text",
       [&](const Fields& a) {
         ZorBoolEval f;
         setUp(&f, a[1], nullptr);
         if (!f.SetSource(Unhex(a[2]).c_str())) {
           string text;
           return Line("C %d ", f.GetErrorCode()) + HexText(f.GetError(&text));
         }
         return Report(&f, a[3]);
       }},
      {"prog",
       [&](const Fields& a) {
         ZorHandle program;
         const std::string bytes = Unhex(a[2]);
         program.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
         ZorBoolEval f;
         setUp(&f, a[1], &program);
         return Report(&f, a[3]);
       }},
      {"edit",
       [&](const Fields& a) {
         ZorBoolEval f;
         setUp(&f, a[1], nullptr);
         f.SetSource(Unhex(a[2]).c_str());
         AnsweringUi ui;
         ui.answer = Unhex(a[3]);
         iZorUserInterface* previous = a[3] == "-" ? nullptr : ZorSetUserInterface(&ui);
         const bool edited = f.Edit(0);
         if (previous) ZorSetUserInterface(previous);
         string text;
         return HexText(ui.offered) + Line(" %d ", edited) + HexText(f.GetSource(&text));
       }},
  });
}
