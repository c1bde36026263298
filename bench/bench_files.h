// The files of the disk benchmarks: one scratch directory per program under
// $TMPDIR (else /tmp), removed at exit, and the helpers that sync, copy and
// remove a database file together with the files beside it (journals, logs).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace benchfiles {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& program) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zor_" + program + ".XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error(program + ": no scratch directory");
    _path = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(_path, ec);
  }
  std::string File(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

constexpr const char* kSideFiles[] = {"", "-journal", "-wal", "-shm", ".zbj"};

// Pushes the file's dirty pages to the disk, so that a timed phase does not
// pay for the writes of its set-up; with `drop`, also evicts the file from
// the page cache.
inline void SyncFile(const std::string& path, bool drop = false) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fdatasync(fd);
  if (drop) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

inline void RemoveFile(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : kSideFiles) fs::remove(path + suffix, ec);
}

// A working copy of a stage, synced to the disk.
inline void CopyStage(const std::string& stage, const std::string& work) {
  RemoveFile(work);
  fs::copy_file(stage, work, fs::copy_options::overwrite_existing);
  SyncFile(work);
}

}  // namespace benchfiles
