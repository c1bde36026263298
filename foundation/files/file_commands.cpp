// ZorFsaCmd: file-system commands on one path (see zorvane/file_commands.h).
//
// The object reads the file's state with one statx call the first time a
// question needs it and keeps it until RefreshState(); every command that
// changes the file drops it. Every system call goes through the current
// environment (platform/env.h); failures become ZorEBasic through the errno
// table of platform/os_error.h, with the path concerned and the source
// "ZorFiles". Copies go through copy_file_range (the kernel may share or
// clone the blocks) and fall back to read/write where it is refused; a copy
// that fails removes the partial target. Files are opened for their bytes
// only when they are regular ones (platform/file_system.h): a FIFO or a
// device is refused instead of blocking the copy. Unique names use upper-case
// letters and digits only and are checked back through the path tree, so
// that a directory that folds case never hands back another file of the same
// letters.
#include <zorvane/file_commands.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"
#include "foundation/files/file_args.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorFiles";
constexpr size_t kCopyBlock = 1 << 20;

// The environment of every system call here (one-shot calls: the current one).
platform::Env& SysEnv() { return platform::CurrentEnv(); }

// A missing directory on the way is "path not found" (3), not 2.
[[noreturn]] void Fail(int err, const ZorFsa* path, uint32_t line) {
  string sysPath;
  if (path) path->GetSysPath(&sysPath);
  ZorRaiseWinErr({kSource, line}, platform::WinErrFromErrnoAt(err, path ? sysPath.CStr() : nullptr), path);
}

[[noreturn]] void FailWin(uint32_t winErr, const ZorFsa* path, uint32_t line) {
  ZorRaiseWinErr({kSource, line}, winErr, path);
}

// The UTF-8 text of a path for the system calls; an unset path is refused
// rather than handed over as "".
struct SysPath {
  string text;
  explicit SysPath(const ZorFsa& path) {
    if (!path.IsInit()) files::RaiseEmptyPath(kSource, __LINE__);
    path.GetSysPath(&text);
  }
  const char* c_str() const { return text.CStr(); }
};

date LocalDate(int64_t seconds) {
  date d;
  d.SetUnixTS(seconds);
  d.UTCToLocalTime();
  return d;
}

