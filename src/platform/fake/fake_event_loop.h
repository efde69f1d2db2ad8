#pragma once
// An event loop for tests: the test says when a watched descriptor is readable,
// and run() handles what it was told until quit().

#include <deque>
#include <exception>
#include <map>
#include <stdexcept>
#include <utility>

#include "platform/event_loop.h"

namespace hrd::fake {

class fake_event_loop final : public event_loop {
public:
    void watch(int fd, std::function<void()> on_readable) override {
        m_watches[fd] = std::move(on_readable);
    }
    // Raises when nothing more was made readable and nobody asked to quit: a real
    // loop would wait for ever there.
    void run() override {
        m_quit = false;
        while (!m_quit) {
            if (m_ready.empty()) {
                throw std::logic_error("the loop would wait for ever");
            }
            const int fd = m_ready.front();
            m_ready.pop_front();
            if (auto found = m_watches.find(fd); found != m_watches.end()) {
                found->second();
            }
        }
    }
    void quit() override { m_quit = true; }

    // Marks `fd` readable once, for the next run().
    void make_readable(int fd) { m_ready.push_back(fd); }
    bool watches(int fd) const { return m_watches.count(fd) != 0; }

private:
    std::map<int, std::function<void()>> m_watches;
    std::deque<int> m_ready;
    bool m_quit = false;
};

}  // namespace hrd::fake
