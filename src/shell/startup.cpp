#include "shell/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "fml/unique_fd.h"
#include "model/collection_store.h"
#include "model/model.h"
#include "platform/services.h"
#include "shell/app_data.h"
#include "shell/deliver_quote.h"
#include "shell/errors.h"
#include "shell/instance.h"
#include "shell/signals.h"
#include "shell/singletons.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd {
namespace {

struct log_entry {
    const char* id;
    const char16_t* file;
};

constexpr log_entry program_logs[] = {
    {"app", u"logs/application.log"},   {"profile", u"logs/profile.log"},
    {"debug", u"logs/debug.log"},       {"events", u"logs/events.log"},
    {"cntrl", u"logs/controller.log"},  {"model", u"logs/model.log"},
    {"logic", u"logs/logicevents.log"},
};

// Writes one line to the "app" log when it is up, and to stderr in any case, so an
// error is seen both by a user in a terminal and in the log. Never throws.
void report(const std::string& line) noexcept {
    try {
        if (fml::haslog("app")) {
            fml::getlog("app") << line << std::endl;
        }
    } catch (...) {
    }
    std::cerr << line << std::endl;
}

// Whether the collection in `data_dir` is a file of an older layout, which gets the
// current text index when it is opened: its header says a user_version below ours
// (four bytes, most significant first, at offset 60 of an SQLite file).
bool collection_needs_text_index(const std::u16string& data_dir) {
    const std::string file =
        fml::wchar2utf8(tinyfilesystem::join_path(data_dir, u"hoardly.fdb"));
    const fml::unique_fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    unsigned char header[64] = {};
    if (!fd.valid() || ::pread(fd.get(), header, sizeof header, 0) != sizeof header ||
        std::memcmp(header, "SQLite format 3", 16) != 0) {
        return false;
    }
    const std::uint32_t version = (std::uint32_t{header[60]} << 24) |
                                  (std::uint32_t{header[61]} << 16) |
                                  (std::uint32_t{header[62]} << 8) | header[63];
    return version >= 1 && version < static_cast<std::uint32_t>(collection_schema_version);
}

void prepare_logs(const std::u16string& data_dir) {
    const std::u16string logs = tinyfilesystem::join_path(data_dir, u"logs");
    try {
        tinyfilesystem::create_directory(logs);
    } catch (const std::exception& e) {
        throw data_error(std::string("Cannot create log dir: ") + e.what());
    }
    for (const log_entry& log : program_logs) {
        fml::reglog(log.id, log.file);
    }
}

const char* signal_name(int number) {
    switch (number) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal";
    }
}

// What a run holds, in the order it is taken; torn down in reverse, after the
// singletons, on every path. The instance lock is held to the very end.
struct session {
    std::optional<instance_lock> lock;
    std::optional<termination_signals> signals;
    std::optional<probe_server> probes;
    std::unique_ptr<event_loop> loop;
};

