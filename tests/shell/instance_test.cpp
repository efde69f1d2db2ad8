#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "shell/errors.h"
#include "shell/instance.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// Accepts requests on `server` until one comes (bounded for a busy machine).
std::optional<hrd::incoming_request> next_request(hrd::probe_server& server) {
    for (int i = 0; i < 3000; ++i) {
        if (auto incoming = server.accept_request()) {
            return incoming;
        }
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

}  // namespace

TEST(instance, one_lock_holder_answers_requests_whole) {
    hrd::test::temp_dir dir;
    const std::size_t descriptors = hrd::test::open_descriptor_count();
    {
        hrd::instance_lock first(dir.path());
        ASSERT_TRUE(first.acquired());
        hrd::instance_lock second(dir.path());
        EXPECT_FALSE(second.acquired());

        // No server yet: the request fails at once and says so.
        const hrd::send_result none = hrd::send_request(dir.path(), {hrd::command::show, {}}, 200ms);
        EXPECT_EQ(none.what, hrd::send_result::status::no_instance);
        EXPECT_NE(none.detail.find("no socket"), std::string::npos) << none.detail;

        hrd::probe_server server(dir.path());
        // A text with line breaks, NULs and more than one socket buffer arrives whole.
        std::string text = "first line\nsecond\0line"s;
        text += std::string(3 * 1024 * 1024, 'x');
        hrd::send_result sent;
        std::thread client([&] { sent = hrd::send_request(dir.path(), {hrd::command::add, text}, 30000ms); });
        std::optional<hrd::incoming_request> incoming = next_request(server);
        ASSERT_TRUE(incoming && incoming->request) << (incoming ? incoming->refusal : "none came");
        EXPECT_EQ(incoming->request->what, hrd::command::add);
        EXPECT_TRUE(incoming->request->text == text);
        incoming->reply.send({true, "Added it\nall"});
        client.join();
        EXPECT_EQ(sent.what, hrd::send_result::status::answered);
        EXPECT_TRUE(sent.answer.ok);
        EXPECT_EQ(sent.answer.message, "Added it\nall");
        EXPECT_FALSE(server.accept_request());  // nobody waiting

        // A request dropped without an answer is answered as not done.
        std::thread dropped([&] { sent = hrd::send_request(dir.path(), {hrd::command::capture, {}}, 30000ms); });
        incoming = next_request(server);
        ASSERT_TRUE(incoming && incoming->request);
        EXPECT_EQ(incoming->request->what, hrd::command::capture);
        incoming.reset();
        dropped.join();
        EXPECT_EQ(sent.what, hrd::send_result::status::answered);
        EXPECT_FALSE(sent.answer.ok);
    }
    EXPECT_EQ(hrd::test::open_descriptor_count(), descriptors)
        << "a lock, request or server left a descriptor open";
    // Released with its holder; a stale socket file does not stop the next server.
    hrd::test::write_file(dir.file(hrd::instance_probe_name), "stale");
    hrd::instance_lock again(dir.path());
    EXPECT_TRUE(again.acquired());
    EXPECT_NO_THROW(hrd::probe_server server(dir.path()));
}

TEST(instance, only_the_same_user_and_a_valid_request_are_heard) {
    hrd::test::temp_dir dir;
    // The check itself, on a connected pair: this process is this user, and no other.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const fml::unique_fd one(pair[0]), other(pair[1]);
    std::string why;
    EXPECT_TRUE(hrd::peer_is_user(one.get(), ::getuid(), why)) << why;
    EXPECT_FALSE(hrd::peer_is_user(one.get(), ::getuid() + 1, why));
    EXPECT_NE(why.find("runs as user " + std::to_string(::getuid())), std::string::npos) << why;

    {
        // A server that belongs to another user refuses us, tells us so and says why.
        hrd::probe_server server(dir.path(), ::getuid() + 1);
        hrd::send_result sent;
        std::thread client([&] { sent = hrd::send_request(dir.path(), {hrd::command::quit, {}}, 30000ms); });
        std::optional<hrd::incoming_request> incoming = next_request(server);
        client.join();
        ASSERT_TRUE(incoming);
        EXPECT_FALSE(incoming->request);
        EXPECT_NE(incoming->refusal.find("another user"), std::string::npos) << incoming->refusal;
        EXPECT_EQ(sent.what, hrd::send_result::status::answered);
        EXPECT_FALSE(sent.answer.ok);
        EXPECT_NE(sent.answer.message.find("only to the user"), std::string::npos);
    }
    {
        // Bytes that are not a request, and a request with an unknown command.
        hrd::probe_server server(dir.path());
        for (const std::string& junk :
             {"hello\n"s, std::string(hrd::instance_probe_name) + "\nexplode\n0\n"}) {
            std::thread client([&] {
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                const std::string path = hrd::instance_socket_path(dir.path());
                std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
                const fml::unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
                ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
                ASSERT_EQ(::send(fd.get(), junk.data(), junk.size(), MSG_NOSIGNAL), ssize_t(junk.size()));
                char answer[64];
                EXPECT_GT(::recv(fd.get(), answer, sizeof answer, 0), 0);
                EXPECT_EQ(std::string(answer, 5), "error");
            });
            std::optional<hrd::incoming_request> incoming = next_request(server);
            client.join();
            ASSERT_TRUE(incoming);
            EXPECT_FALSE(incoming->request) << junk;
            EXPECT_NE(incoming->refusal.find("not understood"), std::string::npos) << incoming->refusal;
        }
    }
}

TEST(instance, a_silent_peer_times_out_and_a_file_in_the_way_is_named) {
    hrd::test::temp_dir dir;
    const std::string path = hrd::instance_socket_path(dir.path());
    {
        // Something listens and never answers.
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const fml::unique_fd silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(silent.get(), 4), 0);
        const hrd::send_result sent = hrd::send_request(dir.path(), {hrd::command::show, {}}, 300ms);
        EXPECT_EQ(sent.what, hrd::send_result::status::no_answer);
    }
    // A socket file nobody listens at any more, and a plain file at its place.
    hrd::send_result sent = hrd::send_request(dir.path(), {hrd::command::show, {}}, 300ms);
    EXPECT_EQ(sent.what, hrd::send_result::status::no_instance);
    EXPECT_NE(sent.detail.find("nothing listens"), std::string::npos) << sent.detail;
    ::unlink(path.c_str());
    hrd::test::write_file(path, "in the way");
    sent = hrd::send_request(dir.path(), {hrd::command::show, {}}, 300ms);
    EXPECT_EQ(sent.what, hrd::send_result::status::no_instance);
    EXPECT_NE(sent.detail.find("is not a socket"), std::string::npos) << sent.detail;
}

