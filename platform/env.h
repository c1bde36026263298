// The environment: the one object through which the library reaches the
// operating system (files and their locks, mappings and syncs, names and
// directories, memory figures, child processes, dynamic loading).
//
// Every method returns a status, 0 or an errno value, and passes its
// results through out-parameters; nothing here raises. The layers above
// turn a status into a library error (the errno table of os_error.h, the
// raising helpers of foundation/errors). Calls interrupted by a signal are
// restarted inside, so EINTR is never a status.
//
// The process has one current environment, the POSIX one unless a test has
// installed another (SetEnv, ScopedEnv): usually an EnvWrapper that passes
// everything to the environment it wraps except the calls it means to fail.
// Reading the current environment is thread-safe. An object that keeps a
// descriptor (a stream) takes the environment current when it opens it and
// uses that one until it closes it: the descriptor belongs to it. So an
// installed environment must outlive every object opened under it, and
// swapping environments never moves an open file from one to another.
#pragma once

#include <zorvane/types.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>

struct pollfd;

namespace zorvane::platform {

// Byte-range locks are open-file-description locks (F_OFD_SETLK): they
// belong to the open file, conflict with every other open of it, in this
// process or another, and survive the closing of other descriptors.
enum class LockKind : uint8_t { kShared, kExclusive, kRelease };

// Access-pattern advice for a range of an open file (posix_fadvise).
enum class Advice : uint8_t { kRandom, kSequential, kWillNeed, kDontNeed };

// One entry of a directory: its name as the system spells it (bytes), and
// the type bits and size of what it names.
struct DirEntry {
  std::string name;
  mode_t mode = 0;
  uint64_t size = 0;
};

// A directory read whole: its identity (device and inode) and its entries
// other than "." and "..", in the system's order. Entries that vanish while
// they are read are left out.
struct DirListing {
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<DirEntry> entries;
};

// Memory of the machine and of the process, in bytes; the process figures
// are -1 when the system does not tell them.
struct MemoryFigures {
  uint64_t totalPhys = 0;
  uint64_t availPhys = 0;
  uint64_t totalSwap = 0;
  uint64_t availSwap = 0;
  int64_t resident = -1;
  int64_t peakResident = -1;
  int64_t virtualSize = -1;
};

// A loaded shared object: an identity that is the same for every handle and
// address of the object, and its file as the dynamic loader names it.
struct LoadedObject {
  const void* id = nullptr;
  std::string file;
};

class Env {
 public:
  // ------------------------------------------------------------ descriptors
  // open(2); O_CLOEXEC is added.
  virtual int Open(const char* path, int flags, mode_t mode, int* fd) = 0;
  virtual int Close(int fd) = 0;
  // One transfer at the file offset (read/write) or at `offset`
  // (pread/pwrite); *done may be short of n, 0 at the end of the file.
  virtual int Read(int fd, void* buf, size_t n, size_t* done) = 0;
  virtual int Write(int fd, const void* buf, size_t n, size_t* done) = 0;
  virtual int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) = 0;
  virtual int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) = 0;
  // copy_file_range at both file offsets.
  virtual int CopyRange(int from, int to, size_t n, size_t* done) = 0;
  virtual int Truncate(int fd, uint64_t size) = 0;
  virtual int DataSync(int fd) = 0;  // fdatasync
  virtual int Sync(int fd) = 0;      // fsync
  virtual int FileStat(int fd, struct stat* st) = 0;
  // statfs's f_type of the file system that holds fd.
  virtual int FileSystemOf(int fd, uint32_t* type) = 0;
  // Clears O_NONBLOCK.
  virtual int SetBlocking(int fd) = 0;
  // Advice and write-back only help the kernel; a length of 0 means to the end.
  virtual int Advise(int fd, uint64_t offset, uint64_t length, Advice advice) = 0;
  virtual int StartWriteBack(int fd, uint64_t offset, uint64_t length) = 0;
  // Sets or releases an OFD lock on [start, start + length); wait blocks
  // until it is granted. EAGAIN when another opener holds a conflicting one.
  virtual int Lock(int fd, LockKind kind, uint64_t start, uint64_t length, bool wait) = 0;
  // *held: another open file description holds a lock overlapping the range.
  virtual int IsLockedByOther(int fd, uint64_t start, uint64_t length, bool* held) = 0;
  // A shared mapping of [offset, offset + length) of fd.
  virtual int Map(int fd, uint64_t offset, size_t length, bool writable, void** address) = 0;
  virtual int Unmap(void* address, size_t length) = 0;

  // ------------------------------------------------------------ names
  // stat(2), or lstat(2) when follow is false.
  virtual int PathStat(const char* path, bool follow, struct stat* st) = 0;
  // statx(2) with the basic figures and the birth time.
  virtual int PathStatX(const char* path, struct statx* st) = 0;
  virtual int FileSystemAt(const char* path, uint32_t* type) = 0;
  // Bytes available to the user on the file system of path (statvfs).
  virtual int FreeSpaceAt(const char* path, uint64_t* bytes) = 0;
  virtual int Access(const char* path, int mode) = 0;
  // utimensat(2): access then modification time; UTIME_OMIT keeps one.
  virtual int SetTimes(const char* path, const struct timespec times[2]) = 0;
  virtual int SetMode(const char* path, mode_t mode) = 0;
  virtual int Unlink(const char* path) = 0;
  // Without replace, an existing target is refused with EEXIST.
  virtual int Rename(const char* from, const char* to, bool replace) = 0;
  virtual int MakeDir(const char* path, mode_t mode) = 0;
  virtual int RemoveDir(const char* path) = 0;
  // follow: the entries' figures are those of what symbolic links name.
  virtual int ListDir(const char* path, bool follow, DirListing* out) = 0;

  // ------------------------------------------------------------ memory
  // RLIMIT_AS; UINT64_MAX when unlimited.
  virtual int AddressSpaceLimit(uint64_t* bytes) = 0;
  virtual int GetMemoryFigures(MemoryFigures* out) = 0;
  // The stack of the calling thread.
  virtual int ThreadStack(const void** low, size_t* size) = 0;

  // ------------------------------------------------------------ processes
  // fork(2): *child is 0 in the child.
  virtual int Fork(pid_t* child) = 0;
  virtual int WaitChild(pid_t child, int* status) = 0;
  virtual int Kill(pid_t process, int signal) = 0;
  virtual int MakePipe(int fds[2]) = 0;
  virtual int Poll(struct pollfd* fds, size_t n, int timeoutMs, int* ready) = 0;

  // ------------------------------------------------------------ dynamic loading
  // dlopen(3) with its flags; on failure the loader's reason in *why.
  virtual int LoadLibrary(const char* file, int flags, void** handle, std::string* why) = 0;
  virtual int UnloadLibrary(void* handle) = 0;
  // ENOENT when the handle's scope does not define the name.
  virtual int FindSymbol(void* handle, const char* name, void** address) = 0;
  virtual int ObjectOfHandle(void* handle, LoadedObject* out) = 0;
  // The object that holds an address (code or data).
  virtual int ObjectOfAddress(const void* address, LoadedObject* out) = 0;

 protected:
  // Environments are installed, never deleted through this interface; the
  // POSIX one lives for the whole process.
  ~Env() = default;
};

