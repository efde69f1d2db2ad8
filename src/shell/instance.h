#pragma once
// One running Hoardly per user: an exclusive flock on a file in the user's runtime
// folder, plus a local socket through which a second start or a command line asks
// the first instance to do something (show its window, keep a text, ...) and waits
// for its answer. Only a peer of the same user is listened to.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <optional>

#include <sys/types.h>

#include "fml/unique_fd.h"
#include "shell/command_line.h"

namespace hrd {

inline constexpr const char* instance_mutex_name =
    "Hoardly-Unique-Mutex-c2a8e530-39a4-11db-a98b-0800200c9a66";
inline constexpr const char* instance_probe_name =
    "Hoardly-Unique-Window-3e460e80-39a4-11db-a98b-0800200c9a66";

// $XDG_RUNTIME_DIR when it is a private folder of this user's (a real folder, not a
// symlink, mode 0700) short enough for the probe socket; else a private folder of the
// user's own in $TMPDIR or /tmp (created 0700; refused when it is a symlink, someone
// else's, or open to others). Raises instance_error with the reason.
std::string runtime_folder();

// Creates `folder` 0700 if missing and checks that it is a real folder of this user's
// that nobody else can enter; raises instance_error otherwise.
void ensure_private_folder(const std::string& folder);

class instance_lock {
public:
    // Takes the lock in `folder`. `acquired()` is false when another instance holds it;
    // any other failure raises instance_error. The lock lasts as long as the object.
    explicit instance_lock(const std::string& folder);
    ~instance_lock();
    instance_lock(const instance_lock&) = delete;
    instance_lock& operator=(const instance_lock&) = delete;

    bool acquired() const { return m_acquired; }

private:
    fml::unique_fd m_fd;
    bool m_acquired = false;
};

struct instance_request {
    command what = command::show;
    std::string text;  // UTF-8, for command::add
};

struct instance_answer {
    bool ok = false;
    std::string message;  // what was done, or why not
};

struct send_result {
    enum class status {
        answered,     // `answer` holds the instance's answer
        no_instance,  // nothing listens at the socket (none there, a stale or a wrong file)
        no_answer,    // a peer took the request and did not answer in time
        failed,       // `detail` says why
    };
    status what = status::failed;
    instance_answer answer;
    std::string detail;
};

// The path of the socket in `folder`.
std::string instance_socket_path(const std::string& folder);

// Sends `request` to the running instance and waits at most `timeout` for its whole
// answer. Never throws.
send_result send_request(const std::string& folder, const instance_request& request,
                         std::chrono::milliseconds timeout);

// Whether the peer of the connected Unix socket `fd` runs as `user`; `why` says
// who it is otherwise.
bool peer_is_user(int fd, uid_t user, std::string& why);

// The answer owed to one accepted request; it may be given later (a capture waits
// for the clipboard). A request left unanswered is answered as not done.
class pending_reply {
public:
    pending_reply() = default;
    explicit pending_reply(fml::unique_fd connection) : m_fd(std::move(connection)) {}
    pending_reply(pending_reply&&) noexcept = default;
    pending_reply& operator=(pending_reply&&) noexcept = default;
    ~pending_reply();

    // Sends the answer and ends the connection. Never throws; later calls do nothing.
    void send(const instance_answer& answer) noexcept;

private:
    fml::unique_fd m_fd;
};

struct incoming_request {
    std::optional<instance_request> request;  // none: refused or not understood
    std::string refusal;                      // why, for the log
    pending_reply reply;
};

// The first instance's end of the socket. Owned by start-up while the lock is held;
// a stale socket file left by a killed instance is replaced.
class probe_server {
public:
    // Listens to peers of `user` only (this user when not given).
    explicit probe_server(const std::string& folder, std::optional<uid_t> user = std::nullopt);
    ~probe_server();
    probe_server(const probe_server&) = delete;
    probe_server& operator=(const probe_server&) = delete;

    // The listening socket, to watch for readability.
    int fd() const { return m_fd.get(); }
    // Accepts one pending connection and reads its request. Nothing when no peer
    // waits. A peer of another user, or one that sends nothing valid within a short
    // time, is answered with a refusal and comes back with `refusal` set.
    std::optional<incoming_request> accept_request();

private:
    fml::unique_fd m_fd;
    std::string m_path;
    uid_t m_user;
};

}  // namespace hrd
