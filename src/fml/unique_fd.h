#pragma once
// Owns one file descriptor and closes it exactly once: when it goes, is reset or
// is closed explicitly. Moving hands the descriptor on; release() gives it up.

#include <unistd.h>

#include <utility>

namespace fml {

class unique_fd {
public:
    unique_fd() noexcept = default;
    explicit unique_fd(int fd) noexcept : m_fd(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& other) noexcept : m_fd(other.release()) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    // The descriptor, no longer closed here.
    int release() noexcept { return std::exchange(m_fd, -1); }
    // Closes the one held, if any, and holds `fd` instead.
    void reset(int fd = -1) noexcept {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0) {
            ::close(old);
        }
    }
    // Closes now and says whether the close went well (errno says why not): the
    // last error of a write may show only here. Holds nothing afterwards.
    bool close() noexcept {
        const int old = release();
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd = -1;
};

}  // namespace fml
