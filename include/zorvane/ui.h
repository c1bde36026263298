// The user-interface hooks of the library. There is no toolkit here: message
// boxes and the Shift-key query go through an iZorUserInterface, by default a
// headless one that writes the texts to stderr (as UTF-8) and answers Cancel
// to every question. Tests and applications install their own.
//
// Also here: the developer's debug channel sink and the process-wide user
// break flag (set by the command-line tool on Ctrl-C, read by long
// operations and the script engine).
//
// The installed interface and the sink are process-wide pointers; the
// library does not own them, and their owner keeps them alive while set.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;

// Message box kinds: the low four bits choose the buttons, as on the
// original platform; the higher bits are presentation flags.
enum : uint32_t {
  ZorMbOk = 0x0,
  ZorMbOkCancel = 0x1,
  ZorMbAbortRetryIgnore = 0x2,
  ZorMbYesNoCancel = 0x3,
  ZorMbYesNo = 0x4,
  ZorMbRetryCancel = 0x5,
  ZorMbButtonsMask = 0xF,
  ZorMbAlert = 0xA0001,  // the alert box of the exception services
};

// The button that closed a message box.
enum eZorMbAnswer : int32_t {
  ZorIdOk = 1,
  ZorIdCancel = 2,
  ZorIdAbort = 3,
  ZorIdRetry = 4,
  ZorIdIgnore = 5,
  ZorIdYes = 6,
  ZorIdNo = 7,
};

class ZOR_API iZorUserInterface {
 public:
  virtual ~iZorUserInterface();
  // Shows a text (cp1252) and returns the button chosen.
  virtual int32_t MessageBox(const char* text, const char* title, uint32_t kind) = 0;
  // Whether the Shift key is held down now.
  virtual bool IsShiftDown() = 0;
  // Lets the user edit a text (cp1252) in place; false, with the text left
  // alone, when the user cancels. The flags are the caller's editor
  // options. By default (and headless) the user cancels.
  virtual bool EditText(string* text, const char* title, uint32_t flags);
};

// The interface in use (never null).
ZOR_API iZorUserInterface* ZorGetUserInterface();
// Installs an interface (null puts the headless one back); returns the
// previous one.
ZOR_API iZorUserInterface* ZorSetUserInterface(iZorUserInterface* ui);
// The headless interface's answer to a kind: the only button of an OK box,
// else Cancel when there is one, else No, else Abort.
ZOR_API int32_t ZorHeadlessAnswer(uint32_t kind);

// Shortcuts to the interface in use.
ZOR_API int32_t ZorMessageBox(const char* text, const char* title, uint32_t kind);
ZOR_API bool ZorIsShiftDown();
ZOR_API bool ZorEditText(string* text, const char* title, uint32_t flags);

// The debug channel's sink: it receives each text of ZorDebugPrint and its
// kin, already formatted (cp1252). Null (the default) turns the channel off.
using ZorDebugSink = void (*)(const char* text, void* context);
// Sets the sink and returns the previous one.
ZOR_API ZorDebugSink ZorSetDebugSink(ZorDebugSink sink, void* context);

// The user break flag.
ZOR_API void ZorSetUserBreak(bool on);
ZOR_API bool ZorIsUserBreak();

}  // namespace zorvane
