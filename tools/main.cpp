// zorvane: the command-line tool of the library.
//
// Exit codes: 0 success, 1 a command failed, 2 a usage error, 130 cancelled
// by Ctrl-C.
//
// Ctrl-C sets the library's user break: long work polls it and stops
// cleanly (files closed, consistent) with the cancellation error, which the
// commands turn into exit 130. A second Ctrl-C, for work that is stuck in a
// system call, ends the process at once.
#include "tools/commands.h"
#include "tools/tool_support.h"

#include <zorvane/zorvane.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

void OnInterrupt(int) {
  if (zorvane::ZorIsUserBreak()) _exit(zorvane::tool::kExitCancelled);
  zorvane::ZorSetUserBreak(true);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zorvane: the kernel library's command-line tool"};
  app.set_version_flag("--version", std::string("zorvane ") + ZOR_VERSION);
  app.require_subcommand(1);
  int exitCode = 0;
  zorvane::tool::AddDemoCommand(app, exitCode);
  zorvane::tool::AddChecksumCommand(app, exitCode);
  zorvane::tool::AddBFileCommand(app, exitCode);
  zorvane::tool::AddMessagesCommand(app, exitCode);
  zorvane::tool::AddRsrcCommand(app, exitCode);
  zorvane::tool::AddDbCommand(app, exitCode);

  std::signal(SIGINT, OnInterrupt);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorvane: %s\n", e.what());
    return 1;
  }
  return exitCode;
}
