// The view's events on the real main document: what each does to the markup, ids
// and states, and that nothing a user typed can add markup.

#include "view/view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "fml/text.h"
#include "layout/dom.h"
#include "model/collection_store.h"
#include "support/document_host.h"
#include "support/memory_quotes.h"
#include "view/ids.h"

using namespace hrd;
using layout::handle;

namespace {

class view : public ::testing::Test {
protected:
    std::string html(handle element) { return layout::get_html(element, false).value_or("<none>"); }
    handle by_id(const std::string& id) {
        return layout::find_first(m_doc.doc.root(), "[id='" + id + "']");
    }
    std::u16string text(handle element) {
        return layout::get_inner_text(element).value_or(u"<none>");
    }

    void show_tags(const std::vector<tag>& tags) { m_view.handle(view_events::update_tags{tags}); }
    // Stores the quotes (in table order) and shows them, the newest on top.
    void show_quotes(const std::vector<quote>& quotes) {
        m_store.tags = m_tags;
        std::vector<record_id> ids;
        for (const quote& q : quotes) {
            m_store.quotes[q.m_id] = q;
            ids.insert(ids.begin(), q.m_id);
        }
        m_view.handle(view_events::update_quotes{ids, &m_store});
    }
    // The ids of a list's record elements, top to bottom.
    std::vector<std::string> shown_ids(handle list, const char* selector) {
        std::vector<std::string> out;
        layout::select_elements(list, selector, [&](handle e) {
            out.push_back(layout::get_attribute_utf8(e, "id").value_or(""));
            return false;
        });
        return out;
    }

    test::main_document m_doc;
    hdview m_view{m_doc.doc};
    std::map<record_id, tag> m_tags{{3, tag(3, u"work")},
                                    {7, tag(7, u"<img src=x onerror=alert(1)>")}};
    test::memory_quotes m_store;
};

}  // namespace

TEST_F(view, lists_are_rebuilt_newest_on_top_with_exact_markup) {
    show_tags({m_tags[3], m_tags[7]});
    EXPECT_EQ(shown_ids(m_view.tag_list(), "div.vtag"), (std::vector<std::string>{"vt-7", "vt-3"}));
    EXPECT_EQ(shown_ids(m_view.manage_menu(), "li"),
              (std::vector<std::string>{"mtmcheck-7", "mtmcheck-3"}));
    // The hostile name is text in every place it is shown, never an element.
    EXPECT_EQ(text(by_id("vt-7")), u"<img src=x onerror=alert(1)>");
    EXPECT_EQ(layout::find_first(m_doc.doc.root(), "img"), nullptr);

    quote q1(1, u"first", no_stamp);
    quote q2(2, u"second <script>alert(2)</script>\nline", no_stamp);
    q2.m_tags = {7, 3};
    show_quotes({q1, q2, quote(3, u"third", no_stamp)});
    EXPECT_EQ(shown_ids(m_view.quote_list(), "div.quote"),
              (std::vector<std::string>{"q-3", "q-2", "q-1"}));
    EXPECT_EQ(layout::find_first(m_doc.doc.root(), "script"), nullptr);
    EXPECT_EQ(text(layout::find_first(by_id("q-2"), "td.text")),
              u"second <script>alert(2)</script>\nline");
    EXPECT_EQ(shown_ids(by_id("q-2"), "div.qtag"), (std::vector<std::string>{"qt-2-7", "qt-2-3"}));
    // The block's structure is what the behaviors navigate: quote tag -> cell -> row
    // -> table -> block, and a list row above the block.
    handle qtag = by_id("qt-2-3");
    handle block = layout::parent(layout::parent(layout::parent(layout::parent(qtag))));
    EXPECT_EQ(block, by_id("q-2"));
    EXPECT_EQ(layout::element_type(layout::parent(layout::parent(block))), "tr");

    // Rebuilding replaces: nothing of the old list stays.
    show_quotes({quote(9, u"only", no_stamp)});
    EXPECT_EQ(shown_ids(m_view.quote_list(), "div.quote"), (std::vector<std::string>{"q-9"}));
}

TEST_F(view, single_quote_and_mark_changes_patch_one_block) {
    show_quotes({quote(1, u"one", no_stamp)});
    const quote added(2, u"two", no_stamp);
    m_store.quotes[2] = added;
    m_view.handle(view_events::add_quote{added});
    EXPECT_EQ(shown_ids(m_view.quote_list(), "div.quote"),
              (std::vector<std::string>{"q-2", "q-1"}));

    view_events::add_quote_tag mark{2, &m_tags[3]};
    m_view.handle(mark);
    mark.added = &m_tags[7];
    m_view.handle(mark);
    EXPECT_EQ(shown_ids(by_id("q-2"), "div.qtag"), (std::vector<std::string>{"qt-2-3", "qt-2-7"}));
    m_view.handle(view_events::delete_quote_tag{{2, 3}});
    EXPECT_EQ(shown_ids(by_id("q-2"), "div.qtag"), (std::vector<std::string>{"qt-2-7"}));

    // Deleting takes the whole row; a quote that is not shown changes nothing.
    m_view.handle(view_events::delete_quotes{{2, 42}});
    EXPECT_EQ(layout::child_count(m_view.quote_list()), 1u);
    EXPECT_EQ(shown_ids(m_view.quote_list(), "div.quote"), (std::vector<std::string>{"q-1"}));
}

