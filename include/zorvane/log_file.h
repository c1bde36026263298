// ZorWLog: a text log file, one line per event; the process-wide standard
// log; and ZorStrQuote, the quoting rule of its fields.
//
// Line format (each line ends with CR LF):
//   <time stamp> TAB <kind> TAB [<label>] [TAB <text>] [TAB " " <options>]
// The time stamp is "DD/MM/YYYY HH:II:SS"; the kind is one letter (T title,
// E error, W warning, N note, D debug); label, text and options are quoted by
// ZorStrQuote. When the text is empty but there are options, the TAB that
// would precede the text is still written, so that the options always sit in
// the fourth field or later. The options of a line are the log's persistent
// options followed by the options pending for that line only (an option
// string, see zorvane/format.h).
//
// The log owns its stream (opened for appending, shared for reading and
// writing) and its path; both are released by Trash() or the destructor.
// A log is used by one thread at a time and is not copyable: title guards
// hold a call-back on the object itself.
#pragma once

#include <zorvane/form_args.h>
#include <zorvane/path.h>
#include <zorvane/handle.h>
#include <zorvane/string.h>
#include <zorvane/types.h>

namespace zorvane {

class ZorException;

// Quotes `src` into dst for a separated text: the text is trimmed of leading
// and trailing spaces when `trim` is set; an empty text becomes two double
// quotes; a text that holds a control character (below 32), `sep`, `eol`, a
// character of `special` (may be null) or, with `highBytes`, a byte of 0x80
// or above is written between double quotes with each inner double quote
// doubled; any other text is copied as it stands. Returns dst's text.
ZOR_API const char* ZorStrQuote(string* dst, const char* src, char sep = '\t', char eol = '\n',
                                const char* special = nullptr, bool trim = true, bool highBytes = true);

// Flags of ZorWLog::Init.
enum : uint32_t {
  ZorWLogReset = 0x01,      // delete an existing file first
  ZorWLogNoPurge = 0x02,    // no automatic purge (else above ZorWLogPurgeLimit bytes)
  ZorWLogFixedDate = 0x08,  // every line carries the fixed moment 01/04/2066 03:04:05
  ZorWLogEcho = 0x10,       // every line also goes to the debug channel
};

class ZOR_API ZorWLog {
 public:
  // The default automatic purge limit: 10 MiB.
  static constexpr uint32_t kPurgeLimit = 0xA00000;

  ZorWLog();
  ZorWLog(const ZorWLog&) = delete;
  ZorWLog& operator=(const ZorWLog&) = delete;
  ~ZorWLog();

  // ------------------------------------------------------------ life
  // Opens (creating it when missing) the file at `path` for appending.
  // Re-initialising first clears both option strings and closes the previous
  // file. Raises the stream's errors.
  void Init(const ZorFsa* path, uint32_t flags = 0);
  bool IsInit() const;
  void Trash();

  // ------------------------------------------------------------ writing
  // Each writes one line, or nothing while the log is not initialised. A
  // null pattern means no text; otherwise the text is the pattern formatted
  // with the arguments (zorvane/format.h; a placeholder past them stays as
  // it is written).
  template <class... A>
  void WriteTitle(const char* label, const char* pattern, A... args) {
    _Write('T', label, pattern, ZorFormArgs::Of(args...));
  }
  // A title line that opens a level: the level goes up by one and the line
  // carries the option LogTitleLevel. Releasing `guard` writes the title
  // line "END" of that level and closes it. The log must outlive the guard.
  template <class... A>
  void StartTitle(ZorLock* guard, const char* label, const char* pattern, A... args) {
    _startTitle(guard, label, pattern, ZorFormArgs::Of(args...));
  }
  // An error line; unless err is (1, 1004) it carries the options LogErrCode
  // (the code in decimal) and LogErrCodeLib (its text).
  template <class... A>
  void WriteErr(const char* label, int64_t err, const char* pattern, A... args) {
    _writeErr(label, err, pattern, ZorFormArgs::Of(args...));
  }
  // An error line for an exception: options LogErrCode, LogSrcLine,
  // LogSrcFile and LogSrcPath (when the exception has a path), label
  // "Exception", text "<code's text>: <message>".
  void WriteErr(const ZorException* e);
  template <class... A>
  void WriteWarn(const char* label, const char* pattern, A... args) {
    _Write('W', label, pattern, ZorFormArgs::Of(args...));
  }
  template <class... A>
  void WriteNote(const char* label, const char* pattern, A... args) {
    _Write('N', label, pattern, ZorFormArgs::Of(args...));
  }
  template <class... A>
  void WriteDebug(const char* label, const char* pattern, A... args) {
    _Write('D', label, pattern, ZorFormArgs::Of(args...));
  }
  // Pending options for the next line: LogSrcLine (line != 0), LogSrcFile,
  // LogSrcFn (non-empty texts), LogSrcPath (an initialised path).
  void AddErrLineInfo(uint32_t line, const char* file, const char* function, const ZorFsa* path);

