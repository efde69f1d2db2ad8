#include "shell/remote_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ostream>
#include <thread>

#include "fml/exception.h"
#include "shell/instance.h"

extern char** environ;

namespace hrd {
namespace {

constexpr const char* version_text = "hoardly 0.1";

// This program's own file, to start it again.
std::string own_program() {
    char buffer[4096];
    const ssize_t size = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string("hoardly");
}

// Starts `program --hidden` on its own, detached from this terminal: its output goes
// to its logs, and it outlives this command. A renderer named on the command line
// goes with it. Returns its process id, or -1.
pid_t start_in_tray(const std::string& program, const command_line& line, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string argument0 = program;
    std::string argument1 = "--hidden";
    std::string argument2 = std::string("--renderer=") + renderer_name(line.shows_with);
    char* argv[] = {argument0.data(), argument1.data(),
                    line.renderer_given ? argument2.data() : nullptr, nullptr};
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        error = "cannot start " + program + ": " + std::string(std::strerror(failed));
        return -1;
    }
    return pid;
}

// Whether the path of the socket is missing or a socket: an instance that is
// starting will listen there soon. Anything else will never answer.
bool may_listen_soon(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 || S_ISSOCK(info.st_mode);
}

std::optional<std::string> text_to_add(const command_line& line, int input_fd, std::string& error) {
    std::optional<std::string> bytes = line.text;
    if (!bytes) {
        bytes = read_all_limited(input_fd, max_add_bytes, error);
    } else if (bytes->size() > max_add_bytes) {
        error = "the text is larger than one quote can hold: nothing was added";
        return std::nullopt;
    }
    if (!bytes) {
        return std::nullopt;
    }
    return locale_text_to_utf8(std::move(*bytes), error);
}

}  // namespace

std::optional<int> run_command_line(const command_line& line, std::ostream& out,
                                    std::ostream& err, const remote_settings& settings) {
    using kind = command_line::kind;
    switch (line.what) {
        case kind::help:
            out << usage_text();
            return exit_done;
        case kind::version:
            out << version_text << "\n";
            return exit_done;
        case kind::error:
            err << "hoardly: " << line.message << "\nTry \"hoardly --help\".\n";
            return exit_usage;
        case kind::start:
        case kind::hidden:
            return std::nullopt;
        case kind::request:
            break;
    }

    instance_request request{line.request, {}};
    if (line.request == command::add) {
        std::string error;
        std::optional<std::string> text = text_to_add(line, settings.input_fd, error);
        if (!text) {
            err << "hoardly: " << error << "\n";
            return exit_not_done;
        }
        request.text = std::move(*text);
    }

    std::string folder;
    try {
        folder = runtime_folder();
    } catch (const std::exception& e) {
        err << "hoardly: " << e.what() << "\n";
        return exit_not_done;
    }
    const std::string path = instance_socket_path(folder);
    pid_t started = -1;
    {
        std::optional<instance_lock> lock;
        try {
            lock.emplace(folder);
        } catch (const std::exception& e) {
            err << "hoardly: " << e.what() << "\n";
            return exit_not_done;
        }
        if (lock->acquired()) {
            switch (line.request) {
                case command::hide:
                case command::quit:
                    err << "hoardly: Hoardly is not running\n";
                    return exit_not_done;
                case command::show:
                case command::toggle:
                    return std::nullopt;  // this start shows the window
                case command::add:
                case command::capture:
                    break;
            }
            lock.reset();  // for the instance that starts now
            std::string error;
            started = start_in_tray(settings.program.empty() ? own_program() : settings.program, line,
                                    error);
            if (started < 0) {
                err << "hoardly: " << error << "\n";
                return exit_not_done;
            }
        }
    }

    // An instance that is starting listens a little later: until it does, or ends.
    const auto end = std::chrono::steady_clock::now() +
                     (started >= 0 ? settings.start_wait : settings.answer_wait);
    const auto answer_wait = started >= 0 ? settings.start_wait : settings.answer_wait;
    for (;;) {
        const send_result sent = send_request(folder, request, answer_wait);
        switch (sent.what) {
            case send_result::status::answered:
                (sent.answer.ok ? out : err)
                    << (sent.answer.ok ? "" : "hoardly: ") << sent.answer.message << "\n";
                return sent.answer.ok ? exit_done : exit_not_done;
            case send_result::status::no_answer:
                err << "hoardly: the running Hoardly did not answer in "
                    << answer_wait.count() / 1000 << " s"
                    << (sent.detail.empty() ? "" : " (" + sent.detail + ")") << "\n";
                return exit_not_done;
            case send_result::status::failed:
                err << "hoardly: " << sent.detail << "\n";
                return exit_not_done;
            case send_result::status::no_instance:
                break;
        }
        if (started >= 0) {
            int status = 0;
            // Code 3: another start won the race and is the instance to ask.
            if (::waitpid(started, &status, WNOHANG) == started &&
                !(WIFEXITED(status) && WEXITSTATUS(status) == 3)) {
                err << "hoardly: Hoardly could not be started (see its application log)\n";
                return exit_not_done;
            }
        }
        // The instance started here replaces whatever is at the path.
        if ((started < 0 && !may_listen_soon(path)) || std::chrono::steady_clock::now() > end) {
            err << "hoardly: Hoardly runs but cannot be reached: " << sent.detail << "\n";
            return exit_not_done;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace hrd
