// What the desktop's own painter is given to lay out: the document as HTML with
// serials and states, the painter's head in place of the document's, nothing that
// could run script, and of a long list only the rows it holds.

#include "layout/render_markup.h"

#include <gtest/gtest.h>

#include <regex>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/markup.h"
#include "layout/page_mirror.h"

namespace {

struct numbered_rows final : layout::row_source {
    std::size_t count = 0;
    std::string huge;  // the text of row 7
    std::size_t row_count() const override { return count; }
    void append_rows(std::size_t first, std::size_t last, std::string& markup) override {
        for (std::size_t i = first; i < last; ++i) {
            markup += "<tr><td>" + (i == 7 ? huge : "row " + std::to_string(i)) + "</td></tr>";
        }
    }
    std::int64_t row_key(std::size_t index) const override { return std::int64_t(index); }
};

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

TEST(render_markup, serials_states_and_the_painter_s_head_and_never_script) {
    layout::document doc;
    EXPECT_EQ(layout::render_markup(doc), "");
    doc.load_html(
        "<html><head><link rel=stylesheet href=x.css><title>t</title></head><body>"
        "<div id=box class='a b' onclick='steal()' data-serial=99 data-state=forged "
        "style='color: red'>A &amp; B &lt;i&gt;<script>steal()</script>"
        "<a href='javascript:steal()'>link</a><p title='say \"hi\"'>x</p></div>"
        "<menu id=m><li>item</li></menu></body></html>");
    const layout::handle box = layout::find_first(doc.root(), "#box");
    layout::set_state(box, layout::state::focus | layout::state::current, 0, false);
    layout::set_style_attribute(box, "width", u"10px");
    const layout::handle menu = layout::find_first(doc.root(), "#m");

    layout::render_markup_options options;
    options.head = "<head><style>p{}</style></head>";
    options.extra_style[layout::serial_of(menu)] = "left:5px;top:6px";
    const std::string html = layout::render_markup(doc, options);

    EXPECT_EQ(html.rfind("<html data-serial=\"" + std::to_string(layout::serial_of(doc.root())) +
                             "\"><head><style>p{}</style></head><body",
                         0),
              0u)
        << html;
    EXPECT_EQ(count_of(html, "<head"), 1u) << html;  // the document's own head is left out
    EXPECT_EQ(html.find("x.css"), std::string::npos);
    EXPECT_NE(html.find("<div data-serial=\"" + std::to_string(layout::serial_of(box)) +
                        "\" id=\"box\" class=\"a b\" data-state=\"" +
                        layout::state_names(layout::get_state(box)) +
                        "\" style=\"color: red;width:10px\">A &amp; B &lt;i&gt;<a"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("title=\"say &quot;hi&quot;\""), std::string::npos) << html;
    EXPECT_NE(html.find("style=\"left:5px;top:6px\">"), std::string::npos) << html;
    // The document's own serial attribute is dropped (the real serials may hold "99").
    for (const char* never : {"steal", "forged", "data-serial=\"99\"", "<script", "javascript"}) {
        EXPECT_EQ(html.find(never), std::string::npos) << never << " in " << html;
    }
    // Every element written once, and the text reads back as the document's text.
    layout::document again;
    again.load_html(html);
    EXPECT_EQ(layout::get_inner_text_utf8(layout::find_first(again.root(), "#box")),
              "A & B <i>linkx");

    // Elements that hold nothing have no end tag, which a reader takes for a second one.
    layout::set_html(box, "one<br>two<hr>", layout::html_place::replace_content);
    const std::string breaks = layout::render_markup(doc);
    EXPECT_NE(breaks.find(">one<br data-serial="), std::string::npos) << breaks;
    EXPECT_EQ(breaks.find("</br>"), std::string::npos) << breaks;
    EXPECT_EQ(breaks.find("</hr>"), std::string::npos) << breaks;

    // Asked for, an element with no content (an emptied text counts as none) is
    // marked empty; one holding a blank is not.
    layout::set_html(box, "<p id=none></p><p id=emptied>x</p><p id=blank> </p>",
                     layout::html_place::replace_content);
    layout::set_inner_text(layout::find_first(doc.root(), "#emptied"), u"");
    layout::render_markup_options marking;
    marking.mark_empty = true;
    const std::string marked = layout::render_markup(doc, marking);
    EXPECT_NE(marked.find("id=\"none\" data-empty=\"\">"), std::string::npos) << marked;
    EXPECT_NE(marked.find("id=\"emptied\" data-empty=\"\">"), std::string::npos) << marked;
    EXPECT_NE(marked.find("id=\"blank\">"), std::string::npos) << marked;
    EXPECT_EQ(layout::render_markup(doc).find("data-empty"), std::string::npos);

    // Asked for, a word that runs across a mark's edge stays on one line; words
    // that meet a mark at a blank, and blocks, are left as they are.
    layout::set_html(box, "called <mark>quote</mark>s, and <mark>quote</mark> <mark>x</mark>y<mark>z</mark>"
                          "<p>a</p>b",
                     layout::html_place::replace_content);
    layout::render_markup_options words;
    words.keep_words_whole = true;
    const std::string kept = layout::render_markup(doc, words);
    const auto mark = [&](const char* text) {
        return "<mark data-serial=\"[0-9]+\">" + std::string(text) + "</mark>";
    };
    EXPECT_TRUE(std::regex_search(
        kept, std::regex("called <span style=\"display:inline-block;vertical-align:top;white-space:nowrap\">" + mark("quote") +
                         "s,</span> and " + mark("quote") + " <span style=\"display:inline-block;vertical-align:top;white-space:nowrap\">" +
                         mark("x") + "y" + mark("z") + "</span><p ")))
        << kept;
    layout::document read_back;
    read_back.load_html(kept);
    EXPECT_EQ(layout::get_inner_text_utf8(layout::find_first(read_back.root(), "#box")),
              "called quotes, and quote xyzab");
    EXPECT_EQ(layout::render_markup(doc).find("nowrap"), std::string::npos);
}

TEST(render_markup, a_long_list_gives_the_rows_it_holds_with_huge_texts_shortened) {
    layout::document doc;
    doc.load_html("<html><body><table id=list></table><p id=outside></p></body></html>");
    const layout::handle list = layout::find_first(doc.root(), "#list");
    numbered_rows rows;
    rows.count = 100'000;
    rows.huge = std::string(layout::max_row_text_bytes * 2, 'h');
    layout::set_row_source(list, &rows);
    layout::set_inner_text_utf8(layout::find_first(doc.root(), "#outside"), rows.huge);

    std::string html = layout::render_markup(doc);
    EXPECT_EQ(count_of(html, "<tr "), layout::default_held_rows);
    EXPECT_NE(html.find(">row 0<"), std::string::npos);
    EXPECT_EQ(html.find(">row 40<"), std::string::npos);
    // Row 7's text is cut in the list; the same text outside any list goes whole.
    EXPECT_NE(html.find(layout::shown_text(rows.huge)), std::string::npos);
    EXPECT_NE(html.find(rows.huge), std::string::npos);
    EXPECT_EQ(count_of(html, rows.huge), 1u);

    layout::hold_rows(list, 50'000, 10);
    html = layout::render_markup(doc);
    EXPECT_EQ(count_of(html, "<tr "), 10u);
    EXPECT_NE(html.find(">row 50000<"), std::string::npos);
    EXPECT_NE(html.find(">row 50009<"), std::string::npos);
    // Rows the painter leaves out (out of view) go with all they hold.
    layout::render_markup_options options;
    for (std::size_t i = 50'000; i < 50'008; ++i) {
        options.left_out.insert(layout::serial_of(layout::row_at(list, i)));
    }
    html = layout::render_markup(doc, options);
    EXPECT_EQ(count_of(html, "<tr "), 2u);
    EXPECT_EQ(html.find(">row 50007<"), std::string::npos);
    EXPECT_NE(html.find(">row 50008<"), std::string::npos);
    layout::set_row_source(list, nullptr);
}

// A renderer that lays out each row apart writes the row inside its ancestors'
// tags: that must read exactly as the whole document does with the rest left out,
// or the style sheets would match the row differently.
TEST(render_markup, a_part_in_its_ancestors_tags_reads_as_in_the_whole_document) {
    layout::document doc;
    doc.load_html(
        "<html><head><title>t</title></head><body class=page><div id=pane style='color: red'>"
        "<table id=list class=quotes></table><p id=beside>x</p></div><p id=other>y</p>"
        "</body></html>");
    const layout::handle pane = layout::find_first(doc.root(), "#pane");
    const layout::handle list = layout::find_first(doc.root(), "#list");
    numbered_rows rows;
    rows.count = 20;
    rows.huge = std::string(layout::max_row_text_bytes * 2, 'h');
    layout::set_row_source(list, &rows);
    layout::set_state(list, layout::state::focus, 0, false);
    layout::set_state(layout::row_at(list, 7), layout::state::checked, 0, false);

    layout::render_markup_options options;
    options.head = "<head><style>td{}</style></head>";
    options.extra_style[layout::serial_of(pane)] = "left:3px";
    const layout::handle row = layout::row_at(list, 7);
    const layout::markup_frame frame = layout::render_ancestors_markup(doc, row, options);
    const std::string part = layout::render_element_markup(doc, row, options);

    // The whole document with all but the row and its ancestors left out.
    layout::render_markup_options alone = options;
    for (const char* other : {"#beside", "#other"}) {
        alone.left_out.insert(layout::serial_of(layout::find_first(doc.root(), other)));
    }
    for (std::size_t i = 0; i < layout::held_rows(list).last; ++i) {
        if (i != 7) {
            alone.left_out.insert(layout::serial_of(layout::row_at(list, i)));
        }
    }
    EXPECT_EQ(frame.opening + part + frame.closing, layout::render_markup(doc, alone));
    EXPECT_EQ(frame.opening.rfind("<html data-serial=", 0), 0u) << frame.opening;
    EXPECT_NE(frame.opening.find("<style>td{}</style>"), std::string::npos) << frame.opening;
    EXPECT_NE(frame.opening.find("style=\"color: red;left:3px\""), std::string::npos)
        << frame.opening;
    EXPECT_EQ(frame.closing, "</table></div></body></html>");
    // The row as it stands in the whole document: its state, its text shortened.
    EXPECT_NE(layout::render_markup(doc, options).find(part), std::string::npos);
    EXPECT_EQ(part.rfind("<tr data-serial=", 0), 0u) << part;
    EXPECT_NE(part.find("data-state=\"checked\""), std::string::npos) << part;
    EXPECT_NE(part.find(layout::shown_text(rows.huge)), std::string::npos);
    EXPECT_EQ(part.find(rows.huge), std::string::npos);

    // The root is the whole document, in no frame.
    EXPECT_EQ(layout::render_element_markup(doc, doc.root(), options),
              layout::render_markup(doc, options));
    const layout::markup_frame none = layout::render_ancestors_markup(doc, doc.root(), options);
    EXPECT_TRUE(none.opening.empty() && none.closing.empty());
    // Left out: the element itself gives nothing, an ancestor left out no frame.
    options.left_out.insert(layout::serial_of(row));
    EXPECT_EQ(layout::render_element_markup(doc, row, options), "");
    options.left_out = {layout::serial_of(pane)};
    const layout::markup_frame cut = layout::render_ancestors_markup(doc, row, options);
    EXPECT_TRUE(cut.opening.empty() && cut.closing.empty());
    layout::set_row_source(list, nullptr);
}
