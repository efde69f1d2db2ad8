#pragma once
// The program's entry sequence: single instance, data folder, logs, the long-lived
// objects, the message loop, and an orderly shutdown on every path.

#include <functional>
#include <memory>

#include "platform/event_loop.h"
#include "shell/instance.h"

namespace hrd {

// Exit codes of the program.
inline constexpr int exit_normal = 1;  // the loop ended, or an error was reported
inline constexpr int exit_already_running = 3;
inline constexpr int exit_no_web_renderer = 4;  // its module is missing or broken
inline constexpr int exit_no_data_folder = 123;  // neither $XDG_DATA_HOME nor $HOME

// What the desktop (or a test double) provides to start-up.
class shell_platform {
public:
    virtual ~shell_platform() = default;
    // Called once, after the logs are up. The loop lives until shutdown is over.
    virtual std::unique_ptr<event_loop> create_event_loop() = 0;
    // Called after the resources are read and before the view is made: creates the
    // main window with its document loaded from the resources, and fills in
    // services() (window, clipboard, dialog, opener). Raises when the document
    // cannot be loaded.
    virtual void create_main_window() = 0;
    // Called once the lists are filled: shows the window (unless `hidden`), adds the
    // tray icon, takes the copy keys and accepts drops. `exit` ends the program like
    // the tray's Exit.
    virtual void start_desktop(std::function<void()> exit, bool hidden) = 0;
    // Called first on every way out: gives back the copy keys and the drop target
    // and removes the tray icon. Safe to call when nothing was started.
    virtual void stop_desktop() noexcept = 0;
    // Called after the view is gone: destroys the window and its document.
    virtual void destroy_main_window() noexcept = 0;
    // A second start asked for the window: show, restore and raise it.
    virtual void on_second_start() = 0;
    // Keeps the clipboard's text now, as a double copy does (the same checks and
    // log lines), and calls `done` with the outcome, at once or later.
    virtual void capture_clipboard(std::function<void(instance_answer)> done) = 0;
    // Called after create_event_loop() when opening the collection takes long (an
    // older file gets its text index): shows `what` and returns what to tell how far
    // it has come, 0 to 1; 1 ends the showing. By default nothing is shown.
    virtual std::function<void(double)> show_progress(const std::string& what) {
        (void)what;
        return nullptr;
    }
};

// Runs the program and returns its exit code. Never throws: anything that escapes
// is reported as "Error: ..." (or "Unknown error.") to the "app" log and to stderr.
// `hidden`: the window stays hidden in the tray, and a running instance is left
// as it is.
int run_application(shell_platform& platform, bool hidden = false) noexcept;

// Carries out one request from the command line in the running program.
void handle_request(shell_platform& platform, event_loop& loop, const instance_request& request,
                    pending_reply reply);

}  // namespace hrd
