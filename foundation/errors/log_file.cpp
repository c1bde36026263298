// The log file ZorWLog and the quoting rule of its fields.
//
// A log is an append-only text file of CR LF terminated lines (the layout is
// in zorvane/log_file.h). Its state lives in ZorWLog::Rep, which also writes
// the lines; ZorWLog's members work through it. Invariants kept by every
// member:
// - `_init` is true exactly while `_stream` is open (pinned once by
//   `_streamLock`); every write is a no-op otherwise.
// - Each line is built whole in memory and written at the current end of the
//   file in one Write, so a reader sharing the file never sees half a field.
// - The pending options `_optLine` belong to the next line: building a line
//   consumes them, whether or not the write then succeeds.
// - Before each line, a file larger than the purge limit is cut by Clear to
//   its last two thirds, from a line start (so it never starts mid-line).
// - `_titleLevel` counts the titles opened by StartTitle and not yet closed
//   by their guard; it never goes below 0.
//
// The standard log is one process-wide object created on first use under a
// mutex; it is never destroyed behind a caller's back except by
// S_CloseStdLog.
#include <zorvane/log_file.h>

#include <zorvane/date.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/file_commands.h>
#include <zorvane/global_flags.h>
#include <zorvane/stream.h>
#include <zorvane/ui.h>

#include "foundation/errors/raise.h"
#include "foundation/services/text_source.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorWLog";
constexpr const char* kStampPattern = "D'/'M'/'CY H':'I':'S";
constexpr uint32_t kMoveChunk = 100 * 1024;  // buffer of Clear's tail move
constexpr uint32_t kMaxKeep = 0x7FFFFFFF;
constexpr uint32_t kReadOnlyPurge = 0x7FFFFFFF;  // SetAutoPurge: only read the limit
constexpr int64_t kNoErrorCode = ZorErr(1, 1004);

// Texts of the log services in the catalogue.
constexpr int32_t kLogGroup = 991;
constexpr int32_t kSafeModeFramLog = 1;

bool NeedsQuotes(const char* p, const char* end, char sep, char eol, const char* special, bool highBytes) {
  for (; p < end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || *p == sep || *p == eol) return true;
    if (highBytes && c >= 0x80) return true;
    if (special && ZorStrChr(special, *p)) return true;
  }
  return false;
}

void StampOf(bool fixed, string* dst) {
  date when;
  if (fixed)
    when.Set(1, 4, 2066, nullptr, 3, 4, 5);
  else
    when.Today(true);
  when.Format(kStampPattern, dst);
}

// Joins two option strings with one space.
void JoinOptions(string* dst, const string& first, const string& second) {
  dst->Assign(first);
  if (!first.IsEmpty() && !second.IsEmpty()) *dst += ' ';
  *dst += second;
}

void ReadAt(iZorStream* s, uint64_t offset, void* buf, uint32_t n) {
  s->Seek(static_cast<int64_t>(offset), ZorSeekSet);
  s->Read(buf, n);
}

// The first line start at or after `from` (the size itself when none).
uint64_t NextLineStart(iZorStream* s, uint64_t from, uint64_t size) {
  if (from == 0) return 0;
  std::vector<char> buf(kMoveChunk);
  for (uint64_t pos = from - 1; pos < size;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMoveChunk, size - pos));
    ReadAt(s, pos, buf.data(), n);
    const char* lf = static_cast<const char*>(std::memchr(buf.data(), '\n', n));
    if (lf) return pos + static_cast<uint64_t>(lf - buf.data()) + 1;
    pos += n;
  }
  return size;
}

// Moves the bytes [from, size) to the start of the stream.
void MoveToStart(iZorStream* s, uint64_t from, uint64_t size) {
  std::vector<char> buf(kMoveChunk);
  for (uint64_t src = from, dst = 0; src < size;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMoveChunk, size - src));
    ReadAt(s, src, buf.data(), n);
    s->Seek(static_cast<int64_t>(dst), ZorSeekSet);
    s->Write(buf.data(), n);
    src += n;
    dst += n;
  }
}

// The file system side of Init: removal (on request) and creation.
void PrepareFile(const ZorFsa& path, bool reset) {
  ZorFsaCmd cmd(&path);
  if (reset) cmd.Remove();
  cmd.Create_File(ZorFsaOpenAlways);
}

