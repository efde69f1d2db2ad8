// The command line: what each set of arguments asks for, and how a request meets
// (or misses) the running instance.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "shell/command_line.h"
#include "shell/instance.h"
#include "shell/remote_command.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using hrd::command;
using hrd::command_line;
using kind = hrd::command_line::kind;

namespace {

command_line parse(std::vector<std::string> args) {
    return hrd::parse_command_line(args);
}

// Points $XDG_RUNTIME_DIR at a private folder of the test's for its lifetime.
class private_runtime {
public:
    private_runtime() {
        ::chmod(m_dir.path().c_str(), 0700);
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
            m_old = old;
        }
        ::setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
    }
    ~private_runtime() {
        if (m_old.empty()) {
            ::unsetenv("XDG_RUNTIME_DIR");
        } else {
            ::setenv("XDG_RUNTIME_DIR", m_old.c_str(), 1);
        }
    }
    const hrd::test::temp_dir& dir() const { return m_dir; }

private:
    hrd::test::temp_dir m_dir;
    std::string m_old;
};

struct outcome {
    std::optional<int> code;
    std::string out, err;
};

outcome run(const command_line& line, const hrd::remote_settings& settings = {}) {
    std::ostringstream out, err;
    outcome result;
    result.code = hrd::run_command_line(line, out, err, settings);
    result.out = out.str();
    result.err = err.str();
    return result;
}

}  // namespace

TEST(command_line, each_option_and_each_wrong_combination) {
    EXPECT_EQ(parse({}).what, kind::start);
    EXPECT_EQ(parse({"--hidden"}).what, kind::hidden);
    const std::pair<const char*, command> actions[] = {
        {"--show", command::show}, {"--hide", command::hide},       {"--toggle", command::toggle},
        {"--quit", command::quit}, {"--capture", command::capture}, {"--add", command::add}};
    for (const auto& [option, what] : actions) {
        const command_line line = parse({option});
        EXPECT_EQ(line.what, kind::request) << option;
        EXPECT_EQ(line.request, what) << option;
        EXPECT_FALSE(line.text) << option;
    }
    // --add takes the next argument unless it is an option; --add= takes anything.
    EXPECT_EQ(parse({"--add", "some text"}).text, "some text");
    EXPECT_EQ(parse({"--add", "-"}).text, "-");
    EXPECT_EQ(parse({"--add=--not an option"}).text, "--not an option");
    EXPECT_EQ(parse({"--add="}).text, "");
    EXPECT_EQ(parse({"--hidden", "--capture"}).request, command::capture);
    EXPECT_EQ(parse({"--show", "--help"}).what, kind::help);
    EXPECT_EQ(parse({"--version"}).what, kind::version);

    const std::pair<std::vector<std::string>, const char*> wrong[] = {
        {{"--show", "--hide"}, "--show and --hide cannot be given together"},
        {{"--add", "--quit"}, "--add and --quit cannot be given together"},
        {{"--toggle", "--toggle"}, "--toggle is given twice"},
        {{"--add", "a", "--add=b"}, "--add is given twice"},
        {{"--hidden", "--show"}, "--hidden and --show cannot be given together"},
        {{"--shwo"}, "unknown option --shwo"},
        {{"-x"}, "unknown option -x"},
        {{"--add", "a", "b"}, "unexpected argument \"b\""},
    };
    for (const auto& [args, message] : wrong) {
        const command_line line = parse(args);
        EXPECT_EQ(line.what, kind::error) << message;
        EXPECT_NE(line.message.find(message), std::string::npos) << line.message;
    }

    // What the user sees: the help lists every option, a wrong line exits 2.
    outcome help = run(parse({"--help"}));
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--show", "--hide", "--toggle", "--capture", "--add", "--quit",
                               "--hidden", "--version"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    outcome error = run(parse({"--frobnicate"}));
    EXPECT_EQ(error.code, 2);
    EXPECT_NE(error.err.find("unknown option --frobnicate"), std::string::npos) << error.err;
    EXPECT_EQ(run(parse({"--version"})).out.rfind("hoardly ", 0), 0u);
    EXPECT_EQ(run(parse({})).code, std::nullopt);
}

