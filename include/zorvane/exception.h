// The exception family of the library and the services that turn error codes
// into text.
//
// Every failure travels as a ZorEBasic (an ordinary error) or a ZorECrash /
// ZorECrashDoc (an internal fault, whose full text shows the source
// location), all derived from ZorException and from std::exception, so that
// code that knows nothing of the library can still catch them.
//
// An error code is 64 bits (ZorErr in types.h): the family in the high word
// (1 = the library, -1 = the operating system with a Windows error number,
// otherwise a module id) and the number in the low word. Codes (1, n) with
// n >= 1000 are special: a cancellation by the user or a condition that is
// never shown (Display and GetFullText show nothing for them).
//
// An exception owns copies of everything it was built with (message, path,
// source file); it is a plain value, copied by the throw. The texts live in
// std::string members so that this header does not need <zorvane/string.h>
// (whose formatter itself raises these exceptions). Building an exception
// never throws a second one: the event hook swallows its own failures.
#pragma once

#include <zorvane/date.h>
#include <zorvane/form_args.h>
#include <zorvane/path.h>
#include <zorvane/types.h>

#include <exception>
#include <string>

namespace zorvane {

class string;
class ZorDocCx;
class ZorDoc;

// The kind of an internal fault (ZorECrash).
enum eZorException : int32_t {
  ZorExcMisc = 0,        // a fault with no particular kind
  ZorExcAssert = 1,      // an internal check failed
  ZorExcBadPtr = 2,      // an invalid address or handle reached the library
  ZorExcNotImpl = 3,     // a path of the code that does not exist
  ZorExcCorrupt = 4,     // stored data that the library wrote is inconsistent
  ZorExcOverflow = 5,    // an internal limit was exceeded
};

class ZOR_API ZorException : public std::exception {
 public:
  ZorException(int32_t module, int64_t err, const string* msg, const ZorFsa* path, const char* srcFile,
               uint32_t srcLine);
  // A path of the smart kind (GetPathMedia() == 3) is stored by re-reading
  // its full text; a failure to do so leaves the path unset.
  ZorException(int32_t module, int64_t err, const ZorFsa* path, const char* srcFile, uint32_t srcLine);
  ~ZorException() override;

  int32_t GetModuleId() const { return _module; }
  int64_t GetError() const { return _error; }
  const char* GetMsg(string* dst) const;
  const char* GetMsgText() const { return _message.c_str(); }
  const ZorFsa* GetFsa() const { return &_path; }
  const char* GetFile(string* dst) const;
  const char* GetFileText() const { return _srcFile.c_str(); }
  uint32_t GetLine() const { return _srcLine; }
  // When the exception was built (local date and time).
  date GetDate() const { return _date; }
  bool IsSpecial() const;

  // The code's text, then " : " and the message when there is one.
  const char* ToString(string* dst) const;
  // The text for people, one part per line (code, message, file, source).
  // Empty for a special code unless forced.
  const char* GetFullText(string* dst, bool force) const;
  // Shows the full text in an alert box; nothing for a special code.
  void Display() const;

  // The text of ToString (cp1252), computed on first use and kept in the
  // object.
  const char* what() const noexcept override;

 protected:
  // For the subclasses: builds without reporting to the event hook; the
  // subclass completes the exception (message) and then calls _report().
  ZorException(int32_t module, int64_t err, const char* msg, const ZorFsa* path, const char* srcFile,
               uint32_t srcLine, bool showSource);
  void _setMsg(const char* msg);
  // Reports the finished exception to the event hook; never throws.
  void _report() const noexcept;

 private:

  int32_t _module = 1;
  int64_t _error = 0;
  std::string _message;
  ZorFsa _path;
  std::string _srcFile;
  uint32_t _srcLine = 0;
  date _date;
  bool _showSource = false;
  mutable std::string _what;
};

// The ordinary error. The message is given as a string, a text, a catalogue
// entry, or a pattern formatted with arguments (the formatter's rules: each
// argument a 32-bit slot, or a pointer for 64-bit values, decimals and dates).
// A message text of the form "]m,g,n" is a message reference and is replaced
// by that catalogue entry before formatting.
class ZOR_API ZorEBasic : public ZorException {
 public:
  // 1. module, code, message, path and source.
  ZorEBasic(int32_t module, int64_t err, const string* msg, const ZorFsa* path, const char* srcFile,
            uint32_t srcLine);
  // 2. source first, then module, code, message text (may be null) and path.
  ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, const char* msg,
            const ZorFsa* path);
  // 3. the message is the catalogue entry (txtModule, txtGroup, txtIndex).
  ZorEBasic(const char* srcFile, uint32_t srcLine, int32_t module, int64_t err, int32_t txtModule,
            int32_t txtGroup, int32_t txtIndex, const ZorFsa* path);
  // 4. module 1; the message is the pattern formatted with the arguments (a
  //    null pattern leaves it empty; a placeholder past the arguments stays
  //    as it is written).
  template <class... A>
  ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, const char* pattern, A... args)
      : ZorEBasic(srcFile, srcLine, err, pattern, ZorFormArgs::Of(args...)) {}
  // 5. module 1; the message is the catalogue entry formatted with the
  //    arguments.
  ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
            int32_t txtIndex, ...);
  // 6. as 5, with the path concerned.
  ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, int32_t txtModule, int32_t txtGroup,
            int32_t txtIndex, const ZorFsa* path, ...);

 private:
  // Form 4 with its arguments counted.
  ZorEBasic(const char* srcFile, uint32_t srcLine, int64_t err, const char* pattern, const ZorFormArgs& args);
};

