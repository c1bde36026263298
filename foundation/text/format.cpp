// The message formatter (FormatV and its entry points).
//
// The pattern syntax is described in zorvane/format.h. Formatting runs in two
// passes over the pattern:
//
// 1. The arguments become an array of slots and a count. The template entry
//    points pack them with their count (ZorFormArgs). The va_list forms
//    cannot know the count: a scan finds the highest argument index that a
//    well-formed placeholder uses, and exactly that many slots are read, in
//    order (arguments are addressed by index, so they cannot be consumed one
//    placeholder at a time as printf does).
// 2. The pattern is copied to an output buffer, each placeholder replaced by
//    the text of its argument, justified to its width.
//
// Argument slots. On x86-64 every variadic argument, whatever its type,
// occupies one 8-byte slot (a general register or a stack word), and
// va_arg(ap, uint64_t) reads it whole; ZorFormArgs widens each argument to
// the same 8 bytes. Each slot is then interpreted by the placeholder's type:
// the low 32 bits for the 32-bit types (i I x a p b w o O), a pointer for all
// the others (texts, 64-bit values, decimals, dates, GUIDs, the four values of
// y). This replaces the 32-bit slots of the Windows design, in which 64-bit
// values could not travel directly either. A slot past the count is never
// read: it would take whatever lies in the registers or on the stack.
//
// Errors. A malformed placeholder, or one whose index is past the arguments
// given, is copied literally and reported on the debug channel; formatting
// goes on after it. An argument that cannot be
// read (an unreadable pointer, a character above 255, anything that throws
// while one placeholder is produced) ends the formatting: the rest of the
// pattern, from the failing "^", is appended unformatted. FormatV never
// throws.
//
// The result is built in an output buffer (on the stack up to 256
// characters) and assigned to the destination at the end, so the pattern and
// the arguments may point into the destination itself. Numbers are written
// into small stack buffers; no placeholder allocates except through the
// output's growth (the decimal, date and size types use one scratch string).
#include <zorvane/date.h>
#include <zorvane/decimal.h>
#include <zorvane/doc_config.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/memory.h>
#include <zorvane/string.h>
#include <zorvane/uuid.h>

#include <cstring>

#include "foundation/errors/raise.h"
#include "foundation/text/number_text.h"
#include "platform/pointer_check.h"
#include "foundation/services/text_source.h"

namespace zorvane {

namespace {

using platform::ZorIsBadPtr;
using platform::ZorIsBadStringPtr;

constexpr int kMaxSlots = ZorFormArgs::kMaxArgs;
// Debug-channel texts and the internal error of type w: for developers, never
// shown to users (the error is caught inside the formatter).
constexpr char kPatternError[] = "FormatV incorrect ^0s\n";
constexpr char kArgumentError[] = "ZorFormString: error in the Format string or in the arguments provided\n";
constexpr char kCharRangeError[] = "Cannot convert void* pointer to uchar value";
constexpr int64_t kCharRangeCode = ZorErr(1, 23);
constexpr char kSourceName[] = "ZorFormat";
// A text argument with this value (the bytes "BUG") is refused as a bad pointer.
constexpr uint64_t kBugMarker = 0x00475542;

// ---------------------------------------------------------------- output buffer

class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (_data != _local) ZorMemFree(_data);
  }

  void Append(const char* p, size_t n) {
    if (n > _cap - _len) Grow(n);
    memcpy(_data + _len, p, n);
    _len += n;
  }
  void Fill(char c, size_t n) {
    if (n > _cap - _len) Grow(n);
    memset(_data + _len, c, n);
    _len += n;
  }
  const char* Data() const { return _data; }
  size_t Len() const { return _len; }

 private:
  void Grow(size_t more) {
    size_t cap = _cap * 2;
    while (cap - _len < more) cap *= 2;
    char* data = static_cast<char*>(ZorMemAlloc(static_cast<uint32_t>(cap)));
    memcpy(data, _data, _len);
    if (_data != _local) ZorMemFree(_data);
    _data = data;
    _cap = cap;
  }

