// Starts the real program with private XDG folders and checks what a user would
// see: the data folder, the logs, a second start, signals and the error paths.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "model/collection_store.h"
#include "model/text_index.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using hrd::test::child_process;
using hrd::test::read_file;
using hrd::test::wait_for_text;
using hrd::test::write_file;

namespace {

// Every wait ends as soon as what it waits for happens; the bound only ends a run
// that went wrong, and is generous for a machine busy with other builds and tests.
constexpr auto patience = 30s;

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class program : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_dir.file("share/Hoardly"));
        std::filesystem::create_directories(m_dir.file("home"));
        std::filesystem::create_directories(m_dir.file("run"));
        ::chmod(m_dir.file("run").c_str(), 0700);
        write_file(m_dir.file("share/Hoardly/defaulttags.xml"), "<tags/>\n");
        write_file(m_dir.file("share/Hoardly/defaultquotes.xml"), "<quotes/>\n");
        m_env = {{"PATH", "/usr/bin:/bin"},
                 {"HOME", m_dir.file("home")},
                 {"XDG_DATA_HOME", m_dir.file("data")},
                 {"XDG_DATA_DIRS", m_dir.file("share")},
                 {"XDG_RUNTIME_DIR", m_dir.file("run")},
                 {"QT_QPA_PLATFORM", "offscreen"}};
    }

    std::unique_ptr<child_process> start(const std::string& output = "output.txt") {
        return std::make_unique<child_process>(
            hrd::test::program_path(), std::vector<std::string>{}, m_env, m_dir.file(output));
    }
    std::string data(const std::string& name = "") const {
        return m_dir.file("data/Hoardly") + (name.empty() ? "" : "/" + name);
    }
    std::string app_log() const { return read_file(data("logs/application.log")); }
    bool wait_started() const {
        return wait_for_text(data("logs/application.log"), "Init complete\n", 2 * patience);
    }

    hrd::test::temp_dir m_dir;
    std::map<std::string, std::string> m_env;
};

}  // namespace

TEST_F(program, first_start_seeds_a_private_data_folder_and_a_second_start_ends_with_3) {
    auto first = start();
    ASSERT_TRUE(wait_started()) << read_file(m_dir.file("output.txt"));

    EXPECT_EQ(mode_of(data()), 0700u);
    EXPECT_EQ(mode_of(data("logs")), 0700u);
    for (const char* log :
         {"application", "profile", "debug", "events", "controller", "model", "logicevents"}) {
        EXPECT_EQ(mode_of(data("logs/") + log + ".log"), 0600u) << log;
    }
    EXPECT_EQ(read_file(data("defaulttags.xml")), "<tags/>\n");
    EXPECT_EQ(read_file(data("defaultquotes.xml")), "<quotes/>\n");
    const std::string log = app_log();
    EXPECT_EQ(log.rfind("Application started\nSetDataDir: ", 0), 0u) << log;
    EXPECT_NE(log.find("Loading html\nLoading app data\nLoading app data - successful\n"
                       "Loading html - successful\nRegisterDropWindow\n"),
              std::string::npos)
        << log;
    // Nothing to date in an empty collection, and the pass is still made and logged.
    EXPECT_NE(read_file(data("logs/logicevents.log"))
                  .find("creating DB\nm_max_tid: 0m_max_qid: 0\n"
                        "automatically insert dates for some quotes\n"),
              std::string::npos)
        << read_file(data("logs/logicevents.log"));

    // A second start while the first runs: code 3 at once, the first one is told.
    auto second = start("second.txt");
    EXPECT_EQ(second->wait(patience), 3);
    EXPECT_TRUE(wait_for_text(data("logs/application.log"), "A second start asked for the window\n",
                              patience));

    // A logout's SIGTERM ends the program like Exit: code 1, objects deleted in
    // reverse order of creation, the last line written.
    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(patience), 1);
    const std::string final_log = app_log();
    std::vector<std::string> created, deleted;
    std::istringstream lines(final_log);
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = "Singleton: ";
        if (line.rfind(prefix, 0) != 0)
            continue;
        const std::string rest = line.substr(prefix.size());
        const size_t dash = rest.rfind(" - ");
        (rest.substr(dash) == " - created." ? created : deleted).push_back(rest.substr(0, dash));
    }
    ASSERT_FALSE(created.empty()) << final_log;
    EXPECT_EQ(deleted, std::vector<std::string>(created.rbegin(), created.rend())) << final_log;
    EXPECT_NE(final_log.find("Received SIGTERM, exiting\n"), std::string::npos) << final_log;
    EXPECT_EQ(final_log.substr(final_log.size() - 22), "Application finished.\n") << final_log;
}

