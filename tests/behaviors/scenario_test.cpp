// User stories on the real main document and drag table, driven only by mouse
// and key input into the element tree; the store, the document and the fakes
// of the desktop are checked after each.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "behaviors/grid.h"
#include "fml/app_dirs.h"
#include "platform/capture_rule.h"
#include "ui_fixture.h"

using namespace hrd;
using layout::handle;
namespace ks = layout::key_state;
namespace vk = htmlayout::vk;

namespace {

constexpr std::uint32_t enter = layout::key_code::enter;
constexpr std::uint32_t escape = layout::key_code::escape;

struct scenario : ::testing::Test {
    // Each story starts from an empty collection.
    scenario() { ui.empty_collection(); }

    test::ui_fixture ui;

    // Captures `text` the way the desktop does: two quick Ctrl+C presses, the
    // second one captured, the clipboard's text stored.
    void capture(capture_rule& rule, std::uint32_t& clock, const std::u16string& text) {
        ui.clip->write_text(text);
        ASSERT_EQ(rule.decide({vk_c, true, false, false, clock}), capture_decision::pass_on);
        clock += 120;
        ASSERT_EQ(rule.decide({vk_c, true, false, false, clock}), capture_decision::capture);
        ui.add_quote(ui.clip->read_text());
        clock += 2000;
    }
    // A new tag through the tag pane's button, its name typed, Enter.
    record_id new_tag(std::u16string_view name) {
        ui.click(ui.by_id("add-tag"));
        ui.type(name);
        ui.key(enter);
        return ui.tag_named(name);
    }
    std::vector<record_id> three_quotes() {
        return {ui.add_quote(u"alpha"), ui.add_quote(u"beta"), ui.add_quote(u"gamma")};
    }
    handle row_of(record_id q) { return layout::parent(layout::parent(ui.quote(q))); }
    // The words shown beside a tag name the list refused, or "" when none show.
    std::u16string refusal() {
        handle shown = layout::find_first(ui.tag_list(), "div.refusal");
        return shown ? ui.shown_text(shown) : u"";
    }
    bool checked(handle row) { return layout::get_state(row) & layout::state::checked; }
};

TEST_F(scenario, capture_two_quotes) {
    capture_rule rule;
    std::uint32_t clock = 4'294'967'000u;  // the clock wraps during the second capture
    capture(rule, clock, u"first clip");
    capture(rule, clock, u"second <b>clip</b>");
    ASSERT_EQ(ui.shown_quotes().size(), 2u);
    EXPECT_EQ(ui.shown_text(ui.quote_text(ui.shown_quotes()[0])), u"second <b>clip</b>");
    EXPECT_EQ(ui.shown_text(ui.quote_text(ui.shown_quotes()[1])), u"first clip");
}

TEST_F(scenario, create_and_rename_tags) {
    const record_id work = new_tag(u"work");
    ASSERT_GT(work, 0);
    EXPECT_EQ(ui.shown_text(ui.tag(work)), u"work");
    EXPECT_FALSE(layout::get_attribute(ui.tag_list(), "editable"));

    // Nothing typed: Enter is refused with the words why beside the name, which
    // go once the user types or leaves; leaving or Escape keeps no tag and no row.
    ui.click(ui.by_id("add-tag"));
    ui.key(enter);
    EXPECT_EQ(refusal(), u"A tag needs a name");
    EXPECT_TRUE(layout::get_attribute(ui.tag_list(), "editable"));
    ui.type(u"work");
    EXPECT_EQ(refusal(), u"");
    ui.key(enter);
    EXPECT_EQ(refusal(), u"A tag named \"work\" already exists");
    EXPECT_EQ(layout::child_count(ui.tag_list()), 2u);  // the new row stays open
    ui.click(ui.by_id("add-tag"));
    EXPECT_EQ(refusal(), u"");
    ui.type(u"dropped");
    ui.key(escape);
    EXPECT_EQ(layout::child_count(ui.tag_list()), 1u);
    EXPECT_EQ(ui.window.hides, 0) << "Escape in the editor must not hide the window";

    // F2 on the current row starts with the name selected: typing replaces it.
    ui.click(ui.tag(work));
    ui.key(vk::f2);
    EXPECT_TRUE(layout::get_attribute(ui.tag(work), "all-selected"));
    ui.type(u"job");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"job"), work);
    EXPECT_FALSE(layout::get_attribute(ui.tag(work), "all-selected"));
    // After End typing adds to the name; Backspace takes the last character.
    ui.key(vk::f2);
    ui.key(vk::end);
    ui.type(u"x");
    ui.key(layout::key_code::backspace);
    ui.type(u"s");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"jobs"), work);
    // Backspace on the selected name empties it; an empty name is refused.
    ui.key(vk::f2);
    ui.key(layout::key_code::backspace);
    EXPECT_EQ(ui.shown_text(ui.tag(work)), u"");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"jobs"), work);
    EXPECT_EQ(refusal(), u"A tag needs a name");
    ui.type(u"works");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"works"), work);

    // Escape puts the old name back, after a refusal too; so does leaving.
    ui.key(vk::f2);
    ui.type(u"!!");
    ui.key(escape);
    EXPECT_EQ(ui.shown_text(ui.tag(work)), u"works");
    ui.key(vk::f2);
    ASSERT_TRUE(ui.doc().text_input(ui.tag(work), u""));
    ui.key(enter);
    EXPECT_EQ(refusal(), u"A tag needs a name");
    ui.key(escape);
    EXPECT_EQ(refusal(), u"");
    EXPECT_EQ(ui.shown_text(ui.tag(work)), u"works");
    EXPECT_EQ(ui.tag_named(u"works"), work);

    // A taken name is refused and said so; the tag keeps its own.
    const record_id home = new_tag(u"home");
    ui.click(ui.tag(home));
    ui.key(vk::f2);
    ui.doc().text_input(ui.tag(home), u"works");
    ui.key(enter);
    EXPECT_EQ(refusal(), u"A tag named \"works\" already exists");
    EXPECT_EQ(ui.tag_named(u"home"), home);
    ui.click(ui.tag(work));  // leaving: the words go, the name stays as it was
    EXPECT_EQ(refusal(), u"");
    EXPECT_EQ(ui.shown_text(ui.tag(home)), u"home");
    EXPECT_EQ(ui.tag_named(u"home"), home);
    ui.click(ui.tag(home));

    // Markup is a name like any other, shown as text; so is a very long name.
    ui.key(vk::f2);
    ui.doc().text_input(ui.tag(home), u"<b>bold</b>");
    ui.key(enter);
    EXPECT_EQ(ui.shown_text(ui.tag(home)), u"<b>bold</b>");
    EXPECT_EQ(layout::find_first(ui.tag(home), "b"), nullptr);
    const std::u16string long_name(10'000, u'x');
    ui.key(vk::f2);
    ui.doc().text_input(ui.tag(home), long_name);
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(long_name), home);
}

