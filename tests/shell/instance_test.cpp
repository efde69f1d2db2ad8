#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "shell/errors.h"
#include "shell/instance.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

TEST(instance, one_lock_holder_answers_probes) {
    hrd::test::temp_dir dir;
    const std::size_t descriptors = hrd::test::open_descriptor_count();
    {
        hrd::instance_lock first(dir.path());
        ASSERT_TRUE(first.acquired());
        hrd::instance_lock second(dir.path());
        EXPECT_FALSE(second.acquired());

        // No server yet: the probe fails quickly and says so.
        EXPECT_FALSE(hrd::send_probe(dir.path(), 200ms));

        hrd::probe_server server(dir.path());
        // Bounds for a busy machine: the loop ends as soon as the probe is in.
        std::thread client([&] { EXPECT_TRUE(hrd::send_probe(dir.path(), 30000ms)); });
        bool accepted = false;
        for (int i = 0; i < 3000 && !accepted; ++i) {
            accepted = server.accept_probe();
            if (!accepted)
                std::this_thread::sleep_for(10ms);
        }
        client.join();
        EXPECT_TRUE(accepted);
        EXPECT_FALSE(server.accept_probe());  // nobody waiting
    }
    EXPECT_EQ(hrd::test::open_descriptor_count(), descriptors)
        << "a lock, probe or server left a descriptor open";
    // Released with its holder; a stale socket file does not stop the next server.
    hrd::test::write_file(dir.file(hrd::instance_probe_name), "stale");
    hrd::instance_lock again(dir.path());
    EXPECT_TRUE(again.acquired());
    EXPECT_NO_THROW(hrd::probe_server server(dir.path()));
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
