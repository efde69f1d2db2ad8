#include "shell/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fml/exception.h"
#include "shell/errors.h"

namespace hrd {
namespace {

std::string socket_path(const std::string& folder) {
    return folder + "/" + instance_probe_name;
}

// Fills a Unix socket address; false when the path does not fit.
bool make_address(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits for `fd` to become readable; false on time-out or error.
bool wait_readable(int fd, int milliseconds) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, milliseconds);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

}  // namespace

namespace {

// Whether `folder` is a real folder (not a symlink) of this user's that nobody else
// may enter; the reason when it is not.
std::string why_not_private(const std::string& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return "cannot read it: " + fml::last_error_text();
    }
    if (!S_ISDIR(info.st_mode)) {
        return "not a folder (a symlink or a file)";
    }
    if (info.st_uid != ::getuid()) {
        return "someone else's";
    }
    if ((info.st_mode & 077) != 0) {
        return "open to others";
    }
    return {};
}

// Whether the probe socket's path in `folder` fits a socket address.
bool socket_fits(const std::string& folder) {
    sockaddr_un address{};
    return make_address(socket_path(folder), address);
}

}  // namespace

void ensure_private_folder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw instance_error("Cannot create runtime folder \"" + folder +
                             "\": " + fml::last_error_text());
    }
    const std::string reason = why_not_private(folder);
    if (!reason.empty()) {
        throw instance_error("Runtime folder \"" + folder +
                             "\" is not a private folder of this user: " + reason);
    }
}

std::string runtime_folder() {
    // Another user who can write into the folder could take the lock name first and
    // make every start of ours give up, so only a private folder is used as given.
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/' && why_not_private(xdg).empty() && socket_fits(xdg)) {
        return xdg;
    }
    // Our own folder in the temporary folder; in /tmp when $TMPDIR is too deep for a
    // socket path.
    const std::string own = "/hoardly-runtime-" + std::to_string(::getuid());
    const char* tmp = std::getenv("TMPDIR");
    std::string fallback = "/tmp" + own;
    if (tmp != nullptr && tmp[0] == '/' && socket_fits(tmp + own)) {
        fallback = tmp + own;
    }
    ensure_private_folder(fallback);
    return fallback;
}

instance_lock::instance_lock(const std::string& folder) {
    const std::string path = folder + "/" + instance_mutex_name;
    m_fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!m_fd.valid()) {
        throw instance_error("Cannot open instance lock \"" + path +
                             "\": " + fml::last_error_text());
    }
    // Only a lock file of our own counts: one planted by someone else would otherwise
    // stop every start of ours as if another instance ran.
    struct stat info {};
    if (::fstat(m_fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        throw instance_error("Instance lock \"" + path + "\" is not a plain file of this user's");
    }
    while (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            return;  // another instance holds it
        }
        const std::string error = fml::last_error_text();
        throw instance_error("Cannot lock \"" + path + "\": " + error);
    }
    m_acquired = true;
}

// Closing the descriptor releases the lock.
instance_lock::~instance_lock() = default;

bool send_probe(const std::string& folder, std::chrono::milliseconds timeout) {
    sockaddr_un address{};
    if (!make_address(socket_path(folder), address)) {
        return false;
    }
    const fml::unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return false;
    }
    bool answered = false;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string probe = std::string(instance_probe_name) + "\n";
        if (::send(fd.get(), probe.data(), probe.size(), MSG_NOSIGNAL) == ssize_t(probe.size()) &&
            wait_readable(fd.get(), static_cast<int>(timeout.count()))) {
            char answer[128];
            const ssize_t got = ::recv(fd.get(), answer, sizeof answer, 0);
            answered = got == ssize_t(probe.size()) &&
                       std::memcmp(answer, probe.data(), probe.size()) == 0;
        }
    }
    return answered;
}

probe_server::probe_server(const std::string& folder) : m_path(socket_path(folder)) {
    sockaddr_un address{};
    if (!make_address(m_path, address)) {
        throw instance_error("Runtime folder path too long for a socket: \"" + m_path + "\"");
    }
    m_fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_fd.valid()) {
        throw instance_error("Cannot create socket: " + fml::last_error_text());
    }
    // We hold the instance lock, so a socket file here was left by a killed instance.
    ::unlink(m_path.c_str());
    if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd.get(), 8) != 0) {
        const std::string error = fml::last_error_text();
        throw instance_error("Cannot listen on \"" + m_path + "\": " + error);
    }
}

probe_server::~probe_server() {
    m_fd.reset();
    ::unlink(m_path.c_str());
}

bool probe_server::accept_probe() {
    const fml::unique_fd client(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) {
        return false;
    }
    const std::string probe = std::string(instance_probe_name) + "\n";
    bool valid = false;
    std::string received;
    while (received.size() < probe.size() && wait_readable(client.get(), 100)) {
        char buffer[128];
        const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    if (received == probe) {
        valid = true;
        ::send(client.get(), probe.data(), probe.size(),
               MSG_NOSIGNAL);  // the caller does not wait for it
    }
    return valid;
}

}  // namespace hrd
