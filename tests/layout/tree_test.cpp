#include <gtest/gtest.h>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/element.h"

using namespace layout;
using htmlayout::dom::element;

namespace {

std::string html_of(handle e) {
    return get_html(e, false).value_or("<none>");
}

}  // namespace

TEST(layout_tree, null_handle_fails_without_effect) {
    EXPECT_EQ(parent(nullptr), nullptr);
    EXPECT_EQ(child_count(nullptr), 0u);
    EXPECT_EQ(nth_child(nullptr, 0), nullptr);
    EXPECT_FALSE(get_attribute(nullptr, "id"));
    EXPECT_FALSE(set_attribute(nullptr, "id", u"x"));
    EXPECT_FALSE(set_html(nullptr, "<b>", html_place::append));
    EXPECT_FALSE(get_html(nullptr, true));
    EXPECT_FALSE(get_inner_text(nullptr));
    EXPECT_FALSE(delete_element(nullptr));
    EXPECT_FALSE(post_event(nullptr, 1, nullptr, 0));
    EXPECT_FALSE(send_event(nullptr, 1, nullptr, 0));
    EXPECT_FALSE(select_elements(nullptr, "div", [](handle) { return false; }));
    EXPECT_FALSE(set_state(nullptr, state::checked, 0, true));
    use(nullptr);
    unuse(nullptr);

    element empty;
    EXPECT_FALSE(empty.is_valid());
    EXPECT_FALSE(empty.find_first("div").is_valid());
    EXPECT_FALSE(empty.text());
    empty.set_attribute("id", u"x");
    empty.destroy();
}

TEST(layout_tree, walks_children_and_indexes_ignoring_text) {
    document doc;
    doc.load_html("<html><body id=b>one<p>a</p> two <i>b</i><br>three</body></html>");
    handle body = find_first(doc.root(), "#b");
    ASSERT_TRUE(body);
    EXPECT_EQ(child_count(body), 3u);
    EXPECT_EQ(element_type(nth_child(body, 0)), "p");
    EXPECT_EQ(element_type(nth_child(body, 2)), "br");
    EXPECT_EQ(nth_child(body, 3), nullptr);
    EXPECT_EQ(index_of(nth_child(body, 1)), 1u);
    EXPECT_EQ(next_sibling(nth_child(body, 0)), nth_child(body, 1));
    EXPECT_EQ(previous_sibling(nth_child(body, 0)), nullptr);
    EXPECT_EQ(parent(body), doc.root());
    EXPECT_EQ(parent(doc.root()), nullptr);
    EXPECT_EQ(root_of(nth_child(body, 1)), doc.root());
    EXPECT_EQ(get_inner_text(body), u"onea two b\nthree");

    auto tags_seen = [&](std::size_t first, const std::string& stop_at) {
        std::string seen;
        const bool stopped = for_each_child(
            body,
            [&](handle child) {
                seen += element_type(child) + " ";
                return element_type(child) == stop_at;
            },
            first);
        return seen + (stopped ? "stopped" : "all");
    };
    EXPECT_EQ(tags_seen(0, ""), "p i br all");
    EXPECT_EQ(tags_seen(1, ""), "i br all");
    EXPECT_EQ(tags_seen(0, "i"), "p i stopped");
    EXPECT_EQ(tags_seen(5, ""), "all");
    EXPECT_FALSE(for_each_child(nullptr, [](handle) { return true; }));
}

