// ZorFileCheckSum: the digest of a file or a tree, computed in steps.
//
// The work runs in three phases, each made of small steps so that DoIdle can
// stop after any of them:
//   scan  (trees only) one entry of ZorFsaScan per step; the files found are
//         listed with their sizes, so that the hashing phase knows how much
//         it has to read (progress in bytes) before it starts;
//   hash  one step opens the next file and adds its name and size to the
//         digest, or reads one block of kBlockSize bytes of the open file;
//   done  the digest and the time stamp are kept.
// At most one file is open at a time; its stream belongs to the guard in the
// work record. The read buffer lives in the work record too: nothing is
// allocated per block.
//
// Progress units are bytes read, or one per file when no content is read.
#include <zorvane/file_checksum.h>

#include <zorvane/date.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/file_commands.h>
#include <zorvane/md5.h>
#include <zorvane/progress.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>

#include "foundation/files/file_args.h"
#include "platform/env.h"
#include "platform/host.h"
#include "platform/little_endian.h"
#include "platform/ticks.h"

#include <cstdlib>
#include <vector>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorFileCheckSum";
constexpr int32_t kTextGroup = 104;
constexpr int32_t kOneCallText = 350;
constexpr int32_t kProgressTitle = 351;
constexpr uint32_t kSliceMs = 50;          // CalcCheckSum's idle slice
constexpr uint32_t kMaxCheckSumFile = 1u << 20;

struct FileEntry {
  ZorFsa path;
  string name;   // what the digest holds as the file's name
  int64_t size;  // as the file system reported it before hashing
};

enum class Phase { kScan, kHash, kDone };

[[noreturn]] void Raise(uint32_t line, int32_t number) {
  throw ZorEBasic(kSource, line, 1, ZorErr(1, number), static_cast<const char*>(nullptr), nullptr);
}

bool IsDirectory(const ZorFsa* path) {
  ZorFsaCmd cmd(path, ZorFsaCmdQuiet);
  return cmd.IsDir();
}

void WriteText(const ZorFsa* file, const string& text) {
  ZorFsaCmd cmd(file);
  cmd.Create_File(ZorFsaCreateAlways);
  ZorLock guard;
  iZorStream* s = ZorOpenStream(file, ZorPermReadWrite | ZorShareExclusive, &guard, 0);
  ZorWriteString(s, text.CStr(), static_cast<int32_t>(text.Len()));
  ZorWriteString(s, "\n", 1);
}

bool ReadText(const ZorFsa* file, string* dst) {
  dst->Clear();
  ZorLock guard;
  iZorStream* s = ZorOpenStream(file, ZorPermRead | ZorShareRead, &guard, ZorStmNoRaise);
  if (!s) return false;
  const uint64_t size = s->GetSize();
  ZorHandle h;
  const int32_t n = ZorReadHandle(s, &h, 0, static_cast<int32_t>(size < kMaxCheckSumFile ? size : kMaxCheckSumFile));
  if (n > 0) dst->Assign(static_cast<const char*>(h.GetDatas()), n);
  dst->Trim(0, '\n');
  dst->Trim(0, '\r');
  return true;
}

}  // namespace

struct ZorFileCheckSum::Work {
  ZorFsa path;
  ZorFsa checkSumFile;  // of a tree: left out of its own digest
  string options;
  bool isDir = false;
  bool noName = false, noContent = false, noSize = false, noCancel = false;
  bool calcCalled = false;

  Phase phase = Phase::kHash;
  ZorFsaScan scan;
  std::vector<FileEntry> files;
  size_t next = 0;  // the next file of `files` to start
  ZorLock guard;    // owns `stream`
  iZorStream* stream = nullptr;

  ZorMD5 md5;
  uint8_t digest[ZorMD5::kDigestSize] = {};
  int32_t nbFile = 0;
  int64_t units = 0;       // progress units done
  int64_t totalUnits = 0;  // known once the scan is over
  date genDate;
  uint8_t block[kBlockSize];

  void Step();
  void ScanOne();
  void StartFile();
  void ReadBlock();
  void CloseFile();
  void Finish();
  void AddSize(uint64_t size);
  void AddFile(const ZorFsa& p, const char* name, int64_t size);
};

void ZorFileCheckSum::Work::Step() {
  if (phase == Phase::kScan) return ScanOne();
  if (stream) return ReadBlock();
  if (next < files.size()) return StartFile();
  Finish();
}

void ZorFileCheckSum::Work::AddFile(const ZorFsa& p, const char* name, int64_t size) {
  files.push_back(FileEntry{p, string(name), size});
  totalUnits += noContent ? 1 : size;
}