TEST_F(scenario, rename_is_committed_to_the_row_it_started_on) {
    const record_id a = new_tag(u"a");
    const record_id b = new_tag(u"b");
    ui.click(ui.tag(a));
    ui.key(vk::f2);
    ui.doc().text_input(ui.tag(a), u"a2");
    // Delete and F2 inside the editor belong to the editor: no tag goes.
    ui.key(vk::del);
    ui.key(vk::f2);
    ui.key(vk::down);
    EXPECT_EQ(ui.tag_named(u"a"), a);
    EXPECT_EQ(ui.tag_named(u"b"), b);
    // Clicking another tag commits the edit to the row it began on.
    ui.click(ui.tag(b));
    EXPECT_EQ(ui.tag_named(u"a2"), a);
    EXPECT_EQ(ui.tag_named(u"b"), b);
    EXPECT_EQ(ui.shown_text(ui.tag(b)), u"b");
    EXPECT_FALSE(layout::get_attribute(ui.tag_list(), "editable"));

    // The "Rename" item of a tag's menu starts the same editor as F2, from the
    // mouse and from the menu key: the old name selected, typing replaces it.
    ui.right_click(ui.tag(b));
    ASSERT_TRUE(ui.click_menu_item("rename_vtag"));
    EXPECT_TRUE(layout::get_attribute(ui.tag(b), "all-selected"));
    EXPECT_TRUE(layout::get_attribute(ui.tag(b), "editing"));
    ui.type(u"b2");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"b2"), b);
    ui.key(layout::key_code::apps);
    ASSERT_TRUE(ui.click_menu_item("rename_vtag"));
    ui.type(u"b3");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"b3"), b);

    // Delete on the selected tag row removes that tag, with its marks.
    const record_id q = ui.add_quote(u"quote");
    ui.drag(ui.tag(b), ui.quote_text(q));
    ASSERT_EQ(ui.marks_of(q), std::vector<record_id>{b});
    ui.click(ui.tag(b));
    ui.key(vk::del);
    EXPECT_EQ(ui.tag_named(u"b3"), -1);
    EXPECT_TRUE(ui.marks_of(q).empty());
    EXPECT_EQ(ui.tag(b), nullptr);
}

