// Scratch files for tests of the file layer: a private directory under
// $TMPDIR (else /tmp) removed with everything in it at the end of the test,
// and a helper that runs a function in a forked child process.
#pragma once

#include <zorvane/path.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace zortest {

class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zortest.XXXXXX";
    _path = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return _path; }
  std::string File(const std::string& name) const { return _path + "/" + name; }
  // Creates (or empties) the file with the given content; returns its path.
  std::string Make(const std::string& name, const std::string& content = std::string()) const {
    std::ofstream(File(name), std::ios::binary | std::ios::trunc) << content;
    return File(name);
  }
  zorvane::ZorFsa Fsa(const std::string& name) const { return zorvane::ZorFsa(File(name).c_str()); }
  zorvane::ZorFsa MakeFsa(const std::string& name, const std::string& content = std::string()) const {
    Make(name, content);
    return Fsa(name);
  }

 private:
  std::string _path;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs fn in a child process and returns its result (the child's exit code:
// 0..255), or -1 when the child died otherwise. The child never returns into
// the test framework.
inline int RunInChild(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = 255;
    try {
      rc = fn();
    } catch (...) {
      rc = 254;
    }
    _exit(rc);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace zortest
