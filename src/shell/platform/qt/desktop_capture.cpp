#include "shell/platform/qt/desktop_capture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <utility>

namespace hrd::qt {
namespace {

std::string seconds_text(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        text += "." + std::to_string(ms % 1000 / 100);
    }
    return text + " s";
}

const char* const no_text_line = "The clipboard holds no text: nothing captured";

}  // namespace

desktop_capture::desktop_capture(capture_backend backend, hrd::clipboard& clipboard,
                                 std::function<void(std::u16string)> on_text, guard_function guard,
                                 log_function log, std::chrono::milliseconds answer_wait)
    : m_backend(std::move(backend)),
      m_clipboard(clipboard),
      m_on_text(std::move(on_text)),
      m_guard(std::move(guard)),
      m_log(std::move(log)),
      m_answer_wait(answer_wait) {}

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
        m_reader = m_backend.make_reader(m_answer_wait, transfer_limit);
        // The capture calls back on its own thread after it has released the press;
        // the read is started from this loop's thread, and its outcome comes back
        // here too, so neither the keyboard nor this loop waits for the owner.
        m_capture = m_backend.make_key_capture(
            [this] {
                QMetaObject::invokeMethod(
                    &m_context,
                    [this] {
                        m_waiting.emplace_back();
                        read_next();
                    },
                    Qt::QueuedConnection);
            },
            m_log);
        m_capture->run_in_background();
    } catch (const std::exception& e) {
        m_capture.reset();
        m_reader.reset();
        m_log(std::string("The double copy is not captured: ") + e.what());
        return;
    }
}

void desktop_capture::stop() noexcept {
    if (!m_capture) {
        return;
    }
    m_capture->stop();
    m_reader.reset();  // a read under way is dropped
    // Asks from the command line still waiting learn that nothing comes.
    std::deque<done_function> waiting = std::exchange(m_waiting, {});
    if (m_current) {
        waiting.push_front(std::exchange(m_current, nullptr));
    }
    m_reading = false;
    for (done_function& done : waiting) {
        if (done) {
            done("Hoardly is closing: nothing captured");
        }
    }
    try {
        m_log("Copy keys: " + std::to_string(m_capture->decided_presses()) +
              " presses decided, the longest held " +
              std::to_string(m_capture->longest_hold().count()) + " us");
    } catch (...) {
    }
    m_capture.reset();
}

void desktop_capture::read_next() {
    while (m_reader && !m_reading && !m_waiting.empty()) {
        done_function done = std::move(m_waiting.front());
        m_waiting.pop_front();
        // Our own clipboard is answered by this very loop: it is read directly,
        // at once, rather than asked for over the display.
        const QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard != nullptr && clipboard->ownsClipboard()) {
            m_guard([&] { report(read_own_clipboard(), done); });
            continue;
        }
        m_reading = true;
        m_current = std::move(done);
        m_reader->read([this](clipboard_text result) {
            auto shared = std::make_shared<clipboard_text>(std::move(result));
            QMetaObject::invokeMethod(
                &m_context,
                [this, shared] {
                    m_reading = false;
                    done_function done = std::exchange(m_current, nullptr);
                    m_guard([&] { report(finish_read(*shared), done); });
                    read_next();
                },
                Qt::QueuedConnection);
        });
    }
}

std::string desktop_capture::read_own_clipboard() {
    std::u16string text;
    try {
        text = m_clipboard.read_text();
    } catch (const std::exception& e) {
        // Losing one capture is better than losing the user's session.
        return std::string("Cannot read the clipboard: ") + e.what();
    }
    if (text.empty()) {
        return no_text_line;
    }
    m_on_text(std::move(text));
    return {};
}

std::string desktop_capture::finish_read(clipboard_text& result) {
    using outcome = clipboard_text::outcome;
    switch (result.result) {
    case outcome::text:
        if (result.text.empty()) {
            return no_text_line;
        }
        m_on_text(std::move(result.text));
        return {};
    case outcome::no_text:
        return no_text_line;
    case outcome::refused:
        return "The clipboard owner refused to hand over its text: nothing captured";
    case outcome::timed_out:
        return "The clipboard owner did not answer in " + seconds_text(m_answer_wait) +
              ": nothing captured";
    case outcome::too_slow:
        return "The clipboard owner took more than " + seconds_text(transfer_limit) +
              " to hand over its text: nothing captured";
    case outcome::failed:
        return "Cannot read the clipboard: " + result.detail;
    }
    return "Cannot read the clipboard";
}

void desktop_capture::report(const std::string& failure, const done_function& done) {
    if (!failure.empty()) {
        m_log(failure);
    }
    if (done) {
        done(failure);
    }
}

void desktop_capture::capture_now(done_function done) {
    if (m_reader) {
        m_waiting.push_back(std::move(done));
        read_next();
        return;
    }
    // No capture of our own (no X11 display, or the keys are someone else's): the
    // desktop's clipboard is read through Qt, which waits for its owner itself.
    m_guard([&] { report(read_own_clipboard(), done); });
}

}  // namespace hrd::qt