  char _local[256];
  char* _data = _local;
  size_t _len = 0;
  size_t _cap = sizeof _local;
};

// ---------------------------------------------------------------- placeholder scan

enum class Scan { kCaret, kPlaceholder, kMalformed };

struct Placeholder {
  int index = 0;
  char just = 'l';
  int width = -1;     // -1: no width
  char type = 0;
  int precision = 0;  // of the types "." and "!"
  size_t length = 0;  // characters of the pattern taken, from the "^"
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsTypeLetter(char c) {
  switch (c) {
    case 's': case 'S': case 'i': case 'I': case 'x': case 'a': case 'p': case 'b': case 'w':
    case 'q': case 'Q': case 'X': case 'A': case '.': case '!': case 'f': case 'F': case 'm':
    case 'M': case 'd': case 'D': case 't': case 'T': case 'h': case 'H': case 'g': case 'G':
    case 'o': case 'O': case 'y':
      return true;
    default:
      return false;
  }
}

char JustLetter(char c) {
  switch (c) {
    case 'C': case 'c': return 'c';
    case 'L': case 'l': return 'l';
    case 'R': case 'r': return 'r';
    case 'Z': case 'z': return 'z';
    default: return 0;
  }
}

// Reads the placeholder at p (p[0] == '^'). A malformed one takes the
// characters read so far, including the offending one (never the terminator).
Scan ScanPlaceholder(const char* p, Placeholder* ph) {
  if (p[1] == '^') {
    ph->length = 2;
    return Scan::kCaret;
  }
  size_t i = 1;
  auto malformed = [&]() {
    ph->length = i + (p[i] != 0 ? 1 : 0);
    return Scan::kMalformed;
  };
  if (!IsDigit(p[i])) return malformed();
  ph->index = p[i++] - '0';
  if (char just = JustLetter(p[i])) {
    ph->just = just;
    ++i;
    if (IsDigit(p[i])) {
      ph->width = p[i++] - '0';
      if (IsDigit(p[i])) ph->width = ph->width * 10 + (p[i++] - '0');
    }
  }
  if (!IsTypeLetter(p[i])) return malformed();
  ph->type = p[i++];
  if (ph->type == '.' || ph->type == '!') {
    if (p[i] < '0' || p[i] > '7') return malformed();
    ph->precision = p[i++] - '0';
  }
  ph->length = i;
  return Scan::kPlaceholder;
}

// Number of argument slots the pattern uses (highest index + 1).
int CountSlots(const char* pattern) {
  int count = 0;
  for (const char* p = strchr(pattern, '^'); p != nullptr; p = strchr(p, '^')) {
    Placeholder ph;
    if (ScanPlaceholder(p, &ph) == Scan::kPlaceholder && ph.index >= count) count = ph.index + 1;
    p += ph.length;
  }
  return count;
}

// ---------------------------------------------------------------- producing one placeholder

struct Piece {
  const char* text = "";
  size_t len = 0;
};

// Produces the texts of placeholders into a small buffer or a scratch string.
class Producer {
 public:
  explicit Producer(const uint64_t* slots) : _slots(slots) {}
  // False when the argument cannot be read; may throw.
  bool Produce(const Placeholder& ph, Piece* piece);

 private:
  uint32_t Low32(int index) const { return static_cast<uint32_t>(_slots[index]); }
  const void* Pointer(int index) const { return reinterpret_cast<const void*>(_slots[index]); }
  void Buffered(size_t len, Piece* piece) { *piece = Piece{_buf, len}; }
  void FromScratch(Piece* piece) { *piece = Piece{_scratch.CStr(), _scratch.Len()}; }

