#include <gtest/gtest.h>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/patch.h"

using namespace layout;

namespace {

// Applies every patch to a mirror as it comes, as a renderer would.
class mirror_observer : public patch_observer {
public:
    void on_patch(const patch& change) override {
        ++count;
        kinds.push_back(change.kind);
        if (!apply_patch(mirror, change)) {
            ++failures;
        }
    }
    document mirror;
    int count = 0;
    int failures = 0;
    std::vector<patch_kind> kinds;
};

// Compares the two trees node by node: markup, serials, states, styles.
void expect_same_tree(document& source, document& mirror) {
    ASSERT_EQ(get_html(source.root(), true), get_html(mirror.root(), true));
    select_elements(source.root(), "*", [&](handle e) {
        handle copy = mirror.element_by_serial(serial_of(e));
        EXPECT_TRUE(copy) << element_type(e);
        if (copy) {
            EXPECT_EQ(get_state(copy), get_state(e)) << *get_html(e, true);
            EXPECT_EQ(get_html(copy, true), get_html(e, true));
            EXPECT_EQ(get_style_attribute(copy, "width"), get_style_attribute(e, "width"));
        }
        return false;
    });
}

}  // namespace

TEST(layout_patch, a_mirror_rebuilt_from_the_stream_alone_matches) {
    mirror_observer observer;
    document doc;
    doc.set_observer(&observer);
    doc.load_html(
        "<html><body><table id=tags></table><table id=quotes><tr><td>old</td></tr></table>"
        "<div id=bar is_empty><div class=caption>Drop tags here</div></div>"
        "<ul id=menu></ul></body></html>");
    handle root = doc.root();
    handle tags = find_first(root, "#tags");
    handle quotes = find_first(root, "#quotes");
    handle bar = find_first(root, "#bar");

    // A list rebuilt at once, then rows added at both ends and in the middle.
    std::string rows;
    for (int i = 0; i < 50; ++i) {
        rows += "<tr><td><div class=\"vtag\" id=\"vt-" + std::to_string(i) + "\">tag " +
                std::to_string(i) + " &amp; &lt;x&gt;</div></td></tr>";
    }
    set_html(tags, rows, html_place::replace_content);
    set_html(tags, "<tr><td><div class=\"vtag\"></div></td></tr>", html_place::insert_at_start);
    set_attribute(nth_child(tags, 0), "new_tr", u"");
    set_html(quotes, "<tr><td>new</td></tr>text<b>bold</b>", html_place::append);
    set_html(find_first(tags, "#vt-10"), "<span>in</span>", html_place::insert_after);
    set_html(find_first(tags, "#vt-11"), "<i>a</i><i>b</i>", html_place::replace_element);
    set_html(find_first(tags, "#vt-12"), "<i>before</i>", html_place::insert_before);

    // Attributes, states, texts and styles.
    set_attribute(bar, "is_empty", std::nullopt);
    set_inner_text(bar, u"");
    set_html(bar, "<div class=stag id=st-3>three</div>", html_place::append);
    set_attribute(tags, "editable", u"");
    set_attribute(find_first(tags, "#vt-5"), "id", u"vt-500");
    set_state(nth_child(tags, 3), state::current | state::checked, 0, true);
    set_state(nth_child(tags, 3), 0, state::checked, false);
    set_state(find_first(tags, "#vt-7"), state::focus, 0, true);
    set_inner_text(find_first(tags, "#vt-7"), u"renamed <7>");
    set_inner_text(find_first(tags, "#vt-8"), u"");
    set_style_attribute(quotes, "width", u"120px");
    set_style_attribute(tags, "width", u"50%");
    set_style_attribute(tags, "width", std::nullopt);

    // Removal, detaching a referenced row, sorting, pop-ups and scrolling.
    delete_element(find_first(tags, "#vt-20"));
    handle kept = nth_child(tags, 30);
    use(kept);
    detach_element(kept);
    set_attribute(kept, "ignored", u"detached changes are not mirrored");
    sort_elements(tags, 1, 40, [](handle a, handle b) {
        return get_inner_text(b)->compare(*get_inner_text(a));
    });
    set_html(find_first(root, "#menu"), "<li type=check id=mtmcheck-1>one</li>",
             html_place::insert_at_start);
    show_popup(find_first(root, "#menu"), bar, 2);
    hide_popup(find_first(root, "#menu"));
    scroll_to_view(nth_child(tags, 2), true, false);
    set_scroll_pos(tags, {0, 40}, true);
    update_element(tags, true);
    // A pop-up whose owner goes with replaced text closes, in the mirror too.
    set_html(bar, "<span id=owner>o</span>", html_place::append);
    show_popup(find_first(root, "#menu"), find_first(root, "#owner"), 2);
    set_inner_text(bar, u"gone");
    EXPECT_FALSE(get_state(find_first(root, "#menu")) & state::popup);

    EXPECT_EQ(observer.failures, 0);
    expect_same_tree(doc, observer.mirror);
    unuse(kept);

    // A whole reload goes through the stream too.
    doc.load_html("<div id=fresh>new document</div>");
    EXPECT_EQ(observer.failures, 0);
    expect_same_tree(doc, observer.mirror);

    // The stream says what it needs to: nothing for detached elements, one
    // clear for a whole list, and the kinds a renderer must draw.
    for (patch_kind kind :
         {patch_kind::insert, patch_kind::remove, patch_kind::clear, patch_kind::set_attribute,
          patch_kind::set_state, patch_kind::set_text, patch_kind::set_style, patch_kind::reorder,
          patch_kind::show_popup, patch_kind::hide_popup, patch_kind::update,
          patch_kind::scroll_to_view, patch_kind::set_scroll_pos}) {
        EXPECT_NE(std::find(observer.kinds.begin(), observer.kinds.end(), kind),
                  observer.kinds.end())
            << int(kind);
    }
}