// A local date as a system time (whole seconds).
struct timespec SysTime(const date& d) {
  struct timespec ts {};
  if (d.IsEmpty()) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  date utc = d;
  utc.LocalTimeToUTC();
  ts.tv_sec = static_cast<time_t>(utc.ToUnixTimeTS());
  return ts;
}

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  Fd() = default;
  ~Fd() {
    if (fd >= 0) SysEnv().Close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// Opens a regular file for its bytes (see the top of the file); raises
// what refuses it.
void OpenRegular(const ZorFsa& path, int flags, mode_t mode, Fd* fd, struct stat* st, uint32_t line) {
  uint32_t winErr = 0;
  fd->fd = platform::OpenRegularFile(SysEnv(), SysPath(path).c_str(), flags, mode, st, &winErr);
  if (fd->fd < 0) FailWin(winErr, &path, line);
}

bool IsDirectory(const ZorFsa& path) {
  struct stat st {};
  return SysEnv().PathStat(SysPath(path).c_str(), true, &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `dir` and the missing directories above it.
void MakeDirs(const ZorFsa& dir) {
  if (IsDirectory(dir)) return;
  ZorFsa parent;
  if (parent.InitFromChild(&dir)) MakeDirs(parent);
  const int err = SysEnv().MakeDir(SysPath(dir).c_str(), 0777);
  if (err && err != EEXIST) Fail(err, &dir, __LINE__);
}

void MakeParents(const ZorFsa& path) {
  ZorFsa parent;
  if (parent.InitFromChild(&path)) MakeDirs(parent);
}

// Removes the directory sysDir and everything in it, children first,
// without following symbolic links; the first error stops the walk.
int RemoveTreeAt(const std::string& sysDir) {
  platform::DirListing listing;
  if (const int err = SysEnv().ListDir(sysDir.c_str(), false, &listing)) return err;
  for (const platform::DirEntry& e : listing.entries) {
    const std::string child = sysDir + "/" + e.name;
    const int err = S_ISDIR(e.mode) ? RemoveTreeAt(child) : SysEnv().Unlink(child.c_str());
    if (err) return err;
  }
  return SysEnv().RemoveDir(sysDir.c_str());
}

void RemoveTree(const ZorFsa& dir) {
  if (const int err = RemoveTreeAt(SysPath(dir).c_str())) Fail(err, &dir, __LINE__);
}

// Copies the bytes of one open file into another; 0 or the error.
int CopyBytes(int from, int to) {
  platform::Env& env = SysEnv();
  for (;;) {
    size_t n = 0;
    const int err = env.CopyRange(from, to, kCopyBlock, &n);
    if (err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP) break;
    if (err) return err;
    if (n == 0) return 0;
  }
  static thread_local char buffer[1 << 16];
  for (;;) {
    size_t n = 0;
    if (const int err = env.Read(from, buffer, sizeof buffer, &n)) return err;
    if (n == 0) return 0;
    for (size_t done = 0; done < n;) {
      size_t w = 0;
      if (const int err = env.Write(to, buffer + done, n - done, &w)) return err;
      if (w == 0) return EIO;
      done += w;
    }
  }
}

void CopyFile(const ZorFsa& from, const ZorFsa& to, uint32_t flags) {
  Fd in, out;
  struct stat st {}, existing {};
  OpenRegular(from, O_RDONLY, 0, &in, &st, __LINE__);
  const int excl = (flags & ZorFsaCopyReplace) ? O_TRUNC : O_EXCL;
  const SysPath target(to);
  OpenRegular(to, O_WRONLY | O_CREAT | excl, st.st_mode & 07777, &out, &existing, __LINE__);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  int err = CopyBytes(in.fd, out.fd);
  if (!err) err = SysEnv().SetMode(target.c_str(), st.st_mode & 07777);
  if (!err) err = SysEnv().SetTimes(target.c_str(), times);
  if (err) {
    SysEnv().Unlink(target.c_str());
    Fail(err, &to, __LINE__);
  }
}

void CopyAny(const ZorFsa& from, const ZorFsa& to, uint32_t flags);

void CopyDir(const ZorFsa& from, const ZorFsa& to, uint32_t flags) {
  const int err = SysEnv().MakeDir(SysPath(to).c_str(), 0777);
  if (err && !(err == EEXIST && (flags & ZorFsaCopyReplace) && IsDirectory(to))) Fail(err, &to, __LINE__);
  ZorFsaScan scan;
  scan.Init(&from, ZorFsaScanDirs | ZorFsaScanHidden);
  ZorFsa entry;
  string name;
  while (scan.Next(&entry)) {
    entry.GetName(&name);
    CopyAny(entry, to / name, flags);
  }
}

void CopyAny(const ZorFsa& from, const ZorFsa& to, uint32_t flags) {
  if (IsDirectory(from)) {
    CopyDir(from, to, flags);
  } else {
    CopyFile(from, to, flags);
  }
}

// rename(2) that refuses to replace unless asked; 0 or the error.
int RenamePath(const ZorFsa& from, const ZorFsa& to, bool replace) {
  const SysPath a(from), b(to);
  return SysEnv().Rename(a.c_str(), b.c_str(), replace);
}

// Checks the arguments of a copy or move between two paths.
void CheckPair(const ZorFsa* from, const ZorFsa* to) {
  files::RequirePath(from, kSource, __LINE__, "ZorFsaCmd::Copy/Move/Rename(from)");
  files::RequirePath(to, kSource, __LINE__, "ZorFsaCmd::Copy/Move/Rename(to)");
  if (*from == *to || from->IsAncestor(to)) FailWin(platform::kWinErrInvalidParameter, from, __LINE__);
}

// Six characters from [0-9A-Z], different on every call.
void UniqueChars(char* dst) {
  static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  thread_local std::mt19937_64 rng(std::random_device{}() ^ static_cast<uint64_t>(getpid()));
  uint64_t v = rng();
  for (int i = 0; i < 6; ++i, v /= 36) dst[i] = kAlphabet[v % 36];
  dst[6] = 0;
}

}  // namespace

// ---------------------------------------------------------------- state

struct ZorFsaCmd::State {
  int err = 0;  // status of the statx call, 0 when the file exists
  struct statx st {};
};

ZorFsaCmd::ZorFsaCmd() = default;
ZorFsaCmd::ZorFsaCmd(const ZorFsa* path, int32_t flags) { Init(path, flags); }
ZorFsaCmd::~ZorFsaCmd() = default;

void ZorFsaCmd::Init(const ZorFsa* path, int32_t flags) {
  if (path) {
    _path = *path;
  } else {
    _path.Trash();
  }
  _flags = flags;
  _state.reset();
}

void ZorFsaCmd::Trash() { Init(nullptr, 0); }

void ZorFsaCmd::RefreshState() { _state.reset(); }

const ZorFsaCmd::State& ZorFsaCmd::_stat() {
  if (!_state) {
    auto s = std::make_unique<State>();
    s->err = _path.IsInit() ? SysEnv().PathStatX(SysPath(_path).c_str(), &s->st) : ENOENT;
    _state = std::move(s);
  }
  return *_state;
}

// Raises the state's error, unless the file is missing and the object quiet.
void ZorFsaCmd::_require(const State& s) {
  if (s.err == 0) return;
  if (!_path.IsInit()) files::RaiseEmptyPath(kSource, __LINE__);
  if ((_flags & ZorFsaCmdQuiet) && (s.err == ENOENT || s.err == ENOTDIR)) return;
  Fail(s.err, &_path, __LINE__);
}

// ---------------------------------------------------------------- questions

bool ZorFsaCmd::Exists() { return _stat().err == 0; }

bool ZorFsaCmd::IsDir() { return Exists() && S_ISDIR(_state->st.stx_mode); }

bool ZorFsaCmd::IsRdWr() { return _path.IsInit() && SysEnv().Access(SysPath(_path).c_str(), R_OK | W_OK) == 0; }

int64_t ZorFsaCmd::GetLogSize() {
  const State& s = _stat();
  _require(s);
  return s.err ? 0 : static_cast<int64_t>(s.st.stx_size);
}

int64_t ZorFsaCmd::GetPhysSize() {
  const State& s = _stat();
  _require(s);
  return s.err ? 0 : static_cast<int64_t>(s.st.stx_blocks) * 512;
}

bool ZorFsaCmd::GetCreation(date* dst) {
  files::NonNull(dst, kSource, __LINE__, "ZorFsaCmd::GetCreation(dst)");
  const State& s = _stat();
  _require(s);
  dst->Clear();
  if (s.err) return false;
  int64_t seconds = std::min(s.st.stx_ctime.tv_sec, s.st.stx_mtime.tv_sec);
  if (s.st.stx_mask & STATX_BTIME) seconds = s.st.stx_btime.tv_sec;
  *dst = LocalDate(seconds);
  return true;
}

bool ZorFsaCmd::GetModif(date* dst) {
  files::NonNull(dst, kSource, __LINE__, "ZorFsaCmd::GetModif(dst)");
  const State& s = _stat();
  _require(s);
  dst->Clear();
  if (s.err) return false;
  *dst = LocalDate(s.st.stx_mtime.tv_sec);
  return true;
}

uint64_t ZorFsaCmd::GetDiskFreeSpaceA() {
  ZorFsa at = _path;
  uint64_t bytes = 0;
  while (const int err = SysEnv().FreeSpaceAt(SysPath(at).c_str(), &bytes))
    if ((err != ENOENT && err != ENOTDIR) || !at.ChangeParent()) Fail(err, &_path, __LINE__);
  return bytes;
}

bool ZorFsaCmd::GetInfos(sZorFsaInfo* info) {
  *files::NonNull(info, kSource, __LINE__, "ZorFsaCmd::GetInfos(info)") = sZorFsaInfo();
  const State& s = _stat();
  _require(s);
  if (s.err) return false;
  const uint32_t mode = s.st.stx_mode;
  string name;
  if (S_ISDIR(mode)) info->attributes |= ZorFsaAttrDirectory;
  if ((mode & 0222) == 0) info->attributes |= ZorFsaAttrReadOnly;
  if (_path.GetName(&name)[0] == '.') info->attributes |= ZorFsaAttrHidden;
  if (info->attributes == 0) info->attributes = ZorFsaAttrNormal;
  info->logSize = s.st.stx_size;
  info->physSize = s.st.stx_blocks * 512;
  GetCreation(&info->creation);
  info->modification = LocalDate(s.st.stx_mtime.tv_sec);
  info->access = LocalDate(s.st.stx_atime.tv_sec);
  return true;
}

void ZorFsaCmd::SetInfos(const sZorFsaInfo* info) {
  files::NonNull(info, kSource, __LINE__, "ZorFsaCmd::SetInfos(info)");
  const SysPath path(_path);
  const State& s = _stat();
  if (s.err) Fail(s.err, &_path, __LINE__);
  const struct timespec times[2] = {SysTime(info->access), SysTime(info->modification)};
  if (const int err = SysEnv().SetTimes(path.c_str(), times)) Fail(err, &_path, __LINE__);
  // Read-only clears every write bit; clearing it gives the owner write back.
  const mode_t mode = s.st.stx_mode & 07777;
  const mode_t wanted = (info->attributes & ZorFsaAttrReadOnly) ? mode & ~0222 : ((mode & 0222) ? mode : mode | 0200);
  if (wanted != mode)
    if (const int err = SysEnv().SetMode(path.c_str(), wanted)) Fail(err, &_path, __LINE__);
  RefreshState();
}

// ---------------------------------------------------------------- commands

bool ZorFsaCmd::Create_File(int32_t creation) {
  const int32_t mode = creation & 0xFF;
  if (mode != ZorFsaCreateNew && mode != ZorFsaCreateAlways && mode != ZorFsaOpenAlways)
    FailWin(platform::kWinErrInvalidParameter, &_path, __LINE__);
  if (creation & ZorFsaCreateParents) MakeParents(_path);
  RefreshState();
  const SysPath path(_path);
  Fd created;
  const int err = SysEnv().Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666, &created.fd);
  if (!err) return true;
  if (err != EEXIST || mode == ZorFsaCreateNew) Fail(err, &_path, __LINE__);
  if (IsDir()) FailWin(platform::kWinErrAccessDenied, &_path, __LINE__);
  if (mode == ZorFsaCreateAlways) {
    Fd existing;
    struct stat st {};
    OpenRegular(_path, O_WRONLY | O_TRUNC, 0, &existing, &st, __LINE__);
    RefreshState();
  }
  return false;
}

bool ZorFsaCmd::Create_Dir(int32_t creation) {
  if (creation & ZorFsaCreateParents) MakeParents(_path);
  RefreshState();
  const int err = SysEnv().MakeDir(SysPath(_path).c_str(), 0777);
  if (!err) return true;
  if (err != EEXIST || (creation & 0xFF) == ZorFsaCreateNew || !IsDir()) Fail(err, &_path, __LINE__);
  return false;
}

void ZorFsaCmd::Create_UniqueFile(const char* prefix, const char* ext, ZorFsa* created) {
  files::NonNull(created, kSource, __LINE__, "ZorFsaCmd::Create_UniqueFile(created)");
  for (int attempt = 0; attempt < 100; ++attempt) {
    char unique[7];
    UniqueChars(unique);
    string name(prefix ? prefix : "");
    name += unique;
    name += ext ? ext : "";
    ZorFsa candidate = _path / name;
    string spelled;
    if (!ZorStrEq(candidate.GetName(&spelled), name.CStr())) continue;  // a case twin is known
    const SysPath path(candidate);
    Fd fd;
    const int err = SysEnv().Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &fd.fd);
    if (!err) {
      *created = std::move(candidate);
      return;
    }
    if (err != EEXIST) Fail(err, &candidate, __LINE__);
  }
  FailWin(platform::kWinErrFileExists, &_path, __LINE__);
}