void ZorFileCheckSum::Work::ScanOne() {
  ZorFsa p;
  if (!scan.Next(&p)) {
    scan.Trash();
    phase = Phase::kHash;
    return;
  }
  if (scan.IsDir()) return;
  if (p == checkSumFile) return;
  string rel;
  AddFile(p, scan.GetRelPath(&rel), scan.GetSize());
}

void ZorFileCheckSum::Work::AddSize(uint64_t size) {
  if (noSize) return;
  uint8_t le[8];
  platform::PutLE64(le, size);
  md5.Update(le, sizeof le);
}

void ZorFileCheckSum::Work::StartFile() {
  const FileEntry& e = files[next++];
  ++nbFile;
  if (!noName) md5.Update(e.name.CStr(), e.name.Len());
  if (noContent) {
    AddSize(static_cast<uint64_t>(e.size));
    ++units;
    return;
  }
  iZorStream* s = ZorOpenStream(&e.path, ZorPermRead | ZorShareRead, &guard, ZorStmNoRaise);
  if (!s) return AddSize(0);
  AddSize(s->GetSize());
  const int32_t fd = s->Command(ZorStmCmdGetDescriptor, nullptr, nullptr, nullptr, nullptr);
  // The stream asked for random access; it opened fd through the current environment.
  if (fd >= 0) platform::CurrentEnv().Advise(fd, 0, 0, platform::Advice::kSequential);
  stream = s;
}

void ZorFileCheckSum::Work::ReadBlock() {
  const uint32_t got = stream->Read(block, kBlockSize);
  md5.Update(block, got);
  units += got;
  if (got < kBlockSize) CloseFile();
}

void ZorFileCheckSum::Work::CloseFile() {
  stream = nullptr;
  guard.Trash();
}

void ZorFileCheckSum::Work::Finish() {
  md5.Final(digest);
  genDate.Today(true);
  phase = Phase::kDone;
}

// ---------------------------------------------------------------- life

ZorFileCheckSum::ZorFileCheckSum() = default;
ZorFileCheckSum::~ZorFileCheckSum() = default;

void ZorFileCheckSum::Init(const ZorFsa* path, bool isDir, const char* options) {
  auto w = std::make_unique<Work>();
  w->path = files::RequirePath(path, kSource, __LINE__, "ZorFileCheckSum::Init(path)");
  w->options = options;
  w->noName = ZorGetStrOptBool(options, "NoFileName");
  w->noContent = ZorGetStrOptBool(options, "NoContent");
  w->noSize = ZorGetStrOptBool(options, "NoSize");
  w->noCancel = ZorGetStrOptBool(options, "NoCancel");
  w->isDir = ZorGetStrOptBool(options, "AutoDetect") ? IsDirectory(path) : isDir;
  if (w->isDir) {
    S_GetCheckSumFile(path, true, &w->checkSumFile);
    w->scan.Init(path, ZorFsaScanRecurse | ZorFsaScanHidden);
    w->phase = Phase::kScan;
  } else {
    ZorFsaCmd cmd(path, ZorFsaCmdQuiet);
    string name;
    w->AddFile(*path, path->GetName(&name), cmd.GetLogSize());
  }
  _work = std::move(w);
}

bool ZorFileCheckSum::IsInit() const { return _work != nullptr; }

void ZorFileCheckSum::Trash() { _work.reset(); }

bool ZorFileCheckSum::IsDir() const { return _work && _work->isDir; }

const ZorFsa* ZorFileCheckSum::GetFsa() const { return _work ? &_work->path : nullptr; }

int32_t ZorFileCheckSum::GetNbFile() const { return _work ? _work->nbFile : 0; }

// ---------------------------------------------------------------- computing

bool ZorFileCheckSum::DoIdle(uint32_t ms) {
  if (!_work) return false;
  Work& w = *_work;
  const uint32_t start = platform::TickCount();
  while (w.phase != Phase::kDone) {
    w.Step();
    if (platform::TickCount() - start >= ms) break;
  }
  return w.phase == Phase::kDone;
}

bool ZorFileCheckSum::IsDone() const { return _work && _work->phase == Phase::kDone; }

namespace {

// Ends the display however the loop leaves.
struct ProgressScope {
  ZorProgress* p;
  ~ProgressScope() { p->End(); }
};

}  // namespace

