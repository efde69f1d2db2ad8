#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "fml/app_dirs.h"
#include "fml/exception.h"
#include "fml/log.h"
#include "support/temp_dir.h"

using hrd::test::read_file;
using hrd::test::temp_dir;

namespace {

class log_registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(m_dir.file("logs"));
        hrd::app_dirs::set(hrd::app_dirs::DataDir, m_dir.wpath());
    }
    void TearDown() override { fml::closelogs(); }
    temp_dir m_dir;
};

}  // namespace

TEST_F(log_registry, lines_are_flushed_at_each_line_end_and_files_are_private) {
    hrd::test::write_file(m_dir.file("logs/app.log"), std::string(5000, 'x'));
    fml::reglog("app", u"logs/app.log");
    fml::reglog("model", u"logs/model.log");

    // A longer log of an earlier run never leaves its tail behind.
    EXPECT_EQ(read_file(m_dir.file("logs/app.log")), "");
    struct stat info {};
    ASSERT_EQ(::stat(m_dir.file("logs/app.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    fml::getlog("app") << "Application started" << std::endl;
    fml::getlog("model") << "add_quote complete; id: " << 42 << std::endl;
    fml::getlog("app") << "caf\xC3\xA9 " << -1;
    // Finished lines are on disk at once; the unfinished one waits for its line end.
    EXPECT_EQ(read_file(m_dir.file("logs/app.log")), "Application started\n");
    EXPECT_EQ(read_file(m_dir.file("logs/model.log")), "add_quote complete; id: 42\n");

    // A line larger than the stream's buffer arrives whole.
    const std::string big(20000, 'q');
    fml::getlog("model") << big << std::endl;
    EXPECT_EQ(read_file(m_dir.file("logs/model.log")), "add_quote complete; id: 42\n" + big + "\n");

    fml::closelogs();
    EXPECT_EQ(read_file(m_dir.file("logs/app.log")), "Application started\ncaf\xC3\xA9 -1");
    EXPECT_THROW(fml::getlog("app"), fml::getlog_error);
    EXPECT_FALSE(fml::haslog("app"));

    // The program's own lines are dropped, not raised, while there is no "app" log.
    EXPECT_NO_THROW(fml::app_line("Application finished."));
    fml::reglog("app", u"logs/application.log");
    fml::app_line("Init complete");
    EXPECT_EQ(read_file(m_dir.file("logs/application.log")), "Init complete\n");
}

TEST_F(log_registry, registry_errors_name_the_id_or_path) {
    fml::reglog("app", u"logs/application.log");
    try {
        fml::reglog("app", u"logs/other.log");
        FAIL() << "duplicate id accepted";
    } catch (const fml::reglog_error& e) {
        EXPECT_STREQ(e.what(), "log with id=app, is always register");
    }
    // The first registration is untouched by the refused one.
    fml::getlog("app") << "still here" << std::endl;
    EXPECT_EQ(read_file(m_dir.file("logs/application.log")), "still here\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("logs/other.log")));

    try {
        fml::getlog("nope");
        FAIL() << "unknown id accepted";
    } catch (const fml::getlog_error& e) {
        EXPECT_STREQ(e.what(), "log with id=nope, is not register");
    }

    try {
        fml::reglog("debug", u"missing/debug.log");
        FAIL() << "log in a missing folder accepted";
    } catch (const fml::cannot_open_log_error& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("cannot_open_log " + m_dir.file("missing/debug.log"), 0), 0u) << text;
        EXPECT_NE(text.find("Error code: 2"), std::string::npos) << text;
    }
    EXPECT_FALSE(fml::haslog("debug"));
    // Every error is an fml::exception.
    EXPECT_THROW(fml::getlog("nope"), fml::exception);
}

TEST(last_error_text, describes_errno_and_unknown_codes) {
    errno = ENOENT;
    EXPECT_EQ(fml::last_error_text(), "Error code: 2, No such file or directory");
    errno = 99999;
    const std::string unknown = fml::last_error_text();
    EXPECT_EQ(unknown.rfind("Error code: 99999. For more information visit ", 0), 0u) << unknown;
}
