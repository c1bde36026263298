// The sub-commands of the zorvane tool. Each registers itself on the
// command-line parser and runs when chosen; a command returns the process
// exit code (0 success, 1 failure) and writes errors to stderr.
#pragma once

#include <zorvane/fsa.h>

#include <CLI/CLI.hpp>

#include <string>

namespace zorvane::tool {

// The path named by a command-line argument (UTF-8, relative to the working
// directory); an empty argument raises the library's empty-path error.
ZorFsa PathArgument(const std::string& utf8);

void AddDemoCommand(CLI::App& app, int& exitCode);
void AddChecksumCommand(CLI::App& app, int& exitCode);
void AddBFileCommand(CLI::App& app, int& exitCode);
void AddMessagesCommand(CLI::App& app, int& exitCode);
void AddRsrcCommand(CLI::App& app, int& exitCode);

}  // namespace zorvane::tool
