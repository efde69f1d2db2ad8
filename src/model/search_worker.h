#pragma once
// One thread that runs the searches the user interface must not wait for (a text
// typed into the search field). A new search replaces the one waiting and cancels
// the one running: only the newest counts, and typing never waits for a search.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/records.h"

namespace hrd {

class search_worker {
public:
    // Runs on the worker thread; looks at `cancel` often and gives nullopt when
    // it was set. May raise.
    using search = std::function<std::optional<std::vector<record_id>>(const std::atomic<bool>& cancel)>;
    // Runs on the worker thread with the result of a search that was not
    // cancelled: the ids, or the message of what it raised.
    using done = std::function<void(std::vector<record_id> ids, std::string error)>;

    search_worker();
    // Cancels what runs and waits for the thread to end.
    ~search_worker();
    search_worker(const search_worker&) = delete;
    search_worker& operator=(const search_worker&) = delete;

    // Runs `what`, then `then`, once the thread is free: a search still waiting is
    // dropped and the one running is told to stop.
    void start(search what, done then);
    // Drops the waiting search and stops the running one.
    void cancel();

private:
    struct job {
        search what;
        done then;
    };
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<job> m_next;
    bool m_stopping = false;
    std::atomic<bool> m_cancel_running{false};
    std::thread m_thread;  // last: it starts once the rest is ready
};

}  // namespace hrd
