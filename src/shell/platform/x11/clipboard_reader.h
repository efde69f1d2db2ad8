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

#include "shell/platform/x11/x_errors.h"

namespace hrd::x11 {

struct clipboard_text {
    enum class outcome {
        text,       // `text` holds what the owner handed over, maybe nothing
        no_text,    // nobody owns the clipboard, or its owner offers no text
        refused,    // the owner offers text but would not hand it over
        timed_out,  // the owner did not answer within the wait for an answer
        too_slow,   // the owner answered, but the whole transfer took too long
        failed,     // the reply could not be read; `detail` says why
    };
    outcome result = outcome::no_text;
    std::u16string text;
    std::string detail;
};

class clipboard_reader {
public:
    using done_function = std::function<void(clipboard_text)>;

    // Opens a connection of its own to the display named by $DISPLAY; raises
    // x11_error when there is none. The owner gets `answer_wait` for each answer
    // (the list of its formats, the text, each piece of a large text), and
    // `transfer_limit` for the whole read.
    clipboard_reader(std::chrono::milliseconds answer_wait,
                     std::chrono::milliseconds transfer_limit);
    ~clipboard_reader();
    clipboard_reader(const clipboard_reader&) = delete;
    clipboard_reader& operator=(const clipboard_reader&) = delete;

    // Starts a read and returns at once; `done` is called once, on the reader's
    // thread, with the outcome. A read asked for while another runs waits its turn.
    // Reads still waiting or running when the reader is destroyed are dropped
    // without a call.
    void read(done_function done);

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
