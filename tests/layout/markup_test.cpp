#include <gtest/gtest.h>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/markup.h"

using namespace layout;

namespace {

// Reads `markup` into a fresh document and writes it back.
std::string round_trip(std::string_view markup) {
    document doc;
    doc.load_html("<div id=host></div>");
    handle host = doc.root();
    set_html(host, markup, html_place::replace_content);
    return get_html(host, false).value_or("<none>");
}

// A quote row as the view writes it: a table row inside the quote list.
constexpr std::string_view quote_row =
    "<tr><td><div class=\"quote\" id=\"q-7\"><table class=\"qtable\" border=1 cellspacing=-1px>"
    "<tr><td colspan=3><div class=\"title\"></div></td></tr>"
    "<tr><td class=\"text\" colspan=3>x&#60;y &#38; &#34;z&#160;&#160;<br></td></tr>"
    "<tr><td class=\"links\"><div class=\"qtag\" id=\"qt-7-12\">work</div></td>"
    "<td class=\"managecell\"><button class=\"managetags\" menu=\"manage-tags\">Manage...</button>"
    "</td><td class=\"timestamp\">2007-3-5  9:4:7</td></tr></table></div></td></tr>";

}  // namespace

TEST(layout_markup, keeps_fragments_exactly_as_written) {
    document doc;
    doc.load_html("<table id=thequotelist></table>");
    handle list = doc.root();
    ASSERT_TRUE(set_html(list, quote_row, html_place::insert_at_start));

    // No tbody, no html/body: the row is the list's child, the block its cell's child.
    handle row = nth_child(list, 0);
    EXPECT_EQ(element_type(row), "tr");
    handle block = nth_child(nth_child(row, 0), 0);
    EXPECT_EQ(get_attribute(block, "id"), u"q-7");
    handle table = nth_child(block, 0);
    EXPECT_EQ(element_type(table), "table");
    EXPECT_EQ(child_count(table), 3u);
    EXPECT_EQ(get_attribute(table, "cellspacing"), u"-1px");
    EXPECT_EQ(get_attribute(table, "border"), u"1");
    handle links = nth_child(nth_child(table, 2), 0);
    EXPECT_EQ(get_attribute(links, "class"), u"links");
    handle tag = nth_child(links, 0);
    // The quote block is a quote tag's fourth ancestor.
    EXPECT_EQ(parent(parent(parent(parent(tag)))), block);
    EXPECT_EQ(get_inner_text(nth_child(nth_child(table, 1), 0)), u"x<y & \"z\u00a0\u00a0\n");
    EXPECT_EQ(get_inner_text(nth_child(nth_child(nth_child(table, 2), 1), 0)), u"Manage...");

    // Written back, it reads the same again.
    const std::string written = *get_html(list, false);
    EXPECT_EQ(round_trip(written), written);
    EXPECT_EQ(written.find("tbody"), std::string::npos);
}

TEST(layout_markup, tolerates_malformed_markup) {
    // Unknown tags are kept; stray end tags are ignored; open elements close at the end.
    EXPECT_EQ(round_trip("<x-widget a=1>in</x-widget>"), "<x-widget a=\"1\">in</x-widget>");
    EXPECT_EQ(round_trip("a</b>c</div>d"), "acd");
    EXPECT_EQ(round_trip("<p><b>bold<i>both</p>after"), "<p><b>bold<i>both</i></b></p>after");
    EXPECT_EQ(round_trip("<li>one<li>two"), "<li>one<li>two</li></li>");
    // Void elements take no content, with or without a slash.
    EXPECT_EQ(round_trip("a<br>b<br/>c<img src=x.png>d</br>"), "a<br>b<br>c<img src=\"x.png\">d");
    // Self-closing ordinary elements are empty.
    EXPECT_EQ(round_trip("<div class=\"title\"/>x"), "<div class=\"title\"></div>x");
    // Attribute forms; the first of duplicates wins; names that markup cannot carry are dropped.
    EXPECT_EQ(round_trip("<td colspan=3 a='x y' b=\"q'\" c d=e f=\"1\" a=2 \"bad=1 x<y=2>"),
              "<td colspan=\"3\" a=\"x y\" b=\"q'\" c=\"\" d=\"e\" f=\"1\"></td>");
    // Comments and declarations vanish; a lone '<' is text.
    EXPECT_EQ(round_trip("<!DOCTYPE html><!-- note -->a < b <?pi?>c"), "a &lt; b c");
    EXPECT_EQ(round_trip("<!-- never closed"), "");
    EXPECT_EQ(round_trip("</>x</ y>"), "x");
    // Blank text between table and list parts is dropped; elsewhere it stays.
    EXPECT_EQ(round_trip("<table>\n <tr> <td> a </td> </tr>\n</table> <b>x</b> <i>y</i>"),
              "<table><tr><td> a </td></tr></table> <b>x</b> <i>y</i>");
    EXPECT_EQ(round_trip("<table>&#9; &#32;<tr></tr></table>"), "<table><tr></tr></table>");
    // Unterminated tags and values end with the input.
    EXPECT_EQ(round_trip("<div a=\"open"), "<div a=\"open\"></div>");
    EXPECT_EQ(round_trip("<div"), "<div></div>");
}