std::mutex g_stdLogMutex;
ZorWLog* g_stdLog = nullptr;

}  // namespace

// The title guards call back the representation, which lives as long as
// the log.
struct ZorWLog::Rep {
  Rep() : _endTitle(ZorDelegate::Member<&Rep::_onEndTitle>(this)) {}

  void _writeLine(char kind, const char* label, const char* text);
  void _onEndTitle(int32_t level);
  void _purge();
  void Clear(uint32_t keep);
  void _append(const string& line);
  void _Close();

  bool _init = false;
  bool _fixedDate = false;
  bool _echo = false;
  string _optPerm;
  string _optLine;
  iZorStream* _stream = nullptr;
  ZorLock _streamLock;
  int32_t _titleLevel = 0;
  uint32_t _purgeLimit = kPurgeLimit;
  ZorFsa _path;
  ZorDelegate _endTitle;
};

// ---------------------------------------------------------------- quoting

const char* ZorStrQuote(string* dst, const char* src, char sep, char eol, const char* special, bool trim,
                        bool highBytes) {
  ZorNotNull(dst, kSource);
  const char* p = src ? src : "";
  const char* end = p + ZorStrLen(p);
  if (trim) {
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
  }
  if (p == end) return dst->Assign("\"\"");
  if (!NeedsQuotes(p, end, sep, eol, special, highBytes)) return dst->Assign(p, static_cast<int32_t>(end - p));
  string out("\"");
  for (; p < end; ++p) {
    if (*p == '"') out += '"';
    out += *p;
  }
  out += '"';
  *dst = std::move(out);
  return dst->CStr();
}

// ---------------------------------------------------------------- life

ZorWLog::ZorWLog() : _rep(new Rep) {}

ZorWLog::~ZorWLog() {
  Trash();
  delete _rep;
}

void ZorWLog::Init(const ZorFsa* path, uint32_t flags) {
  ZorNotNull(path, kSource);
  _rep->_optPerm.Clear();
  _rep->_optLine.Clear();
  _rep->_Close();
  _rep->_titleLevel = 0;
  _rep->_fixedDate = (flags & ZorWLogFixedDate) != 0;
  _rep->_echo = (flags & ZorWLogEcho) != 0;
  _rep->_purgeLimit = (flags & ZorWLogNoPurge) ? 0 : kPurgeLimit;
  _rep->_path = *path;
  PrepareFile(_rep->_path, (flags & ZorWLogReset) != 0);
  _rep->_stream = ZorOpenStream(&_rep->_path, ZorPermReadWrite | ZorShareReadWrite, &_rep->_streamLock, 0);
  _rep->_init = true;
}

void ZorWLog::Rep::_Close() {
  _init = false;
  _stream = nullptr;
  _streamLock.Trash();
}

void ZorWLog::Trash() {
  _rep->_Close();
  _rep->_optPerm.Clear();
  _rep->_optLine.Clear();
  _rep->_titleLevel = 0;
  _rep->_path.Trash();
}

bool ZorWLog::IsInit() const { return _rep->_init; }

// ---------------------------------------------------------------- writing

void ZorWLog::_Write(char kind, const char* label, const char* pattern, const ZorFormArgs& args) {
  if (!_rep->_init) return;
  string text;
  if (pattern) ZorFormStringArgs(&text, pattern, args);
  _rep->_writeLine(kind, label, text.CStr());
}

void ZorWLog::Rep::_writeLine(char kind, const char* label, const char* text) {
  if (!_init) return;
  string options;
  JoinOptions(&options, _optPerm, _optLine);
  _optLine.Clear();

  string line, quoted;
  StampOf(_fixedDate, &line);
  line += '\t';
  line += kind;
  line += '\t';
  if (!ZorStrIsEmpty(label)) line += ZorStrQuote(&quoted, label);
  if (!ZorStrIsEmpty(text)) {
    line += '\t';
    line += ZorStrQuote(&quoted, text);
  } else if (!options.IsEmpty()) {
    line += '\t';
  }
  if (!options.IsEmpty()) {
    line += "\t ";
    line += ZorStrQuote(&quoted, options.CStr());
  }
  if (_echo) ZorDebugPrintStr(line.CStr(), true);
  line += "\r\n";
  _purge();
  _append(line);
}