// An internal fault; its full text always carries the source location.
class ZOR_API ZorECrash : public ZorException {
 public:
  ZorECrash(int32_t module, int64_t err, const string* msg, const ZorFsa* path, const char* srcFile,
            uint32_t srcLine);
  // Module 1.
  ZorECrash(eZorException kind, int64_t err, const string* msg, const char* srcFile, uint32_t srcLine);

  eZorException GetKind() const { return _kind; }

 private:
  eZorException _kind = ZorExcMisc;
};

// An internal fault that also records the current document context and,
// when asked, the current document. Neither exists in this library yet, so
// both are null.
class ZOR_API ZorECrashDoc : public ZorException {
 public:
  ZorECrashDoc(int32_t module, int64_t err, bool withDoc, const char* srcFile, uint32_t srcLine);

  ZorDocCx* GetCx() const { return _cx; }
  ZorDoc* GetDoc() const { return _doc; }

 private:
  ZorDocCx* _cx = nullptr;
  ZorDoc* _doc = nullptr;
};

// Throws ZorEBasic (module 1, code (1, 23), no message): the refusal of a bad
// argument, such as a null pointer where an exported function needs data or
// a place for its result, or an item number out of range.
[[noreturn]] ZOR_API void ZorRaiseBadParam(const char* srcFile, uint32_t srcLine = __builtin_LINE());
// Returns p, or refuses a null p as ZorRaiseBadParam does.
template <class T>
T* ZorNotNull(T* p, const char* srcFile, uint32_t srcLine = __builtin_LINE()) {
  if (!p) ZorRaiseBadParam(srcFile, srcLine);
  return p;
}

// Throws ZorECrash (module 1) of the given kind with a message text (may be
// null): the helper for internal faults, whose constructors take a `string`.
[[noreturn]] ZOR_API void ZorRaiseCrash(const char* srcFile, uint32_t srcLine, eZorException kind, int64_t err,
                                        const char* msg);

// The text of a code (see the family table in this file's header comment).
ZOR_API const char* ZorErrToString(int64_t err, string* dst);
ZOR_API bool ZorErrIsSpecial(int64_t err);
// An alert box with the code's text; nothing for a special code.
ZOR_API void ZorErrDisplay(int64_t err);
// A Windows error number as a code: 0 -> (1, 0), 1223 (cancelled by the user)
// -> (1, 1000), any other v -> (-1, v).
ZOR_API int64_t ZorWinErrToZor(uint32_t winErr);

// The developer's debug channel. Nothing happens unless a sink is set
// (ZorSetDebugSink in <zorvane/ui.h>). ZorDebugPrintAt's two numbers placed
// the text in a debugging window on Windows; they are accepted and ignored.
// ZorDebugPrintStr adds a line feed when asked.
ZOR_API void ZorDebugPrintArgs(const char* pattern, const ZorFormArgs& args);
template <class... A>
void ZorDebugPrint(const char* pattern, A... args) {
  ZorDebugPrintArgs(pattern, ZorFormArgs::Of(args...));
}
template <class... A>
void ZorDebugPrintAt(int32_t /*x*/, int32_t /*y*/, const char* pattern, A... args) {
  ZorDebugPrintArgs(pattern, ZorFormArgs::Of(args...));
}
ZOR_API void ZorDebugPrintStr(const char* text, bool newLine);
// "exception <code> (<module name>): <full text>" on the debug channel.
ZOR_API void ZorDebugPrintExc(const ZorEBasic* e);

// The event hook: every exception, when built, is reported to the
// application's callback (when one is set) as these values and as an option
// string with the keys "ErrId" (the code in decimal), "Txt" (the message) and
// "File" (the path, when set). The pointers are valid during the call only.
// The hook runs once at a time: an exception built inside the callback is not
// reported again; anything the callback throws is swallowed.
struct sZorExceptionEvent {
  int32_t module;
  int64_t err;
  const char* message;
  const char* path;     // "" when no path
  const char* srcFile;
  uint32_t srcLine;
  const char* options;
};
using ZorExceptionHook = void (*)(const sZorExceptionEvent& event, void* context);
// Sets the callback (null removes it) and returns the previous one.
ZOR_API ZorExceptionHook ZorSetExceptionHook(ZorExceptionHook hook, void* context);

}  // namespace zorvane
