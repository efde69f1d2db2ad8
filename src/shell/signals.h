#pragma once

#include "fml/unique_fd.h"

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
    int fd() const { return m_read_fd.get(); }
    // Reads the pending signal numbers; returns the last one (0 if none).
    int take();

private:
    fml::unique_fd m_read_fd;
    // The handler writes to it through a plain copy of the number, kept while the
    // handler is installed.
    fml::unique_fd m_write_fd;
};

}  // namespace hrd
