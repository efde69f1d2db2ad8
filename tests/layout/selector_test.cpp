#include <gtest/gtest.h>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/element.h"
#include "layout/selector.h"

using namespace layout;

namespace {

// The ids of every match below the root, in order, joined by blanks.
std::string ids_of(handle root, std::string_view selector) {
    std::string out;
    const bool ok = select_elements(root, selector, [&](handle e) {
        out += (out.empty() ? "" : " ") + get_attribute_utf8(e, "id").value_or("?");
        return false;
    });
    return ok ? out : "<invalid>";
}

constexpr std::string_view page =
    "<div id=root class='page main'>"
    "<table id=tags editable><tr id=r0><td><div class=vtag id=vt-1>a</div></td></tr>"
    "<tr id=r1 new_tr><td><div class=vtag id=vt-2>b</div></td></tr></table>"
    "<ul id=menu><li id=m1 type=check name=mtmchecks>x</li><li id=m2 type=check>y</li></ul>"
    "<div id=nested class=quote><div id=inner class='quote title'></div></div>"
    "</div>";

}  // namespace

TEST(layout_selector, matches_types_ids_classes_and_attributes) {
    document doc;
    doc.load_html(page);
    handle root = doc.root();
    EXPECT_EQ(ids_of(root, "tr"), "r0 r1");
    EXPECT_EQ(ids_of(root, "TR"), "r0 r1");
    EXPECT_EQ(ids_of(root, "#vt-2"), "vt-2");
    EXPECT_EQ(ids_of(root, "div#vt-2"), "vt-2");
    EXPECT_EQ(ids_of(root, "li#vt-2"), "");
    EXPECT_EQ(ids_of(root, "[id='vt-1']"), "vt-1");
    EXPECT_EQ(ids_of(root, "[id=\"vt-1\"]"), "vt-1");
    EXPECT_EQ(ids_of(root, ".quote"), "nested inner");
    EXPECT_EQ(ids_of(root, ".quote.title"), "inner");
    EXPECT_EQ(ids_of(root, ".Quote"), "");  // classes keep their case
    EXPECT_EQ(ids_of(root, "tr[new_tr]"), "r1");
    EXPECT_EQ(ids_of(root, "table[editable]"), "tags");
    EXPECT_EQ(ids_of(root, "li[type=check][name='mtmchecks']"), "m1");
    EXPECT_EQ(ids_of(root, "[unknown-attribute]"), "");
    EXPECT_EQ(ids_of(root, "blink"), "");
    EXPECT_EQ(ids_of(root, "ul *"), "m1 m2");

    // The tag-and-attribute walk answers the same questions without a selector.
    std::string visited;
    const auto collect = [&](handle e) {
        visited += get_attribute_utf8(e, "id").value_or("?") + " ";
        return false;
    };
    visit_elements(root, "li", "type", u"check", collect);
    visit_elements(root, "", "new_tr", std::nullopt, collect);
    visit_elements(root, "tr", "", std::nullopt, collect);
    visit_elements(root, "nosuchtag", "", std::nullopt, collect);
    EXPECT_EQ(visited, "m1 m2 r1 r0 r1 ");
}

TEST(layout_selector, combinators_and_lists_keep_document_order) {
    document doc;
    doc.load_html(page);
    handle root = doc.root();
    EXPECT_EQ(ids_of(root, "#tags div"), "vt-1 vt-2");
    EXPECT_EQ(ids_of(root, "table > tr > td > div"), "vt-1 vt-2");
    EXPECT_EQ(ids_of(root, "table > div"), "");
    EXPECT_EQ(ids_of(root, ".page .quote .title"), "inner");
    EXPECT_EQ(ids_of(root, "div.quote > .quote"), "inner");
    // A list is matched in document order, each element once.
    EXPECT_EQ(ids_of(root, "li, tr, #vt-1, tr"), "r0 vt-1 r1 m1 m2");
    // The scope's own ancestors may take part; the scope itself is not a match.
    EXPECT_EQ(ids_of(find_first(root, "#tags"), ".page tr"), "r0 r1");
    EXPECT_EQ(ids_of(find_first(root, "#tags"), "table"), "");
    // The first match in document order.
    EXPECT_EQ(get_attribute(find_first(root, "div"), "id"), u"vt-1");
    htmlayout::dom::element wrapped(root);
    EXPECT_EQ(wrapped.find_first("[id='%s-%d']", "vt", 2).text(), u"b");
    // A formatted selector is never cut short, however long the id.
    const std::string long_id(3000, 'x');
    set_attribute_utf8(find_first(root, "#vt-1"), "id", long_id);
    set_attribute_utf8(find_first(root, "#vt-2"), "id", long_id.substr(0, 2040));
    EXPECT_EQ(wrapped.find_first("#%s", long_id.c_str()).text(), u"a");
}

