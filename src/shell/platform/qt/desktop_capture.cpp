#include "shell/platform/qt/desktop_capture.h"

#include <QGuiApplication>
#include <QMetaObject>

namespace hrd::qt {

desktop_capture::desktop_capture(hrd::clipboard& clipboard,
                                 std::function<void(std::u16string)> on_text, guard_function guard,
                                 log_function log)
    : m_clipboard(clipboard),
      m_on_text(std::move(on_text)),
      m_guard(std::move(guard)),
      m_log(std::move(log)) {}

desktop_capture::~desktop_capture() {
    stop();
}

void desktop_capture::start() {
    if (m_capture) {
        return;
    }
    if (QGuiApplication::platformName() != "xcb" || qEnvironmentVariableIsEmpty("DISPLAY")) {
        m_log("No X11 display (" + QGuiApplication::platformName().toStdString() +
              "): the double copy is not captured");
        return;
    }
    try {
        // The capture calls back on its own thread after it has released the press;
        // the clipboard is read here, on the loop's thread, and however long that
        // takes the keyboard is not held for it.
        m_capture = std::make_unique<x11::copy_key_capture>(
            [this] {
                QMetaObject::invokeMethod(
                    &m_context, [this] { m_guard([this] { read_clipboard(); }); },
                    Qt::QueuedConnection);
            },
            m_log);
        m_capture->run_in_background();
    } catch (const std::exception& e) {
        m_capture.reset();
        m_log(std::string("The double copy is not captured: ") + e.what());
        return;
    }
}

void desktop_capture::stop() noexcept {
    if (!m_capture) {
        return;
    }
    m_capture->stop();
    try {
        m_log("Copy keys: " + std::to_string(m_capture->decided_presses()) +
              " presses decided, the longest held " +
              std::to_string(m_capture->longest_hold().count()) + " us");
    } catch (...) {
    }
    m_capture.reset();
}

void desktop_capture::read_clipboard() {
    std::u16string text;
    try {
        text = m_clipboard.read_text();
    } catch (const std::exception& e) {
        // Losing one capture is better than losing the user's session.
        m_log(std::string("Cannot read the clipboard: ") + e.what());
        return;
    }
    if (text.empty()) {
        m_log("The clipboard holds no text: nothing captured");
        return;
    }
    m_on_text(std::move(text));
}

}  // namespace hrd::qt
