// Binding by name, the dispatcher, and the grids' selection rules on small
// tables of their own, driven by input.

#include <gtest/gtest.h>

#include "behaviors/grid.h"
#include "support/document_host.h"
#include "ui_fixture.h"

using namespace hrd;
using layout::handle;
namespace ks = layout::key_state;
namespace vk = htmlayout::vk;

namespace {

// Counts what reaches it, in order.
class probe : public htmlayout::behavior {
public:
    probe() : htmlayout::behavior(layout::event_group::mouse, "test-probe") {}
    void attached(HELEMENT) override { log += "attached "; }
    void detached(HELEMENT) override { log += "detached "; }
    bool on_mouse(HELEMENT, HELEMENT, std::uint32_t type, htmlayout::point pt, std::uint32_t,
                  std::uint32_t) override {
        if ((type & layout::sinking) == 0) {
            log += "mouse " + std::to_string(type) + "@" + std::to_string(pt.x) + " ";
        }
        return false;
    }
    std::string log;
};
probe the_probe;

class plain_host : public layout::host {
public:
    void attach_behavior(handle e, std::string_view name) override {
        binder.attach_behavior(e, name);
    }
    void create_control(handle e) override { binder.create_control(e); }
    behavior_binder binder;
};

TEST(behavior_framework, binds_by_exact_name_and_dispatches) {
    the_probe.log.clear();  // it is global: the binder finds behaviors by name
    EXPECT_NE(htmlayout::behavior::find("cquote_grid", nullptr), nullptr);
    EXPECT_EQ(htmlayout::behavior::find("Quote", nullptr), nullptr);
    EXPECT_EQ(htmlayout::behavior::find("quote ", nullptr), nullptr);
    EXPECT_EQ(htmlayout::behavior::find("no-such-behavior", nullptr), nullptr);

    plain_host host;
    layout::document doc;
    doc.set_host(&host);
    doc.load_html(
        "<html><body><div id=p style=\"behavior: test-probe\">"
        "<span id=inner>x</span></div><div id=u style=\"behavior: nothing-here\"></div>"
        "<b id=m message=clear_search_tags>m</b></body></html>");
    handle p = layout::find_first(doc.root(), "#p");
    EXPECT_EQ(the_probe.log, "attached ");
    // Positions reach a behavior in document coordinates, whichever element it is on.
    layout::set_location(p, {100, 100, 200, 200});
    doc.mouse_input(layout::find_first(doc.root(), "#inner"), layout::mouse_event::down, {150, 120},
                    layout::mouse_button::main, 0);
    EXPECT_EQ(the_probe.log, "attached mouse 4@150 ");
    layout::delete_element(p);
    EXPECT_EQ(the_probe.log, "attached mouse 4@150 detached ");
    // An element with "message" gets a handler that hears behavior events (the
    // press of a focusable control), with keys and focus, so it takes the focus.
    doc.mouse_input(layout::find_first(doc.root(), "#m"), layout::mouse_event::down, {1, 1},
                    layout::mouse_button::main, 0);
    EXPECT_EQ(doc.focus(), layout::find_first(doc.root(), "#m"));
}

struct grid_test : ::testing::Test {
    // A table of the document's kind below the real page, rows 0 and 1 headers.
    grid_test() {
        layout::set_html(ui.by_id("statusbar"),
                         "<table id=g multiple fixedrows=2 style=\"behavior: cgrid\">"
                         "<tr><th>h</th></tr><tr><th>h2</th></tr>"
                         "<tr><td>2</td></tr><tr><td>3</td></tr><tr><td>4</td></tr>"
                         "<tr><td>5</td></tr><tr><td>6</td></tr></table>",
                         layout::html_place::append);
        grid = ui.by_id("g");
    }
    handle row(std::size_t i) { return layout::nth_child(grid, i); }
    std::string states() {
        std::string out;
        for (std::size_t i = 0; i < layout::child_count(grid); ++i) {
            const auto s = layout::get_state(row(i));
            out += (s & layout::state::current) ? 'C' : (s & layout::state::checked) ? 'x' : '.';
            if ((s & layout::state::current) && !(s & layout::state::checked))
                out.back() = 'c';
        }
        return out;
    }
    test::ui_fixture ui;
    handle grid = nullptr;
};

TEST_F(grid_test, mouse_selection) {
    ui.click(row(3));
    EXPECT_EQ(states(), "...C...");
    ui.click(row(6), ks::shift);
    EXPECT_EQ(states(), "...xxxC");
    EXPECT_TRUE(layout::get_attribute(grid, "multiselect"));
    ui.click(row(4), ks::control);
    EXPECT_EQ(states(), "...xcxx");
    // A press on a selected row keeps the selection (to drag it); its release collapses it.
    ui.doc().mouse_input(row(3), layout::mouse_event::down, {1, 1}, 1, 0);
    EXPECT_EQ(states(), "...xcxx");
    ui.doc().mouse_input(row(3), layout::mouse_event::up, {1, 1}, 1, 0);
    EXPECT_EQ(states(), "...C...");
    EXPECT_FALSE(layout::get_attribute(grid, "multiselect"));
    // Right button: a selected row keeps the selection, another row is selected alone.
    ui.click(row(5), ks::shift);
    ui.right_click(row(4));
    EXPECT_EQ(states(), "...xxC.");
    ui.right_click(row(6));
    EXPECT_EQ(states(), "......C");
    // Header rows are never selected, by click or by Ctrl+A.
    ui.click(row(0));
    ui.click(row(1), ks::shift);
    ui.key(vk::a, ks::control);
    EXPECT_EQ(states(), "..xxxxC");
    // Without "multiple" a click moves the current row and checks nothing.
    layout::set_attribute(grid, "multiple", std::nullopt);
    ui.key(vk::a, ks::control);
    ui.click(row(2));
    EXPECT_EQ(states(), "..Cxxxx") << "the current row moves; no check is made or taken";
}

TEST_F(grid_test, keyboard_movement) {
    ui.doc().set_focus(grid);
    ui.key(vk::down);
    EXPECT_EQ(states(), "..C....") << "Down with no current row goes to the first data row";
    ui.key(vk::up);
    EXPECT_EQ(states(), "..C....") << "never into the header rows";
    ui.key(vk::end);
    EXPECT_EQ(states(), "......C");
    ui.key(vk::down);
    EXPECT_EQ(states(), "......C");
    ui.key(vk::up);
    ui.key(vk::up);
    EXPECT_EQ(states(), "....C..");
    ui.key(vk::home, ks::shift);
    EXPECT_EQ(states(), "..Cxx..") << "Shift extends from the anchor";
    ui.key(vk::page_down);
    EXPECT_EQ(states(), "......C") << "without sizes a page is ten rows";
    // With sizes, a page is what fits in the table's height.
    for (std::size_t i = 0; i < layout::child_count(grid); ++i) {
        layout::set_location(row(i), {0, int(i) * 20, 100, int(i) * 20 + 20});
    }
    layout::set_location(grid, {0, 0, 100, 45});
    ui.key(vk::home);
    ui.key(vk::page_down);
    EXPECT_EQ(states(), "....C..");
    ui.key(vk::page_up);
    EXPECT_EQ(states(), "..C....");
    // Ctrl+Space toggles the current row into the selection.
    ui.key(vk::down, ks::control);
    ui.key(layout::key_code::space, ks::control);
    EXPECT_EQ(states(), "..xc...");
}

}  // namespace