void ZorWLog::Rep::_append(const string& line) {
  _stream->Seek(0, ZorSeekEnd);
  _stream->Write(line.CStr(), line.Len());
}

void ZorWLog::Rep::_purge() {
  if (_purgeLimit == 0) return;
  const uint64_t size = _stream->GetSize();
  if (size <= _purgeLimit) return;
  Clear(static_cast<uint32_t>(std::min<uint64_t>(size / 3 * 2, kMaxKeep)));
}

void ZorWLog::_startTitle(ZorLock* guard, const char* label, const char* pattern, const ZorFormArgs& args) {
  if (!_rep->_init) return;
  ++_rep->_titleLevel;
  if (guard) guard->Init(&_rep->_endTitle, _rep->_titleLevel);
  ZorAddStrOptLong(&_rep->_optLine, "LogTitleLevel", _rep->_titleLevel);
  _Write('T', label, pattern, args);
}

// Runs from a guard's release, often in a destructor: a failure to write the
// END line is dropped rather than thrown out of it.
void ZorWLog::Rep::_onEndTitle(int32_t level) {
  const int32_t current = _titleLevel;
  _titleLevel = std::max(level - 1, 0);
  if (!_init) return;
  try {
    ZorAddStrOptLong(&_optLine, "LogTitleLevel", current);
    _writeLine('T', "END", nullptr);
  } catch (const ZorException&) {
  }
}

void ZorWLog::_writeErr(const char* label, int64_t err, const char* pattern, const ZorFormArgs& args) {
  if (!_rep->_init) return;
  if (err != kNoErrorCode) {
    string codeText;
    ZorAddStrOptQuad(&_rep->_optLine, "LogErrCode", err);
    ZorAddStrOpt(&_rep->_optLine, "LogErrCodeLib", ZorErrToString(err, &codeText));
  }
  _Write('E', label, pattern, args);
}

void ZorWLog::WriteErr(const ZorException* e) {
  if (!_rep->_init || !e) return;
  string codeText, msg;
  ZorAddStrOptQuad(&_rep->_optLine, "LogErrCode", e->GetError());
  AddErrLineInfo(e->GetLine(), e->GetFileText(), nullptr, e->GetFsa());
  WriteErr("Exception", kNoErrorCode, "^0s: ^1s", ZorErrToString(e->GetError(), &codeText), e->GetMsg(&msg));
}

void ZorWLog::AddErrLineInfo(uint32_t line, const char* file, const char* function, const ZorFsa* path) {
  if (line != 0) ZorAddStrOptLong(&_rep->_optLine, "LogSrcLine", static_cast<int32_t>(line));
  if (!ZorStrIsEmpty(file)) ZorAddStrOpt(&_rep->_optLine, "LogSrcFile", file);
  if (!ZorStrIsEmpty(function)) ZorAddStrOpt(&_rep->_optLine, "LogSrcFn", function);
  if (path && path->IsInit()) {
    string text;
    ZorAddStrOpt(&_rep->_optLine, "LogSrcPath", path->GetPath(ZorFsaPathInternal, &text));
  }
}

// ---------------------------------------------------------------- options

void ZorWLog::SetOptionPerm(const char* name, const string* value) {
  if (value)
    ZorAddStrOpt(&_rep->_optPerm, name, value->CStr());
  else
    ZorDelStrOpt(&_rep->_optPerm, name);
}

void ZorWLog::SetOptionLine(const char* name, bool on) { ZorAddStrOptBool(&_rep->_optLine, name, on); }

void ZorWLog::SetOptionLine(const char* name, const char* value) {
  if (value)
    ZorAddStrOpt(&_rep->_optLine, name, value);
  else
    ZorDelStrOpt(&_rep->_optLine, name);
}

const char* ZorWLog::GetOptPermStr() const { return _rep->_optPerm.CStr(); }
const char* ZorWLog::GetOptLineStr() const { return _rep->_optLine.CStr(); }

// ---------------------------------------------------------------- size and content

uint32_t ZorWLog::SetAutoPurge(uint32_t limit) {
  const uint32_t previous = _rep->_purgeLimit;
  if (limit != kReadOnlyPurge) _rep->_purgeLimit = limit;
  return previous;
}

