#include "model/search_worker.h"

#include <exception>

namespace hrd {

search_worker::search_worker() : m_thread([this] { run(); }) {}

search_worker::~search_worker() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_next.reset();
        m_cancel_running = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void search_worker::start(search what, done then) {
    {
        // Under the lock, so that the job taken next clears it after, never before.
        std::lock_guard lock(m_mutex);
        m_next = job{std::move(what), std::move(then)};
        m_cancel_running = true;
    }
    m_wake.notify_all();
}

void search_worker::cancel() {
    std::lock_guard lock(m_mutex);
    m_next.reset();
    m_cancel_running = true;
}

void search_worker::run() {
    for (;;) {
        job next;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_next.has_value(); });
            if (m_stopping) {
                return;
            }
            next = std::move(*m_next);
            m_next.reset();
            // Cleared while the lock is held: a start() after this point cancels
            // this job, one before it was the job itself.
            m_cancel_running = false;
        }
        std::optional<std::vector<record_id>> ids;
        std::string error;
        try {
            ids = next.what(m_cancel_running);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (m_cancel_running || (!ids && error.empty())) {
            continue;  // replaced or stopped: its result is nobody's
        }
        next.then(ids ? std::move(*ids) : std::vector<record_id>{}, std::move(error));
    }
}

}  // namespace hrd