// A collection of the first layout (no text index) gets its index as the program
// opens it: the start says so, shows how far it has come, and then runs as usual
// with the collection's quotes all there and searchable by text.
TEST_F(program, an_older_collection_gets_its_text_index_at_start) {
    write_file(m_dir.file("share/Hoardly/defaultquotes.xml"),
               "<quotes><q id='1' text='one caf\xC3\xA9'/><q id='2' text='two'/></quotes>\n");
    auto first = start();
    ASSERT_TRUE(wait_started()) << read_file(m_dir.file("output.txt"));
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(patience), 1);
    // The index's own way of cutting texts, which its table needs even to be dropped.
    hrd::register_text_pieces();
    const auto run_sql = [&](const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open(data("hoardly.fdb").c_str(), &db);
        std::string result;
        sqlite3_exec(
            db, sql,
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) += values[0] ? values[0] : "";
                return 0;
            },
            &result, nullptr);
        sqlite3_close(db);
        return result;
    };
    // Back to the first layout: no text index, version 1.
    run_sql("DROP TRIGGER quote_text_added; DROP TRIGGER quote_text_removed; "
            "DROP TRIGGER quote_text_changed; DROP TABLE quote_text; PRAGMA user_version=1;");
    ASSERT_EQ(run_sql("PRAGMA user_version"), "1");
    std::filesystem::remove(data("logs/application.log"));

    auto second = start("second.txt");
    ASSERT_TRUE(wait_started()) << read_file(m_dir.file("second.txt"));
    EXPECT_NE(app_log().find("Building the text index of the collection\n"), std::string::npos)
        << app_log();
    second->signal(SIGTERM);
    ASSERT_EQ(second->wait(patience), 1);
    EXPECT_EQ(run_sql("PRAGMA user_version"), std::to_string(hrd::collection_schema_version));
    EXPECT_EQ(run_sql("SELECT group_concat(m_utftext, '|') FROM quote"), "one caf\xC3\xA9|two");
    EXPECT_EQ(run_sql("SELECT count(*) FROM quote_text WHERE quote_text MATCH '\"af\xC3\xA9\"'"),
              "1");
}

TEST_F(program, stale_lock_after_sigkill_and_user_files_survive_restarts) {
    // A user folder from an interrupted first start: their own tags file stays.
    std::filesystem::create_directories(data());
    write_file(data("defaulttags.xml"), "<tags>mine</tags>");
    auto first = start();
    ASSERT_TRUE(wait_started());
    EXPECT_EQ(read_file(data("defaulttags.xml")), "<tags>mine</tags>");
    EXPECT_EQ(read_file(data("defaultquotes.xml")), "<quotes/>\n");  // the missing one arrived

    first->signal(SIGKILL);
    first->wait(patience);
    // The killed instance left its lock file and socket behind; they must not matter.
    std::filesystem::remove(data("logs/application.log"));
    auto again = start("again.txt");
    ASSERT_TRUE(wait_started()) << read_file(m_dir.file("again.txt"));
    auto third = start("third.txt");
    EXPECT_EQ(third->wait(patience), 3);
    again->signal(SIGINT);
    EXPECT_EQ(again->wait(patience), 1);
    EXPECT_EQ(read_file(data("defaulttags.xml")), "<tags>mine</tags>");
}

TEST_F(program, bad_environments_end_with_a_clear_error_and_delete_nothing) {
    // No home folder at all: 123.
    m_env.erase("HOME");
    m_env.erase("XDG_DATA_HOME");
    EXPECT_EQ(start()->wait(patience), 123);
    m_env["HOME"] = m_dir.file("home");
    m_env["XDG_DATA_HOME"] = m_dir.file("data");

    // Neither a user folder nor a shared copy.
    m_env["XDG_DATA_DIRS"] = m_dir.file("nowhere");
    EXPECT_EQ(start("none.txt")->wait(patience), 1);
    EXPECT_NE(read_file(m_dir.file("none.txt")).find("Error: Application data not exists"),
              std::string::npos)
        << read_file(m_dir.file("none.txt"));
    m_env["XDG_DATA_DIRS"] = m_dir.file("share");

    // The data folder is a plain file: refused, and the file is untouched.
    std::filesystem::create_directories(m_dir.file("data"));
    write_file(data(), "not a folder");
    EXPECT_EQ(start("file.txt")->wait(patience), 1);
    const std::string output = read_file(m_dir.file("file.txt"));
    EXPECT_NE(output.find("Error: "), std::string::npos) << output;
    EXPECT_NE(output.find(data()), std::string::npos) << output;
    EXPECT_EQ(read_file(data()), "not a folder");
    std::filesystem::remove(data());

    // A logs path that is in the way.
    std::filesystem::create_directories(data());
    write_file(data("hoardly.fdb"), "");
    write_file(data("logs"), "x");
    EXPECT_EQ(start("logs.txt")->wait(patience), 1);
    EXPECT_NE(read_file(m_dir.file("logs.txt")).find("Error: Cannot create log dir"),
              std::string::npos)
        << read_file(m_dir.file("logs.txt"));
    EXPECT_EQ(read_file(data("logs")), "x");
    std::filesystem::remove(data("logs"));

    // A named pipe where the collection belongs: refused at once, not waited on.
    std::filesystem::remove(data("hoardly.fdb"));
    ASSERT_EQ(::mkfifo(data("hoardly.fdb").c_str(), 0600), 0);
    auto pipe = start("pipe.txt");
    EXPECT_EQ(pipe->wait(20s), 1);
    const std::string refused = read_file(m_dir.file("pipe.txt"));
    EXPECT_NE(refused.find(data("hoardly.fdb") + " is a named pipe"), std::string::npos) << refused;
    struct stat info {};
    EXPECT_TRUE(::lstat(data("hoardly.fdb").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

TEST_F(program, a_runtime_folder_too_deep_for_a_socket_gives_way_to_a_short_private_one) {
    const std::string deep = m_dir.file("run/" + std::string(80, 'r'));
    std::filesystem::create_directories(deep);
    ::chmod(deep.c_str(), 0700);
    std::filesystem::create_directories(m_dir.file("tmp"));
    m_env["XDG_RUNTIME_DIR"] = deep;
    m_env["TMPDIR"] = m_dir.file("tmp");
    auto first = start();
    ASSERT_TRUE(wait_started()) << read_file(m_dir.file("output.txt"));
    auto second = start("second.txt");
    EXPECT_EQ(second->wait(10s), 3) << read_file(m_dir.file("second.txt"));
    EXPECT_TRUE(
        wait_for_text(data("logs/application.log"), "A second start asked for the window\n", 5s));
    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(10s), 1);
}