TEST(layout_patch, inserted_nodes_are_read_from_the_patch_alone) {
    // A renderer that encodes inserts later must see them as they were.
    struct recorder : patch_observer {
        void on_patch(const patch& change) override {
            if (change.kind == patch_kind::insert) {
                inserts.push_back(change);
            }
        }
        std::vector<patch> inserts;
    } observer;
    document doc;
    doc.set_observer(&observer);
    doc.load_html("<table id=list></table>");
    handle list = doc.root();
    set_html(list, "<tr><td class=\"links\">a&amp;b<br></td></tr>", html_place::append);
    set_html(find_first(list, "td"), "<div id=late>later</div>", html_place::append);
    set_attribute(find_first(list, "td"), "class", u"changed");
    ASSERT_EQ(observer.inserts.size(), 3u);

    std::vector<std::string> seen;
    read_inserted_nodes(observer.inserts[1], [&](const inserted_node& n) {
        std::string line = std::to_string(n.serial - observer.inserts[1].first_serial) + "<" +
                           std::to_string(n.parent == serial_of(list)
                                              ? -1
                                              : int(n.parent - observer.inserts[1].first_serial)) +
                           " ";
        line += n.is_text ? "#" + std::string(n.text) : std::string(n.tag);
        for (const auto& [name, value] : n.attributes) {
            line += " " + std::string(name) + "=" + std::string(value);
        }
        seen.push_back(line);
    });
    EXPECT_EQ(seen,
              (std::vector<std::string>{"0<-1 tr", "1<0 td class=links", "2<1 #a&b", "3<1 br"}));
    // The serials are those of the live nodes.
    handle td = find_first(list, "td");
    EXPECT_EQ(serial_of(td), observer.inserts[1].first_serial + 1);
    EXPECT_EQ(serial_of(find_first(list, "br")), observer.inserts[1].first_serial + 3);
}

TEST(layout_patch, rejects_patches_for_unknown_nodes) {
    document mirror;
    EXPECT_FALSE(apply_patch(mirror, make_patch(patch_kind::remove, 12345)));
    patch insert = make_patch(patch_kind::insert, 777);
    insert.value = "<b>x</b>";
    EXPECT_FALSE(apply_patch(mirror, insert));
    insert.node = document_serial;
    insert.first_serial = 100;
    EXPECT_TRUE(apply_patch(mirror, insert));
    EXPECT_EQ(serial_of(mirror.root()), 100u);
    insert.before = 555;
    EXPECT_FALSE(apply_patch(mirror, insert));
}