bool ZorFsaCmd::Remove(uint32_t flags) {
  RefreshState();
  const SysPath path(_path);
  struct stat st {};
  if (const int err = SysEnv().PathStat(path.c_str(), false, &st)) {
    if (err == ENOENT || err == ENOTDIR) return false;
    Fail(err, &_path, __LINE__);
  }
  if (S_ISDIR(st.st_mode) && (flags & ZorFsaRemoveTree)) {
    RemoveTree(_path);
  } else if (const int err = S_ISDIR(st.st_mode) ? SysEnv().RemoveDir(path.c_str()) : SysEnv().Unlink(path.c_str())) {
    Fail(err, &_path, __LINE__);
  }
  return true;
}

void ZorFsaCmd::Rename(const ZorFsa* to) {
  CheckPair(&_path, to);
  if (const int err = RenamePath(_path, *to, false)) Fail(err, &_path, __LINE__);
  _path = *to;
  RefreshState();
}

// ---------------------------------------------------------------- static

void ZorFsaCmd::Copy(const ZorFsa* from, const ZorFsa* to, uint32_t flags) {
  CheckPair(from, to);
  CopyAny(*from, *to, flags);
}

void ZorFsaCmd::Move(const ZorFsa* from, const ZorFsa* to, uint32_t flags) {
  CheckPair(from, to);
  const int err = RenamePath(*from, *to, flags & ZorFsaCopyReplace);
  if (!err) return;
  if (err != EXDEV) Fail(err, from, __LINE__);
  CopyAny(*from, *to, flags);
  ZorFsaCmd(from).Remove(ZorFsaRemoveTree);
}