TEST(layout_tree, attributes_absent_empty_and_removed) {
    document doc;
    doc.load_html("<div id=d editable class='a b' title=\"x &amp; y\"></div>");
    handle d = doc.root();
    EXPECT_EQ(get_attribute(d, "editable"), u"");
    EXPECT_EQ(get_attribute(d, "TITLE"), u"x & y");
    EXPECT_FALSE(get_attribute(d, "missing"));
    EXPECT_FALSE(get_attribute(d, "never-seen-anywhere"));

    EXPECT_TRUE(set_attribute(d, "new_tr", u""));
    EXPECT_EQ(get_attribute(d, "new_tr"), u"");
    EXPECT_TRUE(set_attribute(d, "editable", std::nullopt));
    EXPECT_FALSE(get_attribute(d, "editable"));
    EXPECT_TRUE(set_attribute(d, "title", u"\u00e9<\"quoted\">"));
    EXPECT_EQ(get_attribute(d, "title"), u"\u00e9<\"quoted\">");
    EXPECT_FALSE(set_attribute(d, "bad name", u"x"));
    EXPECT_FALSE(set_attribute(d, "x\"onclick", u"x"));
    EXPECT_EQ(attribute_count(d), 4u);
    EXPECT_EQ(nth_attribute(d, 0)->first, "id");
    EXPECT_EQ(*get_html(d, true),
              "<div id=\"d\" class=\"a b\" title=\"\xC3\xA9&lt;&quot;quoted&quot;&gt;\" "
              "new_tr=\"\"></div>");
}

TEST(layout_tree, set_html_in_every_place) {
    document doc;
    doc.load_html("<ul id=list><li>b</li></ul>");
    handle list = doc.root();
    ASSERT_TRUE(set_html(list, "<li>a</li>", html_place::insert_at_start));
    ASSERT_TRUE(set_html(list, "<li>c</li>", html_place::append));
    EXPECT_EQ(html_of(list), "<li>a</li><li>b</li><li>c</li>");
    handle b = nth_child(list, 1);
    ASSERT_TRUE(set_html(b, "<li>b0</li>", html_place::insert_before));
    ASSERT_TRUE(set_html(b, "<li>b1</li>", html_place::insert_after));
    EXPECT_EQ(html_of(list), "<li>a</li><li>b0</li><li>b</li><li>b1</li><li>c</li>");
    ASSERT_TRUE(set_html(b, "<li>B</li><li>B2</li>", html_place::replace_element));
    EXPECT_EQ(html_of(list), "<li>a</li><li>b0</li><li>B</li><li>B2</li><li>b1</li><li>c</li>");
    ASSERT_TRUE(set_html(list, "<li>only</li>", html_place::replace_content));
    EXPECT_EQ(html_of(list), "<li>only</li>");
    handle detached = nth_child(list, 0);
    use(detached);
    detach_element(detached);
    EXPECT_FALSE(set_html(detached, "<li>x</li>", html_place::insert_before));  // no parent
    EXPECT_TRUE(set_html(detached, "<b>x</b>", html_place::append));
    EXPECT_EQ(*get_html(detached, true), "<li>only<b>x</b></li>");
    unuse(detached);
    set_html(list, "<li>only</li>", html_place::replace_content);

    // Markup set as text stays text; an empty text leaves no content.
    handle li = nth_child(list, 0);
    ASSERT_TRUE(set_inner_text(li, u"<b>bold</b> & more"));
    EXPECT_EQ(html_of(list), "<li>&lt;b&gt;bold&lt;/b&gt; &amp; more</li>");
    ASSERT_TRUE(set_inner_text(li, u""));
    EXPECT_EQ(child_count(li), 0u);
    EXPECT_EQ(html_of(li), "");

    doc.load_html("<p>x<br>y</p>");
    EXPECT_FALSE(set_html(nth_child(doc.root(), 0), "<b>", html_place::append));  // br is void
}

TEST(layout_tree, referenced_elements_outlive_their_removal) {
    document doc;
    doc.load_html("<table id=t><tr id=r1><td>one</td></tr><tr id=r2><td>two</td></tr></table>");
    handle table = doc.root();
    element row = find_first(table, "#r1");
    element cell = row.child(0);
    ASSERT_TRUE(row.is_valid());

    row.detach();
    EXPECT_EQ(child_count(table), 1u);
    EXPECT_EQ(row.parent(), element());
    EXPECT_EQ(row.text(), u"one");
    EXPECT_FALSE(find_first(table, "#r1"));  // gone from the id index too
    row.set_attribute("class", u"gone");
    EXPECT_EQ(row.get_html(), "<tr id=\"r1\" class=\"gone\"><td>one</td></tr>");
    EXPECT_FALSE(row.send_event(1));  // no document: no events

    // Letting the row go frees it; the referenced cell lives on as a root of its own.
    row = element();
    EXPECT_EQ(cell.text(), u"one");
    EXPECT_FALSE(cell.parent().is_valid());

    // A handle taken before deleting keeps the element valid after it.
    element second = find_first(table, "#r2");
    second.child(0).destroy();
    EXPECT_EQ(second.children_count(), 0u);
    EXPECT_TRUE(delete_element(second));
    EXPECT_EQ(child_count(table), 0u);
    EXPECT_EQ(second.get_attribute("id"), u"r2");

    // Elements outlive their document while referenced.
    element survivor;
    {
        document other;
        other.load_html("<div><span id=s>kept</span></div>");
        survivor = find_first(other.root(), "#s");
    }
    EXPECT_EQ(survivor.text(), u"kept");
    EXPECT_FALSE(survivor.parent().is_valid());
    EXPECT_FALSE(survivor.send_event(1));
}

