// The exception family: construction, accessors and the event hook.
//
// Every constructor ends by reporting the new exception to the application's
// event hook (_report). The hook must never turn the construction of one
// exception into the throw of another: it runs under a process-wide busy
// flag (an exception built by the callback itself is not reported again) and
// swallows everything its callback throws.
#include <zorvane/exception.h>
#include <zorvane/messages.h>

#include "resources/message_catalogue.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

namespace zorvane {

namespace {

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

// The message of the constructors that take a pattern: a message reference
// is replaced by its entry first.
void LoadPattern(std::string* out, const char* pattern) {
  int32_t m = 0, g = 0, n = 0;
  if (!pattern) {
    out->clear();
  } else if (ZorParseMessageRef(pattern, &m, &g, &n)) {
    out->assign(catalogue::Text(m, g, n));
  } else {
    out->assign(pattern);
  }
}

}  // namespace

// ------------------------------------------------------------------ ZorException

ZorException::ZorException(int32_t module, int64_t err, const char* msg, const ZorFsa* path,
                           const char* srcFile, uint32_t srcLine, bool showSource)
    : _module(module), _error(err), _srcFile(srcFile ? srcFile : ""), _srcLine(srcLine),
      _showSource(showSource) {
  if (msg) _message.assign(msg);
  if (path) _path = *path;
  _report();
}

ZorException::ZorException(int32_t module, int64_t err, const ZorFsa* path, const char* srcFile,
                           uint32_t srcLine)
    : _module(module), _error(err), _srcFile(srcFile ? srcFile : ""), _srcLine(srcLine) {
  if (path && path->GetPathMedia() == 3) {
    // A smart path is kept by its full text, read again now.
    try {
      _path.InitFromPath(path->GetPathText());
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

const char* ZorException::what() const noexcept { return _message.c_str(); }

bool ZorException::IsSpecial() const { return ZorErrIsSpecial(_error); }

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
      const sZorExceptionEvent event{_module, _error, _message.c_str(), _path.GetPathText(),
                                     _srcFile.c_str(), _srcLine, ""};
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

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, const char* msg,
                     const ZorFsa* path)
    : ZorException(module, err, msg, path, srcFile, srcLine, false) {}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, int32_t txtModule,
                     int32_t txtGroup, int32_t txtIndex, const ZorFsa* path)
    : ZorException(module, err, catalogue::Text(txtModule, txtGroup, txtIndex), path, srcFile, srcLine,
                   false) {}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, const char* pattern, ...)
    : ZorException(1, err, nullptr, nullptr, srcFile, srcLine, false) {
  std::string message;
  LoadPattern(&message, pattern);
  _setMsg(message.c_str());
}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
                     int32_t txtIndex, ...)
    : ZorException(1, err, catalogue::Text(txtModule, txtGroup, txtIndex), nullptr, srcFile, srcLine,
                   false) {}

ZorEBasic::ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
                     int32_t txtIndex, const ZorFsa* path, ...)
    : ZorException(1, err, catalogue::Text(txtModule, txtGroup, txtIndex), path, srcFile, srcLine, false) {}

// ------------------------------------------------------------------ ZorECrashDoc

ZorECrashDoc::ZorECrashDoc(int32_t module, int64_t err, bool withDoc, const char* srcFile, uint32_t srcLine)
    : ZorException(module, err, nullptr, nullptr, srcFile, srcLine, true) {
  (void)withDoc;  // there is no document context in this library yet
}

// ------------------------------------------------------------------ codes

bool ZorErrIsSpecial(int64_t err) {
  return ZorErrFamily(err) == 1 && static_cast<uint32_t>(ZorErrNumber(err)) >= 1000;
}

}  // namespace zorvane
