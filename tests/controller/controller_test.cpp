// The action protocol and drag and drop, through the real controller, model, store,
// view and drag table.

#include "controller/controller.h"

#include <gtest/gtest.h>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "support/app_fixture.h"
#include "view/ids.h"

using namespace hrd;
using layout::handle;

namespace {

class controller : public ::testing::Test {
protected:
    bool mouse(handle element, std::uint32_t event, int x, int y, std::uint32_t buttons = 1) {
        vcaction action;
        action.what = mouse_record{element, event, x, y, buttons, 0};
        action.element = element;
        action.cls = layout::get_attribute(element, "class").value_or(u"");
        action.id = layout::get_attribute(element, "id").value_or(u"");
        return m_app.controller->send_safely(action);
    }
    bool drag(handle from, handle to) {
        mouse(from, layout::mouse_event::down, 10, 10);
        const bool started = mouse(from, layout::mouse_event::move, 20, 20);
        return mouse(to, layout::mouse_event::up, 200, 200) && started;
    }
    std::vector<record_id> tags_on(record_id q) {
        auto found = m_app.model->store().getQuote(q);
        return found->current().m_tags;
    }
    void execute(const char16_t* name, handle first, handle second = nullptr) {
        m_app.controller->execute(named_action{name, element_pair{first, second}});
    }

    test::app_fixture m_app;
};

}  // namespace

TEST_F(controller, refuses_bad_actions_and_keeps_running) {
    hdcontroller& c = *m_app.controller;
    vcaction action;
    EXPECT_THROW(c.send(action), wrong_vcaction);
    action.what = vcaction::init{};
    EXPECT_THROW(c.send(action), fml::deprecated);
    EXPECT_THROW(c.execute(named_action{u"Delete_quote", {}}), unknown_vcaction);
    EXPECT_FALSE(c.execute_safely(named_action{u"no_such_action", {}}));
    EXPECT_NE(
        m_app.log("app").find("Error: hdcontroller::execute: unknown action \"no_such_action\""),
        std::string::npos);

    // Data of another kind than the action reads counts as none: nothing happens.
    const std::string tag_name = m_app.model->store().tag_utfname(1);
    EXPECT_NO_THROW(c.execute(named_action{u"delete_quote", std::u16string(u"q-1")}));
    EXPECT_NO_THROW(c.execute(named_action{u"rename_tag", element_pair{m_app.by_id("vt-1")}}));
    EXPECT_NO_THROW(m_app.model->store().checkQuote(1));
    EXPECT_EQ(m_app.model->store().tag_utfname(1), tag_name);

    // Ids that are not exactly prefix-dash-number are refused before anything runs.
    handle block = m_app.by_id("q-1");
    ASSERT_NE(block, nullptr);
    const auto quotes_before = layout::child_count(m_app.view->quote_list());
    for (const char16_t* bad : {u"q-", u"q-abc", u"q-99999999999", u"vt-1", u"-", u""}) {
        layout::set_attribute(block, "id", std::u16string_view(bad));
        EXPECT_THROW(execute(u"delete_quote", block), detail::wrong_id_format)
            << fml::wchar2utf8(bad);
    }
    layout::set_attribute(block, "id", u"q-1");
    EXPECT_NO_THROW(m_app.model->store().checkQuote(1));

    // A stale id from a vanished row: refused, logged, and the list shows the store.
    layout::set_attribute(block, "id", u"q-4242");
    EXPECT_FALSE(c.execute_safely(named_action{u"delete_quote", element_pair{block, nullptr}}));
    EXPECT_NE(m_app.log("app").find("Error: 4242"), std::string::npos) << m_app.log("app");
    EXPECT_EQ(layout::child_count(m_app.view->quote_list()), quotes_before);
    EXPECT_NE(m_app.by_id("q-1"), nullptr);

    // A list action on something that is not a list or a record element.
    EXPECT_THROW(execute(u"delete_quotes", m_app.view->search_bar()), detail::wrong_id_format);
    handle cell = layout::find_first(m_app.by_id("q-1"), "td");
    EXPECT_THROW(execute(u"delete_quotes", cell), detail::wrong_id_format);
}

