#pragma once
// A key capture and a clipboard reader for tests, with a backend that hands them
// out: the test presses the copy keys through press(), which decides with the
// real rule, and answers reads itself through answer().

#include <deque>
#include <utility>

#include "platform/capture_rule.h"
#include "platform/key_capture.h"

namespace hrd::fake {

class fake_key_capture final : public key_capture {
public:
    explicit fake_key_capture(std::function<void()> on_capture)
        : m_on_capture(std::move(on_capture)) {}
    void run_in_background() override { running = true; }
    void stop() noexcept override { running = false; }
    std::chrono::microseconds longest_hold() const override { return {}; }
    std::uint64_t decided_presses() const override { return m_decided; }

    // One key-down while running; a captured press calls back at once.
    capture_decision press(const key_press& key) {
        if (!running) {
            return capture_decision::pass_on;
        }
        ++m_decided;
        const capture_decision decision = m_rule.decide(key);
        if (decision == capture_decision::capture) {
            m_on_capture();
        }
        return decision;
    }
    bool running = false;

private:
    std::function<void()> m_on_capture;
    capture_rule m_rule;
    std::uint64_t m_decided = 0;
};

class fake_clipboard_reader final : public clipboard_text_reader {
public:
    void read(done_function done) override { pending.push_back(std::move(done)); }
    // Answers the oldest read still waiting; false when none waits.
    bool answer(clipboard_text result) {
        if (pending.empty()) {
            return false;
        }
        auto done = std::move(pending.front());
        pending.pop_front();
        done(std::move(result));
        return true;
    }
    std::deque<done_function> pending;
};

// A backend whose parts stay reachable through `capture` and `reader` while they live.
struct fake_capture_backend {
    fake_key_capture* capture = nullptr;
    fake_clipboard_reader* reader = nullptr;

    capture_backend backend() {
        return {[this](std::function<void()> on_capture, capture_backend::log_function) {
                    auto made = std::make_unique<fake_key_capture>(std::move(on_capture));
                    capture = made.get();
                    return std::unique_ptr<key_capture>(std::move(made));
                },
                [this](std::chrono::milliseconds, std::chrono::milliseconds) {
                    auto made = std::make_unique<fake_clipboard_reader>();
                    reader = made.get();
                    return std::unique_ptr<clipboard_text_reader>(std::move(made));
                }};
    }
};

}  // namespace hrd::fake
