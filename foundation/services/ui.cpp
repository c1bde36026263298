// The user-interface hooks: the installed interface (headless by default),
// the debug channel and the user break flag.
//
// The headless interface writes each message box to stderr as UTF-8 and
// answers as a user who declines: OK on a box whose only button is OK,
// otherwise Cancel, No or Abort, the first that the box offers. The Shift key
// is never down, and a text to edit is always cancelled.
//
// The interface and sink pointers are process-wide atomics so that a test
// double can be swapped while other threads raise errors; the objects they
// point to belong to whoever installed them.
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/string.h>
#include <zorvane/ui.h>

#include <atomic>
#include <cstdio>

namespace zorvane {

namespace {

class HeadlessUserInterface final : public iZorUserInterface {
 public:
  int32_t MessageBox(const char* text, const char* title, uint32_t kind) override {
    string line, utf8;
    if (title && *title) {
      line = title;
      line += ": ";
    }
    line += text ? text : "";
    line += '\n';
    std::fputs(ZorEncodeToUTF8(line.CStr(), &utf8), stderr);
    return ZorHeadlessAnswer(kind);
  }
  bool IsShiftDown() override { return false; }
};

HeadlessUserInterface& Headless() {
  static HeadlessUserInterface headless;
  return headless;
}

std::atomic<iZorUserInterface*> gInterface{nullptr};

struct DebugSinkSlot {
  std::atomic<ZorDebugSink> sink{nullptr};
  std::atomic<void*> context{nullptr};
};
DebugSinkSlot gDebug;

std::atomic<bool> gUserBreak{false};

// The formatter reports its own pattern errors on this channel, so a text
// formatted for the channel may come back here while it is being built; the
// depth guard keeps that to one level.
thread_local int tDebugDepth = 0;

void SendToSink(const char* text) {
  const ZorDebugSink sink = gDebug.sink.load();
  if (sink) sink(text, gDebug.context.load());
}

void FormatToSink(const char* pattern, const ZorFormArgs& args) {
  if (!gDebug.sink.load() || !pattern || tDebugDepth > 1) return;
  ++tDebugDepth;
  try {
    string text;
    SendToSink(ZorFormStringArgs(&text, pattern, args));
  } catch (...) {
  }
  --tDebugDepth;
}

}  // namespace

iZorUserInterface::~iZorUserInterface() = default;

bool iZorUserInterface::EditText(string*, const char*, uint32_t) { return false; }

iZorUserInterface* ZorGetUserInterface() {
  iZorUserInterface* ui = gInterface.load();
  return ui ? ui : &Headless();
}

iZorUserInterface* ZorSetUserInterface(iZorUserInterface* ui) {
  iZorUserInterface* previous = gInterface.exchange(ui);
  return previous ? previous : &Headless();
}

int32_t ZorHeadlessAnswer(uint32_t kind) {
  switch (kind & ZorMbButtonsMask) {
    case ZorMbOk: return ZorIdOk;
    case ZorMbOkCancel:
    case ZorMbYesNoCancel:
    case ZorMbRetryCancel: return ZorIdCancel;
    case ZorMbYesNo: return ZorIdNo;
    case ZorMbAbortRetryIgnore: return ZorIdAbort;
    default: return ZorIdCancel;
  }
}

int32_t ZorMessageBox(const char* text, const char* title, uint32_t kind) {
  return ZorGetUserInterface()->MessageBox(text, title, kind);
}

bool ZorIsShiftDown() { return ZorGetUserInterface()->IsShiftDown(); }

bool ZorEditText(string* text, const char* title, uint32_t flags) {
  return ZorGetUserInterface()->EditText(text, title, flags);
}

// ------------------------------------------------------------------ debug channel

ZorDebugSink ZorSetDebugSink(ZorDebugSink sink, void* context) {
  gDebug.context.store(context);
  return gDebug.sink.exchange(sink);
}

void ZorDebugPrintArgs(const char* pattern, const ZorFormArgs& args) { FormatToSink(pattern, args); }

void ZorDebugPrintStr(const char* text, bool newLine) {
  if (!gDebug.sink.load()) return;
  try {
    string line(text);
    if (newLine) line += '\n';
    SendToSink(line.CStr());
  } catch (...) {
  }
}

// ------------------------------------------------------------------ user break

void ZorSetUserBreak(bool on) { gUserBreak.store(on); }
bool ZorIsUserBreak() { return gUserBreak.load(); }

}  // namespace zorvane