TEST_F(controller, list_actions_take_checked_rows_and_single_actions_the_current_row) {
    handle table = m_app.view->quote_list();
    ASSERT_GE(layout::child_count(table), 3u);
    // Nothing checked: copying leaves the user's clipboard alone.
    m_app.model->the_clipboard().write_text(u"mine");
    execute(u"copy_quotes", table);
    EXPECT_EQ(m_app.model->the_clipboard().read_text(), u"mine");

    // One checked row is a list of one.
    handle row0 = layout::nth_child(table, 0);
    handle row2 = layout::nth_child(table, 2);
    const record_id q0 =
        ids::read(layout::get_attribute(layout::find_first(row0, "div"), "id").value(), u"q");
    const record_id q2 =
        ids::read(layout::get_attribute(layout::find_first(row2, "div"), "id").value(), u"q");
    layout::set_rows_checked(table, {2, 3}, true);
    execute(u"copy_quotes", table);
    const std::u16string one = m_app.model->the_clipboard().read_text();
    layout::set_rows_checked(table, {0, 1}, true);
    execute(u"copy_quotes", table);
    const std::u16string two = m_app.model->the_clipboard().read_text();
    EXPECT_LT(one.size(), two.size());
    EXPECT_EQ(two.substr(two.size() - one.size()), one);  // row order: row 0 first

    // A single-row action handed the table acts on the current row, or on nothing.
    execute(u"delete_quote", table);
    EXPECT_NO_THROW(m_app.model->store().checkQuote(q0));
    layout::set_current_row(table, 2);
    execute(u"delete_quote", table);
    EXPECT_THROW(m_app.model->store().checkQuote(q2), wrong_quote_id);
    EXPECT_EQ(m_app.by_id(ids::quote(q2)), nullptr);

    execute(u"delete_quotes", table);  // row 0 is still checked
    EXPECT_THROW(m_app.model->store().checkQuote(q0), wrong_quote_id);
    EXPECT_EQ(m_app.by_id(ids::quote(q0)), nullptr);
}

TEST_F(controller, drag_and_drop_runs_the_table_actions_and_always_ends) {
    handle tag_entry = m_app.by_id("vt-3");
    handle block = m_app.by_id("q-1");
    ASSERT_NE(tag_entry, nullptr);
    const auto before = tags_on(1);
    ASSERT_EQ(std::count(before.begin(), before.end(), 3), 0);

    // A press and a 3-pixel wiggle is no drag; 4 pixels is.
    mouse(tag_entry, layout::mouse_event::down, 10, 10);
    EXPECT_FALSE(mouse(tag_entry, layout::mouse_event::move, 13, 13));
    EXPECT_FALSE(m_app.controller->drag_manager().active());
    EXPECT_TRUE(mouse(tag_entry, layout::mouse_event::move, 14, 10));
    EXPECT_TRUE(m_app.controller->drag_manager().active());
    handle body = layout::find_first(m_app.document.doc.root(), "body");
    EXPECT_EQ(layout::get_attribute_utf8(body, "cursor"),
              std::optional<std::string>("dragtag.cur"));
    EXPECT_TRUE(mouse(block, layout::mouse_event::up, 50, 50));
    EXPECT_EQ(tags_on(1).back(), 3);
    EXPECT_NE(m_app.by_id("qt-1-3"), nullptr);
    EXPECT_FALSE(layout::get_attribute(body, "cursor").has_value());
    // A drop lands on the nearest block from the pointer up that takes the dragged
    // element: a tag over a quote's tag or text lands on the quote, and the quote's
    // tag itself on the list around the quote.
    handle text_cell = layout::find_first(block, "td.text");
    ASSERT_NE(text_cell, nullptr);
    handle quote_tag = m_app.by_id("qt-1-3");
    DragMgr& manager = m_app.controller->drag_manager();
    mouse(m_app.by_id("vt-2"), layout::mouse_event::down, 10, 10);
    mouse(m_app.by_id("vt-2"), layout::mouse_event::move, 20, 20);
    EXPECT_EQ(manager.drop_target(quote_tag), block);
    EXPECT_EQ(manager.drop_target(text_cell), block);
    mouse(quote_tag, layout::mouse_event::down, 10, 10);
    mouse(quote_tag, layout::mouse_event::move, 20, 20);
    EXPECT_EQ(manager.drop_target(quote_tag), m_app.by_id("quotepane"));
    EXPECT_EQ(manager.drop_target(m_app.view->search_bar()), nullptr);
    manager.reset();
    // The drop itself is the reporting element's: the text cell has a class only and
    // takes part in nothing, so a tag released there by it does nothing.
    const auto tags_before_drop = tags_on(1);
    ASSERT_EQ(std::count(tags_before_drop.begin(), tags_before_drop.end(), 2), 0);
    EXPECT_FALSE(drag(m_app.by_id("vt-2"), text_cell));
    EXPECT_EQ(tags_on(1), tags_before_drop);
    EXPECT_FALSE(m_app.controller->drag_manager().active());

    // A drop on something that takes nothing ends the drag too: a later plain click on
    // the bin must not delete anything.
    handle bin = m_app.by_id("recycled");
    mouse(block, layout::mouse_event::down, 10, 10);
    EXPECT_TRUE(mouse(block, layout::mouse_event::move, 40, 40));
    EXPECT_FALSE(mouse(m_app.view->search_bar(), layout::mouse_event::up, 60, 60));
    EXPECT_FALSE(m_app.controller->drag_manager().active());
    EXPECT_FALSE(mouse(bin, layout::mouse_event::up, 60, 60));
    EXPECT_NO_THROW(m_app.model->store().checkQuote(1));

    // Right-button presses arm nothing; a quote dragged to the bin is deleted.
    mouse(block, layout::mouse_event::down, 10, 10, 2);
    EXPECT_FALSE(mouse(block, layout::mouse_event::move, 40, 40, 2));
    EXPECT_TRUE(drag(block, bin));
    EXPECT_THROW(m_app.model->store().checkQuote(1), wrong_quote_id);

    // A dragged tag deleted while it is dragged is not used after it is gone.
    handle other = m_app.by_id("vt-2");
    mouse(other, layout::mouse_event::down, 10, 10);
    mouse(other, layout::mouse_event::move, 40, 40);
    execute(u"delete_vtag", other);
    EXPECT_FALSE(mouse(m_app.view->search_bar(), layout::mouse_event::up, 60, 60));
    EXPECT_TRUE(m_app.model->store().isSearchEmpty());

    // Several checked tag rows dragged to the search bar: one list action.
    handle tags = m_app.view->tag_list();
    layout::set_state(layout::nth_child(tags, 0), layout::state::checked, 0, false);
    layout::set_state(layout::nth_child(tags, 1), layout::state::checked, 0, false);
    EXPECT_TRUE(
        drag(layout::find_first(layout::nth_child(tags, 0), "div"), m_app.view->search_bar()));
    EXPECT_EQ(m_app.model->store().searchTags().size(), 2u);
    EXPECT_EQ(layout::child_count(m_app.view->search_bar()), 2u);
}

