// `zorvane messages`: the texts of a module's string lists, one message a
// line, as UTF-8.
//
//   zorvane messages [--module N] [--group G]
//
// Each line is "<group> <number> <symbol> <text>", the symbol "-" when the
// message has none. The text is escaped as in the catalogue's source files
// (\\ \n \r \t), so every message stays on one line. Without --group every
// string list of the module is listed in group order. Module 1 (the
// library) by default. A group that does not exist fails with exit 1;
// Ctrl-C stops the listing (exit 130).
#include "tools/commands.h"
#include "tools/tool_support.h"

#include <zorvane/zorvane.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zorvane::tool {

namespace {

constexpr int32_t kTextGroup = 104;
constexpr int32_t kNoListText = 354;

struct MessagesArgs {
  int32_t module = 1;
  int32_t group = 0;
};

struct Printer {
  int32_t group;
};

std::string Escaped(const char* cp1252) {
  string utf8;
  std::string out;
  for (const char* p = ZorEncodeToUTF8(cp1252, &utf8); *p; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += *p;
    }
  }
  return out;
}

// False (stop) once the user pressed Ctrl-C.
bool PrintMessage(void* context, int32_t id, const char* text, const char* symbol) {
  if (ZorIsUserBreak()) return false;
  const auto* printer = static_cast<const Printer*>(context);
  std::printf("%d %d %s %s\n", printer->group, id, *symbol ? symbol : "-", Escaped(text).c_str());
  return true;
}

bool CollectGroup(void* context, int32_t id) {
  static_cast<std::vector<int32_t>*>(context)->push_back(id);
  return true;
}

bool ListExists(int32_t module, int32_t group) {
  ZorRsrc rsrc;
  return rsrc.Init(ZorRsrcStrList, module, group, ZorRsrcQuiet);
}

int ReportMissing(const MessagesArgs& a) {
  string text, utf8;
  ZorFormString(&text, 1, kTextGroup, kNoListText, a.group, a.module);
  std::fprintf(stderr, "zorvane messages: %s\n", ZorEncodeToUTF8(text.CStr(), &utf8));
  return 1;
}

int RunMessages(const MessagesArgs& a) {
  std::vector<int32_t> groups;
  if (a.group) {
    groups.push_back(a.group);
  } else {
    ZorForEachRsrc(a.module, ZorRsrcStrList, &CollectGroup, &groups);
  }
  for (int32_t group : groups) {
    Printer printer{group};
    if (!ListExists(a.module, group)) return ReportMissing(MessagesArgs{a.module, group});
    ZorForEachString(a.module, group, &PrintMessage, &printer);
    PollBreak();
  }
  return 0;
}

}  // namespace

void AddMessagesCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<MessagesArgs>();
  CLI::App* cmd = app.add_subcommand("messages", "List the texts of a module's string lists as UTF-8");
  cmd->add_option("--module", args->module, "Module id (1: the library)");
  cmd->add_option("--group", args->group, "Only this string list");
  cmd->callback([args, &exitCode]() { exitCode = RunReported("messages", "", [&] { return RunMessages(*args); }); });
}

}  // namespace zorvane::tool
