#pragma once
// The double copy on the Qt loop: the X11 capture decides the copy keys on a
// thread of its own, so the keyboard is answered at once whatever this loop is
// doing; each capture is posted here, where the clipboard is read and the text
// handed on.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "model/clipboard.h"
#include "shell/platform/x11/copy_key_capture.h"

namespace hrd::qt {

class desktop_capture {
public:
    using guard_function = std::function<void(const std::function<void()>&)>;
    using log_function = std::function<void(const std::string&)>;

    // Nothing is grabbed before start().
    desktop_capture(hrd::clipboard& clipboard, std::function<void(std::u16string)> on_text,
                    guard_function guard, log_function log);
    ~desktop_capture();

    // Takes the copy keys. Without an X11 display (a Wayland session, no $DISPLAY)
    // or when the keys cannot be had, logs one line and the program goes on
    // without capture.
    void start();
    // Gives the keys back; nothing is decided afterwards. Safe to call twice.
    void stop() noexcept;
    bool running() const { return m_capture != nullptr; }

private:
    void read_clipboard();

    hrd::clipboard& m_clipboard;
    std::function<void(std::u16string)> m_on_text;
    guard_function m_guard;
    log_function m_log;
    std::unique_ptr<x11::copy_key_capture> m_capture;
    QObject m_context;  // receives the posted clipboard reads: none runs once it is gone
};

}  // namespace hrd::qt
