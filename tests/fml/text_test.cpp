#include <gtest/gtest.h>

#include <random>

#include "fml/text.h"

using fml::utf82wchar;
using fml::wchar2ansi;
using fml::wchar2utf8;

TEST(text, round_trips_every_scalar_value_class) {
    EXPECT_EQ(wchar2utf8(u""), "");
    EXPECT_EQ(utf82wchar(""), u"");
    EXPECT_EQ(wchar2ansi(u""), "");

    // One sample of each UTF-8 length, the boundaries between them, and embedded NULs.
    const std::u16string samples[] = {u"plain ascii",
                                      std::u16string(u"a\0b", 3),
                                      u"\u007F\u0080\u07FF\u0800",
                                      u"\uD7FF\uE000\uFFFD\uFFFF",
                                      u"caf\u00E9 \u65E5\u672C",
                                      u"\U0001F600 \U00010000 \U0010FFFF"};
    for (const auto& text : samples) {
        EXPECT_EQ(utf82wchar(wchar2utf8(text)), text);
    }
    EXPECT_EQ(wchar2utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf82wchar("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(wchar2utf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");

    // Every valid UTF-16 string survives, whatever the mix of pairs.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        for (int i = 0; i < 50; ++i) {
            char32_t cp = random() % 0x110000;
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = 0x41;
            if (cp < 0x10000) {
                text += char16_t(cp);
            } else {
                text += char16_t(0xD800 + ((cp - 0x10000) >> 10));
                text += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
        }
        ASSERT_EQ(utf82wchar(wchar2utf8(text)), text) << "round " << round;
    }
}

TEST(text, ill_formed_input_becomes_replacement_characters) {
    // Lone surrogates in UTF-16.
    EXPECT_EQ(wchar2utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(wchar2utf8(std::u16string{char16_t(0xDC00), u'a'}),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(wchar2utf8(std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)}),
              "\xEF\xBF\xBD\xF0\x90\x80\x80");

    // Invalid UTF-8: one U+FFFD per maximal ill-formed subpart; the byte after stays.
    EXPECT_EQ(utf82wchar("\xFF"), u"\uFFFD");
    EXPECT_EQ(utf82wchar("a\x80"
                         "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf82wchar("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong
    EXPECT_EQ(utf82wchar("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");            // overlong three-byte
    EXPECT_EQ(utf82wchar("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
    EXPECT_EQ(utf82wchar("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
    EXPECT_EQ(utf82wchar("\xE2\x82"
                         "a"),
              u"\uFFFDa");                             // truncated then ASCII
    EXPECT_EQ(utf82wchar("\xF0\x9F\x98"), u"\uFFFD");  // truncated at the end
    EXPECT_EQ(utf82wchar("\xF0\x9F\x98\xF0\x9F\x98\x80"), u"\uFFFD\U0001F600");

    // Random bytes never throw and always give well-formed UTF-16 that round-trips.
    std::mt19937 random(11);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char& c : bytes)
            c = char(random());
        const std::u16string wide = utf82wchar(bytes);
        ASSERT_EQ(utf82wchar(wchar2utf8(wide)), wide);
    }
}

TEST(text, ansi_is_latin1_with_question_marks) {
    EXPECT_EQ(wchar2ansi(u"abc"), "abc");
    EXPECT_EQ(wchar2ansi(u"\u00FF\u00E9"), "\xFF\xE9");  // last code point inside
    EXPECT_EQ(wchar2ansi(u"\u0100\u20AC"), "??");        // first outside
    EXPECT_EQ(wchar2ansi(u"x\U0001F600y"), "x?y");       // a pair is one character
    EXPECT_EQ(wchar2ansi(std::u16string{char16_t(0xDC00)}), "?");
    EXPECT_EQ(wchar2ansi(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}
