// The log file: quoting, lines byte for byte in fixed-date mode, options,
// title guards, the purge of a large log, re-initialisation and the shared
// standard log.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "support/recording_ui.h"
#include "support/temp_files.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

using namespace zorvane;
using zortest::ReadFile;

namespace {

const std::string kStamp = "01/04/2066 03:04:05";

std::string Quote(const char* src) {
  string dst;
  return ZorStrQuote(&dst, src);
}

// The pieces of text between separators; for lines, nothing may follow the last CR LF.
std::vector<std::string> Split(const std::string& text, const std::string& sep = "\t") {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end; (end = text.find(sep, start)) != std::string::npos; start = end + sep.size())
    pieces.push_back(text.substr(start, end - start));
  if (sep == "\t") pieces.push_back(text.substr(start));
  EXPECT_TRUE(sep == "\t" || start == text.size()) << "text after the last CR LF";
  return pieces;
}

// Reads back one field written by ZorStrQuote (a field without TAB inside).
std::string Unquote(const std::string& field) {
  if (field.size() < 2 || field.front() != '"' || field.back() != '"') return field;
  std::string out;
  for (size_t i = 1; i + 1 < field.size(); ++i) {
    out += field[i];
    if (field[i] == '"') ++i;
  }
  return out;
}

// The options of a line: the field after the text, starting with a space.
std::string OptionsOf(const std::string& line) {
  const auto fields = Split(line);
  if (fields.size() < 5) return "";
  EXPECT_EQ(fields[4].substr(0, 1), " ");
  return Unquote(fields[4].substr(1));
}

std::string Opt(const std::string& options, const char* name) {
  string value;
  if (!ZorGetStrOpt(options.c_str(), name, &value)) return "<absent>";
  return value.CStr();
}

class LogTest : public ::testing::Test {
 protected:
  std::string FilePath(const char* name) const { return _tmp.File(name); }
  ZorFsa Fsa(const char* name) const { return ZorFsa(FilePath(name).c_str()); }
  void Open(ZorWLog* log, const char* name = "a.log", uint32_t flags = ZorWLogFixedDate) const {
    const ZorFsa path = Fsa(name);
    log->Init(&path, flags);
  }
  std::string Content(const char* name = "a.log") const { return ReadFile(FilePath(name)); }
  std::vector<std::string> Lines(const char* name = "a.log") const { return Split(Content(name), "\r\n"); }
  void Put(const char* name, const std::string& data) const { _tmp.Make(name, data); }

  zortest::TempDir _tmp;
  ZorWLog _log;
};

}  // namespace

TEST(StrQuote, TrimsThenQuotesOnlyWhatASeparatedFieldCannotHold) {
  const std::pair<const char*, const char*> cases[] = {
      {"ok", "ok"},           {"  two words  ", "two words"}, {"say \"hi\"", "say \"hi\""},
      {"", "\"\""},           {"   ", "\"\""},                {nullptr, "\"\""},
      {"a\tb", "\"a\tb\""},   {"l1\nl2", "\"l1\nl2\""},     {"bell\x07", "\"bell\x07\""},
      {"caf\xE9", "\"caf\xE9\""}, {" \"q\"\t ", "\"\"\"q\"\"\t\""}, {"\t", "\"\t\""},
  };
  for (const auto& [src, quoted] : cases) EXPECT_EQ(Quote(src), quoted) << (src ? src : "(null)");
  string dst;
  EXPECT_STREQ(ZorStrQuote(&dst, "a;b", ';', '\n'), "\"a;b\"");
  EXPECT_STREQ(ZorStrQuote(&dst, "a|b", '\t', '\n', "|#"), "\"a|b\"");
  EXPECT_STREQ(ZorStrQuote(&dst, " caf\xE9 ", '\t', '\n', nullptr, false, false), " caf\xE9 ");
}

TEST_F(LogTest, EveryKindInFixedDateModeByteForByte) {
  Open(&_log);
  _log.WriteNote("Db", "ok");
  _log.WriteTitle("Section", nullptr);
  _log.WriteWarn("", "no label");
  _log.WriteDebug("x=^0i", "v=^0i", 42);  // the label is not a pattern
  _log.WriteErr("Save", ZorErr(1, 1004), "failed ^0s", "twice");
  _log.WriteNote("tab\there", "text \"q\"");
  _log.WriteNote(nullptr, "caf\xE9");
  _log.WriteWarn("H", "H=^0s ^1i", "x");  // a placeholder past the arguments stays as written
  const std::string expected = kStamp + "\tN\tDb\tok\r\n" +
                               kStamp + "\tT\tSection\r\n" +
                               kStamp + "\tW\t\tno label\r\n" +
                               kStamp + "\tD\tx=^0i\tv=42\r\n" +
                               kStamp + "\tE\tSave\tfailed twice\r\n" +
                               kStamp + "\tN\t\"tab\there\"\ttext \"q\"\r\n" +
                               kStamp + "\tN\t\t\"caf\xE9\"\r\n" +
                               kStamp + "\tW\tH\tH=x ^1i\r\n";
  EXPECT_EQ(Content(), expected);
}

