#pragma once
// The program's entry sequence: single instance, data folder, logs, the long-lived
// objects, the message loop, and an orderly shutdown on every path.

#include <memory>

#include "shell/event_loop.h"

namespace hrd {

// Exit codes of the program.
inline constexpr int exit_normal = 1;  // the loop ended, or an error was reported
inline constexpr int exit_already_running = 3;
inline constexpr int exit_no_data_folder = 123;  // neither $XDG_DATA_HOME nor $HOME

// What the desktop (or a test double) provides to start-up.
class shell_platform {
public:
    virtual ~shell_platform() = default;
    // Called once, after the logs are up. The loop lives until shutdown is over.
    virtual std::unique_ptr<event_loop> create_event_loop() = 0;
    // A second start asked for the window: show, restore and raise it.
    virtual void on_second_start() = 0;
};

// Runs the program and returns its exit code. Never throws: anything that escapes
// is reported as "Error: ..." (or "Unknown error.") to the "app" log and to stderr.
int run_application(shell_platform& platform) noexcept;

}  // namespace hrd
