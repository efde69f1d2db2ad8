#pragma once
// A UI thread for tests: posted tasks wait until the test runs them, so a test
// decides when work from other threads lands.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/ui_thread.h"

namespace hrd::fake {

class fake_ui_thread final : public ui_thread {
public:
    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_posted.notify_all();
    }
    // Kept apart from the others: they run when the test says the time has passed.
    void post_after(std::chrono::milliseconds, std::function<void()> task) override {
        std::lock_guard lock(m_mutex);
        m_later.push_back(std::move(task));
    }
    // Lets the time of every task posted for later pass: those run now (and what they
    // post for later waits again); false when there was none.
    bool run_later() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(m_mutex);
            tasks.swap(m_later);
        }
        for (auto& task : tasks) {
            task();
        }
        return !tasks.empty();
    }
    // Runs the tasks posted so far; false when there was none.
    bool run_posted() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(m_mutex);
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) {
            task();
        }
        return !tasks.empty();
    }
    // Waits (at most `limit`) for a task to be posted, then runs what is posted.
    bool wait_and_run(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        {
            std::unique_lock lock(m_mutex);
            m_posted.wait_for(lock, limit, [this] { return !m_tasks.empty(); });
        }
        return run_posted();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
    std::deque<std::function<void()>> m_later;
};

}  // namespace hrd::fake
