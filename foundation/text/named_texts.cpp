// ZorPnv: named texts on a ZorTxtList, and the resource-text reader and
// writer.
//
// Every entry is an item without identifier whose code is the name and whose
// label is the value, so an empty value is an item without label. Names are
// found with the list's case-insensitive equality on codes.
//
// The resource reader works on a copy of the dictionary and swaps it in at
// the end, so a text that fails halfway changes nothing. It reads one line at
// a time into a name, a continuation mark and a value piece; pieces of
// continuation lines are appended to the open entry, which is added when the
// next entry starts or the text ends. The writer emits only what the reader
// reads back: it leaves out control characters it cannot escape, and starts
// a new value line wherever an escape would otherwise be misread (a literal
// backslash before n or t, or an escape right after a literal backslash).
#include <zorvane/date.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/named_texts.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"
#include "foundation/services/text_source.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace zorvane {

namespace {

constexpr const char* kSource = "string\\ZorPnv";
constexpr int32_t kErrBadData = 19;
constexpr int32_t kErrBadParam = 23;
constexpr int32_t kGroupScript = 167;
constexpr int32_t kMsgNameMissing = 157;
constexpr int32_t kMsgUndefined = 158;
constexpr int32_t kGroupNamedTexts = 995;
constexpr int32_t kMsgNameInvalid = 1;
constexpr int32_t kMsgNameExists = 2;

bool IsNameChar(char c) { return ZorIsAlpha(c) || ZorIsDigit(c) || c == '_'; }

// ---------------------------------------------------------------- resource lines

struct RsrcLine {
  bool comment = false;
  bool continuation = false;
  string name;
  string piece;
};

void ReadName(const char* p, const char* end, RsrcLine* out) {
  bool started = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (ZorIsCtrl(c)) continue;
    if (!started && (c == ' ' || c == '+')) {
      out->continuation |= c == '+';
      continue;
    }
    started = true;
    out->name += c;
  }
  out->name.Trim(0, ' ');
}

char EscapedChar(const char* p, const char* end, const char* lineStart) {
  if (p[0] != '\\' || p + 1 >= end || (p > lineStart && p[-1] == '\\')) return 0;
  return p[1] == 'n' ? '\n' : (p[1] == 't' ? '\t' : 0);
}

void ReadPiece(const char* p, const char* end, bool escapes, RsrcLine* out) {
  const char* start = p;
  for (; p < end; ++p) {
    if (const char e = escapes ? EscapedChar(p, end, start) : 0) {
      out->piece += e;
      ++p;
    } else if (!ZorIsCtrl(*p)) {
      out->piece += *p;
    }
  }
}

void ReadLine(const char* p, const char* end, bool escapes, RsrcLine* out) {
  out->comment = end - p >= 2 && p[0] == '/' && p[1] == '/';
  out->continuation = false;
  out->name.Clear();
  out->piece.Clear();
  if (out->comment) return;
  const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<size_t>(end - p)));
  ReadName(p, colon ? colon : end, out);
  if (colon) ReadPiece(colon + 1, end, escapes, out);
}

// ---------------------------------------------------------------- resource writing

// Accumulates one value as ":" lines of at most `width` characters.
class ValueWriter {
 public:
  ValueWriter(string* out, uint32_t width) : _out(out), _width(width) {}

  void Put(const char* unit, uint32_t n) {
    if (_width && !_line.IsEmpty() && _line.Len() + n > _width) Flush();
    _line.Insert(_line.Len(), unit, static_cast<int32_t>(n));
  }
  char Last() const { return _line.IsEmpty() ? 0 : _line[_line.Len() - 1]; }
  void Flush() {
    if (_line.IsEmpty()) return;
    *_out += ':';
    *_out += _line;
    *_out += '\n';
    _line.Clear();
  }

 private:
  string* _out;
  uint32_t _width;
  string _line;
};

// The characters of a value that the reader can get back: control
// characters go, but for LF and TAB when they are escaped.
const char* WritableValue(const char* value, bool escapes, string* dst) {
  string out;
  for (const char* p = value; *p; ++p)
    if (!ZorIsCtrl(*p) || (escapes && (*p == '\n' || *p == '\t'))) out += *p;
  *dst = std::move(out);
  return dst->CStr();
}

void WriteValue(const char* value, uint32_t width, bool escapes, string* out) {
  string kept;
  ValueWriter w(out, width);
  for (const char* p = WritableValue(value, escapes, &kept); *p; ++p) {
    const char c = *p;
    if (c == '\n' || c == '\t') {
      if (w.Last() == '\\') w.Flush();  // "\\n" would read as two characters
      w.Put(c == '\n' ? "\\n" : "\\t", 2);
    } else {
      w.Put(p, 1);
      if (escapes && c == '\\' && (p[1] == 'n' || p[1] == 't')) w.Flush();  // keep it literal
    }
  }
  w.Flush();
}

const char* UserName() {
  for (const char* var : {"USER", "LOGNAME", "USERNAME"})
    if (const char* v = std::getenv(var); v && v[0]) return v;
  return "";
}

void WriteHeader(string* out) {
  date now;
  now.Today(true);
  string text;
  *out += "// ";
  *out += now.ToStrForm(&text, 2);
  *out += "\n// ";
  *out += UserName();
  *out += '\n';
}