TEST(layout_selector, closest_finds_the_nearest_match_from_the_element_up) {
    document doc;
    doc.load_html(page);
    handle root = doc.root();
    const auto id_of_closest = [&](std::string_view from, std::string_view selector) {
        handle found = closest(find_first(root, from), selector);
        return found ? get_attribute_utf8(found, "id").value_or("?") : "<none>";
    };
    EXPECT_EQ(id_of_closest("#vt-1", "tr"), "r0");
    EXPECT_EQ(id_of_closest("#vt-2", "table"), "tags");
    EXPECT_EQ(id_of_closest("#vt-2", "table > tr"), "r1");
    // The element itself counts, and the nearest of several matches wins.
    EXPECT_EQ(id_of_closest("#vt-1", ".vtag"), "vt-1");
    EXPECT_EQ(id_of_closest("#inner", ".quote"), "inner");
    EXPECT_EQ(id_of_closest("#vt-1", "div"), "vt-1");
    EXPECT_EQ(id_of_closest("#r0", "div"), "root");
    // Matches beside or below the element are not around it.
    EXPECT_EQ(id_of_closest("#vt-1", "tr[new_tr]"), "<none>");
    EXPECT_EQ(id_of_closest("#nested", ".title"), "<none>");
    EXPECT_EQ(id_of_closest("#vt-1", ".page > tr"), "<none>");
    EXPECT_EQ(id_of_closest("#vt-1", "[id"), "<none>");
    EXPECT_EQ(closest(nullptr, "div"), nullptr);
}

TEST(layout_selector, state_pseudo_classes_follow_state_bits) {
    document doc;
    doc.load_html(page);
    handle root = doc.root();
    EXPECT_EQ(ids_of(root, "tr:current"), "");
    set_state(find_first(root, "#r1"), state::current, 0, false);
    set_state(find_first(root, "#m2"), state::checked, 0, false);
    set_state(find_first(root, "#r0"), state::anchor | state::checked, 0, false);
    EXPECT_EQ(ids_of(root, "tr:current"), "r1");
    EXPECT_EQ(ids_of(root, ":checked"), "r0 m2");
    EXPECT_EQ(ids_of(root, "li:checked"), "m2");
    EXPECT_EQ(ids_of(root, "tr:anchor"), "r0");
    EXPECT_EQ(ids_of(root, "tr:current div"), "vt-2");
    set_state(find_first(root, "#vt-1"), state::focus, 0, false);
    EXPECT_EQ(ids_of(root, ":focus"), "vt-1");
    EXPECT_EQ(doc.focus(), find_first(root, "#vt-1"));
    set_state(find_first(root, "#r0"), 0, state::checked, false);
    EXPECT_EQ(ids_of(root, ":checked"), "m2");
    EXPECT_EQ(ids_of(root, "tr:anchor:current"), "");
}

TEST(layout_selector, rejects_what_it_cannot_read) {
    for (std::string_view bad : {"", " ", "#", ".", "div,", ",div", "[id", "[id=']", "[='x']",
                                 "div:unknown", "div >", "> div", "a ! b", "div)", "[id=x y]"}) {
        EXPECT_FALSE(parse_selector(bad)) << bad;
    }
    document doc;
    doc.load_html(page);
    EXPECT_EQ(ids_of(doc.root(), "div:"), "<invalid>");
    EXPECT_EQ(find_first(doc.root(), "[id"), nullptr);
    EXPECT_TRUE(parse_selector("  tr:current  div , li:checked "));
    EXPECT_TRUE(parse_selector("#a\\.b"));
}

TEST(layout_selector, style_properties_come_from_run_time_then_inline_then_sheets) {
    document doc;
    doc.load_html(
        "<html><head><style>"
        "/* later and more specific rules win */ div { flow: vertical; display: block }"
        "#panes { flow: horizontal } .wide { width: 10px } .wide { width: 20px !important }"
        "@media print { div { flow: none } } @import 'x.css';"
        "broken[ { width: 1px } tr.hidden { display: none }"
        "</style></head><body><div id=panes class=wide style='height: 5px; width: 7px'></div>"
        "<div id=other></div><table><tr id=r class=hidden></tr></table></body></html>");
    handle panes = find_first(doc.root(), "#panes");
    handle other = find_first(doc.root(), "#other");
    EXPECT_EQ(get_style_attribute(panes, "flow"), u"horizontal");
    EXPECT_EQ(get_style_attribute(other, "flow"), u"vertical");
    EXPECT_EQ(get_style_attribute(other, "Display"), u"block");
    EXPECT_EQ(get_style_attribute(find_first(doc.root(), "#r"), "display"), u"none");
    EXPECT_EQ(get_style_attribute(panes, "width"), u"7px");  // the style attribute wins
    EXPECT_EQ(get_style_attribute(panes, "height"), u"5px");
    EXPECT_FALSE(get_style_attribute(other, "width"));
    set_style_attribute(panes, "width", u"100%");
    EXPECT_EQ(get_style_attribute(panes, "width"), u"100%");
    set_style_attribute(panes, "width", std::nullopt);
    EXPECT_EQ(get_style_attribute(panes, "width"), u"7px");
    set_attribute(panes, "style", std::nullopt);
    EXPECT_EQ(get_style_attribute(panes, "width"), u"20px");
}