TEST(drag_table, bad_tables_are_refused_with_the_file_and_the_reason) {
    test::temp_dir dir;
    const auto refused = [&](const std::string& content, const std::string& detail) {
        test::write_file(dir.file("DragMgr.xml"), content);
        try {
            DragMgr table(dir.wpath() + u"/DragMgr.xml", &hdcontroller::is_action_name);
            ADD_FAILURE() << "accepted: " << content;
        } catch (const read_drag_mgr_xml_error& e) {
            EXPECT_NE(std::string(e.what()).find(detail), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(dir.file("DragMgr.xml")), std::string::npos)
                << e.what();
        }
    };
    refused("<t><i><s class='vtag'/><d class='quote'/><a>mark_quote_with_tag</a></i>",
            ": Error=XML_ERROR_PARSING");
    refused("<t><i><s/><d class='quote'/><a>mark_quote_with_tag</a></i></t>", "has no class");
    refused("<t><i><s class='vtag'/><d class='quote'/><a></a></i></t>", "has no action");
    refused("<t><i><s class='vtag'/><d class='quote'/><a>mark_quote_with_tags</a></i></t>",
            "unknown action \"mark_quote_with_tags\"");
    refused("<t><i><s class='vtag'/></i></t>", "has no target");
    EXPECT_THROW(DragMgr(dir.wpath() + u"/missing.xml", &hdcontroller::is_action_name),
                 fopen_drag_mgr_xml_error);

    // Comments anywhere are fine; an entry without id matches every id of its class,
    // and the first of two equal entries wins.
    test::write_file(
        dir.file("DragMgr.xml"),
        "<!-- c --><t><!-- c --><i><!-- c --><s class='vtag'/><!-- c --><d class='quote'/>"
        "<a>mark_quote_with_tag</a></i><i><s class='vtag' id='vt-1'/><d class='quote' id='q-2'/>"
        "<a>delete_quote</a></i><i><s class='vtag'/><d class='quote' id='q-9'/><a>copy_quote</a>"
        "</i></t>");
    DragMgr table(dir.wpath() + u"/DragMgr.xml", &hdcontroller::is_action_name);
    EXPECT_EQ(table.interaction_count(), 3u);
    EXPECT_EQ(table.find_action({u"vtag", u"vt-5"}, {u"quote", u"q-2"}), u"mark_quote_with_tag");
    EXPECT_EQ(table.find_action({u"vtag", u"vt-5"}, {u"quote", u"q-9"}), u"mark_quote_with_tag");
    EXPECT_EQ(table.find_action({u"vtag", u""}, {u"quote", u""}), u"mark_quote_with_tag");
    EXPECT_EQ(table.find_action({u"qtag", u"qt-1-1"}, {u"quote", u"q-2"}), u"");
    EXPECT_EQ(table.find_action({u"vtag", u"vt-5"}, {u"searchbar", u""}), u"");
}