TEST(instance, runtime_fallback_folder_must_be_private) {
    hrd::test::temp_dir dir;
    EXPECT_NO_THROW(hrd::ensure_private_folder(dir.file("fresh")));
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_NO_THROW(hrd::ensure_private_folder(dir.file("fresh")));  // again: fine

    // Someone could plant a symlink or an open folder under /tmp before us.
    std::filesystem::create_symlink(dir.file("fresh"), dir.file("link"));
    EXPECT_THROW(hrd::ensure_private_folder(dir.file("link")), hrd::instance_error);
    std::filesystem::create_directory(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0777);
    EXPECT_THROW(hrd::ensure_private_folder(dir.file("open")), hrd::instance_error);
    hrd::test::write_file(dir.file("file"), "");
    EXPECT_THROW(hrd::ensure_private_folder(dir.file("file")), hrd::instance_error);
}

namespace {

// Sets an environment variable for one test and puts the old value back.
class scoped_env {
public:
    scoped_env(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~scoped_env() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

}  // namespace

TEST(instance, only_a_private_short_runtime_folder_is_used_as_given) {
    hrd::test::temp_dir dir;
    scoped_env tmp("TMPDIR", dir.path());
    const std::string fallback = dir.file("hoardly-runtime-" + std::to_string(::getuid()));
    std::filesystem::create_directory(dir.file("private"));
    ::chmod(dir.file("private").c_str(), 0700);
    {
        scoped_env xdg("XDG_RUNTIME_DIR", dir.file("private"));
        EXPECT_EQ(hrd::runtime_folder(), dir.file("private"));
    }
    // Someone else could create the lock there first, or the socket would not fit.
    std::filesystem::create_symlink(dir.file("private"), dir.file("link"));
    std::filesystem::create_directory(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0777);
    const std::string deep = dir.file("private/" + std::string(60, 'd'));
    std::filesystem::create_directory(deep);
    ::chmod(deep.c_str(), 0700);
    for (const std::string& bad : {dir.file("link"), dir.file("open"), deep}) {
        scoped_env xdg("XDG_RUNTIME_DIR", bad);
        EXPECT_EQ(hrd::runtime_folder(), fallback) << bad;
        struct stat info {};
        ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    // A lock file that is not this user's own is not believed.
    const std::string lock = dir.file("private/") + hrd::instance_mutex_name;
    hrd::test::write_file(lock, "");
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
        EXPECT_THROW(hrd::instance_lock planted(dir.file("private")), hrd::instance_error);
    }
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(dir.file("elsewhere"), lock);
    EXPECT_THROW(hrd::instance_lock planted(dir.file("private")), hrd::instance_error);
}
