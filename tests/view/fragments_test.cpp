#include <gtest/gtest.h>

#include <map>

#include "model/text_fold.h"
#include "view/fragments.h"
#include "view/ids.h"

using namespace hrd;

TEST(fragments, quote_block_is_exact_and_user_text_cannot_add_markup) {
    std::map<record_id, tag> tags{{12, tag(12, u"work")},
                                  {3, tag(3, u"<b onclick=\"x()\">'bold'</b>")}};
    quote q(7, u"x<y & \"z\t\n", no_stamp);
    q.m_tags = {12, 99, 3};  // 99 vanished: skipped
    const auto lookup = [&](record_id id) -> const tag* {
        auto it = tags.find(id);
        return it == tags.end() ? nullptr : &it->second;
    };
    EXPECT_EQ(
        fragments::quote_block(q, lookup),
        "<div class=\"quote\" id=\"q-7\"><table class=\"qtable\" border=1 cellspacing=-1px>"
        "<tr><td colspan=3><div class=\"title\"></div></td></tr>"
        "<tr><td class=\"text\" colspan=3>x&#60;y &#38; &#34;z&#160;&#160;<br></td></tr>"
        "<tr><td class=\"links\">"
        "<div class=\"qtag\" id=\"qt-7-12\">work</div>"
        "<div class=\"qtag\" id=\"qt-7-3\">&#60;b "
        "onclick=&#34;x()&#34;&#62;&#39;bold&#39;&#60;/b&#62;</div>"
        "</td><td class=\"managecell\"><button class=\"managetags\" menu=\"manage-tags\">Manage..."
        "</button></td><td class=\"timestamp\"></td></tr></table></div>");

    // Windows line ends keep their CR; an untagged quote has an empty links cell.
    quote plain(1, u"a\r\nb", no_stamp);
    const std::string block = fragments::quote_block(plain, nullptr);
    EXPECT_NE(block.find(">a\r<br>b</td>"), std::string::npos) << block;
    EXPECT_NE(block.find("<td class=\"links\"></td>"), std::string::npos) << block;

    // The tag fragments escape the name the same way in every place it appears.
    const tag evil(5, u"<script>alert(1)</script>");
    const std::string escaped = "&#60;script&#62;alert(1)&#60;/script&#62;";
    EXPECT_EQ(fragments::tag_entry(evil), "<div class=\"vtag\" id=\"vt-5\">" + escaped + "</div>");
    EXPECT_EQ(fragments::search_tag(evil), "<div class=\"stag\" id=\"st-5\">" + escaped + "</div>");
    EXPECT_EQ(fragments::menu_item(evil),
              "<li type=\"check\" name=\"mtmchecks\" id=\"mtmcheck-5\">" + escaped + "</li>");
    EXPECT_EQ(fragments::quote_tag(evil, 9),
              "<div class=\"qtag\" id=\"qt-9-5\">" + escaped + "</div>");
    EXPECT_EQ(fragments::table_row("<i>x</i>"), "<tr><td><i>x</i></td></tr>");
}

TEST(ids, are_read_back_only_in_their_exact_form) {
    EXPECT_EQ(ids::quote(7), "q-7");
    EXPECT_EQ(ids::quote_tag(7, 12), "qt-7-12");
    EXPECT_EQ(ids::read(u"q-12", ids::quote_prefix), 12);
    EXPECT_EQ(ids::read(u"vt-2147483647", ids::tag_entry_prefix), 2147483647);
    EXPECT_EQ(ids::read_quote_tag(u"qt-3-7"), (std::pair<record_id, record_id>{3, 7}));
    EXPECT_EQ(ids::read_any(u"qt-3-7"), 7);
    EXPECT_EQ(ids::read_any(u"mtmcheck-4"), 4);

    // Missing, partial, signed, spaced, overflowing or foreign ids are refused.
    for (std::u16string_view bad : {u"", u"-", u"q-", u"q-abc", u"q-12x", u"q- 7", u"q-+7", u"q--7",
                                    u"q-99999999999", u"q-2147483648", u"12", u"vt-12", u"Q-1"}) {
        EXPECT_THROW(ids::read(bad, ids::quote_prefix), detail::wrong_id_format)
            << fml::wchar2utf8(bad);
        EXPECT_FALSE(ids::matches(bad, ids::quote_prefix)) << fml::wchar2utf8(bad);
    }
    for (std::u16string_view bad :
         {u"qt-7", u"qt-7-", u"qt--7", u"qt-a-7", u"q-7-1", u"qt-1-2-3"}) {
        EXPECT_THROW(ids::read_quote_tag(bad), detail::wrong_id_format) << fml::wchar2utf8(bad);
    }
    EXPECT_THROW(ids::read_any(u"x-1"), detail::wrong_id_format);
    try {
        ids::read(u"q-\u00E9", ids::quote_prefix);
        ADD_FAILURE() << "a non-ASCII id was read";
    } catch (const detail::wrong_id_format& e) {
        EXPECT_STREQ(e.what(), "q-\xC3\xA9");  // the id, in UTF-8
    }
}

// Where a search text matches, the quote's text marks it, whatever the case, with
// the text around and inside the marks escaped as everywhere; a huge clip or a
// one-letter word marks no more than a row can show.
TEST(fragments, search_words_are_marked_in_the_text_without_adding_markup) {
    const auto marked = [](std::string_view text, std::u16string_view search) {
        std::string out;
        fragments::append_highlighted(out, text, search_words(search));
        return out;
    };
    EXPECT_EQ(marked("Caf\xC3\xA9 <b>caf\xC3\x89</b>", u"CAF\u00C9"),
              "<mark>Caf\xC3\xA9</mark> &#60;b&#62;<mark>caf\xC3\x89</mark>&#60;/b&#62;");
    EXPECT_EQ(marked("one two\nthree", u"two  one"), "<mark>one</mark> <mark>two</mark><br>three");
    // Overlapping and touching matches make one mark; no words, no marks.
    EXPECT_EQ(marked("aaaa", u"aa"), "<mark>aaaa</mark>");
    EXPECT_EQ(marked("ab&cd", u"b&c"), "a<mark>b&#38;c</mark>d");
    EXPECT_EQ(marked("x<y", u""), "x&#60;y");
    // A word with a mark-up character in it is looked for as text.
    EXPECT_EQ(marked("<mark>", u"<mark>"), "<mark>&#60;mark&#62;</mark>");

    std::string many;
    for (int i = 0; i < 1000; ++i) {
        many += "e ";
    }
    const std::string out = marked(many, u"e");
    std::size_t marks = 0;
    for (std::size_t at = out.find("<mark>"); at != std::string::npos; at = out.find("<mark>", at + 1)) {
        ++marks;
    }
    EXPECT_EQ(marks, fragments::marks_per_text);
    EXPECT_EQ(out.size(), many.size() + marks * std::string("<mark></mark>").size());
    const std::string huge = std::string(100 * 1024, 'x') + "needle";
    EXPECT_EQ(marked(huge, u"needle"), huge) << "nothing is marked past what a row shows";
}