  bool Text(int index, Piece* piece);
  bool Quad(const Placeholder& ph, Piece* piece);
  bool Guid(const Placeholder& ph, Piece* piece);
  bool Rect(int index, Piece* piece);
  void Char(uint32_t v, Piece* piece);
  void Size(const Placeholder& ph, Piece* piece);
  bool Decimal(const Placeholder& ph, Piece* piece);
  bool Date(const Placeholder& ph, Piece* piece);

  const uint64_t* _slots;
  char _buf[64];
  string _scratch;
};

bool Producer::Produce(const Placeholder& ph, Piece* piece) {
  const int n = ph.index;
  switch (ph.type) {
    case 's': case 'S': return Text(n, piece);
    case 'i': case 'I':
      Buffered(numtext::WriteSigned(static_cast<int32_t>(Low32(n)), _buf), piece);
      return true;
    case 'x': Buffered(numtext::WriteHex(Low32(n), _buf, true, 8), piece); return true;
    case 'a': Buffered(numtext::WriteHex(Low32(n), _buf, false, 8), piece); return true;
    case 'p': Buffered(numtext::WriteHex(Low32(n), _buf, false, 1), piece); return true;
    case 'b': {
      static constexpr char kHexLower[] = "0123456789abcdef";
      const uint32_t v = Low32(n);
      _buf[0] = kHexLower[(v >> 4) & 0xF];
      _buf[1] = kHexLower[v & 0xF];
      Buffered(2, piece);
      return true;
    }
    case 'w': Char(Low32(n), piece); return true;
    case 'q': case 'Q': case 'X': case 'A': return Quad(ph, piece);
    case 'g': case 'G': return Guid(ph, piece);
    case 'y': return Rect(n, piece);
    case 'o': case 'O': Size(ph, piece); return true;
    case '.': case '!': case 'f': case 'F': case 'm': case 'M': return Decimal(ph, piece);
    default: return Date(ph, piece);
  }
}

bool Producer::Text(int index, Piece* piece) {
  const char* text = static_cast<const char*>(Pointer(index));
  if (_slots[index] == kBugMarker || ZorIsBadStringPtr(text)) return false;
  *piece = Piece{text, strlen(text)};
  return true;
}

void Producer::Char(uint32_t v, Piece* piece) {
  if (v > 255) ZorRaiseMessage(kSourceName, kCharRangeCode, kCharRangeError);
  _buf[0] = v < 32 ? ' ' : static_cast<char>(v);
  Buffered(1, piece);
}

bool Producer::Quad(const Placeholder& ph, Piece* piece) {
  const void* p = Pointer(ph.index);
  if (ZorIsBadPtr(p, 8)) return false;
  uint64_t v;
  memcpy(&v, p, sizeof v);
  switch (ph.type) {
    case 'X': Buffered(numtext::WriteHex(v, _buf, true, 1), piece); break;
    case 'A': Buffered(numtext::WriteHex(v, _buf, false, 1), piece); break;
    default: Buffered(numtext::WriteSigned(static_cast<int64_t>(v), _buf), piece); break;
  }
  return true;
}

bool Producer::Guid(const Placeholder& ph, Piece* piece) {
  const void* g = Pointer(ph.index);
  if (ZorIsBadPtr(g, ZorUuid::kSize)) return false;
  Buffered(ZorUuid::S_GuidToText(g, _buf, ph.type == 'g'), piece);
  return true;
}

// Four 32-bit values "(a,b,c,d)", "{NULL}" for a null pointer. All 16 bytes
// are checked since all are read.
bool Producer::Rect(int index, Piece* piece) {
  const void* p = Pointer(index);
  if (p == nullptr) {
    static constexpr char kNull[] = "{NULL}";
    *piece = Piece{kNull, sizeof kNull - 1};
    return true;
  }
  if (ZorIsBadPtr(p, 16)) return false;
  int32_t v[4];
  memcpy(v, p, sizeof v);
  size_t len = 0;
  for (int i = 0; i < 4; ++i) {
    _buf[len++] = i == 0 ? '(' : ',';
    len += numtext::WriteSigned(v[i], _buf + len);
  }
  _buf[len++] = ')';
  Buffered(len, piece);
  return true;
}

void Producer::Size(const Placeholder& ph, Piece* piece) {
  const int32_t count = static_cast<int32_t>(Low32(ph.index));
  ZorLongToSize(count, &_scratch);
  if (ph.type == 'O') {
    char digits[numtext::kNumberTextMax];
    _scratch += " [";
    _scratch.Insert(_scratch.Len(), digits, static_cast<int32_t>(numtext::WriteSigned(count, digits)));
    _scratch += ']';
  }
  FromScratch(piece);
}

bool Producer::Decimal(const Placeholder& ph, Piece* piece) {
  const decimal* d = static_cast<const decimal*>(Pointer(ph.index));
  if (ZorIsBadPtr(d, 8)) return false;
  int code = ph.precision;  // "." and "!": 0-4 decimals, 5-7 nothing
  if (ph.type == 'f' || ph.type == 'F') code = 5;
  if (ph.type == 'm' || ph.type == 'M') code = 6;
  if ((ph.type == '.' || ph.type == '!') && code > 4) {
    *piece = Piece{};
    return true;
  }
  d->ToStr(&_scratch, static_cast<eZorLogType>(code), true, 1, 1);
  FromScratch(piece);
  return true;
}

bool Producer::Date(const Placeholder& ph, Piece* piece) {
  const date* d = static_cast<const date*>(Pointer(ph.index));
  if (ZorIsBadPtr(d, 8)) return false;
  const char* pattern;
  switch (ph.type) {
    case 'd': pattern = ZorGetDocConfig().datePattern; break;
    case 'D': pattern = ZorGetDocConfig().datePattern2; break;
    case 't': pattern = "D/M/CY H:I:S"; break;
    case 'T': pattern = "d O CY H:I:S"; break;
    case 'h': pattern = "H:I"; break;
    default: pattern = "H:I:S"; break;
  }
  d->Format(pattern, &_scratch);
  FromScratch(piece);
  return true;
}

// ---------------------------------------------------------------- justification

void Justify(const Placeholder& ph, const Piece& piece, Output* out) {
  if (ph.width < 0) {
    out->Append(piece.text, piece.len);
    return;
  }
  const size_t width = static_cast<size_t>(ph.width);
  if (piece.len > width) {
    if (ph.type != 's' && ph.type != 'S') {
      out->Fill('#', width);
      return;
    }
    const size_t kept = width > 3 ? width - 3 : 0;
    out->Append(piece.text, kept);
    out->Fill('.', width - kept);
    return;
  }
  const size_t pad = width - piece.len;
  switch (ph.just) {
    case 'z': out->Fill('0', pad); out->Append(piece.text, piece.len); break;
    case 'r': out->Fill(' ', pad); out->Append(piece.text, piece.len); break;
    case 'c':
      out->Fill(' ', pad / 2);
      out->Append(piece.text, piece.len);
      out->Fill(' ', pad - pad / 2);
      break;
    default: out->Append(piece.text, piece.len); out->Fill(' ', pad); break;
  }
}

// ---------------------------------------------------------------- the formatting pass

// Produces one placeholder into out; false (out unchanged) on a bad argument.
bool EmitPlaceholder(const Placeholder& ph, Producer* producer, Output* out) {
  try {
    Piece piece;
    if (!producer->Produce(ph, &piece)) return false;
    Justify(ph, piece, out);
    return true;
  } catch (...) {
    return false;
  }
}

// Formats with `count` argument slots; a placeholder past them is malformed.
void FormatInto(Output* out, const char* pattern, const uint64_t* slots, int count) {
  if (pattern == nullptr) return;
  Producer producer(slots);
  const char* p = pattern;
  for (;;) {
    const char* caret = strchr(p, '^');
    if (caret == nullptr) {
      out->Append(p, strlen(p));
      return;
    }
    out->Append(p, static_cast<size_t>(caret - p));
    Placeholder ph;
    Scan scan = ScanPlaceholder(caret, &ph);
    if (scan == Scan::kPlaceholder && ph.index >= count) scan = Scan::kMalformed;
    switch (scan) {
      case Scan::kCaret:
        out->Append("^", 1);
        break;
      case Scan::kMalformed:
        ZorDebugPrint(kPatternError, pattern);
        out->Append(caret, ph.length);
        break;
      case Scan::kPlaceholder:
        if (!EmitPlaceholder(ph, &producer, out)) {
          ZorDebugPrint(kArgumentError);
          out->Append(caret, strlen(caret));
          return;
        }
        break;
    }
    p = caret + ph.length;
  }
}

// The slots of a va_list: as many as the pattern names.
class VaSlots {
 public:
  VaSlots(const char* pattern, va_list args) {
    _count = pattern ? CountSlots(pattern) : 0;
    va_list ap;
    va_copy(ap, args);
    for (int i = 0; i < _count; ++i) _slots[i] = va_arg(ap, uint64_t);
    va_end(ap);
  }
  const uint64_t* Slots() const { return _slots; }
  int Count() const { return _count; }