TEST_F(LogTest, OptionsPersistentFirstThenPendingOnesForOneLine) {
  Open(&_log);
  const string user("anna"), hot("\xE9t\xE9 \"chaud\"");
  _log.SetOptionPerm("User", &user);
  _log.WriteNote(nullptr, nullptr);  // the options follow an empty text field
  const std::string perm = _log.GetOptPermStr();
  _log.SetOptionLine("Once", true);
  _log.SetOptionLine("Step", "3");
  _log.SetOptionLine("Dropped", "x");
  _log.SetOptionLine("Dropped", nullptr);
  _log.WriteNote("first", nullptr);
  EXPECT_STREQ(_log.GetOptLineStr(), "");
  _log.SetOptionPerm("Season", &hot);  // quoted as one field
  _log.WriteNote("second", "t");
  _log.SetOptionPerm("User", nullptr);
  _log.SetOptionPerm("Season", nullptr);
  _log.WriteNote("third", nullptr);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kStamp + "\tN\t\t\t " + perm);
  const std::string first = OptionsOf(lines[1]);
  EXPECT_EQ(first.find("User"), first.find_first_not_of(" -"));  // persistent ones lead
  EXPECT_EQ(Split(lines[2])[4].substr(0, 2), " \"");
  const std::tuple<size_t, const char*, std::string> options[] = {
      {1, "Once", ""},         {1, "Step", "3"},    {1, "Dropped", "<absent>"},
      {2, "Once", "<absent>"}, {2, "User", "anna"}, {2, "Season", hot.CStr()}};
  for (const auto& [i, name, value] : options) EXPECT_EQ(Opt(OptionsOf(lines[i]), name), value) << i << name;
  EXPECT_EQ(lines[3], kStamp + "\tN\tthird");
}

TEST_F(LogTest, ErrorLinesCarryTheCodeTheSourceAndThePath) {
  Open(&_log);
  _log.WriteErr("Load", ZorErr(1, 23), "bad ^0i", 7);
  const ZorFsa concerned("/data/books.dat");
  const ZorEBasic e("dir\\ZorBooks", 321, 1, ZorErr(1, 18), "past the end", &concerned);
  _log.WriteErr(&e);
  _log.AddErrLineInfo(12, "", "Run", nullptr);
  _log.WriteNote("info", nullptr);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  // The code's text has an accented letter, so the options field is quoted.
  const std::string head = kStamp + "\tE\tLoad\tbad 7\t \"";
  EXPECT_EQ(lines[0].substr(0, head.size()), head);
  string text, internal;
  const auto fields = Split(lines[1]);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[2], "Exception");
  EXPECT_EQ(Unquote(fields[3]), std::string(ZorErrToString(ZorErr(1, 18), &text)) + ": past the end");
  const std::tuple<size_t, const char*, std::string> options[] = {
      {0, "LogErrCode", std::to_string(ZorErr(1, 23))}, {0, "LogErrCodeLib", ZorErrToString(ZorErr(1, 23), &text)},
      {1, "LogErrCode", std::to_string(ZorErr(1, 18))}, {1, "LogErrCodeLib", "<absent>"}, {1, "LogSrcLine", "321"},
      {1, "LogSrcFile", "dir\\ZorBooks"}, {1, "LogSrcPath", concerned.GetPath(ZorFsaPathInternal, &internal)},
      {2, "LogSrcLine", "12"}, {2, "LogSrcFn", "Run"}, {2, "LogSrcFile", "<absent>"}, {2, "LogSrcPath", "<absent>"}};
  for (const auto& [i, name, value] : options) EXPECT_EQ(Opt(OptionsOf(lines[i]), name), value) << i << name;
}

TEST_F(LogTest, CurrentTimeStampIsNowInLocalTime) {
  Open(&_log, "a.log", 0);
  const std::time_t before = std::time(nullptr);
  _log.WriteNote("now", nullptr);
  const std::time_t after = std::time(nullptr);
  const std::string line = Lines()[0];
  std::tm tm{};
  ASSERT_NE(strptime(line.c_str(), "%d/%m/%Y %H:%M:%S", &tm), nullptr) << line;
  tm.tm_isdst = -1;
  const std::time_t stamp = std::mktime(&tm);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(line.substr(19), "\tN\tnow");
}

