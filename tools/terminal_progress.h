// The tool's progress display: a one-line bar on stderr, drawn at most ten
// times a second once the work has lasted a second, erased at the end. The
// title (cp1252) is shown in UTF-8.
#pragma once

#include <zorvane/zorvane.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace zorvane::tool {

class TerminalProgress : public ZorProgress {
 protected:
  void _onBegin() override {
    _start = Clock::now();
    _lastDraw = _start;
  }
  void _onStep() override {
    const auto now = Clock::now();
    if (now - _start < std::chrono::seconds(1) || now - _lastDraw < std::chrono::milliseconds(100)) return;
    _lastDraw = now;
    _draw();
  }
  void _onEnd() override {
    if (_drawn) std::fputs("\r\033[K", stderr);
    _drawn = false;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void _draw() {
    constexpr int kWidth = 30;
    const int64_t total = GetTotal();
    const int percent = total > 0 ? static_cast<int>(GetPos() * 100 / total) : 0;
    std::string bar(kWidth, '.');
    for (int i = 0; i < kWidth * percent / 100; ++i) bar[i] = '#';
    string title;
    ZorEncodeToUTF8(GetTitle(), &title);
    std::fprintf(stderr, "\r[%s] %3d%% %s\033[K", bar.c_str(), percent, title.CStr());
    std::fflush(stderr);
    _drawn = true;
  }

  Clock::time_point _start, _lastDraw;
  bool _drawn = false;
};

}  // namespace zorvane::tool