TEST_F(scenario, tag_quotes_by_drag_and_by_the_manage_tags_menu) {
    const auto q = three_quotes();
    const record_id red = new_tag(u"red");
    const record_id blue = new_tag(u"blue");

    ui.drag(ui.tag(red), ui.quote_text(q[0]));
    EXPECT_EQ(ui.marks_of(q[0]), std::vector<record_id>{red});
    ASSERT_NE(ui.by_id(ids::quote_tag(q[0], red)), nullptr);

    // A quote dragged onto a tag works the other way round.
    ui.drag(ui.quote_text(q[1]), ui.tag(blue));
    EXPECT_EQ(ui.marks_of(q[1]), std::vector<record_id>{blue});

    // The menu shows the quote's tags ticked; ticking one more marks it.
    handle manage = layout::find_first(ui.quote(q[0]), "button.managetags");
    ui.click(manage);
    ASSERT_EQ(ui.doc().open_popups().size(), 1u);
    handle red_item = ui.by_id(ids::menu_item(red));
    handle blue_item = ui.by_id(ids::menu_item(blue));
    EXPECT_TRUE(layout::get_state(red_item) & layout::state::checked);
    EXPECT_FALSE(layout::get_state(blue_item) & layout::state::checked);
    ui.click(blue_item);
    EXPECT_EQ(ui.marks_of(q[0]), (std::vector<record_id>{red, blue}));
    ui.click(red_item);
    EXPECT_EQ(ui.marks_of(q[0]), std::vector<record_id>{blue});

    // Opened for another quote, it shows that quote's tags only.
    ui.click(layout::find_first(ui.quote(q[2]), "button.managetags"));
    EXPECT_FALSE(layout::get_state(blue_item) & layout::state::checked);

    // A tag on a quote dragged back onto the list takes the mark off.
    ui.key(escape);
    ui.drag(ui.by_id(ids::quote_tag(q[1], blue)), ui.quote_text(q[2]));
    EXPECT_TRUE(ui.marks_of(q[1]).empty());
    EXPECT_EQ(ui.by_id(ids::quote_tag(q[1], blue)), nullptr);

    // Escape calls a drag off; a tag deleted while it is dragged drops nowhere.
    auto pull = [&](handle from) {
        ui.doc().mouse_input(from, layout::mouse_event::down, {100, 100}, 1, 0);
        ui.doc().mouse_input(from, layout::mouse_event::move, {140, 140}, 1, 0);
    };
    pull(ui.tag(red));
    ui.key(escape);
    EXPECT_EQ(ui.window.hides, 0);
    ui.doc().mouse_input(ui.quote_text(q[2]), layout::mouse_event::up, {140, 140}, 1, 0);
    EXPECT_TRUE(ui.marks_of(q[2]).empty());
    pull(ui.tag(red));
    ui.key(vk::del);
    ui.doc().mouse_input(ui.quote_text(q[2]), layout::mouse_event::up, {140, 140}, 1, 0);
    EXPECT_EQ(ui.tag_named(u"red"), -1);
    EXPECT_TRUE(ui.marks_of(q[2]).empty());
    EXPECT_EQ(ui.app.controller->drag_manager().dragged(), nullptr);

    // A drag released outside every target leaves no drag behind.
    ui.drag(ui.tag(blue), ui.by_id("statusbar"));
    EXPECT_EQ(ui.app.controller->drag_manager().dragged(), nullptr);
    EXPECT_EQ(ui.marks_of(q[2]), std::vector<record_id>{});
    // The manage-tags control answers the keyboard like any button.
    ui.doc().set_focus(layout::find_first(ui.quote(q[2]), "button.managetags"));
    ui.key(enter);
    EXPECT_EQ(ui.doc().open_popups().size(), 1u);
}

TEST_F(scenario, tag_a_quote_with_the_keyboard_alone) {
    const auto q = three_quotes();
    const record_id red = new_tag(u"red");
    const record_id blue = new_tag(u"blue");
    // The list has the focus; Home makes the top quote current.
    ui.doc().set_focus(ui.quote_list());
    ui.key(vk::home);
    const record_id top = ui.shown_quotes().front();

    // The context-menu key opens the current quote's menu; "Tags..." opens its
    // manage-tags menu, where Space ticks the focused tag.
    ui.key(layout::key_code::apps);
    ASSERT_EQ(ui.doc().open_popups().size(), 1u);
    ui.key(enter);
    ASSERT_EQ(ui.doc().open_popups(), std::vector<handle>{ui.app.view->manage_menu()});
    ui.key(layout::key_code::space);
    ASSERT_EQ(ui.marks_of(top).size(), 1u);
    ui.key(layout::key_code::down);
    ui.key(layout::key_code::space);
    EXPECT_EQ(ui.marks_of(top).size(), 2u);
    EXPECT_NE(ui.by_id(ids::quote_tag(top, red)), nullptr);
    EXPECT_NE(ui.by_id(ids::quote_tag(top, blue)), nullptr);

    // Escape closes the menu and the keyboard is back on the list: Down moves on.
    ui.key(escape);
    EXPECT_TRUE(ui.doc().open_popups().empty());
    EXPECT_EQ(ui.doc().focus(), ui.quote_list());
    ui.key(layout::key_code::down);
    EXPECT_TRUE(layout::get_state(layout::nth_child(ui.quote_list(), 1)) & layout::state::current);
    (void)q;
}

TEST_F(scenario, tab_and_shift_tab_walk_the_tools_and_both_lists_round_the_ends) {
    three_quotes();
    new_tag(u"red");
    // The search field's clear button is left to the mouse (Escape does its work).
    const std::vector<handle> stops = {
        ui.by_id("find-text"), ui.by_id("mode-and"), ui.by_id("mode-or"), ui.by_id("clear-search"),
        ui.by_id("export"),    ui.by_id("add-tag"),  ui.tag_list(),       ui.quote_list()};
    // From the page itself (nothing focused yet), Tab starts at the first stop.
    ui.doc().set_focus(ui.doc().root());
    ui.key(layout::key_code::tab);
    EXPECT_EQ(ui.doc().focus(), stops[0]);
    ui.doc().set_focus(ui.quote_list());
    for (std::size_t i = 0; i < stops.size() + 1; ++i) {
        ui.key(layout::key_code::tab);
        EXPECT_EQ(ui.doc().focus(), stops[i % stops.size()]) << "Tab number " << i + 1;
        EXPECT_TRUE(layout::get_state(stops[i % stops.size()]) & layout::state::focus);
    }
    for (std::size_t i = 0; i < stops.size() + 1; ++i) {
        ui.key(layout::key_code::tab, ks::shift);
        EXPECT_EQ(ui.doc().focus(), stops[(2 * stops.size() - 1 - i) % stops.size()])
            << "Shift+Tab number " << i + 1;
    }
    EXPECT_EQ(ui.window.hides, 0);
}

