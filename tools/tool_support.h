// What the tool's commands share: turning a command-line argument into a
// path the library may open, the user's Ctrl-C, and turning a failure into
// one message on stderr that names the path it concerns.
//
// Paths are checked before anything opens them: a FIFO, a socket or a
// device would block an open or a read for good, so only regular files (and
// directories where a command takes one) get through.
//
// Exit codes: 0 success, 1 failure, 2 usage, 130 cancelled by Ctrl-C.
#pragma once

#include <zorvane/zorvane.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

namespace zorvane::tool {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// A failure that the tool itself detects; its text is English.
struct ToolError {
  std::string path;
  std::string text;
  int exitCode = kExitFailure;
};

enum class PathUse {
  kFile,       // an existing regular file
  kFileOrDir,  // an existing regular file or directory
  kOutput,     // a file to write: missing, or an existing regular file
  kNewFile,    // a file to create: it must not exist
};

// The library's path for `arg` (UTF-8), checked for its use; raises
// ToolError naming it.
ZorFsa ToolPath(const std::string& arg, PathUse use);

// The display form of a path, UTF-8.
std::string PathText(const ZorFsa& path);

// cp1252 -> UTF-8.
std::string Utf8(const char* cp1252);

// Raises the cancellation error (1, 1000) once the user pressed Ctrl-C:
// what the tool's own long loops call.
void PollBreak();

// The text of a library error about `where` (display form): its own text,
// then what to do next for a file another process holds or a damaged block
// file (`zorvane db check --repair` for the db commands).
std::string ErrorText(const char* command, const ZorException& e, const std::string& where);

// Runs a command and returns its exit code. A failure becomes one line on
// stderr, "zorvane <command>: <path>: <text>", the path being the one the
// library error names or else `path`; a damaged block file adds what to do
// next; the cancellation exits 130.
int RunReported(const char* command, const std::string& path, const std::function<int()>& run);

// FILE.bak beside `file` (the command-line text of `path`): a copy of the
// file as it is before a repair. An existing FILE.bak is never replaced.
ZorFsa BackupBeforeRepair(const std::string& file, const ZorFsa& path);

// Registers module `id` as the library <modules root>/<name>/<name>.so and
// loads it; false when it cannot be loaded.
bool LoadToolModule(int32_t id, const char* name);

// A sub-command "<group> <name>" of one FILE argument (args->path) whose
// run goes through RunReported; the arguments are shared by the group's
// sub-commands.
template <class Args>
CLI::App* AddFileSubcommand(CLI::App* parent, const char* group, const char* name, const char* help,
                            const char* fileHelp, std::shared_ptr<Args> args, int (*run)(const Args&),
                            int& exitCode) {
  CLI::App* cmd = parent->add_subcommand(name, help);
  cmd->add_option("FILE", args->path, fileHelp)->required();
  const std::string label = std::string(group) + " " + name;
  cmd->callback([args, run, label, &exitCode]() {
    exitCode = RunReported(label.c_str(), args->path, [&] { return run(*args); });
  });
  return cmd;
}

}  // namespace zorvane::tool