TEST(layout_markup, decodes_character_references) {
    EXPECT_EQ(round_trip("&lt;&gt;&amp;&quot;&apos;&nbsp;&#65;&#x42;&#X43;&copy;"),
              "&lt;&gt;&amp;\"'\u00a0ABC\u00a9");
    // Unknown or incomplete references stay as written; invalid numbers become U+FFFD.
    EXPECT_EQ(round_trip("&bogus; &amp &# &#x; a&b"),
              "&amp;bogus; &amp;amp &amp;# &amp;#x; a&amp;b");
    EXPECT_EQ(round_trip("&#0;&#xD800;&#1114112;&#99999999999999999999;"),
              "\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(round_trip("<a title='&lt;&#34;'>x</a>"), "<a title=\"&lt;&quot;\">x</a>");
}

TEST(layout_markup, escapes_injected_markup) {
    const std::u16string attacks[] = {
        u"</td></tr></table><script>alert(1)</script>",
        u"\"><img src=x onerror=alert(1)>",
        u"<!--",
        u"&lt;already escaped&gt;",
        u"' onclick='x",
    };
    document doc;
    doc.load_html("<div id=host></div>");
    handle host = doc.root();
    for (const auto& attack : attacks) {
        ASSERT_TRUE(set_inner_text(host, attack));
        ASSERT_TRUE(set_attribute(host, "title", attack));
        const std::string markup = *get_html(host, true);
        // Read back, the markup gives one element holding the text, nothing else.
        document copy;
        copy.load_html(markup);
        handle again = copy.root();
        EXPECT_EQ(child_count(again), 0u) << markup;
        EXPECT_EQ(get_inner_text(again), attack) << markup;
        EXPECT_EQ(get_attribute(again, "title"), attack) << markup;
        EXPECT_EQ(nth_child(copy.root(), 0), nullptr);
    }
    EXPECT_EQ(escape_text("a<b>&\"c"), "a&lt;b&gt;&amp;\"c");
    EXPECT_EQ(escape_attribute("a<b>&\"c"), "a&lt;b&gt;&amp;&quot;c");
}

TEST(layout_markup, survives_hostile_input) {
    // Invalid UTF-8 becomes U+FFFD, in text, values and raw text alike.
    EXPECT_EQ(round_trip("a\xff"
                         "b\xc0\xaf"
                         "c\xed\xa0\x80"
                         "d\xf4\x90\x80\x80"),
              "a\uFFFD"
              "b\uFFFD\uFFFD"
              "c\uFFFD\uFFFD\uFFFD"
              "d\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(round_trip(std::string("<p t='\x80'>\0</p>", 14)), "<p t=\"\uFFFD\">\uFFFD</p>");
    // Raw text elements keep their content, and cannot be ended early by it,
    // however it gets there.
    EXPECT_EQ(round_trip("<style>a > b { x: '&amp;' }</style>"),
              "<style>a > b { x: '&amp;' }</style>");
    document styled;
    styled.load_html("<style></style>");
    set_html(styled.root(), "<b>x</b></STYLE><i>", html_place::append);
    EXPECT_EQ(child_count(styled.root()), 0u);
    EXPECT_EQ(get_html(styled.root(), true), "<style><b>x</b><\\/STYLE><i></style>");
    set_inner_text(styled.root(), u"</style><script>");
    EXPECT_EQ(get_html(styled.root(), true), "<style><\\/style><script></style>");

    // Absurd nesting is flattened below a fixed depth, in linear time.
    std::string deep;
    for (int i = 0; i < 100000; ++i) {
        deep += "<div>";
    }
    deep += "x";
    document doc;
    doc.load_html(deep);
    std::size_t depth = 0;
    for (handle e = doc.root(); e; e = nth_child(e, 0)) {
        ++depth;
    }
    EXPECT_EQ(depth, max_markup_depth);
    // And unmatched end tags cost nothing however deep the stack is.
    deep.clear();
    for (int i = 0; i < 100000; ++i) {
        deep += "<b></i>";
    }
    doc.load_html(deep);
    EXPECT_TRUE(doc.root());

    // A huge attribute and a huge number of attributes.
    doc.load_html("<div title='" + std::string(1 << 22, 'x') + "'></div>");
    EXPECT_EQ(get_attribute_utf8(doc.root(), "title")->size(), std::size_t(1) << 22);
    std::string many = "<div";
    for (int i = 0; i < 50000; ++i) {
        many += " a" + std::to_string(i % 25000) + "=" + std::to_string(i);
    }
    doc.load_html(many + ">");
    EXPECT_EQ(attribute_count(doc.root()), 25000u);
    EXPECT_EQ(get_attribute(doc.root(), "a7"), u"7");
}