bool ZorFsaCmd::S_CompareFile(const ZorFsa* a, const ZorFsa* b) {
  Fd fa, fb;
  struct stat sa {}, sb {};
  files::RequirePath(a, kSource, __LINE__, "ZorFsaCmd::S_CompareFile(a)");
  files::RequirePath(b, kSource, __LINE__, "ZorFsaCmd::S_CompareFile(b)");
  OpenRegular(*a, O_RDONLY, 0, &fa, &sa, __LINE__);
  OpenRegular(*b, O_RDONLY, 0, &fb, &sb, __LINE__);
  if (sa.st_size != sb.st_size) return false;
  static thread_local char bufA[1 << 16], bufB[1 << 16];
  platform::Env& env = SysEnv();
  for (;;) {
    size_t n = 0;
    if (const int err = env.Read(fa.fd, bufA, sizeof bufA, &n)) Fail(err, a, __LINE__);
    if (n == 0) return true;
    for (size_t got = 0; got < n;) {
      size_t m = 0;
      if (const int err = env.Read(fb.fd, bufB + got, n - got, &m)) Fail(err, b, __LINE__);
      if (m == 0) return false;  // b shrank while being read
      got += m;
    }
    if (std::memcmp(bufA, bufB, n) != 0) return false;
  }
}

bool ZorFsaCmd::S_IsFilePath(const char* text) {
  ZorFsa path;
  return path.InitFromPath(text, true) && path.GetPathMedia() == ZorFsaMediaLocal && !path.IsVirtual();
}

void ZorFsaCmd::S_GetTempDir(ZorFsa* dir) {
  files::NonNull(dir, kSource, __LINE__, "ZorFsaCmd::S_GetTempDir(dir)");
  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || tmp[0] != '/' || !dir->InitFromSysPath(tmp, true)) dir->InitFromPath("/tmp");
}

void ZorFsaCmd::S_OpenTempo(ZorFsa* created, const char* prefix, const char* ext) {
  files::NonNull(created, kSource, __LINE__, "ZorFsaCmd::S_OpenTempo(created)");
  ZorFsa dir;
  S_GetTempDir(&dir);
  ZorFsaCmd(&dir).Create_UniqueFile(prefix ? prefix : "zor", ext ? ext : ".tmp", created);
}

}  // namespace zorvane
