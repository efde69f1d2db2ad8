#include "shell/platform/qt/desktop_capture.h"

#include <QGuiApplication>
#include <QTimer>

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
        // The capture calls back after it has released the press; the clipboard is
        // read on a later turn of the loop, so the keyboard is never held for it.
        m_capture = std::make_unique<x11::copy_key_capture>(
            [this] {
                QTimer::singleShot(0, &m_context,
                                   [this] { m_guard([this] { read_clipboard(); }); });
            },
            m_log);
    } catch (const std::exception& e) {
        m_log(std::string("The double copy is not captured: ") + e.what());
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_capture->fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_context, [this] {
        m_guard([this] {
            if (m_capture) {
                m_capture->process_events();
            }
        });
    });
    // Events that arrived while the grab was being set up are not announced by
    // the socket again.
    m_capture->process_events();
}

void desktop_capture::stop() noexcept {
    if (!m_capture) {
        return;
    }
    m_notifier.reset();
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
