// ZorBoolEval: the compiler, the printer and the evaluator of boolean
// filters.
//
// Text. Blanks are space, tab, LF and CR. An expression is, by decreasing
// binding:
//   or      := and { "|" and }                 left-associative
//   and     := not { "&" not }                 left-associative
//   not     := "!" relation | relation         one "!" only
//   relation:= operand [ relop relation ]      right-associative: a<b<c is a<(b<c)
//   operand := "(" or ")" | name | number
// relop is < <= > >= = <>; a number is an optional "-" and 1 to 10 digits
// within the signed 32-bit range; a name is a run of letters, digits and
// "_" (a run that starts with a digit or "-" is a number) naming a variable
// of the list exactly. Blanks may stand before every token, a relational
// operator included. The whole text must be one expression: anything left
// after it is a syntax error, so that nothing the user wrote is dropped
// without a word. Nesting is limited so that the descent keeps to a bounded
// machine stack: 256 levels, counting each open "(" and each relational
// operator of the chain being read (error 2 beyond).
//
// Program. The compiler emits postfix bytes (format in bool_eval.h), header
// first. Whatever its origin (compiled here or attached by Init), a program
// is decoded once into Instr records. Having no jumps, its stack depth at
// each instruction is known then: decoding stops at the first instruction
// that would underflow or overflow the 256-value stack, or that is invalid
// or cut, and puts there a kFail carrying the error code; a program that
// would not end with exactly one value ends with kFail 3. The interpreter
// therefore needs no stack check: the invariant is 0 <= depth <= 256 at
// every instruction it reaches and depth 1 at the end.
//
// Binding. Each push of a variable keeps the list position (slot) where
// its identifier was found last. An evaluation first checks that every
// slot of the program still holds its identifier in the list at hand; only
// when one does not (another list, items moved or removed) is the list
// sorted by identifier (when it is not already) and every identifier
// searched again. A missing identifier gets slot -1 and raises error 4 when
// its push is reached, so errors come in program order. The workload is
// many evaluations of one program over one list whose values change.
//
// Printing rebuilds the tree from the postfix code and walks it with an
// explicit stack (a left-deep chain of "&" from an attached program may be
// any depth). A child is put in parentheses when its operator differs from
// its parent's, except a relation under "&" or "|" and a "!" under "&" or
// "|"; and always when it is a "!" under a relation or a "!", or a relation
// on the left of the same relation: those are the texts that would not
// read back as the same tree otherwise.
#include <zorvane/block_array.h>
#include <zorvane/bool_eval.h>
#include <zorvane/handle.h>
#include <zorvane/messages.h>
#include <zorvane/string.h>
#include <zorvane/ui.h>

#include <cassert>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorBoolEval";
constexpr int32_t kGroup = 271;  // error texts by code, and the editor's title
constexpr int32_t kErrGroup = 2;  // the library's general error texts
constexpr int32_t kTxtEditTitle = 20;

enum : int32_t { kErrStack = 2, kErrSyntax = 3, kErrUnknownVar = 4, kErrOpcode = 5, kErrMissing = 12 };

enum : uint8_t {
  kPushVar = 0, kAnd, kOr, kNot, kLt, kLe, kGt, kGe, kEq, kNe, kPushConst, kHeader,
  kFail = 0xFF,  // decoded form only: raise the error in arg
};

constexpr int32_t kStackMax = 256;
constexpr int32_t kNestMax = 256;
constexpr int32_t kDigitsMax = 10;

[[noreturn]] void Fail(int32_t code) { ZorRaise(kSource, ZorErr(1, code), nullptr, {kGroup, code}); }

