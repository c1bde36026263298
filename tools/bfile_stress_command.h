// `zorvane bfile stress`: registered under the `bfile` command by
// tools/bfile_command.cpp (see tools/bfile_stress_command.cpp).
#pragma once

#include <CLI/CLI.hpp>

namespace zorvane::tool {

// Adds the `stress` sub-command to the `bfile` command.
void AddBfileStressCommand(CLI::App& bfile, int& exitCode);

}  // namespace zorvane::tool