TEST_F(scenario, search_and_then_or_remove_a_search_tag_clear) {
    const auto q = three_quotes();
    const record_id red = new_tag(u"red");
    const record_id blue = new_tag(u"blue");
    ui.drag(ui.tag(red), ui.quote_text(q[0]));
    ui.drag(ui.tag(blue), ui.quote_text(q[0]));
    ui.drag(ui.tag(blue), ui.quote_text(q[1]));

    ui.double_click(ui.tag(red));
    ui.drag(ui.tag(blue), ui.app.view->search_bar());
    EXPECT_EQ(ui.search_tags(), (std::vector<record_id>{red, blue}));
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{q[0]});

    ui.click(ui.by_id("mode-or"));
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{q[1], q[0]}));
    ui.click(ui.by_id("mode-and"));
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{q[0]});

    // A secondary-button double click on a search tag does nothing; the main one removes it.
    handle red_search = ui.by_id(ids::search_tag(red));
    ui.double_click(red_search, layout::mouse_button::secondary);
    EXPECT_EQ(ui.search_tags().size(), 2u);
    ui.double_click(red_search);
    EXPECT_EQ(ui.search_tags(), std::vector<record_id>{blue});
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{q[1], q[0]}));

    ui.click(ui.by_id("clear-search"));
    EXPECT_TRUE(ui.search_tags().empty());
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{q[2], q[1], q[0]}));
}

TEST_F(scenario, select_quotes_with_shift_and_ctrl_and_copy_them) {
    const auto q = three_quotes();  // shown gamma, beta, alpha
    const record_id red = new_tag(u"red");
    ui.drag(ui.tag(red), ui.quote_text(q[1]));
    ui.clip->write_text(u"the user's own text");

    // Nothing selected: Ctrl+C leaves the clipboard alone.
    ui.doc().set_focus(ui.quote_list());
    ui.key(vk::c, ks::control);
    EXPECT_EQ(ui.clip->read_text(), u"the user's own text");
    // Nor do the list's menu items, which act on the rows selected now only.
    ui.right_click(ui.quote_list());
    ASSERT_TRUE(ui.click_menu_item("copy_quotes"));
    ui.right_click(ui.quote_list());
    ASSERT_TRUE(ui.click_menu_item("delete_quotes"));
    EXPECT_EQ(ui.clip->read_text(), u"the user's own text");
    EXPECT_EQ(ui.shown_quotes().size(), 3u);

    ui.click(ui.quote_text(q[2]));
    ui.click(ui.quote_text(q[1]), ks::shift);
    EXPECT_TRUE(checked(row_of(q[2])) && checked(row_of(q[1])) && !checked(row_of(q[0])));
    ui.key(vk::c, ks::control);
    EXPECT_EQ(ui.clip->read_text(), u"gamma\r\n\r\nbeta\r\n\r\n");

    // Ctrl toggles one row in and one out.
    ui.click(ui.quote_text(q[0]), ks::control);
    ui.click(ui.quote_text(q[2]), ks::control);
    EXPECT_TRUE(!checked(row_of(q[2])) && checked(row_of(q[1])) && checked(row_of(q[0])));
    ui.right_click(ui.quote_list());
    ASSERT_TRUE(ui.click_menu_item("copy_quotes_with_data"));
    EXPECT_EQ(ui.clip->read_text(), u"beta\r\nTags: red\r\n\r\nalpha\r\n\r\n\r\n");

    // Keyboard: Shift+End from the top selects all three.
    ui.key(vk::home);
    ui.key(vk::end, ks::shift);
    EXPECT_TRUE(checked(row_of(q[2])) && checked(row_of(q[1])) && checked(row_of(q[0])));
    EXPECT_TRUE(layout::get_attribute(ui.quote_list(), "multiselect"));
    ui.key(vk::c, ks::control);
    EXPECT_EQ(ui.clip->read_text(), u"gamma\r\n\r\nbeta\r\n\r\nalpha\r\n\r\n");
    // A plain move selects the row moved to alone.
    ui.key(vk::up);
    EXPECT_FALSE(layout::get_attribute(ui.quote_list(), "multiselect"));
    EXPECT_TRUE(!checked(row_of(q[2])) && checked(row_of(q[1])) && !checked(row_of(q[0])));
}

