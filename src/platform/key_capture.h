#pragma once
// The double copy as the desktop provides it: a key capture that takes the copy
// keys anywhere on the desktop and decides each press with capture_rule, and a
// reader that fetches the clipboard's text without anyone waiting for the program
// that owns it. The desktop shell picks the implementation through
// capture_backend; nothing here knows a window system.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hrd {

class key_capture {
public:
    virtual ~key_capture() = default;
    // From now on presses are decided on a thread of the capture's own, and the
    // capture's callback is called there, after the press has been released.
    virtual void run_in_background() = 0;
    // Ends the background thread, if any, and gives the keys back; no press is held
    // or decided afterwards.
    virtual void stop() noexcept = 0;
    // How long the longest press was held so far, and how many were decided. Read
    // them from another thread only after stop().
    virtual std::chrono::microseconds longest_hold() const = 0;
    virtual std::uint64_t decided_presses() const = 0;
};

// What a clipboard read came to.
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

class clipboard_text_reader {
public:
    using done_function = std::function<void(clipboard_text)>;
    virtual ~clipboard_text_reader() = default;
    // Starts a read and returns at once; `done` is called once, on the reader's
    // thread, with the outcome. A read asked for while another runs waits its turn.
    // Reads still waiting or running when the reader is destroyed are dropped
    // without a call.
    virtual void read(done_function done) = 0;
};

// Makes the capture's parts; each maker raises when the desktop cannot provide it
// (no display, say).
struct capture_backend {
    using log_function = std::function<void(const std::string&)>;
    std::function<std::unique_ptr<key_capture>(std::function<void()> on_capture, log_function log)>
        make_key_capture;
    // The owner gets `answer_wait` for each answer and `transfer_limit` for the
    // whole read.
    std::function<std::unique_ptr<clipboard_text_reader>(std::chrono::milliseconds answer_wait,
                                                         std::chrono::milliseconds transfer_limit)>
        make_reader;
};

}  // namespace hrd
