#pragma once
// The double copy on the Qt loop: the key capture decides the copy keys on a
// thread of its own, so the keyboard is answered at once whatever this loop is
// doing; each capture is posted here. The clipboard is read by a reader with its
// own connection and thread, so an owner that is slow or never answers holds up
// neither the keyboard nor this loop; its outcome is posted back here, where the
// text is handed on.

#include <QObject>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/clipboard.h"
#include "platform/key_capture.h"

namespace hrd::qt {

class desktop_capture {
public:
    using guard_function = std::function<void(const std::function<void()>&)>;
    using log_function = std::function<void(const std::string&)>;

    // How long a clipboard owner may take over each answer, and over a whole
    // transfer, before the capture is given up.
    static constexpr std::chrono::milliseconds default_answer_wait{5000};
    static constexpr std::chrono::milliseconds transfer_limit{60000};

    // Nothing is grabbed before start(); `backend` makes the capture and the reader
    // then. `clipboard` is read directly when the clipboard is this program's own.
    desktop_capture(capture_backend backend, hrd::clipboard& clipboard,
                    std::function<void(std::u16string)> on_text, guard_function guard,
                    log_function log, std::chrono::milliseconds answer_wait = default_answer_wait);
    ~desktop_capture();

    // Takes the copy keys. Without an X11 display (a Wayland session, no $DISPLAY)
    // or when the keys cannot be had, logs one line and the program goes on
    // without capture.
    void start();
    // Gives the keys back; nothing is decided or read afterwards. Safe to call twice.
    void stop() noexcept;
    bool running() const { return m_capture != nullptr; }

    // Called with the line that says why nothing was captured; empty once the text
    // was handed on.
    using done_function = std::function<void(const std::string& failure)>;
    // Reads the clipboard now, as a double copy would, in turn with the presses
    // waiting; `done` learns the outcome. Without a running capture the clipboard
    // is read through the `clipboard` given.
    void capture_now(done_function done);

private:
    void read_next();
    // Each returns why nothing was captured, or nothing once the text is handed on.
    std::string read_own_clipboard();
    std::string finish_read(clipboard_text& result);
    void report(const std::string& failure, const done_function& done);

    capture_backend m_backend;
    hrd::clipboard& m_clipboard;
    std::function<void(std::u16string)> m_on_text;
    guard_function m_guard;
    log_function m_log;
    std::chrono::milliseconds m_answer_wait;
    std::unique_ptr<clipboard_text_reader> m_reader;
    std::unique_ptr<key_capture> m_capture;
    // Captures are read one after the other, in the order of the presses.
    std::deque<done_function> m_waiting;  // one a press (empty) or a request
    done_function m_current;              // the read under way's
    bool m_reading = false;
    QObject m_context;  // receives the posted captures and reads: none runs once it is gone
};

}  // namespace hrd::qt
