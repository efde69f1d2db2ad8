// The page mirrors the document from the records of page_mirror_encoder. These
// tests play the page's part with a small mirror of their own: after any sequence
// of changes the mirror must hold the document's tree, and nothing that could run
// script may ever reach it.

#include "layout/page_mirror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <map>
#include <random>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/patch.h"
#include "support/json_reader.h"

namespace {

using layout::page_mirror_encoder;

// What the page keeps: nodes by serial, as renderer.js does.
struct mirror {
    struct node {
        bool text = false;
        std::string tag;  // or the text
        std::map<std::string, std::string> attributes;
        std::vector<int> children;
        int parent = 0;
    };
    std::map<int, node> nodes;
    std::vector<int> top;
    std::map<int, std::pair<int, int>> spans;  // windowed list -> rows before, rows after

    void add(const test::json& description, int parent, std::vector<int>& siblings,
             std::vector<int>::iterator where) {
        const int serial = description["s"].to_int();
        node& n = nodes[serial];
        n.parent = parent;
        if (description.contains("x")) {
            n.text = true;
            n.tag = description["x"].to_string();
        } else {
            n.tag = description["t"].to_string();
            for (const auto& a : description["a"].items()) {
                n.attributes[a.items()[0].to_string()] =
                    a.items()[1].to_string();
            }
        }
        where = siblings.insert(where, serial) + 1;
        std::vector<int> children;
        for (const auto& child : description["c"].items()) {
            add(child, serial, children, children.end());
        }
        nodes[serial].children = children;
    }
    std::vector<int>& children_of(int serial) {
        return serial == layout::document_serial ? top : nodes[serial].children;
    }
    void forget(int serial) {
        for (int child : nodes[serial].children) {
            forget(child);
        }
        nodes.erase(serial);
    }
    void clear(int serial) {
        for (int child : children_of(serial)) {
            forget(child);
        }
        children_of(serial).clear();
    }

    void apply(const std::string& batch) {
        if (batch.empty()) {
            return;
        }
        test::json parsed;
        try {
            parsed = test::json::parse(batch);
        } catch (const std::exception& error) {
            FAIL() << error.what() << " in " << batch.substr(0, 2000);
        }
        for (const auto& r : parsed.items()) {
            const std::string op = r["op"].to_string();
            const int serial = r["node"].to_int();
            if (op == "reset") {
                nodes.clear();
                top.clear();
                spans.clear();
            } else if (op == "span") {
                spans[serial] = {r["above"].to_int(), r["below"].to_int()};
            } else if (op == "insert") {
                const int parent = r["parent"].to_int();
                auto& siblings = children_of(parent);
                auto where = std::find(siblings.begin(), siblings.end(), r["before"].to_int());
                for (const auto& d : r["nodes"].items()) {
                    const auto offset = where - siblings.begin();
                    add(d, parent, siblings, where);
                    where = siblings.begin() + offset + 1;
                }
            } else if (op == "remove") {
                EXPECT_TRUE(nodes.count(serial)) << "removes a node it never sent: " << serial << " in " << batch.substr(0, 1500);
                auto& siblings = children_of(nodes[serial].parent);
                siblings.erase(std::find(siblings.begin(), siblings.end(), serial));
                forget(serial);
            } else if (op == "clear") {
                clear(serial);
            } else if (op == "attr") {
                if (r["value"].is_null()) {
                    nodes[serial].attributes.erase(r["name"].to_string());
                } else {
                    nodes[serial].attributes[r["name"].to_string()] =
                        r["value"].to_string();
                }
            } else if (op == "text") {
                clear(serial);
                const std::string text = r["value"].to_string();
                if (!text.empty()) {
                    const int child = r["serial"].to_int();
                    nodes[child] = node{.text = true,
                                        .tag = text,
                                        .attributes = {},
                                        .children = {},
                                        .parent = serial};
                    nodes[serial].children.push_back(child);
                }
            } else if (op == "reorder") {
                auto& siblings = children_of(serial);
                std::vector<std::size_t> places;
                for (const auto& s : r["order"].items()) {
                    places.push_back(std::size_t(
                        std::find(siblings.begin(), siblings.end(), s.to_int()) - siblings.begin()));
                }
                std::sort(places.begin(), places.end());
                for (std::size_t i = 0; i < places.size(); ++i) {
                    siblings[places[i]] = r["order"].items()[i].to_int();
                }
            }
        }
    }

