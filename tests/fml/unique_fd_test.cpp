#include "fml/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

namespace {

bool is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

}  // namespace

// Each descriptor is closed exactly once, whoever holds it last, and never while
// someone who took it with release() still uses it.
TEST(unique_fd, closes_once_whoever_holds_it_last) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int read_end = ends[0];
    const int write_end = ends[1];
    {
        fml::unique_fd first(read_end);
        fml::unique_fd second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), read_end);
        fml::unique_fd third;
        third = std::move(second);
        EXPECT_TRUE(is_open(read_end));
        EXPECT_EQ(third.get(), read_end);
    }
    EXPECT_FALSE(is_open(read_end));

    fml::unique_fd held(write_end);
    const int given = held.release();
    held.reset();
    EXPECT_TRUE(is_open(given));
    held.reset(given);
    EXPECT_TRUE(held.close());
    EXPECT_FALSE(held.valid());
    EXPECT_FALSE(is_open(given));
    EXPECT_TRUE(held.close());  // nothing held: nothing to report
}

// A close that fails says so: the caller may have data that never reached the disk.
TEST(unique_fd, a_failed_close_is_reported) {
    fml::unique_fd closed_elsewhere(1000);
    EXPECT_FALSE(is_open(1000));
    EXPECT_FALSE(closed_elsewhere.close());
    EXPECT_EQ(errno, EBADF);
}
