#include "shell/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

namespace {

using steady = std::chrono::steady_clock;

int remaining_ms(steady::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Sends all of `data`, waiting for room until `end`; false when it cannot.
bool send_all(int fd, std::string_view data, steady::time_point end) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd entry{fd, POLLOUT, 0};
            const int left = remaining_ms(end);
            if (left == 0 || (::poll(&entry, 1, left) < 0 && errno != EINTR)) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

// Reads until the peer ends its side or `end` passes (false then), at most `limit`.
bool receive_all(int fd, std::string& into, std::size_t limit, steady::time_point end) {
    for (;;) {
        if (!wait_readable(fd, remaining_ms(end))) {
            return false;
        }
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // A peer that answers and goes before reading all we sent resets the
            // connection: its answer is here all the same.
            return got == 0 || errno == ECONNRESET;
        }
        if (into.size() + static_cast<std::size_t>(got) > limit) {
            return false;
        }
        into.append(buffer, static_cast<std::size_t>(got));
    }
}

// The request on the wire: the probe name, the command's name and the length of
// the text, a line each, then the text's bytes.
std::string encode(const instance_request& request) {
    return std::string(instance_probe_name) + "\n" + command_name(request.what) + "\n" +
           std::to_string(request.text.size()) + "\n" + request.text;
}

// The answer on the wire: "ok" or "error", a line, then the message.
std::string encode(const instance_answer& answer) {
    return std::string(answer.ok ? "ok" : "error") + "\n" + answer.message;
}

// Splits off the next line of `rest`; nothing when there is no whole line yet.
std::optional<std::string_view> next_line(std::string_view& rest) {
    const auto end = rest.find('\n');
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return line;
}

enum class parse_state { incomplete, complete, invalid };

// Reads a request from the bytes received so far.
parse_state parse_request(const std::string& received, instance_request& request) {
    std::string_view rest = received;
    const auto probe = next_line(rest);
    if (!probe) {
        return received.size() > 256 ? parse_state::invalid : parse_state::incomplete;
    }
    if (*probe != instance_probe_name) {
        return parse_state::invalid;
    }
    const auto name = next_line(rest);
    const auto length = name ? next_line(rest) : std::nullopt;
    if (!length) {
        return rest.size() > 64 ? parse_state::invalid : parse_state::incomplete;
    }
    const auto what = command_from_name(*name);
    std::size_t size = 0;
    for (char digit : *length) {
        if (digit < '0' || digit > '9' || size > max_add_bytes) {
            return parse_state::invalid;
        }
        size = size * 10 + static_cast<std::size_t>(digit - '0');
    }
    if (!what || length->empty() || size > max_add_bytes || rest.size() > size) {
        return parse_state::invalid;
    }
    if (rest.size() < size) {
        return parse_state::incomplete;
    }
    request.what = *what;
    request.text = std::string(rest);
    return parse_state::complete;
}

}  // namespace

std::string instance_socket_path(const std::string& folder) {
    return socket_path(folder);
}

send_result send_request(const std::string& folder, const instance_request& request,
                         std::chrono::milliseconds timeout) {
    send_result result;
    const std::string path = socket_path(folder);
    sockaddr_un address{};
    if (!make_address(path, address)) {
        result.detail = "the socket path is too long: " + path;
        return result;
    }
    const fml::unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        result.detail = "cannot create a socket: " + fml::last_error_text();
        return result;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::string error = fml::last_error_text();
        struct stat info {};
        result.what = send_result::status::no_instance;
        if (::lstat(path.c_str(), &info) != 0) {
            result.detail = "there is no socket at " + path;
        } else if (!S_ISSOCK(info.st_mode)) {
            result.detail = path + " is not a socket";
        } else {
            result.detail = "nothing listens at " + path + " (" + error + ")";
        }
        return result;
    }
    const auto end = steady::now() + timeout;
    std::string received;
    // A peer that refuses us answers without reading the request: its answer is
    // read even when the request could not be sent whole.
    const bool sent = send_all(fd.get(), encode(request), end);
    ::shutdown(fd.get(), SHUT_WR);
    if (!receive_all(fd.get(), received, 65536, end) || received.empty()) {
        result.what = send_result::status::no_answer;
        if (!sent) {
            result.detail = "the request could not be sent";
        }
        return result;
    }
    std::string_view rest = received;
    const auto status = next_line(rest);
    if (!status || (*status != "ok" && *status != "error")) {
        result.detail = "the answer is not understood";
        return result;
    }
    result.what = send_result::status::answered;
    result.answer.ok = *status == "ok";
    result.answer.message = std::string(rest);
    return result;
}

bool peer_is_user(int fd, uid_t user, std::string& why) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        why = "its credentials cannot be read: " + fml::last_error_text();
        return false;
    }
    if (credentials.uid != user) {
        why = "it runs as user " + std::to_string(credentials.uid) + " (process " +
              std::to_string(credentials.pid) + "), not as user " + std::to_string(user);
        return false;
    }
    return true;
}

pending_reply::~pending_reply() {
    send({false, "the request was dropped"});
}

void pending_reply::send(const instance_answer& answer) noexcept {
    if (!m_fd.valid()) {
        return;
    }
    try {
        send_all(m_fd.get(), encode(answer), steady::now() + std::chrono::seconds(2));
    } catch (...) {
    }
    m_fd.reset();
}

probe_server::probe_server(const std::string& folder, std::optional<uid_t> user)
    : m_path(socket_path(folder)), m_user(user.value_or(::getuid())) {
    sockaddr_un address{};
    if (!make_address(m_path, address)) {
        throw instance_error("Runtime folder path too long for a socket: \"" + m_path + "\"");
    }
    m_fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_fd.valid()) {
        throw instance_error("Cannot create socket: " + fml::last_error_text());
    }
    // We hold the instance lock, so a file here was left by a killed instance (or is
    // in the way): it goes.
    ::unlink(m_path.c_str());
    if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd.get(), 16) != 0) {
        const std::string error = fml::last_error_text();
        throw instance_error("Cannot listen on \"" + m_path + "\": " + error);
    }
}

probe_server::~probe_server() {
    m_fd.reset();
    ::unlink(m_path.c_str());
}

std::optional<incoming_request> probe_server::accept_request() {
    fml::unique_fd client(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) {
        return std::nullopt;
    }
    incoming_request incoming;
    const int fd = client.get();
    incoming.reply = pending_reply(std::move(client));
    std::string why;
    if (!peer_is_user(fd, m_user, why)) {
        incoming.refusal = "A request from another user was refused: " + why;
        incoming.reply.send({false, "Hoardly listens only to the user who started it"});
        return incoming;
    }
    // The whole request is read here: a peer gets a short time between its bytes,
    // and a few seconds for all of them.
    const auto end = steady::now() + std::chrono::seconds(5);
    std::string received;
    instance_request request;
    parse_state state = parse_state::incomplete;
    while (state == parse_state::incomplete) {
        if (!wait_readable(fd, std::min(remaining_ms(end), 1000))) {
            break;
        }
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        state = parse_request(received, request);
    }
    if (state != parse_state::complete) {
        incoming.refusal = state == parse_state::invalid
                               ? "A request that is not understood was refused"
                               : "A request that did not arrive whole in time was dropped";
        incoming.reply.send({false, "the request was not understood"});
        return incoming;
    }
    incoming.request = std::move(request);
    return incoming;
}

}  // namespace hrd