TEST(command_line, the_renderer_comes_from_the_option_then_the_variable_and_native_is_the_default) {
    using hrd::renderer;
    auto chosen = [](std::vector<std::string> args, const char* variable) {
        command_line line = parse(std::move(args));
        hrd::apply_renderer_variable(line, variable);
        return line;
    };
    EXPECT_EQ(chosen({}, nullptr).shows_with, renderer::native);
    EXPECT_EQ(chosen({}, "").shows_with, renderer::native);
    EXPECT_EQ(chosen({}, "web").shows_with, renderer::web);
    EXPECT_EQ(chosen({}, "native").shows_with, renderer::native);
    EXPECT_EQ(chosen({"--renderer=native"}, nullptr).shows_with, renderer::native);
    EXPECT_EQ(chosen({"--renderer", "native", "--hidden"}, nullptr).what, kind::hidden);
    // The option wins, even over a variable that names no renderer.
    EXPECT_EQ(chosen({"--renderer=web"}, "native").shows_with, renderer::web);
    EXPECT_EQ(chosen({"--renderer=native"}, "bogus").what, kind::start);
    EXPECT_EQ(chosen({"--renderer=native", "--add", "x"}, nullptr).what, kind::request);

    // Unknown values are wrong command lines: exit 2 with the reason.
    const std::pair<command_line, const char*> wrong[] = {
        {chosen({"--renderer=gecko"}, nullptr), "unknown renderer \"gecko\""},
        {chosen({"--renderer"}, nullptr), "--renderer needs a value"},
        {chosen({"--renderer=web", "--renderer=web"}, nullptr), "--renderer is given twice"},
        {chosen({}, "Native"), "unknown renderer \"Native\" in HOARDLY_RENDERER"},
    };
    for (const auto& [line, message] : wrong) {
        ASSERT_EQ(line.what, kind::error) << message;
        EXPECT_NE(line.message.find(message), std::string::npos) << line.message;
        const outcome result = run(line);
        EXPECT_EQ(result.code, 2) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_NE(run(parse({"--help"})).out.find("--renderer"), std::string::npos);
}

TEST(command_line, without_an_instance_some_requests_start_one_and_the_rest_say_so) {
    private_runtime runtime;
    for (const char* option : {"--quit", "--hide"}) {
        const outcome result = run(parse({option}));
        EXPECT_EQ(result.code, 1) << option;
        EXPECT_NE(result.err.find("Hoardly is not running"), std::string::npos) << result.err;
    }
    // Showing the window with none running: this start is the instance.
    EXPECT_EQ(run(parse({"--show"})).code, std::nullopt);
    EXPECT_EQ(run(parse({"--toggle"})).code, std::nullopt);

    // Adding starts one in the tray: here a program that cannot start, which is said.
    hrd::remote_settings settings;
    settings.program = "/bin/false";
    settings.start_wait = 30000ms;
    const outcome start = run(parse({"--add", "text"}), settings);
    EXPECT_EQ(start.code, 1);
    EXPECT_NE(start.err.find("could not be started"), std::string::npos) << start.err;

    // More than a quote holds on standard input: refused before anything starts.
    const std::string big = runtime.dir().file("big");
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(hrd::max_add_bytes) + 1), 0);
        ::close(fd);
    }
    settings.input_fd = ::open(big.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(settings.input_fd, 0);
    const outcome refused = run(parse({"--add"}), settings);
    ::close(settings.input_fd);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("more than one quote can hold: nothing was added"),
              std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("could not be started"), std::string::npos) << refused.err;
}

TEST(command_line, a_request_reaches_the_instance_and_its_answer_is_the_outcome) {
    private_runtime runtime;
    const std::string folder = runtime.dir().path();
    hrd::instance_lock lock(folder);
    ASSERT_TRUE(lock.acquired());

    // An instance that holds the lock but has a plain file where its socket goes
    // cannot be reached: said at once, not after a wait.
    hrd::test::write_file(hrd::instance_socket_path(folder), "in the way");
    hrd::remote_settings settings;
    settings.answer_wait = 30000ms;
    const outcome blocked = run(parse({"--show"}), settings);
    EXPECT_EQ(blocked.code, 1);
    EXPECT_NE(blocked.err.find("is not a socket"), std::string::npos) << blocked.err;

    // Text from standard input goes as its bytes; the answer is printed.
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string text = "from a pipe\n\xff\xfe ill-formed";
    ASSERT_EQ(::write(pipe_fds[1], text.data(), text.size()), ssize_t(text.size()));
    ::close(pipe_fds[1]);
    settings.input_fd = pipe_fds[0];
    hrd::probe_server server(folder);
    std::string received;
    std::thread instance([&] {
        for (int i = 0; i < 3000; ++i) {
            if (auto incoming = server.accept_request()) {
                if (incoming->request) {
                    received = incoming->request->text;
                    incoming->reply.send({false, "the disk is full"});
                }
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    const outcome added = run(parse({"--add"}), settings);
    instance.join();
    ::close(pipe_fds[0]);
    EXPECT_EQ(received, text);
    EXPECT_EQ(added.code, 1);
    EXPECT_NE(added.err.find("the disk is full"), std::string::npos) << added.err;

    // A peer that takes the request and never answers (the server above is no
    // longer served): a time-out, said plainly.
    settings.answer_wait = 300ms;
    const outcome quiet = run(parse({"--hide"}), settings);
    EXPECT_EQ(quiet.code, 1);
    EXPECT_NE(quiet.err.find("did not answer in"), std::string::npos) << quiet.err;
}

TEST(command_line, text_comes_from_the_locale_s_encoding) {
    std::string error;
    const std::string bytes = "caf\xc3\xa9 \xff";
    EXPECT_EQ(hrd::locale_text_to_utf8(bytes, error), bytes) << error;  // the C locale

    // A Latin-1 locale of the test's own: its bytes are converted, none lost.
    hrd::test::temp_dir dir;
    const std::string make = "localedef -i fr_FR -f ISO-8859-1 '" + dir.file("latin1") + "' 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << "localedef needs the locales package";
    const std::string old_path = std::getenv("LOCPATH") ? std::getenv("LOCPATH") : "";
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    ASSERT_NE(std::setlocale(LC_CTYPE, "latin1"), nullptr);
    const std::optional<std::string> converted = hrd::locale_text_to_utf8("caf\xe9 \xff", error);
    std::setlocale(LC_CTYPE, "C");
    if (old_path.empty()) {
        ::unsetenv("LOCPATH");
    } else {
        ::setenv("LOCPATH", old_path.c_str(), 1);
    }
    EXPECT_EQ(converted, "caf\xc3\xa9 \xc3\xbf") << error;
}