    // Elements with their attributes, and the text of elements without element
    // children: what the public element operations can tell of the document too.
    std::string describe(const std::vector<int>& list) {
        std::string out;
        for (int serial : list) {
            const node& n = nodes[serial];
            if (n.text) {
                continue;
            }
            out += "<" + n.tag;
            for (const auto& [name, value] : n.attributes) {
                out += " " + name + "=" + value;
            }
            out += ">";
            const bool has_elements = std::any_of(n.children.begin(), n.children.end(),
                                                  [&](int c) { return !nodes[c].text; });
            if (has_elements) {
                out += describe(n.children);
            } else {
                for (int c : n.children) {
                    out += nodes[c].tag;
                }
            }
            out += "</>";
        }
        return out;
    }
};

std::string describe(layout::handle e) {
    std::string out = "<" + layout::element_type(e);
    std::map<std::string, std::string> attributes;
    for (std::size_t i = 0; i < layout::attribute_count(e); ++i) {
        auto [name, value] = *layout::nth_attribute(e, i);
        std::string narrow;
        for (char16_t c : value) {
            narrow += char(c);  // the tests use ASCII attribute values
        }
        attributes[name] = narrow;
    }
    for (const auto& [name, value] : attributes) {
        out += " " + name + "=" + value;
    }
    out += ">";
    if (layout::child_count(e) > 0) {
        for (std::size_t i = 0; i < layout::child_count(e); ++i) {
            out += describe(layout::nth_child(e, i));
        }
    } else {
        out += layout::get_inner_text_utf8(e).value_or("");
    }
    return out + "</>";
}

// A long list's rows as a test keeps them: one label per row.
struct labelled_rows final : layout::row_source {
    std::vector<std::string> labels;
    std::size_t row_count() const override { return labels.size(); }
    void append_rows(std::size_t first, std::size_t last, std::string& markup) override {
        for (std::size_t i = first; i < last; ++i) {
            markup += "<tr><td>" + labels[i] + "</td></tr>";
        }
    }
    std::int64_t row_key(std::size_t index) const override { return std::int64_t(index); }
};

// The page's end of the stream: records are encoded as the changes happen.
struct page : layout::patch_observer {
    explicit page(layout::document& d) : doc(d), encoder(d) { doc.set_observer(this); }
    ~page() override { doc.set_observer(nullptr); }
    void on_patch(const layout::patch& change) override { encoder.encode(change, batch); }
    bool wants_markup() const override { return false; }
    void connect() {
        batch.clear();
        encoder.encode_snapshot(batch);
        flush();
    }
    void flush() {
        const std::string records = encoder.finish(std::exchange(batch, {}));
        all += records;
        shown.apply(records);
    }