TEST_F(scenario, a_rows_menu_acts_on_the_selection_it_was_opened_on) {
    const auto q = three_quotes();  // shown gamma, beta, alpha
    const record_id red = new_tag(u"red");
    ui.drag(ui.tag(red), ui.quote_text(q[1]));
    const std::u16string all_with_tags =
        u"gamma\r\n\r\n\r\nbeta\r\nTags: red\r\n\r\nalpha\r\n\r\n\r\n";
    auto all_checked = [&] {
        return checked(row_of(q[0])) && checked(row_of(q[1])) && checked(row_of(q[2]));
    };

    // Opened on a row of the selection, by mouse or by the menu key, the quote's
    // own menu copies every selected quote, in list order, and keeps the selection.
    ui.click(ui.quote_text(q[0]));
    ui.key(vk::a, ks::control);
    ui.right_click(ui.quote_text(q[0]));
    ASSERT_TRUE(ui.click_menu_item("copy_quote_with_data"));
    EXPECT_EQ(ui.clip->read_text(), all_with_tags);
    EXPECT_TRUE(all_checked());
    ui.clip->write_text(u"");
    ui.key(layout::key_code::apps);
    ASSERT_TRUE(ui.click_menu_item("copy_quote"));
    EXPECT_EQ(ui.clip->read_text(), u"gamma\r\n\r\nbeta\r\n\r\nalpha\r\n\r\n");
    ui.clip->write_text(u"");
    ui.key(layout::key_code::f10, ks::shift);
    ASSERT_TRUE(ui.click_menu_item("copy_quote_with_data"));
    EXPECT_EQ(ui.clip->read_text(), all_with_tags);

    // "Tags..." ticks a tag on all of them; it shows ticked only when all carry it.
    ui.right_click(ui.quote_text(q[2]));
    ASSERT_TRUE(ui.click_menu_item("manage_tags"));
    handle red_item = ui.by_id(ids::menu_item(red));
    EXPECT_FALSE(layout::get_state(red_item) & layout::state::checked);
    ui.click(red_item);
    for (record_id quote : q) {
        EXPECT_EQ(ui.marks_of(quote), std::vector<record_id>{red}) << quote;
    }
    ui.key(escape);
    ui.right_click(ui.quote_text(q[1]));
    ASSERT_TRUE(ui.click_menu_item("manage_tags"));
    EXPECT_TRUE(layout::get_state(red_item) & layout::state::checked);
    ui.click(red_item);
    for (record_id quote : q) {
        EXPECT_TRUE(ui.marks_of(quote).empty()) << quote;
    }
    ui.key(escape);

    // A right click outside the selection selects that row alone first; so does the
    // menu key on a current row taken out of the selection.
    ui.click(ui.quote_text(q[2]));
    ui.click(ui.quote_text(q[1]), ks::shift);
    ui.right_click(ui.quote_text(q[0]));
    EXPECT_TRUE(!checked(row_of(q[2])) && !checked(row_of(q[1])) && checked(row_of(q[0])));
    ASSERT_TRUE(ui.click_menu_item("copy_quote"));
    EXPECT_EQ(ui.clip->read_text(), u"alpha");
    ui.key(vk::a, ks::control);
    ui.key(layout::key_code::space, ks::control);  // the current row (alpha) out
    ui.key(layout::key_code::apps);
    EXPECT_TRUE(!checked(row_of(q[2])) && !checked(row_of(q[1])) && checked(row_of(q[0])));
    ui.key(escape);

    // Delete from the menu of a selected row removes the whole selection.
    ui.click(ui.quote_text(q[2]));
    ui.click(ui.quote_text(q[1]), ks::control);
    ui.right_click(ui.quote_text(q[1]));
    ASSERT_TRUE(ui.click_menu_item("delete_quote"));
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{q[0]});
    EXPECT_TRUE(ui.app.model->store().getQuote(q[2])->empty());

    // A tag's menu follows the same rule: on a selection of two, "Search by this
    // tag" puts both in the search bar; Rename renames the tag it was opened on.
    const record_id blue = new_tag(u"blue");
    ui.click(ui.tag(red));
    ui.click(ui.tag(blue), ks::control);
    ui.right_click(ui.tag(red));
    ASSERT_TRUE(ui.click_menu_item("add_search_tag"));
    auto bar = ui.search_tags();
    std::sort(bar.begin(), bar.end());
    EXPECT_EQ(bar, (std::vector<record_id>{red, blue}));
    ui.right_click(ui.tag(blue));
    ASSERT_TRUE(ui.click_menu_item("rename_vtag"));
    ui.type(u"navy");
    ui.key(enter);
    EXPECT_EQ(ui.tag_named(u"navy"), blue);
    EXPECT_EQ(ui.tag_named(u"red"), red);
}