bool IsRelation(uint8_t op) { return op >= kLt && op <= kNe; }
bool IsBinary(uint8_t op) { return op == kAnd || op == kOr || IsRelation(op); }
bool HasOperand(uint8_t op) { return op == kPushVar || op == kPushConst || op == kHeader; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameChar(char c) { return c == '_' || ZorIsAlNum(c); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Instr {
  uint8_t op;
  int32_t arg;   // identifier, constant or error code
  int32_t slot;  // kPushVar: 0-based list position of the identifier, -1 unknown
};

// The items of a variable list as the evaluator reads them.
struct ItemView {
  const char* base;
  uint32_t stride;
  int32_t count;
  uint32_t Id(int32_t i) const { return platform::GetLE32(base + size_t(i) * stride + kZorBoolVarId); }
  int32_t Value(int32_t i) const {
    return static_cast<int32_t>(platform::GetLE32(base + size_t(i) * stride + kZorBoolVarValue));
  }
};

ItemView View(const ZorBGet* list) {
  const auto* bytes = static_cast<const char*>(list->GetHandle()->GetDatas());
  return {bytes + list->GetHeaderSize(), list->GetItemSize(), list->GetNbItem()};
}

bool UsableList(const ZorBGet* list) { return list && list->IsInit() && list->GetItemSize() >= kZorBoolVarSize; }

// ------------------------------------------------------------------ program

struct Program {
  ZorHandle bytes;
  std::vector<Instr> code;
  std::vector<uint32_t> pushes;  // positions in code of the kPushVar

  void Clear() {
    bytes.Trash();
    code.clear();
    pushes.clear();
  }
  bool Empty() const { return code.empty(); }
  void Load(const void* data, uint32_t size);

 private:
  void EndWith(int32_t code);
  void Decode(const uint8_t* p, uint32_t n);
};

void Program::EndWith(int32_t error) { code.push_back({kFail, error, -1}); }

void Program::Decode(const uint8_t* p, uint32_t n) {
  int32_t depth = 0;
  for (uint32_t at = 0; at < n;) {
    const uint8_t op = p[at++];
    if (op > kHeader) return EndWith(kErrOpcode);
    int32_t arg = 0;
    if (HasOperand(op)) {
      if (n - at < 4) return EndWith(kErrOpcode);
      arg = static_cast<int32_t>(platform::GetLE32(p + at));
      at += 4;
    }
    if (op == kHeader) continue;
    const bool push = op == kPushVar || op == kPushConst;
    if (depth < (push ? 0 : op == kNot ? 1 : 2)) return EndWith(kErrStack);
    depth += push ? 1 : op == kNot ? 0 : -1;
    if (depth > kStackMax) return EndWith(kErrStack);
    if (op == kPushVar) pushes.push_back(static_cast<uint32_t>(code.size()));
    code.push_back({op, arg, -1});
  }
  if (depth != 1) EndWith(kErrSyntax);
}

void Program::Load(const void* data, uint32_t size) {
  Clear();
  if (!size) return;
  bytes.Init(data, size);
  Decode(static_cast<const uint8_t*>(data), size);
}

// True when every variable push still finds its identifier at its slot.
bool BindingHolds(const Program& prog, const ItemView& v) {
  for (uint32_t at : prog.pushes) {
    const Instr& in = prog.code[at];
    if (static_cast<uint32_t>(in.slot) >= static_cast<uint32_t>(v.count) ||
        v.Id(in.slot) != static_cast<uint32_t>(in.arg))
      return false;
  }
  return true;
}

bool SortedById(const ItemView& v) {
  for (int32_t i = 1; i < v.count; ++i)
    if (static_cast<int32_t>(v.Id(i - 1)) > static_cast<int32_t>(v.Id(i))) return false;
  return true;
}

void Bind(Program* prog, ZorBGet* list) {
  if (!SortedById(View(list))) list->Sort(kZorPhysTypeLong, kZorBoolVarId);
  for (uint32_t at : prog->pushes) {
    Instr& in = prog->code[at];
    uint8_t key[4];
    platform::PutLE32(key, static_cast<uint32_t>(in.arg));
    const int32_t found = list->Dico(kZorPhysTypeLong, kZorBoolVarId, key);
    in.slot = found > 0 ? found - 1 : -1;
  }
}

// The dispatch loop. Decoding guarantees the stack bounds (see the top).
bool Run(const std::vector<Instr>& code, const ItemView& v) {
  int32_t stack[kStackMax];
  int32_t sp = 0;  // values on the stack
  for (const Instr& in : code) {
    switch (in.op) {
      case kPushVar:
        if (in.slot < 0) Fail(kErrUnknownVar);
        stack[sp++] = v.Value(in.slot);
        continue;
      case kPushConst: stack[sp++] = in.arg; continue;
      case kNot: stack[sp - 1] = stack[sp - 1] == 0; continue;
      case kFail: Fail(in.arg);
      default: break;
    }
    const int32_t a = stack[sp - 2], b = stack[sp - 1];
    int32_t r;
    switch (in.op) {
      case kAnd: r = a != 0 && b != 0; break;
      case kOr: r = a != 0 || b != 0; break;
      case kLt: r = a < b; break;
      case kLe: r = a <= b; break;
      case kGt: r = a > b; break;
      case kGe: r = a >= b; break;
      case kEq: r = a == b; break;
      default: r = a != b; break;
    }
    stack[--sp - 1] = r;
  }
  assert(sp == 1);
  return stack[0] != 0;
}

// ------------------------------------------------------------------ compiler

// The identifier of the variable named exactly `name` (len bytes). The list
// is sorted by name without regard to case, so the exact match is among the
// neighbours of any item that Dico finds.
bool FindName(const ZorBGet* vars, const char* name, size_t len, uint32_t* id) {
  if (!vars || len >= sizeof(sZorBoolVar::name)) return false;
  const int32_t found = vars->Dico(kZorPhysTypeAnsiString, kZorBoolVarName, name);
  if (found <= 0) return false;
  const auto exact = [&](int32_t i) {
    const auto* item = static_cast<const char*>((*vars)[i]);
    if (std::memcmp(item, name, len) || item[len]) return false;
    *id = platform::GetLE32(item + kZorBoolVarId);
    return true;
  };
  const auto same = [&](int32_t i) { return ZorStrICmp(static_cast<const char*>((*vars)[i]), name) == 0; };
  for (int32_t i = found; i >= 1 && same(i); --i)
    if (exact(i)) return true;
  for (int32_t i = found + 1; i <= vars->GetNbItem() && same(i); ++i)
    if (exact(i)) return true;
  return false;
}

class Compiler {
 public:
  Compiler(const char* text, const ZorBGet* vars, std::vector<uint8_t>* out) : _s(text), _vars(vars), _out(out) {}
  void Run();

 private:
  void OrExpr();
  void AndExpr();
  void NotExpr();
  void Relation();
  void Operand();
  void Number();
  void Name();
  uint8_t RelOp();
  void SkipBlanks() {
    while (IsBlank(_s[_pos])) ++_pos;
  }
  void Enter() {
    if (++_depth > kNestMax) Fail(kErrStack);
  }
  void Emit(uint8_t op) { _out->push_back(op); }
  void Emit(uint8_t op, uint32_t v) {
    _out->push_back(op);
    for (int i = 0; i < 4; ++i) _out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  }

  const char* _s;
  size_t _pos = 0;
  int32_t _depth = 0;
  const ZorBGet* _vars;
  std::vector<uint8_t>* _out;
};

void Compiler::Run() {
  SkipBlanks();
  if (!_s[_pos]) return;  // nothing but blanks: no program
  Emit(kHeader, 1);
  OrExpr();
  SkipBlanks();
  if (_s[_pos]) Fail(kErrSyntax);
}

void Compiler::OrExpr() {
  AndExpr();
  for (SkipBlanks(); _s[_pos] == '|'; SkipBlanks()) {
    ++_pos;
    AndExpr();
    Emit(kOr);
  }
}

void Compiler::AndExpr() {
  NotExpr();
  for (SkipBlanks(); _s[_pos] == '&'; SkipBlanks()) {
    ++_pos;
    NotExpr();
    Emit(kAnd);
  }
}

void Compiler::NotExpr() {
  SkipBlanks();
  const bool negate = _s[_pos] == '!';
  if (negate) ++_pos;
  Relation();
  if (negate) Emit(kNot);
}

void Compiler::Relation() {
  Operand();
  const size_t after = _pos;
  SkipBlanks();
  if (const uint8_t op = RelOp()) {
    Enter();
    Relation();
    --_depth;
    Emit(op);
  } else {
    _pos = after;
  }
}

// The relational operator at the position (consumed), or 0.
uint8_t Compiler::RelOp() {
  const char c = _s[_pos], d = _s[_pos + (c ? 1 : 0)];
  uint8_t op = 0;
  size_t len = 1;
  if (c == '<') op = d == '=' ? kLe : d == '>' ? kNe : kLt;
  else if (c == '>') op = d == '=' ? kGe : kGt;
  else if (c == '=') op = kEq;
  if (op == kLe || op == kNe || op == kGe) len = 2;
  if (op) _pos += len;
  return op;
}

void Compiler::Operand() {
  SkipBlanks();
  const char c = _s[_pos];
  if (c == '(') {
    ++_pos;
    Enter();
    OrExpr();
    SkipBlanks();
    if (_s[_pos] != ')') Fail(kErrSyntax);
    ++_pos;
    --_depth;
  } else if (c == '-' || IsDigit(c)) {
    Number();
  } else if (IsNameChar(c)) {
    Name();
  } else {
    Fail(kErrSyntax);
  }
}

void Compiler::Number() {
  const bool negative = _s[_pos] == '-';
  if (negative) ++_pos;
  int64_t value = 0;
  int32_t digits = 0;
  for (; digits < kDigitsMax && IsDigit(_s[_pos]); ++digits) value = value * 10 + (_s[_pos++] - '0');
  if (!digits) Fail(kErrSyntax);
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) Fail(kErrSyntax);
  Emit(kPushConst, static_cast<uint32_t>(static_cast<int32_t>(value)));
}

// A name longer than a variable's can name none: no limit of its own.
void Compiler::Name() {
  const size_t start = _pos;
  while (IsNameChar(_s[_pos])) ++_pos;
  const std::string name(_s + start, _pos - start);
  uint32_t id;
  if (!FindName(_vars, name.c_str(), name.size(), &id)) Fail(kErrSyntax);
  Emit(kPushVar, id);
}

// ------------------------------------------------------------------ printer

struct Node {
  uint8_t op;
  int32_t arg;
  int32_t left = -1, right = -1;
};

// The item number of the first variable of the list with this identifier.
int32_t FindId(const ZorBGet* vars, uint32_t id) {
  for (int32_t i = 1; vars && i <= vars->GetNbItem(); ++i)
    if (platform::GetLE32(static_cast<const char*>((*vars)[i]) + kZorBoolVarId) == id) return i;
  Fail(kErrUnknownVar);
}

// The tree of the program, its errors raised in program order as Eval
// would; a variable's node keeps the item number of its name.
std::vector<Node> BuildTree(const std::vector<Instr>& code, const ZorBGet* vars) {
  std::vector<Node> nodes;
  std::vector<int32_t> stack;
  nodes.reserve(code.size());
  for (const Instr& in : code) {
    if (in.op == kFail) Fail(in.arg);
    Node n{in.op, in.op == kPushVar ? FindId(vars, static_cast<uint32_t>(in.arg)) : in.arg};
    if (IsBinary(in.op)) {
      n.right = stack.back();
      stack.pop_back();
    }
    if (IsBinary(in.op) || in.op == kNot) {
      n.left = stack.back();
      stack.pop_back();
    }
    stack.push_back(static_cast<int32_t>(nodes.size()));
    nodes.push_back(n);
  }
  return nodes;
}

bool NeedsParens(const Node& child, uint8_t parent, bool isLeft) {
  if (child.op == kPushVar || child.op == kPushConst) return false;
  const bool parentJoins = parent == kAnd || parent == kOr;
  if (child.op == kNot) return !parentJoins;
  if (child.op == parent) return IsRelation(parent) && isLeft;
  return !(parentJoins && IsRelation(child.op));
}

const char* OpText(uint8_t op) {
  static const char* const kTexts[] = {"", " & ", " | ", "!", "<", "<=", ">", ">=", "=", "<>"};
  return kTexts[op];
}

void AppendName(const ZorBGet* vars, int32_t item, std::string* out) {
  const auto* name = static_cast<const char*>((*vars)[item]);
  out->append(name, strnlen(name, sizeof(sZorBoolVar::name)));
}

void PrintTree(const std::vector<Node>& nodes, const ZorBGet* vars, std::string* out) {
  struct Frame {
    int32_t node;
    int32_t phase;
    bool parens;
  };
  std::vector<Frame> stack{{static_cast<int32_t>(nodes.size()) - 1, 0, false}};
  const auto visit = [&](int32_t child, uint8_t parent, bool isLeft) {
    stack.push_back({child, 0, NeedsParens(nodes[child], parent, isLeft)});
  };
  while (!stack.empty()) {
    const Frame f = stack.back();
    const Node& n = nodes[f.node];
    if (n.op == kPushVar || n.op == kPushConst) {
      if (n.op == kPushVar) AppendName(vars, n.arg, out);
      else out->append(std::to_string(n.arg));
      stack.pop_back();
      continue;
    }
    const bool last = f.phase == (n.op == kNot ? 1 : 2);
    if (last) {
      if (f.parens) out->push_back(')');
      stack.pop_back();
      continue;
    }
    ++stack.back().phase;
    if (f.phase == 0) {
      if (f.parens) out->push_back('(');
      if (n.op == kNot) out->push_back('!');
      visit(n.left, n.op, true);
    } else {
      out->append(OpText(n.op));
      visit(n.right, n.op, false);
    }
  }
}

}  // namespace