void ZorFileCheckSum::CalcCheckSum(bool showProgress, ZorProgress* display) {
  if (!_work) Raise(__LINE__, 12);
  Work& w = *_work;
  if (w.calcCalled) throw ZorEBasic(kSource, __LINE__, ZorErr(1, 23), 1, kTextGroup, kOneCallText);
  w.calcCalled = true;
  ZorProgress headless;
  ZorProgress* p = showProgress && display ? display : &headless;
  string title, where;
  title.Format(1, kTextGroup, kProgressTitle, w.path.GetPath(ZorFsaPathDisplay, &where));
  p->Begin(title.CStr(), w.phase == Phase::kScan ? 0 : w.totalUnits, !w.noCancel);
  ProgressScope scope{p};
  int64_t shown = w.units;
  // Shows the units done since the last call; true when the user cancels.
  auto show = [&]() {
    if (p->GetTotal() == 0 && w.phase != Phase::kScan) p->SetTotal(w.totalUnits);
    const bool cancel = p->Step(w.units - shown);
    shown = w.units;
    return cancel;
  };
  do {
    if (show()) ZorProgress::S_RaiseCancel(kSource, __LINE__);
  } while (!DoIdle(kSliceMs));
  show();
}

const char* ZorFileCheckSum::GetCheckSum(string* dst, bool full) {
  files::NonNull(dst, kSource, __LINE__, "ZorFileCheckSum::GetCheckSum(dst)");
  if (!_work) return dst->Clear();
  while (!DoIdle(1000)) {
  }
  const Work& w = *_work;
  string hex;
  ZorMD5::S_ToHex(w.digest, &hex);
  if (!full) return dst->Assign(hex);
  string text, value;
  ZorAddStrOpt(&text, "ChkSum", hex.CStr());
  ZorAddStrOpt(&text, "GenDate", w.genDate.ToTimeStampStr(&value));
  ZorAddStrOptLong(&text, "NbFile", w.nbFile);
  ZorAddStrOpt(&text, "Mach", ZorDecodefromUTF8(platform::MachineName().c_str(), &value));
  ZorAddStrOpt(&text, "User", ZorDecodefromUTF8(platform::UserName().c_str(), &value));
  ZorAddStrOpt(&text, "OrgOptions", w.options.CStr());
  ZorAddStrOpt(&text, w.isDir ? "OrgDirPath" : "OrgFilePath", w.path.GetPath(ZorFsaPathSys, &value));
  ZorAddStrOpt(&text, "Version", ZOR_VERSION);
  return dst->Assign(text);
}

// ---------------------------------------------------------------- checksum files

void ZorFileCheckSum::S_GetCheckSumFile(const ZorFsa* path, bool isDir, ZorFsa* dst) {
  files::RequirePath(path, kSource, __LINE__, "ZorFileCheckSum::S_GetCheckSumFile(path)");
  files::NonNull(dst, kSource, __LINE__, "ZorFileCheckSum::S_GetCheckSumFile(dst)");
  if (isDir) return dst->InitFromParent(path, kCheckSumFileName);
  string name;
  path->GetName(&name);
  name += kCheckSumFileExt;
  *dst = *path;
  dst->Rename(name.CStr());
}

void ZorFileCheckSum::GenCheckSumFile() {
  if (!_work) Raise(__LINE__, 12);
  string text;
  GetCheckSum(&text, true);
  ZorFsa file;
  S_GetCheckSumFile(&_work->path, _work->isDir, &file);
  WriteText(&file, text);
}

bool ZorFileCheckSum::ReadCheckSumFile(string* dst) const {
  files::NonNull(dst, kSource, __LINE__, "ZorFileCheckSum::ReadCheckSumFile(dst)");
  dst->Clear();
  if (!_work) return false;
  ZorFsa file;
  S_GetCheckSumFile(&_work->path, _work->isDir, &file);
  return ReadText(&file, dst);
}

void ZorFileCheckSum::S_GenCheckSum(const ZorFsa* path, const char* options, bool showProgress,
                                   ZorProgress* display) {
  ZorFileCheckSum sum;
  sum.Init(path, IsDirectory(path), options);
  sum.CalcCheckSum(showProgress, display);
  sum.GenCheckSumFile();
}

bool ZorFileCheckSum::S_CheckCheckSum(const ZorFsa* path, bool showProgress, ZorProgress* display) {
  string stored, options, expected, actual;
  if (!S_GetInfo(path, &stored)) return false;
  ZorGetStrOpt(stored.CStr(), "OrgOptions", &options);
  if (!ZorGetStrOpt(stored.CStr(), "ChkSum", &expected)) return false;
  ZorFileCheckSum sum;
  sum.Init(path, IsDirectory(path), options.CStr());
  sum.CalcCheckSum(showProgress, display);
  return ZorStrIEq(sum.GetCheckSum(&actual, false), expected.CStr());
}

bool ZorFileCheckSum::S_GetInfo(const ZorFsa* path, string* dst) {
  files::RequirePath(path, kSource, __LINE__, "ZorFileCheckSum::S_GetInfo(path)");
  files::NonNull(dst, kSource, __LINE__, "ZorFileCheckSum::S_GetInfo(dst)");
  ZorFsa file;
  S_GetCheckSumFile(path, IsDirectory(path), &file);
  return ReadText(&file, dst);
}

}  // namespace zorvane
