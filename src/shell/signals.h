#pragma once

namespace hrd {

// Turns SIGTERM, SIGINT and SIGHUP into a byte on a pipe that the message loop
// watches, so a logout or Ctrl+C in a terminal ends the program like Exit does.
class termination_signals {
public:
    termination_signals();
    ~termination_signals();
    termination_signals(const termination_signals&) = delete;
    termination_signals& operator=(const termination_signals&) = delete;

    // Readable once a signal arrived.
    int fd() const { return m_read_fd; }
    // Reads the pending signal numbers; returns the last one (0 if none).
    int take();

private:
    int m_read_fd = -1;
};

}  // namespace hrd