// ------------------------------------------------------------------ ZorBoolEval

struct ZorBoolEval::Rep {
  bool init = false;
  bool hasVars = false;
  ZorBGet vars;  // sized by Init like the caller's list
  Program program;
  int32_t error = 0;

  // Runs fn; a library error is kept as the last one and passed on.
  template <class F>
  auto Keeping(F fn) {
    try {
      auto result = fn();
      error = 0;
      return result;
    } catch (const ZorException& e) {
      error = ZorErrNumber(e.GetError());
      throw;
    }
  }
};

ZorBoolEval::ZorBoolEval() : _rep(new Rep) {}

ZorBoolEval::~ZorBoolEval() { delete _rep; }

void ZorBoolEval::Init(ZorBGet* variables, const ZorHandle* program) {
  Trash();
  if (variables && variables->IsInit()) {
    if (variables->GetItemSize() < kZorBoolVarSize) Fail(kErrMissing);
    _rep->vars.Reset(variables->GetHeaderSize(), variables->GetItemSize());
    _rep->vars.Init(variables->GetHandle());
    _rep->vars.Sort(kZorPhysTypeAnsiString, kZorBoolVarName);
    _rep->hasVars = true;
  }
  if (program && program->IsInit()) _rep->program.Load(program->GetDatas(), program->GetSize());
  _rep->init = true;
}

