// The other half of tests/support/oracle.py: a driver reads one question per
// line on stdin, fields separated by TAB, and answers each with exactly one
// line. The first field names the command; Serve() dispatches it to a table
// of handlers. A library error that a handler lets through is answered
// "E <family> <number>", an unknown command "?". Texts of arbitrary bytes travel in hexadecimal, "-" for the empty one.
//
// Output is flushed whenever no further question is waiting, so that one
// process answers a whole batch quickly and a script asking one question at
// a time gets its answer at once.
#pragma once

#include <zorvane/zorvane.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <string>
#include <type_traits>
#include <vector>

#include "support/test_util.h"

namespace zorvane::test {

using Fields = std::vector<std::string>;

// A handler returns its answer line; one that returns nothing answers "ok".
struct Command {
  template <class F>
  Command(const char* n, F f) : name(n) {
    if constexpr (std::is_void_v<std::invoke_result_t<F, const Fields&>>) {
      run = [f](const Fields& a) {
        f(a);
        return std::string("ok");
      };
    } else {
      run = [f](const Fields& a) { return std::string(f(a)); };
    }
  }
  const char* name;
  std::function<std::string(const Fields&)> run;
};

inline Fields Split(const std::string& line, char sep = '\t') {
  Fields out;
  size_t start = 0;
  for (size_t at; (at = line.find(sep, start)) != std::string::npos; start = at + 1)
    out.push_back(line.substr(start, at - start));
  out.push_back(line.substr(start));
  return out;
}

// printf into an answer line.
inline std::string Line(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string out(static_cast<size_t>(std::vsnprintf(nullptr, 0, format, args)), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  va_end(args);
  return out;
}

inline int32_t Int(const std::string& s) { return static_cast<int32_t>(std::strtoll(s.c_str(), nullptr, 10)); }
// Decimal, %.17g and C99 hexadecimal forms alike.
inline double Real(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

inline std::string HexText(const void* p, size_t n) { return n ? Hex(p, n) : "-"; }
inline std::string HexText(const char* text) { return HexText(text, std::strlen(text)); }
inline std::string HexText(const std::string& s) { return HexText(s.data(), s.size()); }
inline std::string HexText(const string& s) { return HexText(s.CStr(), s.Len()); }
inline std::string HexText(const ZorHandle& h) { return HexText(h.GetDatas(), h.GetSize()); }

inline std::string Unhex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline int Serve(std::initializer_list<Command> commands) {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) {
    const Fields f = Split(line);
    std::string answer = "?";
    for (const Command& c : commands) {
      if (f[0] != c.name) continue;
      try {
        answer = c.run(f);
      } catch (const ZorException& e) {
        answer = Line("E %d %d", ZorErrFamily(e.GetError()), ZorErrNumber(e.GetError()));
      }
      break;
    }
    std::cout << answer << '\n';
    if (std::cin.rdbuf()->in_avail() <= 0) std::cout.flush();
  }
  std::cout.flush();
  return 0;
}

}  // namespace zorvane::test