 private:
  uint64_t _slots[kMaxSlots] = {};
  int _count;
};

// Formats into a string. Memory exhaustion while copying literal text is
// the one failure left: the result then keeps what was formatted so far.
const char* FormatToString(string* dst, const char* pattern, const uint64_t* slots, int count) {
  ZorNotNull(dst, kSourceName);
  Output out;
  try {
    FormatInto(&out, pattern, slots, count);
  } catch (...) {
  }
  return dst->Assign(out.Data(), static_cast<int32_t>(out.Len()));
}

char* FormatToBuffer(char* dst, const char* pattern, const uint64_t* slots, int count) {
  ZorNotNull(dst, kSourceName);
  Output out;
  try {
    FormatInto(&out, pattern, slots, count);
  } catch (...) {
  }
  memcpy(dst, out.Data(), out.Len());
  dst[out.Len()] = 0;
  return dst;
}

const char* FormatCatalogue(string* dst, int32_t module, int32_t group, int32_t index, const ZorFormArgs& args) {
  string pattern;
  texts::Load(module, group, index, &pattern);
  return FormatToString(dst, pattern.CStr(), args.Slots(), args.Count());
}

}  // namespace

// ---------------------------------------------------------------- entry points

const char* string::FormatV(const char* pattern, va_list args) {
  const VaSlots slots(pattern, args);
  return FormatToString(this, pattern, slots.Slots(), slots.Count());
}

