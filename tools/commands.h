// The sub-commands of the zorvane tool. Each registers itself on the
// command-line parser and runs when chosen; a command returns the process
// exit code (0 success, 1 failure) and writes errors to stderr.
#pragma once

#include <CLI/CLI.hpp>

namespace zorvane::tool {

void AddDemoCommand(CLI::App& app, int& exitCode);
void AddChecksumCommand(CLI::App& app, int& exitCode);
void AddBFileCommand(CLI::App& app, int& exitCode);
void AddMessagesCommand(CLI::App& app, int& exitCode);
void AddRsrcCommand(CLI::App& app, int& exitCode);
void AddDbCommand(CLI::App& app, int& exitCode);

}  // namespace zorvane::tool