  // ------------------------------------------------------------ options
  // A persistent option (written on every line); a null value removes it.
  void SetOptionPerm(const char* name, const string* value);
  // A flag option for the next line only: true adds it, false removes it.
  void SetOptionLine(const char* name, bool on);
  // A valued option for the next line only; a null value removes it.
  void SetOptionLine(const char* name, const char* value);
  const char* GetOptPermStr() const;
  const char* GetOptLineStr() const;

  // ------------------------------------------------------------ size and content
  // Sets the automatic purge limit (0: none) and returns the previous one;
  // 0x7FFFFFFF only reads it.
  uint32_t SetAutoPurge(uint32_t limit);
  // Keeps at most the last `keep` bytes of the file, from the first line
  // start at or after that point: the kept tail is moved to the start of the
  // file and the file is cut after it. A tail without any line start leaves
  // the file empty; a file of at most `keep` bytes is left as it is.
  void Clear(uint32_t keep);
  // An option string with Path (display form), Size (bytes), NbLin (line
  // ends) and NbChar (bytes other than CR and LF).
  const char* GetLogInfo(string* dst);
  // The whole file as text.
  const char* GetLogContent(string* dst);
  // Shows the file's content (or, with infoOnly, its information) in a
  // message box; `wait` is accepted for compatibility (boxes always wait).
  void Display(bool infoOnly, bool wait);
  // Copies the log's path into dst (uninitialised when the log is not).
  void GetFsa(ZorFsa* dst) const;
  int32_t GetTitleLevel() const;

  // ------------------------------------------------------------ shared logs
  // The process-wide standard log, opened on first use at the well-known
  // path ZorKFsaStdLog; null when it does not exist yet and `create` is
  // false. Opening raises the stream's errors. The object lives until
  // S_CloseStdLog or the end of the process.
  static ZorWLog* S_GetStdLog(bool create);
  // Closes and forgets the standard log (the next S_GetStdLog opens it again).
  static void S_CloseStdLog();
  // The standard log when the global flag ZorGlobFramLog is set, else null;
  // a failure to open it gives null (in safe mode after showing it).
  static ZorWLog* _S_GetFramLog();
  // An error line in that log, when there is one.
  template <class... A>
  static void S_FramLogErr(const char* label, int64_t err, const char* pattern, A... args) {
    _framLogErrArgs(label, err, pattern, ZorFormArgs::Of(args...));
  }
  static void S_FramLogErr(const ZorException* e);

 private:
  // What the templates above call, their arguments counted.
  void _Write(char kind, const char* label, const char* pattern, const ZorFormArgs& args);
  void _startTitle(ZorLock* guard, const char* label, const char* pattern, const ZorFormArgs& args);
  void _writeErr(const char* label, int64_t err, const char* pattern, const ZorFormArgs& args);
  static void _framLogErrArgs(const char* label, int64_t err, const char* pattern, const ZorFormArgs& args);

  // The log's state and its line writing (foundation/errors/log_file.cpp).
  struct Rep;
  Rep* _rep;  // owned, for the object's whole life
};

}  // namespace zorvane
