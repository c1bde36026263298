// The POSIX environment and the process's current one (see env.h).
//
// Each method is the system call and nothing more: it restarts it after
// EINTR and hands back errno. The default environment is constant-initialised
// and has a trivial destructor, so it serves from before the first static
// constructor to after the last static destructor.
#include "platform/env.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorvane::platform {

namespace {

// The status of a call that returned rc (-1 and errno on failure).
int Status(int rc) { return rc == 0 ? 0 : errno; }

// Runs call until it is not interrupted; its result.
template <class F>
auto Restarting(F call) {
  for (;;) {
    auto rc = call();
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

// A transfer's status and count.
int Transferred(ssize_t rc, size_t* done) {
  *done = rc > 0 ? static_cast<size_t>(rc) : 0;
  return rc < 0 ? errno : 0;
}

// Reads "<key>: <n> kB" lines of /proc/self/status into bytes; -1 when absent.
void ReadProcStatus(MemoryFigures* out) {
  FILE* f = std::fopen("/proc/self/status", "re");
  if (!f) return;
  const struct {
    const char* key;
    int64_t* value;
  } keys[] = {{"VmRSS:", &out->resident}, {"VmHWM:", &out->peakResident}, {"VmSize:", &out->virtualSize}};
  char line[256];
  while (std::fgets(line, sizeof line, f))
    for (const auto& k : keys)
      if (std::strncmp(line, k.key, std::strlen(k.key)) == 0)
        *k.value = std::strtoll(line + std::strlen(k.key), nullptr, 10) * 1024;
  std::fclose(f);
}

class Posix final : public Env {
 public:
  constexpr Posix() = default;

  int Open(const char* path, int flags, mode_t mode, int* fd) override {
    *fd = Restarting([&] { return open(path, flags | O_CLOEXEC, mode); });
    return *fd < 0 ? errno : 0;
  }
  // close(2) is not restarted: on Linux the descriptor is gone even when it
  // reports EINTR.
  int Close(int fd) override { return Status(close(fd)); }
  int Read(int fd, void* buf, size_t n, size_t* done) override {
    return Transferred(Restarting([&] { return read(fd, buf, n); }), done);
  }
  int Write(int fd, const void* buf, size_t n, size_t* done) override {
    return Transferred(Restarting([&] { return write(fd, buf, n); }), done);
  }
  int PRead(int fd, void* buf, size_t n, uint64_t offset, size_t* done) override {
    return Transferred(Restarting([&] { return pread(fd, buf, n, static_cast<off_t>(offset)); }), done);
  }
  int PWrite(int fd, const void* buf, size_t n, uint64_t offset, size_t* done) override {
    return Transferred(Restarting([&] { return pwrite(fd, buf, n, static_cast<off_t>(offset)); }), done);
  }
  int CopyRange(int from, int to, size_t n, size_t* done) override {
    return Transferred(Restarting([&] { return copy_file_range(from, nullptr, to, nullptr, n, 0); }), done);
  }
  int Truncate(int fd, uint64_t size) override {
    return Status(Restarting([&] { return ftruncate(fd, static_cast<off_t>(size)); }));
  }
  int DataSync(int fd) override { return Status(Restarting([&] { return fdatasync(fd); })); }
  int Sync(int fd) override { return Status(Restarting([&] { return fsync(fd); })); }
  int FileStat(int fd, struct stat* st) override { return Status(fstat(fd, st)); }
  int FileSystemOf(int fd, uint32_t* type) override {
    struct statfs fs;
    if (Restarting([&] { return fstatfs(fd, &fs); }) != 0) return errno;
    *type = static_cast<uint32_t>(fs.f_type);
    return 0;
  }
  int SetBlocking(int fd) override {
    const int status = fcntl(fd, F_GETFL);
    if (status < 0) return errno;
    return Status(fcntl(fd, F_SETFL, status & ~O_NONBLOCK));
  }
  int Advise(int fd, uint64_t offset, uint64_t length, Advice advice) override {
    const int how = advice == Advice::kRandom       ? POSIX_FADV_RANDOM
                    : advice == Advice::kSequential ? POSIX_FADV_SEQUENTIAL
                    : advice == Advice::kWillNeed   ? POSIX_FADV_WILLNEED
                                                    : POSIX_FADV_DONTNEED;
    return posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length), how);
  }
  int StartWriteBack(int fd, uint64_t offset, uint64_t length) override {
    return Status(sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE));
  }
  int Lock(int fd, LockKind kind, uint64_t start, uint64_t length, bool wait) override {
    struct flock fl = {};
    fl.l_type = kind == LockKind::kShared ? F_RDLCK : kind == LockKind::kExclusive ? F_WRLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    if (Restarting([&] { return fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl); }) == 0) return 0;
    return errno == EACCES ? EAGAIN : errno;  // both mean "held by another"
  }
  int IsLockedByOther(int fd, uint64_t start, uint64_t length, bool* held) override {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return errno;
    *held = fl.l_type != F_UNLCK;
    return 0;
  }
  int Map(int fd, uint64_t offset, size_t length, bool writable, void** address) override {
    const int protection = PROT_READ | (writable ? PROT_WRITE : 0);
    void* p = mmap(nullptr, length, protection, MAP_SHARED, fd, static_cast<off_t>(offset));
    *address = p == MAP_FAILED ? nullptr : p;
    return p == MAP_FAILED ? errno : 0;
  }
  int Unmap(void* address, size_t length) override { return Status(munmap(address, length)); }

  int PathStat(const char* path, bool follow, struct stat* st) override {
    return Status(follow ? stat(path, st) : lstat(path, st));
  }
  int PathStatX(const char* path, struct statx* st) override {
    return Status(statx(AT_FDCWD, path, 0, STATX_BASIC_STATS | STATX_BTIME, st));
  }
  int FileSystemAt(const char* path, uint32_t* type) override {
    struct statfs fs;
    if (Restarting([&] { return statfs(path, &fs); }) != 0) return errno;
    *type = static_cast<uint32_t>(fs.f_type);
    return 0;
  }
  int FreeSpaceAt(const char* path, uint64_t* bytes) override {
    struct statvfs vfs {};
    if (Restarting([&] { return statvfs(path, &vfs); }) != 0) return errno;
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return 0;
  }
  int Access(const char* path, int mode) override { return Status(access(path, mode)); }
  int SetTimes(const char* path, const struct timespec times[2]) override {
    return Status(utimensat(AT_FDCWD, path, times, 0));
  }
  int SetMode(const char* path, mode_t mode) override { return Status(chmod(path, mode)); }
  int Unlink(const char* path) override { return Status(unlink(path)); }
  int Rename(const char* from, const char* to, bool replace) override;
  int MakeDir(const char* path, mode_t mode) override { return Status(mkdir(path, mode)); }
  int RemoveDir(const char* path) override { return Status(rmdir(path)); }
  int ListDir(const char* path, bool follow, DirListing* out) override;

  int AddressSpaceLimit(uint64_t* bytes) override {
    struct rlimit rl;
    if (getrlimit(RLIMIT_AS, &rl) != 0) return errno;
    *bytes = rl.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(rl.rlim_cur);
    return 0;
  }
  int GetMemoryFigures(MemoryFigures* out) override {
    struct sysinfo si;
    if (sysinfo(&si) != 0) return errno;
    const uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    *out = MemoryFigures();
    out->totalPhys = si.totalram * unit;
    out->availPhys = (si.freeram + si.bufferram) * unit;
    out->totalSwap = si.totalswap * unit;
    out->availSwap = si.freeswap * unit;
    ReadProcStatus(out);
    return 0;
  }
  int ThreadStack(const void** low, size_t* size) override {
    pthread_attr_t attr;
    if (const int err = pthread_getattr_np(pthread_self(), &attr)) return err;
    void* addr = nullptr;
    const int err = pthread_attr_getstack(&attr, &addr, size);
    pthread_attr_destroy(&attr);
    *low = addr;
    return err;
  }

  int Fork(pid_t* child) override {
    *child = fork();
    return *child < 0 ? errno : 0;
  }
  int WaitChild(pid_t child, int* status) override {
    return Restarting([&] { return waitpid(child, status, 0); }) < 0 ? errno : 0;
  }
  int Kill(pid_t process, int signal) override { return Status(kill(process, signal)); }
  int MakePipe(int fds[2]) override { return Status(pipe2(fds, O_CLOEXEC)); }
  int Poll(struct pollfd* fds, size_t n, int timeoutMs, int* ready) override {
    *ready = poll(fds, n, timeoutMs);
    return *ready < 0 ? errno : 0;
  }

  int LoadLibrary(const char* file, int flags, void** handle, std::string* why) override {
    dlerror();
    *handle = dlopen(file, flags);
    if (*handle) return 0;
    const char* reason = dlerror();
    if (why) *why = reason ? reason : "";
    return ENOENT;
  }
  int UnloadLibrary(void* handle) override { return dlclose(handle) == 0 ? 0 : EINVAL; }
  int FindSymbol(void* handle, const char* name, void** address) override {
    *address = dlsym(handle, name);
    return *address ? 0 : ENOENT;
  }
  int ObjectOfHandle(void* handle, LoadedObject* out) override {
    link_map* lm = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &lm) != 0 || !lm) return ENOENT;
    out->id = lm;
    out->file = lm->l_name ? lm->l_name : "";
    return 0;
  }
  int ObjectOfAddress(const void* address, LoadedObject* out) override {
    Dl_info info{};
    link_map* lm = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&lm), RTLD_DL_LINKMAP) || !lm) return ENOENT;
    out->id = lm;
    out->file = info.dli_fname ? info.dli_fname : "";
    return 0;
  }
};