// Everything from the instance check to the end of shutdown. Returns the exit code;
// errors propagate to run_application's handler.
int run(shell_platform& platform, session& s, bool hidden) {
    const std::string runtime = runtime_folder();
    s.lock.emplace(runtime);
    if (!s.lock->acquired()) {
        if (!hidden) {
            send_request(runtime, {command::show, {}}, std::chrono::milliseconds(200));
        }
        return exit_already_running;
    }
    termination_signals& signals = s.signals.emplace();

    if (!tinyfilesystem::appdata_folder_known()) {
        std::cerr << "Error: cannot find the data folder: neither $XDG_DATA_HOME nor $HOME is set"
                  << std::endl;
        return exit_no_data_folder;
    }
    const std::u16string data_dir = init_app_data();
    app_dirs::set(app_dirs::DataDir, data_dir);
    app_dirs::set(app_dirs::HoardlyDir, tinyfilesystem::executable_folder());
    prepare_logs(data_dir);

    fml::app_line("Application started");
    fml::app_line("SetDataDir: " + fml::wchar2utf8(app_dirs::get(app_dirs::HoardlyDir)));

    // The collection opens first, and a long list's ids are read on a thread of
    // their own while the desktop starts. An older file gets its text index as it
    // opens, which takes a while for a large one: the desktop starts first then, to
    // show how far it has come.
    index_progress progress;
    if (collection_needs_text_index(data_dir)) {
        fml::app_line("Building the text index of the collection");
        s.loop = platform.create_event_loop();
        progress = platform.show_progress("Hoardly is making the collection searchable by text…");
    }
    hrdModel::create(std::move(progress)).prefetch_quote_ids();
    if (!s.loop) {
        s.loop = platform.create_event_loop();
    }
    event_loop& the_loop = *s.loop;
    // The callbacks outlive this function's frame (the loop is torn down later), so
    // they hold pointers to the session's objects, never to locals.
    the_loop.watch(signals.fd(), [signals = &signals, loop = &the_loop] {
        fml::app_line(std::string("Received ") + signal_name(signals->take()) + ", exiting");
        loop->quit();
    });
    probe_server& probes = s.probes.emplace(runtime);
    the_loop.watch(probes.fd(), [probes = &probes, platform = &platform, loop = &the_loop] {
        std::optional<incoming_request> incoming = probes->accept_request();
        if (!incoming) {
            return;
        }
        if (!incoming->request) {
            fml::app_line(incoming->refusal);
            return;
        }
        handle_request(*platform, *loop, *incoming->request, std::move(incoming->reply));
    });

    create_singletons([&platform] { platform.create_main_window(); });
    hrdModel::instance().handle(model_events::load_all{});
    platform.start_desktop([loop = &the_loop] { loop->quit(); }, hidden);
    fml::app_line("Init complete");

    the_loop.run();
    return exit_normal;
}

}  // namespace

void handle_request(shell_platform& platform, event_loop& loop, const instance_request& request,
                    pending_reply reply) {
    main_window* window = services().window;
    switch (request.what) {
        case command::show:
            fml::app_line("A second start asked for the window");
            platform.on_second_start();
            break;
        case command::hide:
            fml::app_line("The command line hid the window");
            if (window != nullptr) {
                window->hide();
            }
            break;
        case command::toggle:
            fml::app_line("The command line toggled the window");
            if (window != nullptr && window->is_shown()) {
                window->hide();
            } else {
                platform.on_second_start();
            }
            break;
        case command::quit:
            fml::app_line("The command line asked Hoardly to exit");
            // Answered before the loop ends: the caller learns it is done, and the
            // shutdown that follows is the tray's Exit.
            reply.send({true, "Hoardly exits"});
            loop.quit();
            return;
        case command::add: {
            fml::app_line("The command line adds a text of " + std::to_string(request.text.size()) +
                          " bytes");
            std::u16string text = fml::utf82wchar(request.text);
            if (text.empty()) {
                reply.send({false, "the text is empty: nothing was added"});
                return;
            }
            const std::size_t length = text.size();
            const std::string refusal = deliver_quote_text(std::move(text));
            if (refusal.empty()) {
                reply.send({true, "Added " + std::to_string(length) + " characters"});
            } else {
                reply.send({false, "the text was not kept: " + refusal});
            }
            return;
        }
        case command::capture: {
            fml::app_line("The command line asked for a capture");
            auto shared = std::make_shared<pending_reply>(std::move(reply));
            platform.capture_clipboard([shared](instance_answer answer) { shared->send(answer); });
            return;
        }
    }
    reply.send({true, std::string("Done: ") + command_name(request.what)});
}

int run_application(shell_platform& platform, bool hidden) noexcept {
    int code = exit_normal;
    session s;
    try {
        code = run(platform, s, hidden);
        if (code != exit_normal) {
            return code;  // a second start or no data folder: no logs were opened
        }
    } catch (const std::exception& e) {
        report(std::string("Error: ") + e.what());
        code = exit_normal;
    } catch (...) {
        report("Unknown error.");
        code = exit_normal;
    }
    // One fixed order on every path: the desktop lets go of the keyboard and drops
    // first, the view goes before the window it shows, the loop last.
    platform.stop_desktop();
    delete_singletons([&platform] { platform.destroy_main_window(); });
    try {
        s.loop.reset();
        s.probes.reset();
        s.signals.reset();
    } catch (...) {
        report("Unknown error.");
    }
    if (fml::haslog("app")) {
        try {
            fml::app_line("Application finished.");
        } catch (...) {
        }
    }
    fml::closelogs();
    return code;
}

}  // namespace hrd
