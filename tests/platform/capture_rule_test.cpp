#include <gtest/gtest.h>

#include "platform/capture_rule.h"

using hrd::capture_decision;
using hrd::capture_rule;
using hrd::key_press;

namespace {

capture_decision ctrl(capture_rule& rule, std::uint32_t key, std::uint32_t time) {
    return rule.decide(key_press{key, true, false, false, time});
}

constexpr auto pass = capture_decision::pass_on;
constexpr auto capture = capture_decision::capture;

}  // namespace

TEST(capture_rule, the_500_ms_window_and_chained_captures) {
    capture_rule rule;
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 1000), pass);
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 1499), capture);     // 499 ms: captured
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 1499 + 400), pass);  // 899 ms after the stored time
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 1899 + 500), pass);  // exactly 500: not captured, renews
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 2399 + 200), capture);
    // A capture does not renew the time: 400 ms after the stored press still captures,
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 2399 + 400), capture);
    // 500 ms after it does not.
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 2399 + 500), pass);
}

TEST(capture_rule, mixed_keys_alt_repeats_and_the_first_press) {
    capture_rule rule;
    // The very first press never captures, even right at the clock's start.
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 0), pass);

    capture_rule mixed;
    EXPECT_EQ(ctrl(mixed, hrd::vk_insert, 100), pass);
    EXPECT_EQ(ctrl(mixed, hrd::vk_c, 300), capture);  // Ctrl+Insert then Ctrl+C

    capture_rule letter;
    EXPECT_EQ(letter.decide({hrd::vk_c, false, false, false, 100}), pass);  // plain "c" stores time
    EXPECT_EQ(ctrl(letter, hrd::vk_c, 200), capture);

    capture_rule other;
    EXPECT_EQ(ctrl(other, hrd::vk_c, 100), pass);
    EXPECT_EQ(ctrl(other, 0x56 /* V */, 150), pass);
    EXPECT_EQ(other.decide({hrd::vk_c, true, true, false, 200}), pass);  // with Alt: ignored
    EXPECT_EQ(ctrl(other, hrd::vk_c, 250), capture);                     // neither renewed the time

    // Holding Ctrl+C: auto-repeats neither capture nor renew the time.
    capture_rule held;
    EXPECT_EQ(ctrl(held, hrd::vk_c, 100), pass);
    for (std::uint32_t t = 130; t < 2000; t += 33) {
        EXPECT_EQ(held.decide({hrd::vk_c, true, false, true, t}), pass);
    }
    EXPECT_EQ(ctrl(held, hrd::vk_c, 2000), pass);
    EXPECT_EQ(ctrl(held, hrd::vk_c, 2100), capture);
}

TEST(capture_rule, the_clock_may_wrap) {
    capture_rule rule;
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 0xFFFFFF00u), pass);
    EXPECT_EQ(ctrl(rule, hrd::vk_c, 0x000000F0u), capture);  // 496 ms later, across zero
    capture_rule far;
    EXPECT_EQ(ctrl(far, hrd::vk_c, 0xFFFFFF00u), pass);
    EXPECT_EQ(ctrl(far, hrd::vk_c, 0x000000F4u), pass);  // 500 ms later
}