// A list far longer than its window: a selection reaches rows that were never
// built, and the keyboard, a drag, the Tags menu, Copy and Delete all act on the
// whole of it.
TEST_F(scenario, a_selection_across_rows_never_built_is_acted_on_whole) {
    std::vector<record_id> q;  // shown newest first
    std::u16string all_text;
    for (int i = 0; i < 30; ++i) {
        q.insert(q.begin(), ui.add_quote(u"clip " + fml::utf82wchar(std::to_string(i))));
    }
    for (record_id id : q) {
        all_text += fml::utf82wchar(ui.app.model->store().read_quote_quietly(id).m_utftext) +
                    u"\r\n\r\n";
    }
    const record_id red = new_tag(u"red");
    handle list = ui.quote_list();
    layout::hold_rows(list, 0, 5);

    // Down, Page Down (ten rows without sizes), then Shift+End from the keyboard.
    ui.doc().set_focus(list);
    ui.key(vk::down);
    ui.key(vk::page_down);
    EXPECT_EQ(layout::current_row(list), std::optional<std::size_t>(10));
    ui.key(vk::home);
    ui.key(vk::end, ks::shift);
    EXPECT_EQ(htmlayout::cgrid::checked_count(list), 30u);
    EXPECT_EQ(layout::held_rows(list), (layout::row_range{25, 30})) << "only the end is built";
    ui.key(vk::c, ks::control);
    EXPECT_EQ(ui.clip->read_text(), all_text);

    // A drag of one selected quote onto a tag carries them all.
    ui.drag(ui.quote_text(q.back()), ui.tag(red));
    for (record_id id : q) {
        ASSERT_EQ(ui.marks_of(id), std::vector<record_id>{red}) << id;
    }
    // The Tags menu shows the tag ticked, as every one carries it; unticked, all lose it.
    ui.right_click(ui.quote_text(q.back()));
    ASSERT_TRUE(ui.click_menu_item("manage_tags"));
    handle red_item = ui.by_id(ids::menu_item(red));
    EXPECT_TRUE(layout::get_state(red_item) & layout::state::checked);
    ui.click(red_item);
    ui.key(escape);
    for (record_id id : q) {
        ASSERT_TRUE(ui.marks_of(id).empty()) << id;
    }

    // Page keys move by the height of the pane the rows scroll in, measuring the
    // rows held and counting on past them at the height those had.
    handle pane = ui.by_id("quotepane");
    layout::set_scroll_info(pane, {.pos = {0, 0}, .view = {0, 0, 300, 100},
                                   .content_size = {300, 3000}});
    ui.key(vk::home);
    ASSERT_EQ(layout::held_rows(list), (layout::row_range{0, 5}));
    for (std::size_t i = 0; i < 5; ++i) {
        layout::set_location(layout::row_at(list, i), {0, int(i) * 30, 300, int(i) * 30 + 30});
    }
    ui.key(vk::page_down);
    EXPECT_EQ(layout::current_row(list), std::optional<std::size_t>(3)) << "100 px: three rows on";
    layout::set_scroll_info(pane, {.pos = {0, 0}, .view = {0, 0, 300, 400},
                                   .content_size = {300, 3000}});
    ui.key(vk::page_up);
    ui.key(vk::page_down);
    EXPECT_EQ(layout::current_row(list), std::optional<std::size_t>(13))
        << "four rows measured, nine more of their height";

    // The menu key on a current row the page has scrolled away from brings it back
    // and opens its menu there, for that row alone.
    ui.key(vk::home);
    layout::hold_rows(list, 20, 5);
    ASSERT_EQ(layout::row_at(list, 0), nullptr);
    ui.key(layout::key_code::apps);
    ASSERT_EQ(ui.doc().open_popups().size(), 1u);
    EXPECT_EQ(layout::get_attribute_utf8(ui.doc().open_popups().back(), "id"), "quote-menu");
    ASSERT_TRUE(ui.click_menu_item("copy_quote"));
    EXPECT_EQ(ui.clip->read_text(), u"clip 29");

    // Delete takes the whole selection at once.
    ui.key(vk::a, ks::control);
    ui.key(vk::del);
    EXPECT_TRUE(ui.shown_quotes().empty());
    EXPECT_TRUE(ui.app.model->store().searchQuoteIds().empty());
}

// The search field: Ctrl+F reaches it with its text selected, typing and pasting
// narrow the list with the tags, matches are marked, Enter goes on to the list,
// Escape and the clear button empty it, and only then does Escape hide the window.
TEST_F(scenario, the_search_field_narrows_the_list_as_text_is_typed) {
    const auto q = three_quotes();  // alpha, beta, gamma
    const record_id extra = ui.add_quote(u"Alphabet soup");
    const record_id red = new_tag(u"red");
    ui.drag(ui.tag(red), ui.quote_text(extra));
    handle field = ui.by_id("find-text");
    ASSERT_NE(field, nullptr);
    ui.doc().set_focus(ui.quote_list());
    ui.key(vk::f, ks::control);
    EXPECT_EQ(ui.doc().focus(), field);
    ui.type(u"ALPH");
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{extra, q[0]}));
    const auto marks = [&] {
        std::vector<std::u16string> out;
        layout::select_elements(ui.quote_list(), "mark", [&](handle m) {
            out.push_back(layout::get_inner_text(m).value_or(u""));
            return false;
        });
        return out;
    };
    EXPECT_EQ(marks(), (std::vector<std::u16string>{u"Alph", u"alph"}));
    // With a tag in the search bar both must hold.
    ui.double_click(ui.tag(red));
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{extra});
    ui.click(ui.by_id("clear-search"));
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{extra, q[0]}));
    // Backspace widens it again; a paste replaces the text.
    ui.doc().set_focus(field);
    for (int i = 0; i < 4; ++i) {
        ui.key(layout::key_code::backspace);
    }
    EXPECT_EQ(ui.shown_quotes().size(), 4u);
    ui.doc().text_input(field, u"gam");
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{q[2]});
    // Ctrl+F again selects the text: typing replaces it.
    ui.doc().set_focus(ui.quote_list());
    ui.key(vk::f, ks::control);
    ui.type(u"bet");
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{extra, q[1]}));
    // Enter goes on to the list; the text stays. Select all and copy take what the
    // list shows, not the whole collection.
    ui.key(layout::key_code::enter);
    EXPECT_EQ(ui.doc().focus(), ui.quote_list());
    ui.key(vk::a, ks::control);
    ui.key(vk::c, ks::control);
    EXPECT_EQ(ui.clip->read_text(), u"Alphabet soup\r\n\r\nbeta\r\n\r\n");
    // Escape in the field empties it first, and hides the window only when empty.
    ui.doc().set_focus(field);
    ui.key(layout::key_code::escape);
    EXPECT_EQ(ui.shown_quotes().size(), 4u);
    EXPECT_EQ(layout::get_inner_text(field).value_or(u"?"), u"");
    EXPECT_EQ(ui.window.hides, 0);
    ui.key(layout::key_code::escape);
    EXPECT_EQ(ui.window.hides, 1);
    // The clear button empties it too.
    ui.doc().set_focus(field);
    ui.type(u"soup");
    EXPECT_EQ(ui.shown_quotes(), std::vector<record_id>{extra});
    ui.click(ui.by_id("find-clear"));
    EXPECT_EQ(ui.shown_quotes().size(), 4u);
    EXPECT_EQ(layout::get_inner_text(field).value_or(u"?"), u"");
}