void ZorWLog::Clear(uint32_t keep) { _rep->Clear(keep); }

void ZorWLog::Rep::Clear(uint32_t keep) {
  if (!_init) return;
  const uint64_t size = _stream->GetSize();
  if (size <= keep) return;
  const uint64_t from = NextLineStart(_stream, size - keep, size);
  MoveToStart(_stream, from, size);
  _stream->SetSize(size - from);
}

const char* ZorWLog::GetLogContent(string* dst) {
  ZorNotNull(dst, kSource);
  dst->Clear();
  if (!_rep->_init) return dst->CStr();
  const uint64_t size = _rep->_stream->GetSize();
  if (size >= 0x7FFFFFFF) ZorRaise(kSource, ZorErr(1, 1));
  char* p = dst->BufferAlloc(static_cast<int32_t>(size));
  ReadAt(_rep->_stream, 0, p, static_cast<uint32_t>(size));
  dst->BufferCalcLen();
  return dst->CStr();
}

const char* ZorWLog::GetLogInfo(string* dst) {
  ZorNotNull(dst, kSource);
  dst->Clear();
  if (!_rep->_init) return dst->CStr();
  string content, text;
  GetLogContent(&content);
  int32_t lines = 0, chars = 0;
  for (uint32_t i = 0; i < content.Len(); ++i) {
    if (content[i] == '\n')
      ++lines;
    else if (content[i] != '\r')
      ++chars;
  }
  ZorAddStrOpt(dst, "Path", _rep->_path.GetPath(ZorFsaPathDisplay, &text));
  ZorAddStrOptQuad(dst, "Size", static_cast<int64_t>(_rep->_stream->GetSize()));
  ZorAddStrOptLong(dst, "NbLin", lines);
  ZorAddStrOptLong(dst, "NbChar", chars);
  return dst->CStr();
}

void ZorWLog::Display(bool infoOnly, bool /*wait*/) {
  if (!_rep->_init) return;
  string text, title;
  if (infoOnly)
    GetLogInfo(&text);
  else
    GetLogContent(&text);
  ZorMessageBox(text.CStr(), _rep->_path.GetName(&title), ZorMbOk);
}

void ZorWLog::GetFsa(ZorFsa* dst) const {
  ZorNotNull(dst, kSource);
  if (_rep->_path.IsInit())
    *dst = _rep->_path;
  else
    dst->Trash();
}

int32_t ZorWLog::GetTitleLevel() const { return _rep->_titleLevel; }

// ---------------------------------------------------------------- shared logs

ZorWLog* ZorWLog::S_GetStdLog(bool create) {
  std::lock_guard<std::mutex> hold(g_stdLogMutex);
  if (g_stdLog || !create) return g_stdLog;
  ZorFsa path;
  if (!path.InitFromKFsa(ZorKFsaStdLog)) ZorRaise(kSource, ZorErr(1, 59));
  auto* log = new ZorWLog;
  try {
    log->Init(&path, 0);
  } catch (...) {
    delete log;
    throw;
  }
  g_stdLog = log;
  return g_stdLog;
}

void ZorWLog::S_CloseStdLog() {
  std::lock_guard<std::mutex> hold(g_stdLogMutex);
  delete g_stdLog;
  g_stdLog = nullptr;
}

ZorWLog* ZorWLog::_S_GetFramLog() {
  if (!ZorHasGlobalFlag(ZorGlobFramLog)) return nullptr;
  try {
    return S_GetStdLog(true);
  } catch (const ZorException& e) {
    if (ZorHasGlobalFlag(ZorGlobSafeMode)) {
      string text;
      ZorMessageBox(texts::Load(1, kLogGroup, kSafeModeFramLog, &text), "", ZorMbOk);
      e.Display();
    }
    return nullptr;
  }
}

void ZorWLog::_framLogErrArgs(const char* label, int64_t err, const char* pattern, const ZorFormArgs& args) {
  if (ZorWLog* log = _S_GetFramLog()) log->_writeErr(label, err, pattern, args);
}

void ZorWLog::S_FramLogErr(const ZorException* e) {
  if (ZorWLog* log = _S_GetFramLog()) log->WriteErr(e);
}

}  // namespace zorvane
