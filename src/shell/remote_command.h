#pragma once
// The command line's side of a request: finds the running instance (starting one
// in the tray when the command needs it), sends the request and reports the answer.

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>

#include "shell/command_line.h"

namespace hrd {

// Exit codes of a command line.
inline constexpr int exit_done = 0;
inline constexpr int exit_not_done = 1;
inline constexpr int exit_usage = 2;

struct remote_settings {
    std::string program;  // what to start when no instance runs (empty: this program)
    int input_fd = 0;     // where --add reads its text when none is given
    // How long a running instance may take to answer, and a starting one to be up.
    std::chrono::milliseconds answer_wait{30000};
    std::chrono::milliseconds start_wait{60000};
};

// Carries out everything but a start: prints the help, the version or the error,
// or sends the request and prints the answer. Returns the exit code; nothing when
// this process is to start the program itself (no option, --hidden, or --show and
// --toggle with no instance running).
std::optional<int> run_command_line(const command_line& line, std::ostream& out,
                                    std::ostream& err, const remote_settings& settings = {});

}  // namespace hrd