TEST_F(scenario, delete_quotes_with_the_delete_key) {
    const auto q = three_quotes();
    const record_id extra = ui.add_quote(u"delta");  // shown delta, gamma, beta, alpha
    ui.doc().set_focus(ui.quote_list());
    ui.key(vk::del);  // nothing selected: nothing happens
    EXPECT_EQ(ui.shown_quotes().size(), 4u);

    ui.click(ui.quote_text(q[2]));
    ui.click(ui.quote_text(q[0]), ks::control);
    ui.key(vk::del);
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{extra, q[1]}));
    EXPECT_TRUE(ui.app.model->store().getQuote(q[2])->empty());
    EXPECT_TRUE(ui.app.model->store().getQuote(q[0])->empty());
    // The row at the deleted current row's place is current and selected now.
    handle current = htmlayout::cgrid::current_row(ui.quote_list());
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(layout::find_first(current, "div.quote"), ui.quote(q[1]));

    // Ctrl+A then Delete empties the list; Delete again is harmless.
    ui.key(vk::a, ks::control);
    ui.key(vk::del);
    EXPECT_TRUE(ui.shown_quotes().empty());
    ui.key(vk::del);
    EXPECT_TRUE(ui.app.model->store().getQuote(extra)->empty());
}

TEST_F(scenario, sort_grids) {
    // The quote list sorts by time stamp from its menu.
    const auto q = three_quotes();
    const std::vector<record_id> newest_first{q[2], q[1], q[0]};
    ASSERT_EQ(ui.shown_quotes(), newest_first);
    ui.right_click(ui.app.view->quote_list());
    ASSERT_TRUE(ui.click_menu_item("sort_quotes_oldest_first"));
    EXPECT_EQ(ui.shown_quotes(), (std::vector<record_id>{q[0], q[1], q[2]}));
    ui.right_click(ui.app.view->quote_list());
    ASSERT_TRUE(ui.click_menu_item("sort_quotes_newest_first"));
    EXPECT_EQ(ui.shown_quotes(), newest_first);

    // A sortable grid with a header row: a header click sorts its column, by
    // code unit and by number value, and header rows are never selected.
    layout::set_html(ui.by_id("statusbar"),
                     "<table id=\"g\" multiple fixedrows=1 style=\"behavior: csortable-grid\">"
                     "<tr><th>name</th><th>size</th></tr>"
                     "<tr><td>b</td><td>10</td></tr><tr><td>B</td><td>9</td></tr>"
                     "<tr><td>a</td><td>100</td></tr></table>",
                     layout::html_place::append);
    handle grid = ui.by_id("g");
    auto column = [&](std::size_t c) {
        std::u16string out;
        for (std::size_t i = 1; i < layout::child_count(grid); ++i)
            out += layout::get_inner_text(layout::nth_child(layout::nth_child(grid, i), c))
                       .value_or(u"") +
                   u" ";
        return out;
    };
    handle header = layout::nth_child(grid, 0);
    ui.click(layout::nth_child(header, 0));
    EXPECT_EQ(column(0), u"B a b ");
    ui.click(layout::nth_child(header, 1));
    EXPECT_EQ(column(1), u"9 10 100 ");
    EXPECT_FALSE(layout::get_state(header) & layout::state::checked);
    ui.key(vk::a, ks::control);
    ui.key(vk::home);
    ui.key(vk::up);
    EXPECT_FALSE(layout::get_state(header) & (layout::state::checked | layout::state::current));
    EXPECT_EQ(htmlayout::cgrid::current_row(grid), layout::nth_child(grid, 1));
}

