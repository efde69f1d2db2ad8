#include <gtest/gtest.h>

#include <filesystem>

#include "shell/errors.h"
#include "shell/resource_mgr.h"
#include "support/temp_dir.h"

TEST(resource_mgr, holds_every_file_of_the_folder_byte_for_byte) {
    hrd::test::temp_dir dir;
    const std::string binary("a\0b\xFF\r\n", 6);
    hrd::test::write_file(dir.file("mainform.htm"), "<html/>");
    hrd::test::write_file(dir.file("image.bin"), binary);
    hrd::test::write_file(dir.file("big.css"), std::string(200000, 'c'));
    std::filesystem::create_directory(dir.file("sub"));

    hrd::ResourceMgr resources(dir.wpath());
    EXPECT_EQ(resources.size(), 4u);
    const auto& bin = resources.get(u"image.bin");
    EXPECT_EQ(std::string(bin.begin(), bin.end()), binary);
    EXPECT_EQ(resources.get(u"big.css").size(), 200000u);
    EXPECT_TRUE(resources.has(u"sub"));
    EXPECT_TRUE(resources.get(u"sub").empty());
    EXPECT_FALSE(resources.has(u"MAINFORM.HTM"));  // names are exact
    try {
        resources.get(u"missing.png");
        FAIL();
    } catch (const hrd::resource_not_found_error& e) {
        EXPECT_STREQ(e.what(), "missing.png");
    }

    hrd::ResourceMgr none(dir.wpath() + u"/absent");
    EXPECT_EQ(none.size(), 0u);
}
