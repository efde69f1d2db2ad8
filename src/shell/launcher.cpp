// The `hoardly` command: answers its command line (and asks the running instance)
// without loading the desktop's libraries, so a desktop shortcut's "hoardly
// --capture" is done in milliseconds; a start becomes the desktop program beside
// it, in this very process.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "shell/command_line.h"
#include "shell/remote_command.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    hrd::command_line line =
        hrd::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    hrd::apply_renderer_variable(line, std::getenv("HOARDLY_RENDERER"));
    if (const std::optional<int> code = hrd::run_command_line(line, std::cout, std::cerr)) {
        return *code;
    }
    char own[4096];
    const ssize_t size = ::readlink("/proc/self/exe", own, sizeof own - 1);
    if (size <= 0) {
        std::cerr << "hoardly: cannot find its own program: " << std::strerror(errno) << "\n";
        return hrd::exit_not_done;
    }
    std::string desktop(own, static_cast<std::size_t>(size));
    desktop = desktop.substr(0, desktop.rfind('/') + 1) + "hoardly-desktop";
    // The same name and arguments: the desktop's windows keep the class "hoardly".
    ::execv(desktop.c_str(), argv);
    std::cerr << "hoardly: cannot start " << desktop << ": " << std::strerror(errno) << "\n";
    return hrd::exit_not_done;
}
