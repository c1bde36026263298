// The exception family: construction, texts for people, display and the
// event hook.
//
// Texts come from the message catalogue: a code of family 1 below 1000 is
// entry (1, 2, n), a special one (n >= 1000) entry (1, 103, n - 999), a code
// of module h entry (h, 2, n), and an operating-system code (family -1) the
// system text of its Windows number (list platform::kSystemTextGroup), put
// together with its number by the pattern (1, 104, 108). There are no COM
// error-information objects here, so an HRESULT failure (top bit set) simply
// finds no system text and reads as (1, 2, 13). Number 0 is (1, 104, 261)
// whatever the family, and an empty result falls back to (1, 2, 15).
//
// Every constructor ends by reporting the finished exception to the event
// hook (_report). The hook must never turn the construction of one exception
// into the throw of another: it runs under a process-wide busy flag (an
// exception built while the hook runs, by the callback or by the option
// string code, is not reported again) and swallows everything.
#include <zorvane/doc_config.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/name_type.h>
#include <zorvane/string.h>
#include <zorvane/ui.h>

#include "foundation/errors/raise.h"
#include "platform/os_error.h"
#include "foundation/services/text_source.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

namespace zorvane {

namespace {

constexpr int32_t kLibrary = 1;
constexpr const char* kSource = "ZorException";
constexpr int32_t kErrGroup = 2;          // code texts of family 1 and of modules
constexpr int32_t kSpecialGroup = 103;    // texts of the special codes, number - 999
constexpr int32_t kReportGroup = 104;     // labels of the full text
constexpr int32_t kErrOsText = 13;        // (1, 2, 13): no system text for the number
constexpr int32_t kErrMiscText = 15;      // (1, 2, 15): no text at all
constexpr uint32_t kFirstSpecial = 1000;

enum ReportText : int32_t {
  kLabelError = 17,
  kLabelMessage = 19,
  kLabelFile = 20,
  kLabelSource = 21,
  kSystemPattern = 108,
  kNoErrorText = 261,
  kSmartRootText = 318,
};

struct HookSlot {
  std::mutex lock;
  ZorExceptionHook hook = nullptr;
  void* context = nullptr;
  std::atomic<bool> busy{false};
};

HookSlot& Hook() {
  static HookSlot slot;
  return slot;
}

// The message of the pattern constructors: a message reference is replaced
// by its entry, then the arguments are formatted in.
std::string FormatMessage(const char* pattern, const ZorFormArgs& args) {
  if (!pattern) return std::string();
  string loaded, message;
  texts::LoadRef(pattern, &loaded);
  ZorFormStringArgs(&message, loaded.CStr(), args);
  return message.CStr();
}

std::string CatalogueMessage(int32_t module, int32_t group, int32_t index, va_list args) {
  string pattern, message;
  texts::Load(module, group, index, &pattern);
  ZorFormStringV(&message, pattern.CStr(), args);
  return message.CStr();
}

std::string CatalogueText(int32_t module, int32_t group, int32_t index) {
  string text;
  return texts::Load(module, group, index, &text);
}

// The text of an operating-system code: its system text and its number.
void SystemCodeText(uint32_t number, string* dst) {
  // A number without a text of its own (a hole in the list) takes the
  // generic text, not the list's "undefined" text.
  string text(texts::Defined(kLibrary, platform::kSystemTextGroup, static_cast<int32_t>(number)));
  if (text.IsEmpty()) texts::Load(kLibrary, kErrGroup, kErrOsText, &text);
  ZorFormString(dst, kLibrary, kReportGroup, kSystemPattern, text.CStr(), number);
}

void AppendLabel(string* dst, int32_t entry) {
  string label;
  *dst += texts::Load(kLibrary, kReportGroup, entry, &label);
}

// The path part of the full text; a smart path shows without its root,
// behind the text that names the server.
void AppendPath(string* dst, const ZorFsa& path) {
  string text;
  if (path.GetPathMedia() == 3) {
    string rest;
    AppendLabel(dst, kSmartRootText);
    *dst += ZorFsa::KillRoot(path.GetPath(3, &text), &rest);
  } else {
    *dst += path.GetPath(3, &text);
  }
}

// The source file name without its directories.
const char* SourceFileName(const std::string& srcFile) {
  const size_t sep = srcFile.find_last_of("\\/");
  return srcFile.c_str() + (sep == std::string::npos ? 0 : sep + 1);
}

}  // namespace

// ------------------------------------------------------------------ ZorException

ZorException::ZorException(int32_t module, int64_t err, const char* msg, const ZorFsa* path,
                           const char* srcFile, uint32_t srcLine, bool showSource)
    : _module(module), _error(err), _srcFile(srcFile ? srcFile : ""), _srcLine(srcLine),
      _date(ZorDateToday, nullptr, 1), _showSource(showSource) {
  if (msg) _message.assign(msg);
  if (path) _path = *path;
}

ZorException::ZorException(int32_t module, int64_t err, const string* msg, const ZorFsa* path,
                           const char* srcFile, uint32_t srcLine)
    : ZorException(module, err, msg ? msg->CStr() : nullptr, path, srcFile, srcLine, false) {
  _report();
}

ZorException::ZorException(int32_t module, int64_t err, const ZorFsa* path, const char* srcFile,
                           uint32_t srcLine)
    : ZorException(module, err, nullptr, nullptr, srcFile, srcLine, false) {
  if (path && path->GetPathMedia() == 3) {
    // A smart path is kept by its full text, read again now.
    try {
      string full;
      _path.InitFromPath(path->GetPath(3, &full));
    } catch (const ZorEBasic&) {
      _path.Trash();
    }
  } else if (path) {
    _path = *path;
  }
  _report();
}

ZorException::~ZorException() = default;

void ZorException::_setMsg(const char* msg) { _message.assign(msg ? msg : ""); }

const char* ZorException::GetMsg(string* dst) const { return ZorNotNull(dst, kSource)->Assign(_message.c_str()); }

const char* ZorException::GetFile(string* dst) const { return ZorNotNull(dst, kSource)->Assign(_srcFile.c_str()); }

bool ZorException::IsSpecial() const { return ZorErrIsSpecial(_error); }

const char* ZorException::ToString(string* dst) const {
  ZorNotNull(dst, kSource);
  ZorErrToString(_error, dst);
  if (!_message.empty()) {
    if (!dst->IsEmpty()) *dst += " : ";
    *dst += _message.c_str();
  }
  return dst->CStr();
}

const char* ZorException::GetFullText(string* dst, bool force) const {
  ZorNotNull(dst, kSource);
  dst->Clear();
  if (!force && IsSpecial()) return dst->CStr();
  string part;
  AppendLabel(dst, kLabelError);
  *dst += ZorErrToString(_error, &part);
  *dst += '\n';
  if (!_message.empty()) {
    AppendLabel(dst, kLabelMessage);
    *dst += _message.c_str();
    *dst += '\n';
  }
  if (_path.IsInit()) {
    AppendLabel(dst, kLabelFile);
    AppendPath(dst, _path);
    *dst += '\n';
  }
  if (_showSource || ZorGetDocConfig().debugLevel >= 2) {
    AppendLabel(dst, kLabelSource);
    *dst += SourceFileName(_srcFile);
    *dst += " (";
    *dst += ZorLongToStr(static_cast<int32_t>(_srcLine), &part);
    *dst += ")\n";
  }
  return dst->CStr();
}

void ZorException::Display() const {
  if (IsSpecial()) return;
  string text;
  ZorMessageBox(GetFullText(&text, false), nullptr, ZorMbAlert);
  if (ZorIsShiftDown()) {
    ZorFormString(&text, "^0s(^1i)", _srcFile.c_str(), _srcLine);
    ZorMessageBox(text.CStr(), nullptr, ZorMbOk);
  }
}

const char* ZorException::what() const noexcept {
  if (_what.empty()) {
    try {
      string text;
      _what.assign(ToString(&text));
    } catch (...) {
      return _message.c_str();
    }
  }
  return _what.c_str();
}

void ZorException::_report() const noexcept {
  HookSlot& slot = Hook();
  if (slot.busy.exchange(true)) return;
  try {
    ZorExceptionHook hook;
    void* context;
    {
      std::lock_guard<std::mutex> guard(slot.lock);
      hook = slot.hook;
      context = slot.context;
    }
    if (hook) {
      string options, path;
      ZorAddStrOptQuad(&options, "ErrId", _error);
      ZorAddStrOpt(&options, "Txt", _message.c_str());
      if (_path.IsInit()) ZorAddStrOpt(&options, "File", _path.GetPath(3, &path));
      const sZorExceptionEvent event{_module,          _error,   _message.c_str(), path.CStr(),
                                     _srcFile.c_str(), _srcLine, options.CStr()};
      hook(event, context);
    }
  } catch (...) {
  }
  slot.busy.store(false);
}

ZorExceptionHook ZorSetExceptionHook(ZorExceptionHook hook, void* context) {
  HookSlot& slot = Hook();
  std::lock_guard<std::mutex> guard(slot.lock);
  ZorExceptionHook previous = slot.hook;
  slot.hook = hook;
  slot.context = context;
  return previous;
}

// ------------------------------------------------------------------ ZorEBasic

ZorEBasic::ZorEBasic(int32_t module, int64_t err, const string* msg, const ZorFsa* path, const char* srcFile,
                     uint32_t srcLine)
    : ZorException(module, err, msg ? msg->CStr() : nullptr, path, srcFile, srcLine, false) {
  _report();
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, const char* msg,
                     const ZorFsa* path)
    : ZorException(module, err, msg, path, srcFile, srcLine, false) {
  _report();
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, int32_t txtModule,
                     int32_t txtGroup, int32_t txtIndex, const ZorFsa* path)
    : ZorException(module, err, CatalogueText(txtModule, txtGroup, txtIndex).c_str(), path, srcFile, srcLine,
                   false) {
  _report();
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, const char* pattern,
                     const ZorFormArgs& args)
    : ZorException(kLibrary, err, nullptr, nullptr, srcFile, srcLine, false) {
  _setMsg(FormatMessage(pattern, args).c_str());
  _report();
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
                     int32_t txtIndex, ...)
    : ZorException(kLibrary, err, nullptr, nullptr, srcFile, srcLine, false) {
  va_list args;
  va_start(args, txtIndex);
  _setMsg(CatalogueMessage(txtModule, txtGroup, txtIndex, args).c_str());
  va_end(args);
  _report();
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
                     int32_t txtIndex, const ZorFsa* path, ...)
    : ZorException(kLibrary, err, nullptr, path, srcFile, srcLine, false) {
  va_list args;
  va_start(args, path);
  _setMsg(CatalogueMessage(txtModule, txtGroup, txtIndex, args).c_str());
  va_end(args);
  _report();
}

// ------------------------------------------------------------------ ZorECrash, ZorECrashDoc

ZorECrash::ZorECrash(int32_t module, int64_t err, const string* msg, const ZorFsa* path, const char* srcFile,
                     uint32_t srcLine)
    : ZorException(module, err, msg ? msg->CStr() : nullptr, path, srcFile, srcLine, true) {
  _report();
}

ZorECrash::ZorECrash(eZorException kind, int64_t err, const string* msg, const char* srcFile, uint32_t srcLine)
    : ZorException(kLibrary, err, msg ? msg->CStr() : nullptr, nullptr, srcFile, srcLine, true), _kind(kind) {
  _report();
}

ZorECrashDoc::ZorECrashDoc(int32_t module, int64_t err, bool withDoc, const char* srcFile, uint32_t srcLine)
    : ZorException(module, err, nullptr, nullptr, srcFile, srcLine, true) {
  (void)withDoc;  // there is no document context in this library yet
  _report();
}

void ZorRaise(ZorRaiseSite at, int64_t code, const ZorFsa* path) {
  throw ZorEBasic(at.source, at.line, kLibrary, code, static_cast<const char*>(nullptr), path);
}

void ZorRaiseMessage(ZorRaiseSite at, int64_t code, const char* message) {
  throw ZorEBasic(at.source, at.line, kLibrary, code, message, nullptr);
}

void ZorRaiseArgs(ZorRaiseSite at, int64_t code, const ZorFsa* path, ZorCatalogueEntry text,
                  const ZorFormArgs& args) {
  string pattern, message;
  texts::Load(kLibrary, text.group, text.entry, &pattern);
  ZorFormStringArgs(&message, pattern.CStr(), args);
  throw ZorEBasic(at.source, at.line, kLibrary, code, message.CStr(), path);
}

void ZorRaiseErrno(ZorRaiseSite at, int err, const ZorFsa* path) {
  ZorRaise(at, ZorWinErrToZor(platform::WinErrFromErrno(err)), path);
}

void ZorRaiseWinErr(ZorRaiseSite at, uint32_t winErr, const ZorFsa* path) {
  ZorRaise(at, ZorWinErrToZor(winErr), path);
}

void ZorRaiseBadParam(const char* srcFile, uint32_t srcLine) { ZorRaise({srcFile, srcLine}, ZorErr(kLibrary, 23)); }

void ZorRaiseCrash(const char* srcFile, uint32_t srcLine, eZorException kind, int64_t err, const char* msg) {
  const string message(msg);
  throw ZorECrash(kind, err, &message, srcFile, srcLine);
}

// ------------------------------------------------------------------ codes

bool ZorErrIsSpecial(int64_t err) {
  return ZorErrFamily(err) == kLibrary && static_cast<uint32_t>(ZorErrNumber(err)) >= kFirstSpecial;
}

const char* ZorErrToString(int64_t err, string* dst) {
  ZorNotNull(dst, kSource);
  const int32_t family = ZorErrFamily(err);
  const uint32_t number = static_cast<uint32_t>(ZorErrNumber(err));
  if (number == 0) {
    texts::Load(kLibrary, kReportGroup, kNoErrorText, dst);
  } else if (family == -1) {
    SystemCodeText(number, dst);
  } else if (ZorErrIsSpecial(err)) {
    texts::Load(kLibrary, kSpecialGroup, static_cast<int32_t>(number - (kFirstSpecial - 1)), dst);
  } else {
    dst->Assign(texts::Defined(family, kErrGroup, static_cast<int32_t>(number)));  // holes take the fallback
  }
  if (dst->IsEmpty()) texts::Load(kLibrary, kErrGroup, kErrMiscText, dst);
  return dst->CStr();
}

int64_t ZorWinErrToZor(uint32_t winErr) {
  if (winErr == 0) return ZorErr(kLibrary, 0);
  if (winErr == platform::kWinErrCancelled) return ZorErr(kLibrary, 1000);
  return ZorErr(-1, static_cast<int32_t>(winErr));
}

void ZorErrDisplay(int64_t err) {
  if (ZorErrIsSpecial(err)) return;
  string text;
  ZorMessageBox(ZorErrToString(err, &text), nullptr, ZorMbAlert);
}

void ZorDebugPrintExc(const ZorEBasic* e) {
  if (!e) return;
  string name, text;
  texts::ModuleName(e->GetModuleId(), ZorNameModule, &name);
  e->GetFullText(&text, true);
  const int64_t code = e->GetError();
  ZorDebugPrint("exception ^0X (^1s): ^2s\n", &code, name.CStr(), text.CStr());
}

}  // namespace zorvane