const char* string::FormatArgs(const char* pattern, const ZorFormArgs& args) {
  return FormatToString(this, pattern, args.Slots(), args.Count());
}

const char* string::FormatArgs(int32_t module, int32_t group, int32_t index, const ZorFormArgs& args) {
  return FormatCatalogue(this, module, group, index, args);
}

const char* ZorFormStringV(string* dst, const char* pattern, va_list args) {
  return ZorNotNull(dst, kSourceName)->FormatV(pattern, args);
}

const char* ZorFormStringArgs(string* dst, const char* pattern, const ZorFormArgs& args) {
  return ZorNotNull(dst, kSourceName)->FormatArgs(pattern, args);
}

const char* ZorFormStringArgs(string* dst, int32_t module, int32_t group, int32_t index, const ZorFormArgs& args) {
  return FormatCatalogue(dst, module, group, index, args);
}

char* ZorFormStringV(char* dst, const char* pattern, va_list args) {
  const VaSlots slots(pattern, args);
  return FormatToBuffer(dst, pattern, slots.Slots(), slots.Count());
}

char* ZorFormStringArgs(char* dst, const char* pattern, const ZorFormArgs& args) {
  return FormatToBuffer(dst, pattern, args.Slots(), args.Count());
}

}  // namespace zorvane
