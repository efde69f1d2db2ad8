#include "shell/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "fml/exception.h"
#include "shell/errors.h"

namespace hrd {
namespace {

int g_write_fd = -1;
constexpr int handled_signals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void on_signal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(g_write_fd, &byte, 1);
    errno = saved;
}

}  // namespace

termination_signals::termination_signals() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw apperror("Cannot create the signal pipe: " + fml::last_error_text());
    }
    m_read_fd.reset(fds[0]);
    m_write_fd.reset(fds[1]);
    g_write_fd = m_write_fd.get();
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : handled_signals) {
        ::sigaction(number, &action, nullptr);
    }
}

termination_signals::~termination_signals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : handled_signals) {
        ::sigaction(number, &action, nullptr);
    }
    g_write_fd = -1;  // both ends of the pipe close with the members
}

int termination_signals::take() {
    int last = 0;
    unsigned char byte = 0;
    while (::read(m_read_fd.get(), &byte, 1) == 1) {
        last = byte;
    }
    return last;
}

}  // namespace hrd