TEST_F(LogTest, TitleGuardsOpenAndCloseLevels) {
  Open(&_log);
  {
    ZorLock outer;
    _log.StartTitle(&outer, "Import", "^0i files", 2);
    EXPECT_EQ(_log.GetTitleLevel(), 1);
    {
      ZorLock inner;
      _log.StartTitle(&inner, "File", nullptr);
      EXPECT_EQ(_log.GetTitleLevel(), 2);
      _log.WriteNote("row", nullptr);
    }
    EXPECT_EQ(_log.GetTitleLevel(), 1);
    ZorLock moved(std::move(outer));  // a moved guard releases once, from its new owner
  }
  EXPECT_EQ(_log.GetTitleLevel(), 0);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  const char* labels[] = {"Import", "File", "row", "END", "END"};
  const char* levels[] = {"1", "2", "<absent>", "2", "1"};
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto fields = Split(lines[i]);
    EXPECT_EQ(fields[1], i == 2 ? "N" : "T") << i;
    EXPECT_EQ(fields[2], labels[i]) << i;
    EXPECT_EQ(Opt(OptionsOf(lines[i]), "LogTitleLevel"), levels[i]) << i;
  }
  EXPECT_EQ(Split(lines[0])[3], "2 files");

  // Out of order, the outer guard closing first: never below zero.
  ZorLock a, b;
  _log.StartTitle(&a, "A", nullptr);
  _log.StartTitle(&b, "B", nullptr);
  a.Trash();
  EXPECT_EQ(_log.GetTitleLevel(), 0);
  b.Trash();
  EXPECT_EQ(_log.GetTitleLevel(), 1);  // back to the level below B's
  EXPECT_EQ(Opt(OptionsOf(Lines().back()), "LogTitleLevel"), "0");
}

TEST_F(LogTest, ClearKeepsTheTailFromALineStart) {
  Open(&_log, "a.log", ZorWLogFixedDate | ZorWLogNoPurge);
  _log.Clear(10);  // empty file: nothing to do
  EXPECT_EQ(Content(), "");
  Put("a.log", "aaaa\nbbbb\ncccc\n");
  _log.Clear(100);
  EXPECT_EQ(Content(), "aaaa\nbbbb\ncccc\n");
  _log.Clear(10);  // exactly at a line start: that line is kept
  EXPECT_EQ(Content(), "bbbb\ncccc\n");
  _log.Clear(7);
  EXPECT_EQ(Content(), "cccc\n");
  Put("a.log", "one long line without end");
  _log.Clear(5);
  EXPECT_EQ(Content(), "");
  _log.WriteNote("n", nullptr);
  EXPECT_EQ(Content(), kStamp + "\tN\tn\r\n");
  string info, content;
  EXPECT_EQ(std::string(_log.GetLogContent(&content)), Content());
  const std::string opts = _log.GetLogInfo(&info);
  EXPECT_EQ(Opt(opts, "Size"), std::to_string(Content().size()));
  EXPECT_EQ(Opt(opts, "NbLin"), "1");
  EXPECT_EQ(Opt(opts, "NbChar"), std::to_string(Content().size() - 2));

  // The limit: set, read back, and off with 0. Past it the log keeps its
  // last two thirds from a line start before the next line.
  EXPECT_EQ(_log.SetAutoPurge(0x7FFFFFFF), 0u);
  EXPECT_EQ(_log.SetAutoPurge(100), 0u);
  EXPECT_EQ(_log.SetAutoPurge(0x7FFFFFFF), 100u);
  Put("a.log", std::string(40, 'x') + "\r\n" + std::string(70, 'y') + "\r\n");
  _log.WriteNote("n", nullptr);  // 114 bytes > 100: keeps the last 76, from a line start
  EXPECT_EQ(Content(), std::string(70, 'y') + "\r\n" + kStamp + "\tN\tn\r\n");
  EXPECT_EQ(_log.SetAutoPurge(0), 100u);
  const std::string before = Content();
  _log.WriteNote("m", nullptr);
  EXPECT_EQ(Content(), before + kStamp + "\tN\tm\r\n");
  ZorWLog other;
  Open(&other, "b.log");
  EXPECT_EQ(other.SetAutoPurge(0x7FFFFFFF), ZorWLog::kPurgeLimit);
}

