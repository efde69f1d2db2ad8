#include <gtest/gtest.h>

#include "layout/element_id.h"

using layout::read_last_record_id;
using layout::read_record_id;

TEST(layout_element_id, reads_only_the_prefix_and_a_plain_32_bit_number) {
    EXPECT_EQ(read_record_id("q-7", "q-"), 7);
    EXPECT_EQ(read_record_id("q-0", "q-"), 0);
    EXPECT_EQ(read_record_id("q-2147483647", "q-"), 2147483647);
    EXPECT_EQ(read_record_id("qt-7-12", "qt-7-"), 12);
    EXPECT_EQ(read_record_id("mtmcheck-3", "mtmcheck-"), 3);
    for (const char* bad : {"q-", "q-abc", "q-99999999999", "q-2147483648", "-", "", "q-12x",
                            "q- 7", "q-+7", "q--7", "q-07", "Q-7", "vt-7", "q-7 ", "q-\xff"}) {
        EXPECT_FALSE(read_record_id(bad, "q-")) << bad;
    }
    EXPECT_EQ(read_last_record_id("qt-7-12"), 12);
    EXPECT_EQ(read_last_record_id("st-4"), 4);
    EXPECT_FALSE(read_last_record_id("nodash"));
    EXPECT_FALSE(read_last_record_id("st-"));
    EXPECT_FALSE(read_last_record_id("st-1-"));
}