bool ZorBoolEval::IsInit() const { return _rep->init; }

void ZorBoolEval::Trash() {
  _rep->vars.Trash();
  _rep->program.Clear();
  _rep->init = _rep->hasVars = false;
  _rep->error = 0;
}

bool ZorBoolEval::IsEmpty() const { return _rep->program.Empty(); }

bool ZorBoolEval::SetSource(const char* text) {
  Rep& r = *_rep;
  r.program.Clear();
  try {
    return r.Keeping([&] {
      std::vector<uint8_t> bytes;
      if (r.hasVars) r.vars.Sort(kZorPhysTypeAnsiString, kZorBoolVarName);
      Compiler(text ? text : "", r.hasVars ? &r.vars : nullptr, &bytes).Run();
      r.program.Load(bytes.data(), static_cast<uint32_t>(bytes.size()));
      // A text within the nesting limit can still need more values than the
      // evaluation stack holds (a long chain of relations): refused here, so
      // that what compiles also prints and evaluates.
      if (!r.program.Empty() && r.program.code.back().op == kFail) Fail(r.program.code.back().arg);
      return true;
    });
  } catch (const ZorException&) {
    r.program.Clear();
    return false;
  }
}

const char* ZorBoolEval::GetSource(string* out) {
  Rep& r = *_rep;
  std::string text = r.Keeping([&] {
    std::string s;
    if (!r.program.Empty()) {
      const ZorBGet* vars = r.hasVars ? &r.vars : nullptr;
      PrintTree(BuildTree(r.program.code, vars), vars, &s);
    }
    return s;
  });
  *out = text.c_str();
  return out->CStr();
}