TEST_F(scenario, export_to_a_file) {
    const auto q = three_quotes();
    const test::temp_dir out(test::fast_temp_base());
    const std::string target = out.file("collection.html");
    {
        std::ofstream old(target);
        old << "the user's old file";
    }
    // Cancelled: nothing is written.
    ui.click(ui.by_id("export"));
    EXPECT_EQ(ui.dialog.asked, 1);
    EXPECT_EQ(test::read_file(target), "the user's old file");

    ui.dialog.answer = fml::utf82wchar(target);
    ui.doc().mouse_input(ui.by_id("export"), layout::mouse_event::down, {1, 1},
                         layout::mouse_button::main, 0);
    EXPECT_EQ(ui.dialog.asked, 1) << "a press alone asks nothing";
    ui.doc().mouse_input(ui.by_id("export"), layout::mouse_event::up, {1, 1},
                         layout::mouse_button::main, 0);
    const std::string written = test::read_file(target);
    for (const char* text : {"alpha", "beta", "gamma"}) {
        EXPECT_NE(written.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(written.find("the user's old file"), std::string::npos);

    // A place that cannot be written: a message box names the file and says why in
    // plain words; nothing is lost.
    const std::u16string missing = fml::utf82wchar(out.file("no such folder/collection.html"));
    ui.dialog.answer = missing;
    ui.click(ui.by_id("export"));
    ASSERT_EQ(ui.dialog.failures.size(), 1u);
    EXPECT_EQ(ui.dialog.failures[0], u"Could not save " + missing + u": No such file or directory");
    EXPECT_EQ(test::read_file(target), written);
    ui.dialog.answer = fml::utf82wchar(out.path());
    ui.click(ui.by_id("export"));
    ASSERT_EQ(ui.dialog.failures.size(), 2u);
    EXPECT_EQ(ui.dialog.failures[1], u"Could not save " + *ui.dialog.answer + u": Is a directory");
    EXPECT_EQ(ui.shown_text(ui.by_id("statusbar")), ui.dialog.failures[1]);
    (void)q;
}

TEST_F(scenario, help_links_escape_and_the_splitter) {
    app_dirs::set(app_dirs::HoardlyDir, u"/opt/hoardly");
    ui.key(vk::f1);
    ASSERT_EQ(ui.opener.files.size(), 1u);
    EXPECT_EQ(ui.opener.files[0], u"/opt/hoardly/Hoardly Help.html");
    // From a list that holds the keyboard too.
    for (handle list : {ui.tag_list(), ui.quote_list()}) {
        ui.doc().set_focus(list);
        ui.key(vk::f1);
    }
    EXPECT_EQ(ui.opener.files.size(), 3u);

    layout::set_html(ui.by_id("statusbar"),
                     "<span id=web link=\"https://example.org/a b\">a</span>"
                     "<span id=site link=\"HTTPS://example.org/\">b</span>"
                     "<span id=mail link=\"mailto:me@example.org\">c</span>"
                     "<span id=exe link=\"/usr/bin/xterm\">d</span>"
                     "<span id=file link=\"file:///etc/passwd\">e</span>"
                     "<span id=help link=\"help\">f</span>",
                     layout::html_place::append);
    for (const char* id : {"web", "site", "mail", "exe", "file", "help"}) {
        ui.click(ui.by_id(id));
    }
    EXPECT_EQ(ui.opener.urls,
              (std::vector<std::u16string>{u"HTTPS://example.org/", u"mailto:me@example.org"}));
    EXPECT_EQ(ui.opener.files.size(), 4u);
    // A press elsewhere released on a link is no click on it, even after a
    // press on that link that was released elsewhere.
    ui.doc().mouse_input(ui.by_id("site"), layout::mouse_event::down, {1, 1},
                         layout::mouse_button::main, 0);
    ui.doc().mouse_input(ui.by_id("statusbar"), layout::mouse_event::up, {1, 1},
                         layout::mouse_button::main, 0);
    ui.doc().mouse_input(ui.by_id("statusbar"), layout::mouse_event::down, {1, 1},
                         layout::mouse_button::main, 0);
    ui.doc().mouse_input(ui.by_id("site"), layout::mouse_event::up, {1, 1},
                         layout::mouse_button::main, 0);
    EXPECT_EQ(ui.opener.urls.size(), 2u);

    // Escape closes an open menu first, then hides the window.
    ui.right_click(ui.app.view->search_bar());
    ASSERT_EQ(ui.doc().open_popups().size(), 1u);
    ui.key(escape);
    EXPECT_TRUE(ui.doc().open_popups().empty());
    EXPECT_EQ(ui.window.hides, 0);
    ui.key(escape);
    EXPECT_EQ(ui.window.hides, 1);

    // The splitter: the pane follows the pointer from where the pull began,
    // clamped to the room there is, whatever the number of moves.
    handle panes = ui.by_id("panes");
    handle splitter = ui.by_id("splitter");
    layout::set_location(panes, {0, 0, 1000, 500});
    layout::set_location(ui.by_id("tagpane"), {0, 0, 200, 500});
    layout::set_location(splitter, {200, 0, 205, 500});
    layout::set_location(ui.by_id("quotepane"), {205, 0, 1000, 500});
    auto width = [&](const char* id) {
        return layout::get_style_attribute(ui.by_id(id), "width").value_or(u"");
    };
    ui.doc().mouse_input(splitter, layout::mouse_event::down, {202, 50}, layout::mouse_button::main,
                         0);
    for (int x = 210; x <= 250; x += 10) {
        ui.doc().mouse_input(splitter, layout::mouse_event::move, {x, 50},
                             layout::mouse_button::main, 0);
    }
    EXPECT_EQ(width("tagpane"), u"248px");
    EXPECT_EQ(width("quotepane"), u"100%");
    // Pulled far past the window's edge over other elements: clamped, still captured.
    ui.doc().mouse_input(ui.by_id("statusbar"), layout::mouse_event::move, {5000, 50},
                         layout::mouse_button::main, 0);
    EXPECT_EQ(width("tagpane"), u"995px");
    ui.doc().mouse_input(ui.by_id("statusbar"), layout::mouse_event::move, {-5000, 50},
                         layout::mouse_button::main, 0);
    EXPECT_EQ(width("tagpane"), u"0px");
    ui.doc().mouse_input(ui.by_id("statusbar"), layout::mouse_event::up, {-5000, 50},
                         layout::mouse_button::main, 0);
    EXPECT_EQ(ui.doc().capture(), nullptr);
    ui.doc().mouse_input(splitter, layout::mouse_event::move, {300, 50}, layout::mouse_button::main,
                         0);
    EXPECT_EQ(width("tagpane"), u"0px") << "a move after the release resizes nothing";
}

}  // namespace