    layout::document& doc;
    page_mirror_encoder encoder;
    std::string batch;
    std::string all;  // every record sent, to look for what must never be sent
    mirror shown;
};

TEST(page_mirror, follows_every_kind_of_change_from_a_snapshot_or_a_live_stream) {
    layout::document doc;
    page view(doc);
    doc.load_html(
        "<html><head><style>p{}</style></head><body><ul id=list><li>one</li><li>two</li></ul>"
        "<p class=x>text <b>bold</b> tail</p></body></html>");
    view.batch.clear();  // the page connects late: the snapshot covers the load
    view.connect();
    layout::handle root = doc.root();
    EXPECT_EQ(view.shown.describe(view.shown.top), describe(root));

    // A fixed-seed walk through the operations the view uses, checked after each.
    std::mt19937 random(7);
    layout::handle list = layout::find_first(root, "#list");
    for (int step = 0; step < 300; ++step) {
        const std::size_t count = layout::child_count(list);
        layout::handle some = count ? layout::nth_child(list, random() % count) : nullptr;
        const std::string n = std::to_string(step);
        switch (random() % 8) {
            case 0:
                layout::set_html(list, "<li id=i" + n + ">new " + n + "<i>x</i></li>",
                                 layout::html_place::insert_at_start);
                break;
            case 1:
                layout::set_html(list, "<li>end " + n + "</li>text<li>and</li>",
                                 layout::html_place::append);
                break;
            case 2:
                layout::delete_element(some);
                break;
            case 3:
                layout::set_attribute_utf8(some, "title", "t" + n);
                layout::set_attribute_utf8(some, "class", std::nullopt);
                break;
            case 4:
                layout::set_inner_text_utf8(some, "text " + n + " <not markup>");
                break;
            case 5:
                layout::sort_elements(list, 0, count, [](layout::handle a, layout::handle b) {
                    return int(layout::get_inner_text(b)->size()) -
                           int(layout::get_inner_text(a)->size());
                });
                break;
            case 6:
                layout::set_html(some, "<li>before</li>", layout::html_place::insert_before);
                layout::set_html(some, "<span>inside</span>", layout::html_place::replace_content);
                break;
            case 7:
                if (count > 20) {
                    layout::set_html(list, "", layout::html_place::replace_content);
                }
                break;
        }
        if (step % 3 == 0) {
            view.flush();  // the page gets batches of several changes, or of one
            ASSERT_EQ(view.shown.describe(view.shown.top), describe(root)) << "step " << step;
        }
    }
    view.flush();
    EXPECT_EQ(view.shown.describe(view.shown.top), describe(root));

    // A page that reloads starts over from the tree as it is.
    view.shown = mirror();
    view.connect();
    EXPECT_EQ(view.shown.describe(view.shown.top), describe(root));
}

TEST(page_mirror, never_sends_what_could_run_script) {
    layout::document doc;
    page view(doc);
    view.connect();
    doc.load_html(
        "<div id=box onclick='steal()' ONMOUSEOVER=x data-state=current>"
        "<script>steal()</script><iframe srcdoc='<script>x</script>'></iframe>"
        "<object data=x.swf></object><embed src=x><meta http-equiv=refresh content='0;url=x'>"
        "<base href='http://evil/'>"
        "<a href='javascript:steal()'>1</a><a href=' JaVa\tScRiPt:steal()'>2</a>"
        "<a href='vbscript:x'>3</a><img src='data:text/html,<script>x</script>'>"
        "<a href='https://example.com/a:b'>ok</a><a href='quotes.html#a:b'>rel</a>"
        "<a href='mailto:me@example.com'>mail</a><svg onload=steal()><g/></svg>"
        "<img src='https://evil.example/beacon.png'><img src='hoardly.svg'>"
        "&lt;script&gt;shown as text&lt;/script&gt;</div>");
    layout::handle box = doc.root();
    // Later changes pass the same rules, and an unsafe value removes a safe one.
    layout::handle link = layout::find_first(box, "a");
    layout::set_attribute_utf8(link, "href", "https://example.com/");
    layout::set_attribute_utf8(link, "href", "javascript:steal()");
    layout::set_attribute_utf8(box, "onfocus", "steal()");
    layout::set_attribute_utf8(box, "data-state", "focus");
    layout::set_html(box, "<script>late()</script><p onclick=late()>late</p>",
                     layout::html_place::append);
    view.flush();

    const std::string& sent = view.all;
    for (const char* never : {"steal", "<script>x", "late()", "srcdoc", "swf", "refresh", "evil",
                              "vbscript", "data:text", "\"iframe\"", "\"script\"", "\"object\"",
                              "\"embed\"", "\"meta\"", "\"base\""}) {
        EXPECT_EQ(sent.find(never), std::string::npos) << never << " in " << sent;
    }
    // The text that looks like markup is sent as text, and the harmless rest arrives.
    EXPECT_NE(sent.find("<script>shown as text</script>"), std::string::npos);
    for (const char* kept : {"https://example.com/a:b", "quotes.html#a:b", "mailto:me@example.com",
                             "\"svg\"", "\"late\"", "hoardly.svg"}) {
        EXPECT_NE(sent.find(kept), std::string::npos) << kept << " not in " << sent;
    }
    const auto& shown_link = view.shown.nodes[int(layout::serial_of(link))];
    EXPECT_EQ(shown_link.attributes.count("href"), 0u);  // the safe value did not linger
    EXPECT_EQ(view.shown.nodes[int(layout::serial_of(box))].attributes.count("data-state"), 0u);
}

// A huge clip in a list row shows its start, cut between characters, and how
// many characters follow; the same text elsewhere goes whole.
TEST(page_mirror, a_huge_text_in_a_list_row_is_shortened_for_the_page_only) {
    layout::document doc;
    page view(doc);
    doc.load_html("<html><body><table id=list></table><p id=outside></p></body></html>");
    layout::handle list = layout::find_first(doc.root(), "#list");
    labelled_rows rows;
    rows.labels = {"short"};
    layout::set_row_source(list, &rows);
    view.connect();
    // Two-byte characters after one odd byte: the cut falls inside a character.
    const std::string huge = "x" + [] {
        std::string text;
        for (int i = 0; i < 100'000; ++i) {
            text += "\xC3\xA9";
        }
        return text;
    }();
    const auto shown = [&](layout::handle e) {
        const auto& node = view.shown.nodes[int(layout::serial_of(e))];
        return node.children.empty() ? std::string() : view.shown.nodes[node.children[0]].tag;
    };
    const auto check = [&](const std::string& text) {
        ASSERT_GT(text.size(), layout::max_row_text_bytes - 2);
        ASSERT_LT(text.size(), layout::max_row_text_bytes + 100);
        EXPECT_EQ(text.compare(0, layout::max_row_text_bytes - 1,
                               huge.substr(0, layout::max_row_text_bytes - 1)),
                  0);
        const std::size_t kept_characters = 1 + (layout::max_row_text_bytes - 1) / 2;
        EXPECT_NE(text.find("\n\u2026 and " + std::to_string(100'001 - kept_characters) +
                            " more characters"),
                  std::string::npos)
            << text.substr(text.size() - 80);
    };
    const auto cell = [&] { return layout::find_first(list, "td"); };
    layout::set_inner_text_utf8(cell(), huge);
    layout::set_inner_text_utf8(layout::find_first(doc.root(), "#outside"), huge);
    view.flush();
    check(shown(cell()));
    EXPECT_TRUE(shown(layout::find_first(doc.root(), "#outside")) == huge);
    EXPECT_TRUE(layout::get_inner_text_utf8(cell()) == huge);

    // A page that connects later, and a row built for the page, get the same.
    view.shown = mirror();
    view.connect();
    check(shown(cell()));
    rows.labels[0] = huge;
    layout::rows_reset(list);
    view.flush();
    check(shown(cell()));
}

TEST(page_mirror, state_bits_become_names_the_style_sheets_match) {
    using namespace layout::state;
    EXPECT_EQ(layout::state_names(0), "");
    EXPECT_EQ(layout::state_names(focus | current | checked), "focus current checked");
    EXPECT_EQ(layout::state_names(popup | owns_popup), "owns-popup popup");

    layout::document doc;
    page view(doc);
    doc.load_html("<table><tr id=row><td>x</td></tr></table>");
    view.connect();
    layout::set_state(layout::find_first(doc.root(), "#row"), current | checked, 0, false);
    view.flush();
    EXPECT_NE(view.all.find("{\"op\":\"state\",\"node\":"), std::string::npos);
    EXPECT_NE(view.all.find("\"state\":\"current checked\""), std::string::npos) << view.all;
}

// A long list: whatever happens to it, the page holds exactly the rows the
// document holds, in order and up to date, and knows how many rows stand around
// them. The document holds only the window the page asked for, with every row's
// marks, and each row shows what the source says of it.
TEST(page_mirror, a_long_list_sends_the_rows_of_its_window_only) {
    layout::document doc;
    page view(doc);
    doc.load_html("<html><body><table id=list></table></body></html>");
    layout::handle list = layout::find_first(doc.root(), "#list");
    labelled_rows rows;
    for (int i = 0; i < 1000; ++i) {
        rows.labels.push_back("row " + std::to_string(i));
    }
    layout::set_row_source(list, &rows);
    view.connect();
    const int list_serial = int(layout::serial_of(list));
    // The marks as the rows should carry them, moved by hand with the rows.
    std::vector<bool> checked(rows.labels.size());
    std::optional<std::size_t> current;
    const auto marks_moved = [&](const std::vector<std::size_t>& old_index) {
        std::vector<bool> moved(old_index.size());
        std::optional<std::size_t> now;
        for (std::size_t i = 0; i < old_index.size(); ++i) {
            if (old_index[i] != SIZE_MAX) {
                moved[i] = checked[old_index[i]];
                if (current == old_index[i]) {
                    now = i;
                }
            }
        }
        checked = std::move(moved);
        current = now;
    };

    const auto expect_window = [&](const std::string& when) {
        std::vector<bool> listed(rows.labels.size());
        for (const layout::row_range& r : layout::checked_row_ranges(list)) {
            ASSERT_LT(r.first, r.last) << when;
            ASSERT_LE(r.last, listed.size()) << when;
            std::fill(listed.begin() + std::ptrdiff_t(r.first), listed.begin() + std::ptrdiff_t(r.last), true);
        }
        ASSERT_EQ(listed, checked) << when;
        ASSERT_EQ(layout::current_row(list), current) << when;
        const auto [above, below] = view.shown.spans.at(list_serial);
        const auto& shown = view.shown.nodes[list_serial].children;
        const layout::row_range held = layout::held_rows(list);
        ASSERT_EQ(std::size_t(above), held.first) << when;
        ASSERT_EQ(above + int(shown.size()) + below, int(rows.labels.size())) << when;
        ASSERT_EQ(shown.size(), layout::child_count(list)) << when;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            layout::handle row = layout::nth_child(list, i);
            ASSERT_EQ(shown[i], int(layout::serial_of(row))) << when << ", row " << i;
            ASSERT_EQ(view.shown.describe({shown[i]}), describe(row)) << when;
            ASSERT_EQ(layout::get_inner_text_utf8(row), rows.labels[held.first + i]) << when;
            const bool checked = layout::get_state(row) & layout::state::checked;
            ASSERT_EQ(checked, layout::is_row_checked(list, held.first + i)) << when;
            const bool current = layout::get_state(row) & layout::state::current;
            ASSERT_EQ(current, layout::current_row(list) == held.first + i) << when;
        }
    };
    EXPECT_EQ(layout::child_count(list), layout::default_held_rows);
    EXPECT_LT(view.all.size(), 10'000u) << "the whole list went to the page";
    expect_window("start");

    // The page scrolls: it asks for rows further down and gets them, with the room.
    view.encoder.request_window(std::uint32_t(list_serial), 600, 30);
    view.flush();
    expect_window("scrolled");
    EXPECT_EQ(view.shown.spans.at(list_serial).first, 600);

    std::mt19937 random(11);
    for (int step = 0; step < 300; ++step) {
        const std::size_t count = rows.labels.size();
        const std::string n = std::to_string(step);
        switch (random() % 8) {
            case 0: {  // a capture on top: the view stays on the rows it shows
                rows.labels.insert(rows.labels.begin(), "new " + n);
                layout::rows_inserted(list, 0, 1);
                std::vector<std::size_t> old_index{SIZE_MAX};
                for (std::size_t i = 0; i < count; ++i) {
                    old_index.push_back(i);
                }
                marks_moved(old_index);
                break;
            }
            case 1: {  // a few rows deleted, in view or not
                std::vector<std::size_t> gone;
                for (int k = 0; k < 3 && count > gone.size() + 1; ++k) {
                    gone.push_back(random() % count);
                }
                if (current && random() % 2) {
                    gone.push_back(*current);  // the current row among them
                }
                std::sort(gone.begin(), gone.end());
                gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
                for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
                    rows.labels.erase(rows.labels.begin() + std::ptrdiff_t(*it));
                }
                layout::rows_removed(list, gone);
                std::vector<std::size_t> old_index;
                for (std::size_t i = 0; i < count; ++i) {
                    if (!std::binary_search(gone.begin(), gone.end(), i)) {
                        old_index.push_back(i);
                    }
                }
                marks_moved(old_index);
                break;
            }
            case 2:
                view.encoder.request_window(std::uint32_t(list_serial),
                                            std::uint32_t(random() % (count + 50)),
                                            std::uint32_t(1 + random() % 80));
                break;
            case 3: {  // the keyboard moves to a row far away
                const std::size_t index = random() % count;
                layout::handle row = layout::reveal_row(list, index);
                ASSERT_NE(row, nullptr);
                EXPECT_EQ(layout::get_inner_text_utf8(row), rows.labels[index]);
                break;
            }
            case 4: {  // sorted the other way round
                std::vector<std::size_t> old_index(count);
                for (std::size_t i = 0; i < count; ++i) {
                    old_index[i] = count - 1 - i;
                }
                std::reverse(rows.labels.begin(), rows.labels.end());
                layout::rows_reordered(list, old_index);
                marks_moved(old_index);
                break;
            }
            case 5: {
                current = random() % count;
                layout::set_current_row(list, current);
                const std::size_t first = random() % count;
                const std::size_t last = first + random() % 200;
                const bool on = random() % 3 != 0;
                layout::set_rows_checked(list, {first, last}, on);
                for (std::size_t i = first; i < std::min(last, count); ++i) {
                    checked[i] = on;
                }
                if (random() % 10 == 0) {
                    layout::uncheck_all_rows(list);
                    checked.assign(count, false);
                }
                break;
            }
            case 6: {  // rows put in among the others
                const std::size_t at = random() % (count + 1);
                rows.labels.insert(rows.labels.begin() + std::ptrdiff_t(at),
                                   {"among " + n, "among too " + n});
                layout::rows_inserted(list, at, 2);
                std::vector<std::size_t> old_index;
                for (std::size_t i = 0; i < count; ++i) {
                    if (i == at) {
                        old_index.insert(old_index.end(), {SIZE_MAX, SIZE_MAX});
                    }
                    old_index.push_back(i);
                }
                if (at == count) {
                    old_index.insert(old_index.end(), {SIZE_MAX, SIZE_MAX});
                }
                marks_moved(old_index);
                break;
            }
            case 7:
                if (step % 5 == 0) {  // a rebuild: the page goes back to the top
                    for (std::size_t i = 0; i < count; ++i) {
                        rows.labels[i] = "again " + std::to_string(i);
                    }
                    layout::rows_reset(list);
                    checked.assign(count, false);
                    current.reset();
                }
                break;
        }
        if (step % 2 == 0) {
            view.flush();
            expect_window("step " + n);
        }
    }
    view.flush();
    expect_window("end");

    // A revealed row is in the page by the time the page is told to reveal it.
    layout::hold_rows(list, 0, 40);
    view.flush();
    layout::handle far = layout::reveal_row(list, rows.labels.size() - 5);
    view.all.clear();
    view.flush();
    const auto reveal = view.all.find("\"op\":\"reveal\"");
    ASSERT_NE(reveal, std::string::npos);
    EXPECT_LT(view.all.find("\"s\":" + std::to_string(layout::serial_of(far))), reveal);
    expect_window("revealed");
}

}  // namespace
