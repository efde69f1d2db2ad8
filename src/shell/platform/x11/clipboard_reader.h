#pragma once
// Reads the text of the CLIPBOARD selection on a connection and a thread of its
// own. Nobody waits for the program that owns the clipboard: the caller asks, and
// is told later whether the owner handed over its text, had none, refused it, or
// did not answer in time. Large texts come in pieces (INCR) and arrive whole.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/key_capture.h"
#include "shell/platform/x11/x_errors.h"

namespace hrd::x11 {

class clipboard_reader final : public clipboard_text_reader {
public:
    // Opens a connection of its own to the display named by $DISPLAY; raises
    // x11_error when there is none. The owner gets `answer_wait` for each answer
    // (the list of its formats, the text, each piece of a large text), and
    // `transfer_limit` for the whole read.
    clipboard_reader(std::chrono::milliseconds answer_wait,
                     std::chrono::milliseconds transfer_limit);
    ~clipboard_reader();
    clipboard_reader(const clipboard_reader&) = delete;
    clipboard_reader& operator=(const clipboard_reader&) = delete;

    void read(done_function done) override;

    std::chrono::milliseconds answer_wait() const { return m_answer_wait; }
    std::chrono::milliseconds transfer_limit() const { return m_transfer_limit; }

    // The reader's connection and what its thread shares with the others.
    struct connection;

private:
    void serve();

    std::unique_ptr<connection> m_x;
    const std::chrono::milliseconds m_answer_wait;
    const std::chrono::milliseconds m_transfer_limit;
    std::thread m_thread;
};

}  // namespace hrd::x11
