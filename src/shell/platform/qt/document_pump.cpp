#include "shell/platform/qt/document_pump.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace hrd::qt {

document_pump::document_pump(layout::document& document, guard_function guard, QObject* parent)
    : QObject(parent), m_document(document), m_guard(std::move(guard)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_guard([this] { run_pending(); }); });
}

void document_pump::schedule_pending() {
    if (m_posted_pending) {
        return;
    }
    m_posted_pending = true;
    QTimer::singleShot(0, this, [this] { m_guard([this] { run_pending(); }); });
}

void document_pump::run_pending() {
    m_posted_pending = false;
    m_document.run_posted_events();
    m_document.run_due_timers();
    schedule_timer();
}

void document_pump::schedule_timer() {
    const auto due = m_document.next_timer_due();
    if (!due) {
        m_timer.stop();
        return;
    }
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    m_timer.start(int(std::clamp<std::int64_t>(*due - now, 0, 24 * 3600 * 1000)));
}

}  // namespace hrd::qt
