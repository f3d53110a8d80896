// The kvext tool: each command lives in its own source and adds itself to the
// command line through one function named in main.cpp's table.
#pragma once

#include <CLI/CLI.hpp>

namespace kvext::tool {

// Adds one subcommand to app. The subcommand's callback does the work and throws
// CommandFailed (or returns through Exit) on failure; main turns that into the exit status.
using AddCommand = void (*)(CLI::App &app);

// A failure already reported on stderr: main exits with the code it carries.
struct CommandFailed {
    int exitCode = 1;
};

} // namespace kvext::tool