// An environment that passes every call to another; a wrapper overrides
// what it changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : _target(target) {}
  Env* Target() const { return _target; }

  int Open(const char* p, int f, mode_t m, int* fd) override { return _target->Open(p, f, m, fd); }
  int Close(int fd) override { return _target->Close(fd); }
  int Read(int fd, void* b, size_t n, size_t* d) override { return _target->Read(fd, b, n, d); }
  int Write(int fd, const void* b, size_t n, size_t* d) override { return _target->Write(fd, b, n, d); }
  int PRead(int fd, void* b, size_t n, uint64_t o, size_t* d) override { return _target->PRead(fd, b, n, o, d); }
  int PWrite(int fd, const void* b, size_t n, uint64_t o, size_t* d) override {
    return _target->PWrite(fd, b, n, o, d);
  }
  int CopyRange(int from, int to, size_t n, size_t* d) override { return _target->CopyRange(from, to, n, d); }
  int Truncate(int fd, uint64_t size) override { return _target->Truncate(fd, size); }
  int DataSync(int fd) override { return _target->DataSync(fd); }
  int Sync(int fd) override { return _target->Sync(fd); }
  int FileStat(int fd, struct stat* st) override { return _target->FileStat(fd, st); }
  int FileSystemOf(int fd, uint32_t* type) override { return _target->FileSystemOf(fd, type); }
  int SetBlocking(int fd) override { return _target->SetBlocking(fd); }
  int Advise(int fd, uint64_t o, uint64_t n, Advice a) override { return _target->Advise(fd, o, n, a); }
  int StartWriteBack(int fd, uint64_t o, uint64_t n) override { return _target->StartWriteBack(fd, o, n); }
  int Lock(int fd, LockKind k, uint64_t s, uint64_t n, bool w) override { return _target->Lock(fd, k, s, n, w); }
  int IsLockedByOther(int fd, uint64_t s, uint64_t n, bool* h) override {
    return _target->IsLockedByOther(fd, s, n, h);
  }
  int Map(int fd, uint64_t o, size_t n, bool w, void** a) override { return _target->Map(fd, o, n, w, a); }
  int Unmap(void* a, size_t n) override { return _target->Unmap(a, n); }
  int PathStat(const char* p, bool f, struct stat* st) override { return _target->PathStat(p, f, st); }
  int PathStatX(const char* p, struct statx* st) override { return _target->PathStatX(p, st); }
  int FileSystemAt(const char* p, uint32_t* type) override { return _target->FileSystemAt(p, type); }
  int FreeSpaceAt(const char* p, uint64_t* bytes) override { return _target->FreeSpaceAt(p, bytes); }
  int Access(const char* p, int mode) override { return _target->Access(p, mode); }
  int SetTimes(const char* p, const struct timespec t[2]) override { return _target->SetTimes(p, t); }
  int SetMode(const char* p, mode_t mode) override { return _target->SetMode(p, mode); }
  int Unlink(const char* p) override { return _target->Unlink(p); }
  int Rename(const char* from, const char* to, bool r) override { return _target->Rename(from, to, r); }
  int MakeDir(const char* p, mode_t mode) override { return _target->MakeDir(p, mode); }
  int RemoveDir(const char* p) override { return _target->RemoveDir(p); }
  int ListDir(const char* p, bool f, DirListing* out) override { return _target->ListDir(p, f, out); }
  int AddressSpaceLimit(uint64_t* bytes) override { return _target->AddressSpaceLimit(bytes); }
  int GetMemoryFigures(MemoryFigures* out) override { return _target->GetMemoryFigures(out); }
  int ThreadStack(const void** low, size_t* size) override { return _target->ThreadStack(low, size); }
  int Fork(pid_t* child) override { return _target->Fork(child); }
  int WaitChild(pid_t child, int* status) override { return _target->WaitChild(child, status); }
  int Kill(pid_t process, int signal) override { return _target->Kill(process, signal); }
  int MakePipe(int fds[2]) override { return _target->MakePipe(fds); }
  int Poll(struct pollfd* fds, size_t n, int t, int* ready) override { return _target->Poll(fds, n, t, ready); }
  int LoadLibrary(const char* f, int fl, void** h, std::string* why) override {
    return _target->LoadLibrary(f, fl, h, why);
  }
  int UnloadLibrary(void* h) override { return _target->UnloadLibrary(h); }
  int FindSymbol(void* h, const char* name, void** a) override { return _target->FindSymbol(h, name, a); }
  int ObjectOfHandle(void* h, LoadedObject* out) override { return _target->ObjectOfHandle(h, out); }
  int ObjectOfAddress(const void* a, LoadedObject* out) override { return _target->ObjectOfAddress(a, out); }

 protected:
  ~EnvWrapper() = default;

 private:
  Env* _target;
};

// The current environment.
ZOR_API Env& CurrentEnv();
// The POSIX environment, current by default.
ZOR_API Env& PosixEnv();
// Installs env as the current environment (null: the POSIX one); returns
// the one it replaces.
ZOR_API Env* SetEnv(Env* env);

// Installs an environment for the life of a scope, then puts back the one
// it replaced.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env) : _previous(SetEnv(env)) {}
  ~ScopedEnv() { SetEnv(_previous); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* _previous;
};

}  // namespace zorvane::platform