TEST(layout_tree, id_index_follows_changes_and_duplicates) {
    document doc;
    doc.load_html("<div><p id=a>1</p><p id=b>2</p><p id=a>3</p></div>");
    handle root = doc.root();
    EXPECT_EQ(get_inner_text(find_first(root, "#a")), u"1");
    EXPECT_EQ(get_inner_text(find_first(root, "[id='b']")), u"2");
    delete_element(find_first(root, "#a"));
    EXPECT_EQ(get_inner_text(find_first(root, "#a")), u"3");
    set_attribute(find_first(root, "#b"), "id", u"c");
    EXPECT_FALSE(find_first(root, "#b"));
    EXPECT_EQ(get_inner_text(find_first(root, "#c")), u"2");
    // The scope is honoured: an id outside it is not found from below.
    EXPECT_FALSE(find_first(find_first(root, "#c"), "#a"));
    EXPECT_FALSE(find_first(find_first(root, "#a"), "#a"));  // the root itself is not below it
    set_html(root, "<p id=a>new</p>", html_place::replace_content);
    EXPECT_EQ(get_inner_text(find_first(root, "#a")), u"new");
    EXPECT_FALSE(find_first(root, "#c"));
}

TEST(layout_tree, sorts_a_child_range) {
    document doc;
    doc.load_html(
        "<table><tr><td>head</td></tr><tr><td>b</td></tr><tr><td>C</td></tr>"
        "<tr><td>a</td></tr><tr><td>b</td></tr></table>");
    handle table = doc.root();
    handle second_b = nth_child(table, 4);
    ASSERT_TRUE(sort_elements(table, 1, 5, [](handle a, handle b) {
        return get_inner_text(a)->compare(*get_inner_text(b));
    }));
    EXPECT_EQ(get_html(table, false),
              "<tr><td>head</td></tr><tr><td>C</td></tr><tr><td>a</td></tr><tr><td>b</td></tr>"
              "<tr><td>b</td></tr>");
    EXPECT_EQ(nth_child(table, 4), second_b);  // stable
    EXPECT_EQ(index_of(second_b), 4u);
}

TEST(layout_tree, large_lists_grow_at_both_ends) {
    document doc;
    doc.load_html("<table id=t></table>");
    handle table = doc.root();
    for (int i = 0; i < 1000; ++i) {
        set_html(table, "<tr id=f" + std::to_string(i) + "></tr>", html_place::insert_at_start);
        set_html(table, "<tr id=b" + std::to_string(i) + "></tr>", html_place::append);
    }
    ASSERT_EQ(child_count(table), 2000u);
    EXPECT_EQ(get_attribute(nth_child(table, 0), "id"), u"f999");
    EXPECT_EQ(get_attribute(nth_child(table, 999), "id"), u"f0");
    EXPECT_EQ(get_attribute(nth_child(table, 1000), "id"), u"b0");
    EXPECT_EQ(get_attribute(nth_child(table, 1999), "id"), u"b999");
    handle middle = find_first(table, "#b500");
    EXPECT_EQ(index_of(middle), 1500u);
    set_html(middle, "<tr id=m></tr>", html_place::insert_before);
    delete_element(find_first(table, "#f0"));
    EXPECT_EQ(index_of(find_first(table, "#m")), 1499u);
    EXPECT_EQ(get_attribute(nth_child(table, 1999), "id"), u"b999");
}