const char* ZorBoolEval::GetError(string* out) const {
  const int32_t e = _rep->error;
  if (!e) return out->Clear();
  const bool own = e == kErrStack || e == kErrSyntax || e == kErrUnknownVar || e == kErrOpcode || e == kErrMissing;
  return ZorLoadString(1, own ? kGroup : kErrGroup, e, out);
}

int32_t ZorBoolEval::GetErrorCode() const { return _rep->error; }

void ZorBoolEval::GetHandle(ZorHandle* out) const {
  if (_rep->program.bytes.IsInit()) out->Copy(&_rep->program.bytes);
  else out->Trash();
}

bool ZorBoolEval::Eval(ZorBGet* values) {
  Rep& r = *_rep;
  return r.Keeping([&] {
    ZorBGet* list = values ? values : r.hasVars ? &r.vars : nullptr;
    if (!UsableList(list) || r.program.Empty()) Fail(kErrMissing);
    ItemView v = View(list);
    if (!BindingHolds(r.program, v)) {
      Bind(&r.program, list);
      v = View(list);
    }
    return Run(r.program.code, v);
  });
}

bool ZorBoolEval::Edit(uint32_t flags) {
  string text, title;
  if (!IsEmpty()) {
    try {
      GetSource(&text);
    } catch (const ZorException&) {
      text.Clear();
    }
  }
  if (!ZorEditText(&text, ZorLoadString(1, kGroup, kTxtEditTitle, &title), flags)) return false;
  return SetSource(text.CStr());
}

}  // namespace zorvane