// A long list holds rows only for its window: it is built from the store as it
// moves, so rows out of view always come with what the store says now, and
// changes far from the view cost nothing but the list of ids.
TEST_F(view, a_long_list_builds_only_the_rows_in_its_window) {
    std::vector<quote> many;
    for (record_id id = 1; id <= 3600; ++id) {
        many.emplace_back(id, u"quote " + fml::utf82wchar(std::to_string(id)), id / 10);
        if (id % 100 == 0) {
            many.back().m_tags = {3};
        }
    }
    const auto ids_from = [](record_id top, record_id bottom) {
        std::vector<std::string> out;
        for (record_id id = top; id >= bottom; --id) {
            out.push_back(ids::quote(id));
        }
        return out;
    };
    handle list = m_view.quote_list();
    show_quotes(many);
    const std::size_t window = layout::default_held_rows;
    EXPECT_EQ(layout::row_count(list), many.size());
    EXPECT_EQ(shown_ids(list, "div.quote"), ids_from(3600, record_id(3600 - window + 1)));
    EXPECT_EQ(m_store.quotes_read, window) << "only the first screen is read";

    // The model's names change under the view: rows built later show the new one.
    m_store.tags[3].m_utfname = "changed meanwhile";
    layout::hold_rows(list, 3000, 20);  // rows of ids 600 down to 581
    EXPECT_EQ(shown_ids(list, "div.quote"), ids_from(600, 581));
    EXPECT_EQ(text(by_id("qt-600-3")), u"changed meanwhile");

    // A quote deleted or added far from the window moves the window's rows in the
    // list, not out of it.
    m_view.handle(view_events::delete_quotes{{3500, 5}});
    EXPECT_EQ(layout::held_rows(list), (layout::row_range{2999, 3019}));
    EXPECT_EQ(shown_ids(list, "div.quote"), ids_from(600, 581));
    const quote added(3601, u"new", no_stamp);
    m_store.quotes[3601] = added;
    m_view.handle(view_events::add_quote{added});
    EXPECT_EQ(layout::held_rows(list), (layout::row_range{3000, 3020}));
    EXPECT_EQ(shown_ids(list, "div.quote"), ids_from(600, 581));
    EXPECT_EQ(layout::row_count(list), 3599u);
    // Deleting rows in the window fills it up from below.
    m_view.handle(view_events::delete_quotes{{590, 591}});
    EXPECT_EQ(shown_ids(list, "div.quote").back(), "q-579");
    EXPECT_EQ(layout::child_count(list), 20u);

    // Sorting orders the ids: the window keeps its place with the rows now there.
    m_view.handle(view_events::sort_quotes{true});
    EXPECT_EQ(layout::row_key(list, 0), 3601) << "the undated quote first";
    EXPECT_EQ(layout::row_key(list, 1), 1) << "then by time, and by id within a second";
    EXPECT_EQ(layout::row_key(list, 3596), 3600);
    EXPECT_EQ(layout::held_rows(list), (layout::row_range{3000, 3020}));
    EXPECT_EQ(shown_ids(list, "div.quote").front(), "q-3003");  // 5, 590 and 591 are gone

    // A rebuild replaces the list whole, back at its top.
    show_quotes({quote(9, u"only", no_stamp)});
    EXPECT_EQ(shown_ids(list, "div.quote"), (std::vector<std::string>{"q-9"}));
    EXPECT_EQ(layout::held_rows(list), (layout::row_range{0, 1}));
}