int Posix::Rename(const char* from, const char* to, bool replace) {
  if (replace) return Status(rename(from, to));
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  // A file system without the no-replace flag: check, then rename.
  struct stat st {};
  if (lstat(to, &st) == 0) return EEXIST;
  return Status(rename(from, to));
}

int Posix::ListDir(const char* path, bool follow, DirListing* out) {
  const int fd = Restarting([&] { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return errno;
  DIR* d = fdopendir(fd);
  struct stat self {};
  if (!d || fstat(fd, &self) != 0) {
    const int err = errno;
    if (d) closedir(d); else close(fd);
    return err;
  }
  out->device = self.st_dev;
  out->inode = self.st_ino;
  out->entries.clear();
  const int statFlags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
  while (const struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
    struct stat st {};
    if (fstatat(fd, e->d_name, &st, statFlags) != 0) continue;
    out->entries.push_back({e->d_name, st.st_mode, static_cast<uint64_t>(st.st_size)});
  }
  closedir(d);
  return 0;
}

constinit Posix g_posix;
constinit std::atomic<Env*> g_current{&g_posix};

}  // namespace

Env& CurrentEnv() { return *g_current.load(std::memory_order_acquire); }

Env& PosixEnv() { return g_posix; }

Env* SetEnv(Env* env) { return g_current.exchange(env ? env : &g_posix, std::memory_order_acq_rel); }

}  // namespace zorvane::platform
