#pragma once

#include <functional>

namespace hrd {

// The program's message loop, as start-up needs it. The desktop shell runs it on
// Qt's event loop. Callbacks run on the loop's thread; an exception escaping one
// ends the loop and is raised again from run(), so it reaches the top-level handler
// without unwinding through the platform's frames.
class event_loop {
public:
    virtual ~event_loop() = default;

    // Calls `on_readable` whenever `fd` has data (or a connection) waiting.
    virtual void watch(int fd, std::function<void()> on_readable) = 0;
    // Runs until quit(); raises the first exception a callback let escape.
    virtual void run() = 0;
    // Ends run() once the current callback returns.
    virtual void quit() = 0;
};

}  // namespace hrd
