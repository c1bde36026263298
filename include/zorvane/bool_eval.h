// ZorBoolEval: a boolean condition over named 32-bit integer variables,
// compiled from text into a small postfix program and evaluated against
// sets of variable values.
//
// The caller supplies the vocabulary as a ZorBGet of 52-byte items
// (sZorBoolVar below): a name (up to 35 characters, NUL-terminated), an
// identifier and a value. The text names variables; the program refers to
// them by identifier; an evaluation reads the value of each identifier.
//
//   ZorBoolEval f;
//   f.Init(&vars);                      // vars is then sorted by name
//   if (!f.SetSource("a<3 & !b")) ...   // f.GetError(&text) says why
//   bool hit = f.Eval(&values);         // values is sorted by identifier
//
// Init shares the caller's list (the same handle record, as ZorBGet::Init
// does): the object sorts it by name to compile and by identifier to
// evaluate. A list given to Eval is only used during that call, but it is
// sorted by identifier when it is not already (only the items the program
// reads are looked at when the list is unchanged since the last call, so an
// evaluation costs nothing per variable of the list).
//
// Program bytes (GetHandle, Init): opcode bytes, some followed by a
// little-endian 32-bit operand; the first instruction is the header 11, 1:
//   0 id   push the variable's value     1 AND   2 OR   3 NOT
//   4 <  5 <=  6 >  7 >=  8 =  9 <>      (signed; pop b, pop a, push a op b)
//   10 k   push the constant k           11 1    header, pushes nothing
// An empty text compiles to no program at all (zero bytes).
//
// Errors are ZorEBasic of the library's family: 2 stack underflow or
// overflow (more than 256 values, or an expression nested too deep to
// compile), 3 syntax error or unbalanced program, 4 unknown identifier, 5
// invalid or cut instruction, 12 no variable list or no program. SetSource
// and Edit report them as false; Eval and GetSource raise them. The last
// one is kept for GetError.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorBGet;
class ZorHandle;

// One variable: the item of the lists given to Init and Eval. Plain bytes,
// little-endian, so that a caller may Ins() an sZorBoolVar as it stands.
struct sZorBoolVar {
  char name[36];
  uint32_t id;
  uint32_t reserved1;
  int32_t value;
  uint32_t reserved2;
};
static_assert(sizeof(sZorBoolVar) == 52);

enum : uint32_t {
  kZorBoolVarSize = 52,
  kZorBoolVarName = 0,
  kZorBoolVarId = 36,
  kZorBoolVarValue = 44,
};

class ZOR_API ZorBoolEval {
 public:
  ZorBoolEval();
  ~ZorBoolEval();
  ZorBoolEval(const ZorBoolEval&) = delete;
  ZorBoolEval& operator=(const ZorBoolEval&) = delete;

  // Takes the variable list (which may be null: numbers only) and
  // optionally a compiled program, copied. Either replaces what was there.
  void Init(ZorBGet* variables, const ZorHandle* program = nullptr);
  bool IsInit() const;
  void Trash();
  // No program.
  bool IsEmpty() const;

  // Compiles the text; on an error the program is left empty and false
  // is returned (GetError). The whole text must be one expression: text
  // left after it is a syntax error.
  bool SetSource(const char* text);
  // The canonical text of the program: "&" and "|" between blanks,
  // relations without, parentheses only where an operator changes.
  const char* GetSource(string* out);
  // The text of the last error ("" when none) and its number.
  const char* GetError(string* out) const;
  int32_t GetErrorCode() const;
  // A copy of the program's bytes (empty when there is none).
  void GetHandle(ZorHandle* out) const;

  // Runs the program over `values`, or over the list given to Init when
  // null.
  bool Eval(ZorBGet* values = nullptr);

  // Opens the user interface's text editor on the current source
  // (ZorEditText, flags passed on) and compiles what the user enters.
  // False when the user cancels (nothing changes) or the text does not
  // compile.
  bool Edit(uint32_t flags);

 private:
  struct Rep;
  Rep* _rep;
};

}  // namespace zorvane
