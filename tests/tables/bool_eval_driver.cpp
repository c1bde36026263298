// Driver of bool_eval_oracle.py. VARS is "-" (no list) or comma-separated
// "<name hex>:<id>:<value>"; SETS is ";"-separated value sets, each "*"
// (the list given to Init) or comma-separated "<id>:<value>", loaded in
// turn into one reused ZorBGet.
//   text VARS HEX SETS   SetSource: "C <code> <error text>", or
//                        "P <program> <GetSource> <Eval of each set>..."
//   prog VARS HEX SETS   Init with these program bytes, then as above
//   edit VARS HEX NEW    SetSource, then Edit with a user interface that
//                        answers NEW ("-": headless): "<offered> <Edit> <GetSource>"
// GetSource and Eval answer 1, 0 or "E<code>:<error text hex>".
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

void Load(ZorBGet* list, const std::string& listText, bool named) {
  list->Reset(0, kZorBoolVarSize);
  for (const std::string& item : listText.empty() ? Fields{} : Split(listText, ',')) {
    const Fields f = Split(item, ':');
    sZorBoolVar v{};
    const std::string name = named ? Unhex(f[0]) : "";
    std::memcpy(v.name, name.data(), std::min(name.size(), sizeof v.name - 1));
    v.id = static_cast<uint32_t>(std::stoll(f[named]));
    v.value = Int(f[named + 1]);
    list->Ins(0, &v);
  }
}

template <class F>
std::string Try(const ZorBoolEval& f, F fn) {
  try {
    return fn();
  } catch (const ZorEBasic&) {
    string text;
    return Line("E%d:", f.GetErrorCode()) + HexText(f.GetError(&text));
  }
}

std::string Report(ZorBoolEval* f, const std::string& sets) {
  ZorHandle program;
  f->GetHandle(&program);
  string text;
  std::string out = "P " + HexText(program) + " " + Try(*f, [&] { return HexText(f->GetSource(&text)); });
  ZorBGet values;
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
  ZorBGet vars;
  ZorBoolEval f;
  const auto setUp = [&](const Fields& a, const ZorHandle* program) {
    vars.Trash();
    if (a[1] != "-") Load(&vars, a[1], true);
    f.Init(a[1] == "-" ? nullptr : &vars, program);
  };
  return Serve({
      {"text", [&](const Fields& a) {
         setUp(a, nullptr);
         string text;
         if (!f.SetSource(Unhex(a[2]).c_str())) return Line("C %d ", f.GetErrorCode()) + HexText(f.GetError(&text));
         return Report(&f, a[3]);
       }},
      {"prog", [&](const Fields& a) {
         ZorHandle program;
         program.Init(Unhex(a[2]).data(), static_cast<uint32_t>(a[2].size() / 2));
         setUp(a, &program);
         return Report(&f, a[3]);
       }},
      {"edit", [&](const Fields& a) {
         setUp(a, nullptr);
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
