#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "fml/text.h"
#include "support/temp_dir.h"
#include "tinyfilesystem/filesystem.h"

using namespace tinyfilesystem;
using hrd::test::read_file;
using hrd::test::temp_dir;
using hrd::test::write_file;

namespace {

// Sets environment variables for one test and puts the old values back.
class scoped_env {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~scoped_env() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                       : ::unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

}  // namespace

TEST(special_folders, follow_the_xdg_rules) {
    temp_dir dir;
    scoped_env env;

    env.set("XDG_DATA_HOME", (dir.path() + "/xdg/data/").c_str());
    EXPECT_EQ(fml::wchar2utf8(appdata_folder()), dir.path() + "/xdg/data");
    EXPECT_EQ(mode_of(dir.path() + "/xdg/data"), 0700u);  // created private

    // A relative XDG_DATA_HOME is ignored in favour of $HOME.
    env.set("XDG_DATA_HOME", "relative/path");
    env.set("HOME", dir.path().c_str());
    EXPECT_EQ(fml::wchar2utf8(appdata_folder()), dir.path() + "/.local/share");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/.local/share"));

    env.set("HOME", nullptr);
    EXPECT_FALSE(appdata_folder_known());
    try {
        appdata_folder();
        FAIL();
    } catch (const special_folder_error& e) {
        EXPECT_STREQ(e.what(), "CSIDL_APPDATA error");
    }

    // The shared copy: the first data dir that holds "Hoardly", else the first one.
    std::filesystem::create_directories(dir.path() + "/b/Hoardly");
    env.set("XDG_DATA_DIRS", (dir.path() + "/a:rel:" + dir.path() + "/b").c_str());
    EXPECT_EQ(fml::wchar2utf8(common_appdata_folder()), dir.path() + "/b");
    env.set("XDG_DATA_DIRS", (dir.path() + "/a:" + dir.path() + "/c").c_str());
    EXPECT_EQ(fml::wchar2utf8(common_appdata_folder()), dir.path() + "/a");
    env.set("XDG_DATA_DIRS", nullptr);
    const std::string fallback = fml::wchar2utf8(common_appdata_folder());
    EXPECT_TRUE(fallback == "/usr/local/share" || fallback == "/usr/share") << fallback;
}

TEST(paths, existence_and_joining) {
    temp_dir dir;
    write_file(dir.file("f"), "x");
    const std::u16string folder = dir.wpath();
    EXPECT_TRUE(dir_exists(folder));
    EXPECT_FALSE(file_exists(folder));
    EXPECT_TRUE(file_exists(folder + u"/f"));
    EXPECT_FALSE(dir_exists(folder + u"/f"));
    EXPECT_FALSE(file_exists(folder + u"/missing"));
    EXPECT_FALSE(dir_exists(folder + u"/missing"));

    EXPECT_EQ(join_path(u"/data/Hoardly", u"logs"), u"/data/Hoardly/logs");
    EXPECT_EQ(join_path(u"/data/", u"logs"), u"/data/logs");
    EXPECT_EQ(join_path(u"c:\\data\\", u"logs"), u"c:\\data\\logs");
    EXPECT_EQ(join_path(u"", u"logs/app.log"), u"logs/app.log");
}

TEST(directories_and_copies, never_replace_or_half_write_a_user_file) {
    temp_dir dir;
    create_directory(dir.wpath() + u"/new");
    EXPECT_EQ(mode_of(dir.file("new")), 0700u);
    EXPECT_NO_THROW(create_directory(dir.wpath() + u"/new"));  // already there
    write_file(dir.file("plain"), "x");
    EXPECT_THROW(create_directory(dir.wpath() + u"/plain"), filesystem_error);
    EXPECT_THROW(create_directory(dir.wpath() + u"/no/such/parent"), filesystem_error);

    const std::string big(300000, 'z');
    write_file(dir.file("source"), big);
    copy_file_if_missing(dir.wpath() + u"/source", dir.wpath() + u"/new/copy");
    EXPECT_EQ(read_file(dir.file("new/copy")), big);

    // An existing file is the user's: it stays as it is.
    write_file(dir.file("new/mine"), "my own");
    copy_file_if_missing(dir.wpath() + u"/source", dir.wpath() + u"/new/mine");
    EXPECT_EQ(read_file(dir.file("new/mine")), "my own");

    // A failed copy leaves neither the target nor a temporary file behind.
    EXPECT_THROW(copy_file_if_missing(dir.wpath() + u"/absent", dir.wpath() + u"/new/x"),
                 filesystem_error);
    ::chmod(dir.file("new").c_str(), 0500);
    if (::geteuid() != 0) {  // root writes anywhere
        EXPECT_THROW(copy_file_if_missing(dir.wpath() + u"/source", dir.wpath() + u"/new/y"),
                     filesystem_error);
    }
    ::chmod(dir.file("new").c_str(), 0700);
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.file("new")))
        ++entries;
    EXPECT_EQ(entries, 2u);  // copy and mine
}
