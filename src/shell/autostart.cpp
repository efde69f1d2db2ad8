#include "shell/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "fml/exception.h"
#include "fml/unique_fd.h"

namespace hrd {
namespace {

std::string config_home() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config";
    }
    return {};
}

void make_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        throw std::runtime_error("Cannot create \"" + path + "\": " + fml::last_error_text());
    }
}

// A path in an Exec line: quoted when it holds anything a launcher would split or
// expand.
std::string exec_argument(const std::string& path) {
    if (path.find_first_of(" \t\n\"'\\><~|&;$*?#()`%") == std::string::npos) {
        return path;
    }
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += "\\\\";
        }
        if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string login_command() {
    char own[4096];
    const ssize_t size = ::readlink("/proc/self/exe", own, sizeof own - 1);
    if (size <= 0) {
        return "hoardly";
    }
    // The `hoardly` command beside this program is what starts it.
    std::string program(own, static_cast<std::size_t>(size));
    program = program.substr(0, program.rfind('/') + 1) + "hoardly";
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "";
    while (!folders.empty()) {
        const auto end = folders.find(':');
        const std::string candidate = std::string(folders.substr(0, end)) + "/hoardly";
        folders.remove_prefix(end == std::string_view::npos ? folders.size() : end + 1);
        char resolved[4096];
        if (candidate[0] == '/' && ::realpath(candidate.c_str(), resolved) != nullptr) {
            return resolved == program ? "hoardly" : program;
        }
    }
    return program;
}

std::string autostart_entry_path() {
    const std::string config = config_home();
    return config.empty() ? std::string() : config + "/autostart/hoardly.desktop";
}

std::string autostart_entry(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Hoardly\n"
           "Comment=Keep text clips with a double Ctrl+C\n"
           "Exec=" + exec_argument(program) + " --hidden\n"
           "Icon=hoardly\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool starts_at_login() {
    const std::string path = autostart_entry_path();
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void set_start_at_login(bool enabled, const std::string& program) {
    const std::string path = autostart_entry_path();
    if (path.empty()) {
        throw std::runtime_error("Neither $XDG_CONFIG_HOME nor $HOME is set");
    }
    if (!enabled) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            throw std::runtime_error("Cannot remove \"" + path + "\": " + fml::last_error_text());
        }
        return;
    }
    make_folder(config_home());
    make_folder(config_home() + "/autostart");
    // Written aside and renamed, so a session never starts from half an entry.
    const std::string temporary = path + ".new";
    const std::string content = autostart_entry(program);
    fml::unique_fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    bool written = fd.valid() && ::write(fd.get(), content.data(), content.size()) ==
                                     static_cast<ssize_t>(content.size());
    written = fd.close() && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string error = fml::last_error_text();
        ::unlink(temporary.c_str());
        throw std::runtime_error("Cannot write \"" + path + "\": " + error);
    }
}

}  // namespace hrd
