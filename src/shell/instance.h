#pragma once
// One running Hoardly per user: an exclusive flock on a file in the user's runtime
// folder, plus a local socket through which a second start asks the first instance
// to show its window.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "fml/unique_fd.h"

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

// Tells the running instance that a second start happened. Waits at most `timeout`
// for its answer; returns whether it answered. Never throws.
bool send_probe(const std::string& folder, std::chrono::milliseconds timeout);

// The first instance's end of the probe socket. Owned by start-up while the lock is
// held; a stale socket file left by a killed instance is replaced.
class probe_server {
public:
    explicit probe_server(const std::string& folder);
    ~probe_server();
    probe_server(const probe_server&) = delete;
    probe_server& operator=(const probe_server&) = delete;

    // The listening socket, to watch for readability.
    int fd() const { return m_fd.get(); }
    // Accepts one pending connection, answers a valid probe and returns true for it.
    // A client that sends nothing valid within a short time is dropped (false).
    bool accept_probe();

private:
    fml::unique_fd m_fd;
    std::string m_path;
};

}  // namespace hrd
