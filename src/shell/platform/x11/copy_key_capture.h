#pragma once
// The double-copy gesture on X11. The copy keys with Control (Ctrl+C, Ctrl+Insert,
// also with Shift and with Caps/Num Lock) are grabbed passively in synchronous mode:
// the server holds the keyboard at each press until the capture rule has decided,
// then the press is replayed to the focused window or swallowed. Copy-key presses
// without Control are only observed, through XInput2 raw events, so that they
// renew the rule's time without ever freezing the keyboard.
//
// Nothing slow happens while the keyboard is held: the decision is made, the press
// released, and only then is `on_capture` called. The program runs the connection
// on a thread of its own (run_in_background), so a press is decided at once even
// while its main thread waits for a clipboard owner or stores a large capture.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/capture_rule.h"
#include "platform/key_capture.h"
#include "shell/platform/x11/x_errors.h"

namespace hrd::x11 {

class copy_key_capture final : public key_capture {
public:
    using log_function = std::function<void(const std::string&)>;

    // Opens a connection of its own to the display named by $DISPLAY and grabs the
    // keys. Raises x11_error when there is no display. A grab that another client
    // holds already is logged, not fatal: capture then works where it can.
    copy_key_capture(std::function<void()> on_capture, log_function log);
    ~copy_key_capture();
    copy_key_capture(const copy_key_capture&) = delete;
    copy_key_capture& operator=(const copy_key_capture&) = delete;

    // The connection's socket, to watch for readability.
    int fd() const;
    // Handles every event that has arrived. Call when fd() is readable.
    void process_events();
    // From now on a thread of its own waits for the events and handles them, and
    // `on_capture` is called on that thread. fd() and process_events() are then
    // no longer the caller's to use.
    void run_in_background() override;
    // Also releases the grabs.
    void stop() noexcept override;

    std::chrono::microseconds longest_hold() const override { return m_longest_hold; }
    std::uint64_t decided_presses() const override { return m_decided; }

private:
    struct connection;
    void grab_keys();
    void on_grabbed_press(const void* event);
    void on_raw_event(int type, unsigned keycode, unsigned long time);
    void serve();

    std::unique_ptr<connection> m_x;
    std::function<void()> m_on_capture;
    log_function m_log;
    capture_rule m_rule;
    std::chrono::microseconds m_longest_hold{0};
    std::uint64_t m_decided = 0;
    std::thread m_thread;
};

}  // namespace hrd::x11
