// Checks for command tables, for the table tests of the modules that install
// commands.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/cli.h"

// Every problem of a table: each entry's cli_validate problems (prefixed with
// its command string) and command forms repeated within one node (a command
// for ALL_VIEW_NODES counts in VIEW_NODE and EXEC_NODE). Empty when fine.
std::vector<std::string> cli_validate_table(std::span<const CliCommand> table);