TEST_F(view, search_bar_switches_between_caption_and_tags) {
    handle bar = m_view.search_bar();
    ASSERT_TRUE(layout::get_attribute(bar, "is_empty").has_value());
    m_view.handle(view_events::add_search_tag{m_tags[3]});
    m_view.handle(view_events::add_search_tag{m_tags[7]});
    EXPECT_FALSE(layout::get_attribute(bar, "is_empty").has_value());
    EXPECT_EQ(shown_ids(bar, "div"), (std::vector<std::string>{"st-3", "st-7"}));

    m_view.handle(view_events::rename_search_tag{{3, u"home & <b>garden</b>"}});
    EXPECT_EQ(text(by_id("st-3")), u"home & <b>garden</b>");
    EXPECT_EQ(layout::find_first(bar, "b"), nullptr);

    const record_id first = 3;
    m_view.handle(view_events::delete_search_tag{first});
    EXPECT_EQ(shown_ids(bar, "div"), (std::vector<std::string>{"st-7"}));
    const record_id last = 7;
    m_view.handle(view_events::delete_search_tag{last});
    EXPECT_TRUE(layout::get_attribute(bar, "is_empty").has_value());
    EXPECT_EQ(html(bar), "<div class=\"caption\">Drop tags here to search</div>");
    m_view.handle(view_events::delete_search_tag{last});  // not there: nothing happens, no error

    m_view.handle(view_events::add_search_tag{m_tags[3]});
    m_view.handle(view_events::clear_search_tags{});
    EXPECT_TRUE(layout::get_attribute(bar, "is_empty").has_value());
    EXPECT_EQ(html(bar), "<div class=\"caption\">Drop tags here to search</div>");

    // The mode buttons show the mode in force, one at a time.
    const auto pressed = [this](const char* id) {
        const bool checked = (layout::get_state(by_id(id)) & layout::state::checked) != 0;
        EXPECT_EQ(layout::get_attribute_utf8(by_id(id), "aria-pressed"), checked ? "true" : "false");
        return checked;
    };
    for (const int mode : {search_mode_or, search_mode_and, search_mode_or}) {
        m_view.handle(view_events::search_mode{mode});
        EXPECT_EQ(pressed("mode-and"), mode == search_mode_and);
        EXPECT_EQ(pressed("mode-or"), mode == search_mode_or);
    }
}

TEST_F(view, tag_rows_added_renamed_edited_and_deleted) {
    show_tags({m_tags[3]});
    const record_id new_id = 8;
    try {
        m_view.handle(view_events::add_tag_id{new_id});
        FAIL() << "no fresh row, yet accepted";
    } catch (const cannot_find_fresh_tr& e) {
        EXPECT_STREQ(e.what(), "vadd_tag_id");
    }
    EXPECT_THROW(m_view.handle(view_events::delete_wrong_tag{}), cannot_find_fresh_tr);

    // The row the user typed a name into gets its id and a menu item.
    layout::set_html(m_view.tag_list(), "<tr new_tr><td><div class=\"vtag\">fresh</div></td></tr>",
                     layout::html_place::insert_at_start);
    m_view.handle(view_events::add_tag_id{new_id});
    EXPECT_EQ(text(by_id("vt-8")), u"fresh");
    EXPECT_EQ(text(by_id("mtmcheck-8")), u"fresh");

    m_view.handle(view_events::rename_tag{{3, u"renamed"}});
    EXPECT_EQ(text(by_id("vt-3")), u"renamed");
    EXPECT_EQ(text(by_id("mtmcheck-3")), u"renamed");

    // Editing starts on the entry asked for, which becomes the current row.
    handle other_row = layout::parent(layout::parent(by_id("vt-8")));
    layout::set_state(other_row, layout::state::current, 0, false);
    handle entry = by_id("vt-3");
    m_view.handle(view_events::start_tag_edit{entry});
    EXPECT_TRUE(layout::get_state(layout::parent(layout::parent(entry))) & layout::state::current);
    EXPECT_FALSE(layout::get_state(other_row) & layout::state::current);
    EXPECT_EQ(layout::get_attribute(entry, "old_value"), std::optional<std::u16string>(u"renamed"));
    EXPECT_TRUE(layout::get_attribute(entry, "all-selected")) << "typing replaces the old name";
    EXPECT_TRUE(layout::get_attribute(entry, "editing"));
    EXPECT_TRUE(layout::get_attribute(m_view.tag_list(), "editable").has_value());
    EXPECT_EQ(layout::get_attribute(m_view.tag_list(), "action"),
              std::optional<std::u16string>(u"edit"));
    // Handing the typed name on takes the entry's own editing mark away.
    layout::set_attribute_utf8(entry, "editable", "");
    m_view.handle(view_events::end_tag_edit{entry});
    EXPECT_FALSE(layout::get_attribute(entry, "editable"));

    const record_id gone = 3;
    m_view.handle(view_events::delete_tag{gone});
    EXPECT_EQ(by_id("vt-3"), nullptr);
    EXPECT_EQ(by_id("mtmcheck-3"), nullptr);
    EXPECT_EQ(layout::child_count(m_view.tag_list()), 1u);
}

TEST(view_init, a_document_without_its_lists_is_refused) {
    test::res_host host;
    layout::document doc;
    doc.set_host(&host);
    doc.load_html("<html><body><table id=\"taglist\"></table></body></html>");
    try {
        hdview refused(doc);
        FAIL() << "a document without a quote list was accepted";
    } catch (const view_init_error& e) {
        EXPECT_NE(std::string(e.what()).find("thequotelist"), std::string::npos) << e.what();
    }
}