// The value of GetPrm as a message pattern: "^0" .. "^4" get the text type.
const char* PatternOf(const char* value, string* dst) {
  string out;
  for (const char* p = value; *p; ++p) {
    out += *p;
    if (*p != '^') continue;
    if (p[1] == '^') {
      out += *++p;
    } else if (p[1] >= '0' && p[1] <= '4') {
      out += *++p;
      out += 's';
    }
  }
  *dst = std::move(out);
  return dst->CStr();
}

}  // namespace

// ---------------------------------------------------------------- life

ZorPnv::ZorPnv() = default;
ZorPnv::~ZorPnv() = default;

void ZorPnv::Init() {
  ZorTxtList::Init(static_cast<const char*>(nullptr), 0, 0);
  _init = true;
}

void ZorPnv::Trash() {
  ZorTxtList::Trash();
  _init = false;
}

bool ZorPnv::IsValidName(const char* name) {
  if (!name || !name[0] || ZorIsDigit(name[0])) return false;
  for (; *name; ++name)
    if (!IsNameChar(*name)) return false;
  return true;
}

// ---------------------------------------------------------------- entries

void ZorPnv::_add(const char* name, const char* value, bool unique) {
  if (!IsValidName(name)) ZorRaise(kSource, ZorErr(1, kErrBadData), nullptr, {kGroupNamedTexts, kMsgNameInvalid}, name ? name : "");
  if (unique && IsNameExist(name))
    ZorRaise(kSource, ZorErr(1, kErrBadData), nullptr, {kGroupNamedTexts, kMsgNameExists}, name);
  if (!_init) Init();
  Add(name, 0, true, value);
}

void ZorPnv::AddTxt(const char* name, const char* value, bool unique, bool unescape) {
  string decoded;
  if (unescape && value) value = ZorUnEscapeString(value, &decoded);
  _add(name, value, unique);
}

bool ZorPnv::UpdateTxt(const char* name, const char* value, bool unescape) {
  const int32_t index = Find(name, ZorTxtKindCode);
  if (index < 0) return false;
  string decoded, current;
  if (!value) value = "";
  if (unescape) value = ZorUnEscapeString(value, &decoded);
  GetItem(index, &current, ZorTxtKindLabel);
  if (ZorStrIEq(current.CStr(), value)) return false;
  Set(index, nullptr, 0, true, value);
  return true;
}

bool ZorPnv::IsNameExist(const char* name) const { return name && Find(name, ZorTxtKindCode) > 0; }

const char* ZorPnv::GetTxt(string* dst, const char* name, char mode) const {
  const int32_t index = name ? Find(name, ZorTxtKindCode) : -1;
  if (index > 0) {
    GetItem(index, dst, ZorTxtKindLabel);
    if (mode == 'N' && dst->IsEmpty()) texts::Load(1, kGroupScript, kMsgUndefined, dst);
    return dst->CStr();
  }
  switch (mode) {
    case 'C': return dst->Assign(name ? name : "");
    case 'E': ZorRaise(kSource, ZorErr(1, kErrBadParam), nullptr, {kGroupScript, kMsgNameMissing}, name);
    case 'N': return texts::Load(1, kGroupScript, kMsgUndefined, dst);
    case 'T': {
      string text("T_");
      text += name ? name : "";
      *dst = std::move(text);
      return dst->CStr();
    }
    default: return dst->Clear();
  }
}

const char* ZorPnv::GetPrm(string* dst, const char* name, const char* a0, const char* a1, const char* a2,
                           const char* a3, const char* a4) const {
  string value, pattern;
  GetTxt(&value, name, 'E');
  PatternOf(value.CStr(), &pattern);
  auto text = [](const char* a) { return a ? a : ""; };
  return ZorFormString(dst, pattern.CStr(), text(a0), text(a1), text(a2), text(a3), text(a4));
}

const char* ZorPnv::GetList(string* dst) const { return GetText(dst, ZorTxtKindText, 0, '\n'); }

// ---------------------------------------------------------------- resource texts

void ZorPnv::AddRsrcTxt(const char* text, bool escapes) {
  ZorPnv work(*this);
  work._init = true;
  RsrcLine line;
  string name, value;
  bool open = false;
  for (const char* p = text ? text : ""; *p;) {
    const char* end = ZorStrChr(p, '\n');
    if (!end) end = p + ZorStrLen(p);
    ReadLine(p, end, escapes, &line);
    p = *end ? end + 1 : end;
    if (line.comment) continue;
    const bool extends = line.name.IsEmpty() || (line.continuation && open && ZorStrIEq(line.name.CStr(), name.CStr()));
    if (extends) {
      if (!open && !line.piece.IsEmpty()) work._add("", nullptr, true);  // a value without a name
      value += line.piece;
      continue;
    }
    if (open) work._add(name.CStr(), value.CStr(), true);
    name = line.name;
    value = line.piece;
    open = true;
  }
  if (open) work._add(name.CStr(), value.CStr(), true);
  *this = std::move(work);
}

const char* ZorPnv::GetRsrcTxt(string* dst, uint32_t width, uint32_t flags, bool header) const {
  string out, name, value;
  if (header) WriteHeader(&out);
  for (int32_t i = 1; i <= GetNbItem(); ++i) {
    Get(i, &name, nullptr, &value);
    out += name;
    out += ":\n";
    WriteValue(value.CStr(), width, (flags & ZorPnvRsrcEscapes) != 0, &out);
  }
  *dst = std::move(out);
  return dst->CStr();
}

}  // namespace zorvane
