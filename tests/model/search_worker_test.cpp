// The search thread: only the newest search's result comes back, a running search
// is told to stop when a newer one comes, errors come back as words, and the
// worker ends cleanly with a search still running.

#include "model/search_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace hrd;

namespace {

// Results as the worker hands them back, with a wait for the next one.
struct results {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<std::vector<record_id>, std::string>> got;

    search_worker::done collect() {
        return [this](std::vector<record_id> ids, std::string error) {
            {
                std::lock_guard lock(mutex);
                got.emplace_back(std::move(ids), std::move(error));
            }
            arrived.notify_all();
        };
    }
    bool wait_for(std::size_t count) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(30), [&] { return got.size() >= count; });
    }
};

// A search that runs until it is cancelled, saying when it has started.
struct endless {
    std::atomic<bool> started{false};
    std::atomic<bool> saw_cancel{false};
    search_worker::search search() {
        return [this](const std::atomic<bool>& cancel) -> std::optional<std::vector<record_id>> {
            started = true;
            while (!cancel) {
                std::this_thread::yield();
            }
            saw_cancel = true;
            return std::nullopt;
        };
    }
};

}  // namespace

TEST(search_worker, the_newest_search_wins_and_a_running_one_is_stopped) {
    results out;
    {
        search_worker worker;
        endless slow;
        worker.start(slow.search(), out.collect());
        while (!slow.started) {
            std::this_thread::yield();
        }
        // A newer search stops the running one; only the newer result comes back.
        worker.start([](const std::atomic<bool>&) { return std::optional(std::vector<record_id>{7, 8}); },
                     out.collect());
        ASSERT_TRUE(out.wait_for(1));
        EXPECT_TRUE(slow.saw_cancel);
        EXPECT_EQ(out.got[0].first, (std::vector<record_id>{7, 8}));
        EXPECT_EQ(out.got[0].second, "");

        // An error comes back as its message.
        worker.start([](const std::atomic<bool>&) -> std::optional<std::vector<record_id>> {
            throw std::runtime_error("the tag is gone");
        }, out.collect());
        ASSERT_TRUE(out.wait_for(2));
        EXPECT_EQ(out.got[1].second, "the tag is gone");

        // Cancelled outright: nothing comes back.
        endless another;
        worker.start(another.search(), out.collect());
        while (!another.started) {
            std::this_thread::yield();
        }
        worker.cancel();
        while (!another.saw_cancel) {
            std::this_thread::yield();
        }
        // The worker goes away with a search running: it is stopped and joined.
        endless last;
        worker.start(last.search(), out.collect());
        while (!last.started) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(out.got.size(), 2u);
}