TEST_F(LogTest, ReinitialisationAndTheUninitialisedLog) {
  Put("b.log", "kept\r\n");
  ZorLock guard;
  _log.WriteNote("n", nullptr);  // not initialised: nothing anywhere
  _log.WriteErr("e", ZorErr(1, 2), nullptr);
  _log.StartTitle(&guard, "t", nullptr);
  _log.Clear(0);
  EXPECT_FALSE(guard.IsInit());
  EXPECT_EQ(_log.GetTitleLevel(), 0);
  Open(&_log);
  const string v("1");
  _log.SetOptionPerm("P", &v);
  _log.SetOptionLine("L", true);
  Open(&_log, "b.log");
  EXPECT_STREQ(_log.GetOptPermStr(), "");
  EXPECT_STREQ(_log.GetOptLineStr(), "");
  _log.WriteNote("n", nullptr);
  EXPECT_EQ(Content("a.log"), "");
  EXPECT_EQ(Content("b.log"), "kept\r\n" + kStamp + "\tN\tn\r\n");

  Open(&_log, "b.log", ZorWLogFixedDate | ZorWLogReset);
  _log.WriteNote("fresh", nullptr);
  EXPECT_EQ(Content("b.log"), kStamp + "\tN\tfresh\r\n");
  ZorFsa got;
  _log.GetFsa(&got);
  EXPECT_EQ(got, Fsa("b.log"));
  _log.Trash();
  EXPECT_FALSE(_log.IsInit());
  _log.WriteNote("after trash", nullptr);
  EXPECT_EQ(Content("b.log"), kStamp + "\tN\tfresh\r\n");
  _log.GetFsa(&got);
  EXPECT_FALSE(got.IsInit());
}

TEST_F(LogTest, StandardLogAndFrameworkErrors) {
  ZorWLog::S_CloseStdLog();
  const ZorFsa stdPath = Fsa("std.log");
  ZorFsa::KRegister(ZorKFsaStdLog, &stdPath);
  const uint32_t savedFlags = ZorSetGlobalFlags(0, ZorGlobFramLog | ZorGlobSafeMode);

  EXPECT_EQ(ZorWLog::S_GetStdLog(false), nullptr);
  EXPECT_EQ(ZorWLog::_S_GetFramLog(), nullptr);  // flag off
  ZorWLog::S_FramLogErr("Ignored", ZorErr(1, 2), nullptr);
  ZorWLog* log = ZorWLog::S_GetStdLog(true);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ZorWLog::S_GetStdLog(false), log);
  ZorFsa got;
  log->GetFsa(&got);
  EXPECT_EQ(got, stdPath);

  ZorSetGlobalFlags(ZorGlobFramLog, ZorGlobFramLog);
  EXPECT_EQ(ZorWLog::_S_GetFramLog(), log);
  ZorWLog::S_FramLogErr("Frame", ZorErr(1, 2), "at ^0i%", 50);
  const auto lines = Split(ReadFile(FilePath("std.log")), "\r\n");
  ASSERT_EQ(lines.size(), 1u);
  const auto fields = Split(lines[0]);
  EXPECT_EQ(std::vector<std::string>(fields.begin() + 1, fields.begin() + 4),
            (std::vector<std::string>{"E", "Frame", "at 50%"}));
  EXPECT_EQ(Opt(OptionsOf(lines[0]), "LogErrCode"), std::to_string(ZorErr(1, 2)));

  // A standard log that cannot be opened: null, shown first in safe mode.
  ZorWLog::S_CloseStdLog();
  const ZorFsa badPath(FilePath("missing/std.log").c_str());
  ZorFsa::KRegister(ZorKFsaStdLog, &badPath);
  {
    zortest::RecordingUi ui;
    EXPECT_EQ(ZorWLog::_S_GetFramLog(), nullptr);
    EXPECT_TRUE(ui.boxes.empty());
    ZorSetGlobalFlags(ZorGlobSafeMode, ZorGlobSafeMode);
    EXPECT_EQ(ZorWLog::_S_GetFramLog(), nullptr);
    ASSERT_EQ(ui.boxes.size(), 2u);
    string safeText;
    EXPECT_EQ(ui.boxes[0].text, ZorLoadString(1, 991, 1, &safeText));
    EXPECT_NE(ui.boxes[0].text.find("Safe Mode"), std::string::npos);
  }

  ZorSetGlobalFlags(savedFlags, ZorGlobFramLog | ZorGlobSafeMode);
  ZorFsa::KUnRegister(ZorKFsaStdLog);
}
