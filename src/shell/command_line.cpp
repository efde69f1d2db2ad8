#include "shell/command_line.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "fml/exception.h"

namespace hrd {
namespace {

struct command_option {
    const char* option;
    command what;
};

constexpr command_option command_options[] = {
    {"--show", command::show},       {"--hide", command::hide}, {"--toggle", command::toggle},
    {"--capture", command::capture}, {"--add", command::add},   {"--quit", command::quit},
};

command_line failure(std::string message) {
    command_line result;
    result.what = command_line::kind::error;
    result.message = std::move(message);
    return result;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const char* command_name(command what) {
    switch (what) {
        case command::show:
            return "show";
        case command::hide:
            return "hide";
        case command::toggle:
            return "toggle";
        case command::capture:
            return "capture";
        case command::add:
            return "add";
        case command::quit:
            return "quit";
    }
    return "?";
}

const char* renderer_name(renderer which) {
    switch (which) {
        case renderer::web:
            return "web";
        case renderer::native:
            return "native";
    }
    return "?";
}

std::optional<renderer> renderer_from_name(std::string_view name) {
    for (renderer which : {renderer::web, renderer::native}) {
        if (name == renderer_name(which)) {
            return which;
        }
    }
    return std::nullopt;
}

std::optional<command> command_from_name(std::string_view name) {
    for (const command_option& option : command_options) {
        if (name == command_name(option.what)) {
            return option.what;
        }
    }
    return std::nullopt;
}

command_line parse_command_line(const std::vector<std::string>& args) {
    std::set<std::string> seen;
    std::vector<std::string> actions;  // the options that ask the instance something
    bool help = false;
    bool version = false;
    bool hidden = false;
    command_line result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::optional<std::string> value;
        if (starts_with(arg, "--add=")) {
            name = "--add";
            value = arg.substr(6);
        } else if (starts_with(arg, "--renderer=")) {
            name = "--renderer";
            value = arg.substr(11);
        }
        if (!seen.insert(name).second) {
            return failure(name + " is given twice");
        }
        if (name == "--help" || name == "-h") {
            help = true;
        } else if (name == "--version") {
            version = true;
        } else if (name == "--hidden") {
            hidden = true;
        } else if (name == "--renderer") {
            if (!value && i + 1 < args.size() && !starts_with(args[i + 1], "--")) {
                value = args[++i];
            }
            if (!value) {
                return failure("--renderer needs a value: native or web");
            }
            const std::optional<renderer> which = renderer_from_name(*value);
            if (!which) {
                return failure("unknown renderer \"" + *value + "\" (native or web)");
            }
            result.shows_with = *which;
            result.renderer_given = true;
        } else if (auto it = std::find_if(std::begin(command_options), std::end(command_options),
                                          [&](const command_option& o) { return name == o.option; });
                   it != std::end(command_options)) {
            actions.push_back(name);
            result.request = it->what;
            if (it->what == command::add) {
                // The next argument is the text unless it is an option; --add=TEXT
                // takes any text, one that starts with "--" too.
                if (!value && i + 1 < args.size() && !starts_with(args[i + 1], "--")) {
                    value = args[++i];
                }
                result.text = std::move(value);
            }
        } else if (starts_with(arg, "-")) {
            return failure("unknown option " + arg);
        } else {
            return failure("unexpected argument \"" + arg + "\" (text to add goes after --add)");
        }
    }
    if (help) {
        result.what = command_line::kind::help;
        return result;
    }
    if (version) {
        result.what = command_line::kind::version;
        return result;
    }
    if (actions.size() > 1) {
        return failure(actions[0] + " and " + actions[1] + " cannot be given together");
    }
    if (actions.empty()) {
        result.what = hidden ? command_line::kind::hidden : command_line::kind::start;
        return result;
    }
    // Adding and capturing start an instance in the tray when none runs, so
    // --hidden agrees with them; with the other actions it contradicts or means nothing.
    if (hidden && result.request != command::add && result.request != command::capture) {
        return failure("--hidden and " + actions[0] + " cannot be given together");
    }
    result.what = command_line::kind::request;
    return result;
}

void apply_renderer_variable(command_line& line, const char* value) {
    if (line.renderer_given || value == nullptr || *value == '\0' ||
        line.what == command_line::kind::error) {
        return;
    }
    const std::optional<renderer> which = renderer_from_name(value);
    if (!which) {
        line = failure("unknown renderer \"" + std::string(value) +
                       "\" in HOARDLY_RENDERER (native or web)");
        return;
    }
    line.shows_with = *which;
}

std::string usage_text() {
    return "Usage: hoardly [OPTION]\n"
           "Keeps text clips (quotes): press the copy key twice in any program.\n"
           "\n"
           "With no option, starts Hoardly, or shows the window of the one running.\n"
           "  --hidden       start to the tray with the window hidden (as at login)\n"
           "  --show         show the running Hoardly's window\n"
           "  --hide         hide it to the tray\n"
           "  --toggle       show it when hidden, hide it when shown\n"
           "  --capture      keep the text on the clipboard now, as a double copy does\n"
           "                 (bind a desktop shortcut to \"hoardly --capture\")\n"
           "  --add [TEXT]   keep TEXT, or standard input when TEXT is not given\n"
           "                 (--add=TEXT for a text that starts with \"--\")\n"
           "  --quit         end the running Hoardly, as its tray menu's Exit does\n"
           "  --renderer=native|web\n"
           "                 paint the window in the program itself (the default) or\n"
           "                 show it with the web engine; HOARDLY_RENDERER sets it too\n"
           "  --version      print the version\n"
           "  --help         print this help\n"
           "\n"
           "--capture and --add start Hoardly in the tray when it is not running.\n"
           "Exit status: 0 done, 1 not done (the reason is printed), 2 a wrong command line.\n";
}

std::optional<std::string> locale_text_to_utf8(std::string bytes, std::string& error) {
    const std::string codeset = ::nl_langinfo(CODESET);
    // The "C" locale names ASCII, yet its users' terminals and files are UTF-8 in
    // practice: passing the bytes on loses nothing (ill-formed ones become U+FFFD
    // when the text is stored).
    if (codeset == "UTF-8" || codeset == "utf8" || codeset == "ANSI_X3.4-1968" ||
        codeset == "ASCII" || codeset == "US-ASCII") {
        return bytes;
    }
    const iconv_t converter = ::iconv_open("UTF-8", codeset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        error = "the locale's encoding " + codeset + " cannot be read: " + fml::last_error_text();
        return std::nullopt;
    }
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in_ptr = bytes.data();
    std::size_t in_left = bytes.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();
    const std::size_t done = ::iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
    const int saved = errno;
    ::iconv_close(converter);
    if (done == static_cast<std::size_t>(-1)) {
        error = "the text is not in the locale's encoding " + codeset + " (byte " +
                std::to_string(bytes.size() - in_left) + "): " + std::strerror(saved);
        return std::nullopt;
    }
    out.resize(out.size() - out_left);
    return out;
}

std::optional<std::string> read_all_limited(int fd, std::size_t limit, std::string& error) {
    std::string content;
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "cannot read standard input: " + fml::last_error_text();
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        if (content.size() + static_cast<std::size_t>(got) > limit) {
            error = "the text is larger than " + std::to_string(limit / (1024 * 1024)) +
                    " MiB, more than one quote can hold: nothing was added";
            return std::nullopt;
        }
        content.append(block, static_cast<std::size_t>(got));
    }
}

}  // namespace hrd
