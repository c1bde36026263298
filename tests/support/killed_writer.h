// A writer process killed at a chosen moment, for the crash tests.
//
// The writer runs in a forked child and reports through a pipe: kOpened
// once its file is open, then each generation it has committed. The parent
// sleeps, kills it with SIGKILL and reads everything it reported.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>

namespace zortest {

constexpr int32_t kOpened = -1;

struct KilledRound {
  bool opened = false;          // the writer said its file was open
  int32_t lastReported = 0;     // its last generation, `start` when none
  bool exitedByItself = false;  // it ended before the signal: it failed
};

// From the writer: one report; a writer whose parent is gone ends.
inline void ReportToParent(int fd, int32_t value) {
  if (write(fd, &value, sizeof value) != sizeof value) _exit(4);
}

// Forks `writer(fd)` (which never returns), kills it delayUs after it
// reported the open, or after the fork when duringOpen.
inline KilledRound KillWriter(int32_t start, int delayUs, bool duringOpen, const std::function<void(int fd)>& writer) {
  KilledRound r;
  r.lastReported = start;
  int fds[2];
  if (pipe(fds) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    writer(fds[1]);
    _exit(3);
  }
  close(fds[1]);
  auto take = [&r](int32_t v) {
    if (v == kOpened) r.opened = true;
    else r.lastReported = v;
  };
  int32_t v;
  if (!duringOpen && read(fds[0], &v, sizeof v) == sizeof v) take(v);
  std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitedByItself = !WIFSIGNALED(status);
  while (read(fds[0], &v, sizeof v) == sizeof v) take(v);
  close(fds[0]);
  return r;
}

// How many times longer the crash scripts run these tests (ZOR_CRASH_SCALE).
inline int CrashScale() {
  const char* s = std::getenv("ZOR_CRASH_SCALE");
  return s && std::atoi(s) > 0 ? std::atoi(s) : 1;
}

}  // namespace zortest
