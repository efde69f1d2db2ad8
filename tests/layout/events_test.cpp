#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/element.h"
#include "platform/fake/fake_clock.h"

using namespace layout;

namespace {

// A handler that writes what reaches it to a shared log and answers by a rule.
struct recorder {
    std::string name;
    std::vector<std::string>* log;
    std::function<bool(handle, std::uint32_t group, void* params)> answer;

    static bool proc(void* tag, handle he, std::uint32_t group, void* params) {
        auto* self = static_cast<recorder*>(tag);
        std::uint32_t cmd = 0;
        switch (group) {
            case event_group::mouse:
                cmd = static_cast<mouse_params*>(params)->cmd;
                break;
            case event_group::key:
                cmd = static_cast<key_params*>(params)->cmd;
                break;
            case event_group::focus:
                cmd = static_cast<focus_params*>(params)->cmd;
                break;
            case event_group::behavior_event:
                cmd = static_cast<behavior_event_params*>(params)->cmd;
                break;
            case event_group::timer:
                cmd = static_cast<timer_params*>(params)->timer_id;
                break;
            case event_group::initialization:
                return true;
            default:
                break;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%s:%x:%x", self->name.c_str(), unsigned(group),
                      unsigned(cmd));
        self->log->push_back(text);
        return self->answer ? self->answer(he, group, params) : false;
    }
};

class events_fixture : public ::testing::Test, public host {
protected:
    recorder& attach(handle e, const std::string& name, std::uint32_t groups,
                     std::function<bool(handle, std::uint32_t, void*)> answer = {}) {
        m_recorders.push_back(
            std::make_unique<recorder>(recorder{name, &m_log, std::move(answer)}));
        attach_event_handler(e, &recorder::proc, m_recorders.back().get(), groups);
        return *m_recorders.back();
    }
    handle by_id(std::string_view id) {
        handle root = m_doc.root();
        return get_attribute_utf8(root, "id") == id ? root
                                                    : find_first(root, "#" + std::string(id));
    }
    std::string take_log() {
        std::string out;
        for (const auto& line : m_log) {
            out += (out.empty() ? "" : " ") + line;
        }
        m_log.clear();
        return out;
    }

    // host
    void attach_behavior(handle element, std::string_view name) override {
        attach(element, std::string(name) + "@" + get_attribute_utf8(element, "id").value_or(""),
               event_group::all);
    }
    void create_control(handle element) override {
        if (get_attribute(element, "message")) {
            attach(element, "sms@" + get_attribute_utf8(element, "id").value_or(""),
                   event_group::all, [](handle, std::uint32_t group, void* params) {
                       return group == event_group::behavior_event &&
                              static_cast<behavior_event_params*>(params)->cmd ==
                                  behavior_event::button_press;
                   });
        }
    }
    std::optional<std::string> load_resource(std::string_view uri) override {
        if (uri == "main.css") {
            return std::string("#list { behavior: quotelist } .quote { behavior: quote; }");
        }
        return std::nullopt;
    }

    document m_doc;
    std::vector<std::string> m_log;
    std::vector<std::unique_ptr<recorder>> m_recorders;
};

}  // namespace

TEST_F(events_fixture, input_sinks_then_bubbles_and_stops_at_the_first_handler) {
    m_doc.load_html(
        "<html id=h><body id=b><div id=outer><div id=inner>x</div></div></body></html>");
    attach(m_doc.root(), "html", event_group::mouse);
    bool outer_handles = false;
    attach(by_id("outer"), "outer", event_group::mouse | event_group::key,
           [&](handle, std::uint32_t, void* params) {
               return outer_handles && !(static_cast<mouse_params*>(params)->cmd & sinking);
           });
    attach(by_id("inner"), "inner", event_group::mouse);
    attach(by_id("inner"), "inner2", event_group::key);  // not subscribed to the mouse

    EXPECT_FALSE(
        m_doc.mouse_input(by_id("inner"), mouse_event::down, {5, 5}, mouse_button::main, 0));
    EXPECT_EQ(take_log(), "html:1:8004 outer:1:8004 inner:1:4 outer:1:4 html:1:4");

    outer_handles = true;
    EXPECT_TRUE(m_doc.mouse_input(by_id("inner"), mouse_event::up, {5, 5}, mouse_button::main, 0));
    EXPECT_EQ(take_log(), "html:1:8003 outer:1:8003 inner:1:3 outer:1:3");

    // Behavior events travel the same way, carrying source, target and reason.
    handle seen_source = nullptr;
    handle seen_target = nullptr;
    attach(by_id("b"), "body", event_group::behavior_event, [&](handle, std::uint32_t, void* p) {
        auto* params = static_cast<behavior_event_params*>(p);
        seen_source = params->source;
        seen_target = params->target;
        return params->reason == 7 && !(params->cmd & sinking);
    });
    EXPECT_TRUE(send_event(by_id("inner"), 0x101, by_id("outer"), 7));
    EXPECT_EQ(take_log(), "body:100:8101 body:100:101");
    EXPECT_EQ(seen_source, by_id("outer"));
    EXPECT_EQ(seen_target, by_id("inner"));
    EXPECT_FALSE(send_event(by_id("inner"), 0x101, nullptr, 0));
    take_log();

    // A handler may delete the elements the event is travelling through.
    attach(by_id("inner"), "deleter", event_group::behavior_event,
           [&](handle he, std::uint32_t, void*) {
               delete_element(parent(he));
               return false;
           });
    EXPECT_FALSE(send_event(by_id("inner"), 0x102, nullptr, 0));
    EXPECT_FALSE(by_id("outer"));
}

TEST_F(events_fixture, handlers_hear_when_they_are_attached_and_detached) {
    m_doc.load_html("<div id=list><div id=row>x</div><div id=other>y</div></div>");
    std::vector<std::uint32_t> seen;
    const auto proc = [](void* tag, handle, std::uint32_t group, void* params) {
        if (group == event_group::initialization) {
            static_cast<std::vector<std::uint32_t>*>(tag)->push_back(
                static_cast<initialization_params*>(params)->cmd);
            return true;
        }
        return false;
    };
    ASSERT_TRUE(attach_event_handler(by_id("row"), proc, &seen, event_group::mouse));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{initialization_event::attached}));
    EXPECT_TRUE(detach_event_handler(by_id("row"), proc, &seen));
    EXPECT_FALSE(detach_event_handler(by_id("row"), proc, &seen));
    attach_event_handler(by_id("row"), proc, &seen, event_group::mouse);
    attach_event_handler(by_id("other"), proc, &seen, event_group::mouse);
    seen.clear();
    // Leaving the document detaches handlers, also for an element kept referenced.
    htmlayout::dom::element kept(by_id("other"));
    kept.detach();
    delete_element(by_id("row"));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{initialization_event::detached,
                                                initialization_event::detached}));
}

TEST_F(events_fixture, posted_events_run_in_order_after_the_current_event) {
    m_doc.load_html("<div id=list><div id=row>x</div></div>");
    handle list = by_id("list");
    attach(list, "list", event_group::behavior_event, [&](handle, std::uint32_t, void* p) {
        auto* params = static_cast<behavior_event_params*>(p);
        if (params->cmd == 0x101) {
            post_event(params->target, 0x104, nullptr, 0);  // runs after 0x102
        }
        return !(params->cmd & sinking);
    });
    attach(by_id("row"), "row", event_group::key, [&](handle he, std::uint32_t, void*) {
        post_event(list, 0x101, he, 0);
        post_event(list, 0x102, he, 1);
        send_event(list, 0x103, he, 2);
        m_log.push_back("key-done");
        return true;
    });
    m_doc.set_focus(by_id("row"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, 46, 0));
    // The list is the target itself, so it sees no sinking copies.
    EXPECT_EQ(take_log(), "row:2:0 list:100:103 key-done list:100:101 list:100:102 list:100:104");
    EXPECT_EQ(m_doc.posted_event_count(), 0u);

    // Posted from outside any input, they wait for the event loop.
    post_event(list, 0x105, nullptr, 0);
    EXPECT_EQ(take_log(), "");
    EXPECT_EQ(m_doc.posted_event_count(), 1u);
    m_doc.run_posted_events();
    EXPECT_EQ(take_log(), "list:100:105");

    // A handler that posts forever cannot hang the program: a run stops and
    // the host is asked for another.
    struct pending_host : host {
        int calls = 0;
        void posted_events_pending() override { ++calls; }
    } pending;
    m_doc.set_host(&pending);
    int delivered = 0;
    handle row_for_loop = by_id("row");
    attach(row_for_loop, "loop", event_group::behavior_event,
           [&](handle he, std::uint32_t, void* p) {
               if (static_cast<behavior_event_params*>(p)->cmd == 0x200) {
                   ++delivered;
                   post_event(he, 0x200, nullptr, 0);
                   return true;
               }
               return false;
           });
    m_log.clear();
    post_event(row_for_loop, 0x200, nullptr, 0);
    EXPECT_EQ(pending.calls, 1);
    m_doc.run_posted_events();
    EXPECT_EQ(delivered, 100000);
    EXPECT_EQ(m_doc.posted_event_count(), 1u);
    EXPECT_EQ(pending.calls, 2);
    detach_event_handler(row_for_loop, &recorder::proc, m_recorders.back().get());
    m_doc.run_posted_events();
    m_doc.set_host(nullptr);
    m_log.clear();

    // A posted source stays valid even if the element leaves the tree meanwhile.
    handle row = by_id("row");
    handle seen = nullptr;
    attach(list, "check", event_group::behavior_event, [&](handle, std::uint32_t, void* p) {
        seen = static_cast<behavior_event_params*>(p)->source;
        return false;
    });
    post_event(list, 0x106, row, 0);
    detach_element(row);
    m_doc.run_posted_events();
    EXPECT_EQ(seen, nullptr);  // freed once the queue let go of it; the list handled it first
    take_log();
}

TEST_F(events_fixture, binds_behaviors_from_style_sheets_as_elements_join) {
    m_doc.set_host(this);
    m_doc.load_html(
        "<html><head><link rel=stylesheet href=main.css><link rel=stylesheet href=missing.css>"
        "<style>.Quote { behavior: wrong-case } #bar { behavior: searchbar }</style></head>"
        "<body><div id=list><div class=quote id=q-1></div></div>"
        "<div id=bar style='behavior: inline-wins'></div>"
        "<button id=clear message=clear_search_tags>Clear</button>"
        "<span id=plain message=set_search_mode_or>or</span></body></html>");
    EXPECT_EQ(m_recorders.size(), 5u);
    std::vector<std::string> names;
    for (const auto& r : m_recorders) {
        names.push_back(r->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"quotelist@list", "quote@q-1", "inline-wins@bar",
                                               "sms@clear", "sms@plain"}));
    // Elements added later are bound when they join.
    set_html(by_id("list"), "<div class=quote id=q-2></div><div class=Quote id=q-3></div>",
             html_place::insert_at_start);
    ASSERT_EQ(m_recorders.size(), 7u);
    EXPECT_EQ(m_recorders[5]->name, "quote@q-2");
    EXPECT_EQ(m_recorders[6]->name, "wrong-case@q-3");  // classes keep their case

    // A press on a "message" button reaches its handler as a button press.
    EXPECT_TRUE(
        m_doc.mouse_input(by_id("clear"), mouse_event::down, {1, 1}, mouse_button::main, 0));
    EXPECT_EQ(take_log(), "sms@clear:4:1 sms@clear:1:4 sms@clear:100:1");
    EXPECT_TRUE(m_doc.mouse_input(by_id("clear"), mouse_event::up, {1, 1}, mouse_button::main, 0));
    EXPECT_EQ(take_log(), "sms@clear:1:3 sms@clear:100:0");
}

TEST_F(events_fixture, menus_work_from_the_keyboard) {
    m_doc.set_host(this);
    m_doc.load_html(
        "<html><body id=b><button id=manage menu=manage-tags>M</button>"
        "<ul id=manage-tags><li type=check id=c1>a</li><li id=sep>-</li><li type=check id=c2>b</li>"
        "</ul></body></html>");
    handle popup = by_id("manage-tags");
    attach(popup, "mmenu", event_group::behavior_event, [](handle, std::uint32_t, void* p) {
        return static_cast<behavior_event_params*>(p)->cmd == behavior_event::button_state_changed;
    });
    handle clicked = nullptr;
    attach(by_id("manage"), "owner", event_group::behavior_event,
           [&](handle, std::uint32_t, void* p) {
               auto* params = static_cast<behavior_event_params*>(p);
               if (params->cmd == behavior_event::menu_item_click) {
                   clicked = params->source;
               }
               return false;
           });
    m_doc.mouse_input(by_id("manage"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    ASSERT_EQ(m_doc.open_popups(), std::vector<handle>{popup});
    m_doc.set_focus(by_id("c1"));
    take_log();

    // Space ticks the focused item and tells the menu; Down and Up walk the items and
    // stop at the ends.
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::space, 0));
    EXPECT_TRUE(get_state(by_id("c1")) & state::checked);
    EXPECT_EQ(take_log(), "mmenu:100:8002 mmenu:100:2");
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::up, 0));
    EXPECT_EQ(m_doc.focus(), by_id("c1"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::down, 0));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::down, 0));
    EXPECT_EQ(m_doc.focus(), by_id("c2"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::down, 0));
    EXPECT_EQ(m_doc.focus(), by_id("c2"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::enter, 0));
    EXPECT_TRUE(get_state(by_id("c2")) & state::checked);
    EXPECT_EQ(m_doc.open_popups().size(), 1u);  // ticking keeps the menu open

    // Enter on a plain item clicks it: its owner hears of it and the menu closes.
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::up, 0));
    EXPECT_EQ(m_doc.focus(), by_id("sep"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::enter, 0));
    EXPECT_EQ(clicked, by_id("sep"));
    EXPECT_TRUE(m_doc.open_popups().empty());
    // The focus left with the menu instead of staying on a hidden item.
    EXPECT_NE(m_doc.focus(), by_id("sep"));
}

TEST_F(events_fixture, the_context_menu_key_opens_the_current_rows_menu_and_gives_the_focus_back) {
    m_doc.set_host(this);
    m_doc.load_html(
        "<html><head><style>div.entry { context-menu: selector(#rowmenu) }</style></head><body>"
        "<table id=list><tr><td><div class=entry id=e1>one</div></td></tr>"
        "<tr id=r2><td><div class=entry id=e2>two</div></td></tr></table>"
        "<menu id=rowmenu><li id=first action=copy>Copy</li><li id=second>Delete</li></menu>"
        "</body></html>");
    handle clicked_owner = nullptr;
    attach(by_id("list"), "grid", event_group::behavior_event, [&](handle, std::uint32_t, void* p) {
        auto* params = static_cast<behavior_event_params*>(p);
        if (params->cmd == behavior_event::menu_item_click) {
            clicked_owner = params->target;
        }
        return false;
    });
    set_state(by_id("r2"), state::current, 0, false);
    m_doc.set_focus(by_id("list"));

    EXPECT_FALSE(m_doc.key_input(key_event::down, key_code::f10, 0));  // F10 alone: not the menu
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::apps, 0));
    ASSERT_EQ(m_doc.open_popups(), std::vector<handle>{by_id("rowmenu")});
    EXPECT_EQ(m_doc.focus(), by_id("first"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::escape, 0));
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_EQ(m_doc.focus(), by_id("list"));

    // Shift+F10 does the same; the menu belongs to the current row's entry.
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::f10, key_state::shift));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::down, 0));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::enter, 0));
    EXPECT_EQ(clicked_owner, by_id("e2"));
    EXPECT_EQ(m_doc.focus(), by_id("list"));
}

TEST_F(events_fixture, tab_walks_the_stops_of_the_document) {
    m_doc.set_host(this);
    m_doc.load_html(
        "<html><body><button id=b1>one</button>"
        "<table id=list><tr><td><button id=inner>x</button></td></tr></table>"
        "<menu id=m><li><button id=hidden>y</button></li></menu>"
        "<div><button id=b2>two</button></div></body></html>");
    // A list that handles keys is one stop; what is inside it and in menus is not.
    attach(by_id("list"), "grid", event_group::key,
           [](handle, std::uint32_t, void*) { return false; });
    // The page's own keys (Escape, F1) are heard on html and body; they hold every
    // stop and are never one themselves.
    for (handle page : {m_doc.root(), find_first(m_doc.root(), "body")}) {
        attach(page, "page", event_group::key, [](handle, std::uint32_t, void*) { return false; });
    }
    m_doc.set_focus(m_doc.root());
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, 0));
    EXPECT_EQ(m_doc.focus(), by_id("b1"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, 0));
    EXPECT_EQ(m_doc.focus(), by_id("list"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, 0));
    EXPECT_EQ(m_doc.focus(), by_id("b2"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, 0));
    EXPECT_EQ(m_doc.focus(), by_id("b1"));  // round the end
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, key_state::shift));
    EXPECT_EQ(m_doc.focus(), by_id("b2"));
    // From inside a stop, Tab goes on from that stop.
    m_doc.set_focus(by_id("inner"));
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::tab, 0));
    EXPECT_EQ(m_doc.focus(), by_id("b2"));
}

TEST_F(events_fixture, popup_menus_checks_and_context_menus) {
    m_doc.set_host(this);
    m_doc.load_html(
        "<html><head><style>.quote { context-menu: selector(#ctx) }</style></head><body id=b>"
        "<div class=quote id=q-1><button class=managetags id=manage menu=manage-tags>M</button>"
        "<span id=text>t</span></div>"
        "<ul id=manage-tags><li type=check id=mtmcheck-3>a</li><li type=check "
        "id=mtmcheck-7>b</li></ul>"
        "<menu id=ctx><li id=copy action=copy_quote>Copy</li></menu></body></html>");
    handle popup = by_id("manage-tags");
    attach(popup, "mmenu", event_group::behavior_event, [](handle, std::uint32_t, void* p) {
        return static_cast<behavior_event_params*>(p)->cmd == behavior_event::button_state_changed;
    });
    handle source = nullptr;
    handle target = nullptr;
    attach(by_id("b"), "body", event_group::behavior_event, [&](handle, std::uint32_t, void* p) {
        auto* params = static_cast<behavior_event_params*>(p);
        if (params->cmd == behavior_event::menu_item_click) {
            source = params->source;
            target = params->target;
        }
        return false;
    });
    take_log();

    // A press on an element with a "menu" attribute opens that pop-up.
    m_doc.mouse_input(by_id("manage"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    ASSERT_EQ(m_doc.open_popups(), std::vector<handle>{popup});
    EXPECT_TRUE(get_state(popup) & state::popup);
    EXPECT_TRUE(get_state(by_id("manage")) & state::owns_popup);

    // Check items toggle and report; the menu stays open.
    m_doc.mouse_input(by_id("mtmcheck-7"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    m_doc.mouse_input(by_id("mtmcheck-7"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_TRUE(get_state(by_id("mtmcheck-7")) & state::checked);
    EXPECT_EQ(take_log(), "body:100:8002 mmenu:100:8002 mmenu:100:2");
    m_doc.mouse_input(by_id("mtmcheck-7"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_FALSE(get_state(by_id("mtmcheck-7")) & state::checked);
    EXPECT_EQ(m_doc.open_popups().size(), 1u);
    take_log();

    // A press elsewhere closes it; Escape closes one too.
    m_doc.mouse_input(by_id("text"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_FALSE(get_state(popup) & state::popup);
    EXPECT_FALSE(get_state(by_id("manage")) & state::owns_popup);
    show_popup(popup, by_id("manage"), 2);
    attach(m_doc.root(), "html", event_group::key,
           [](handle, std::uint32_t, void*) { return true; });
    take_log();
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::escape, 0));
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_EQ(take_log(), "");  // the document's own Escape handling never saw it
    EXPECT_TRUE(m_doc.key_input(key_event::down, key_code::escape, 0));
    EXPECT_EQ(take_log(), "html:2:0");

    // A secondary click opens the context menu its style names; an item click
    // goes to the owner with the item as source, and closes the menu.
    EXPECT_TRUE(
        m_doc.mouse_input(by_id("text"), mouse_event::up, {3, 4}, mouse_button::secondary, 0));
    ASSERT_EQ(m_doc.open_popups(), std::vector<handle>{by_id("ctx")});
    m_doc.mouse_input(by_id("copy"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    m_doc.mouse_input(by_id("copy"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(source, by_id("copy"));
    EXPECT_EQ(target, by_id("q-1"));
    EXPECT_TRUE(m_doc.open_popups().empty());

    // A pop-up shown without owner hears of its item clicks itself.
    handle ctx = by_id("ctx");
    attach(ctx, "ctx", event_group::behavior_event);
    show_popup_at(ctx, nullptr, {5, 5}, 0);
    take_log();
    m_doc.mouse_input(by_id("copy"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(take_log(), "body:100:800b ctx:100:b body:100:b");
    EXPECT_EQ(target, ctx);

    // Deleting an open pop-up leaves its owner owning nothing.
    handle owned = by_id("manage");
    show_popup(by_id("ctx"), owned, 2);
    EXPECT_TRUE(get_state(owned) & state::owns_popup);
    delete_element(by_id("ctx"));
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_FALSE(get_state(owned) & state::owns_popup);

    // Deleting the owner of an open pop-up closes it.
    show_popup(popup, by_id("manage"), 2);
    delete_element(by_id("q-1"));
    EXPECT_TRUE(m_doc.open_popups().empty());
    EXPECT_FALSE(get_state(popup) & state::popup);
}

TEST_F(events_fixture, focus_moves_with_presses_and_states_and_drives_editing) {
    m_doc.load_html(
        "<div id=page><button id=add>+</button>"
        "<table id=grid><tr id=row><td><div id=cell class=vtag>old</div></td></tr></table>"
        "<p id=elsewhere>x</p></div>");
    handle grid = by_id("grid");
    handle cell = by_id("cell");
    attach(grid, "grid", event_group::focus | event_group::key);  // makes the grid focusable
    take_log();

    // A press focuses the nearest focusable element around the target.
    m_doc.mouse_input(cell, mouse_event::down, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(m_doc.focus(), grid);
    EXPECT_TRUE(get_state(grid) & state::focus);
    EXPECT_EQ(take_log(), "grid:4:1");

    // Moving the focus by state sends focus-lost (sinking then bubbling), then focus-got.
    set_state(cell, state::focus, 0, true);
    EXPECT_EQ(m_doc.focus(), cell);
    EXPECT_FALSE(get_state(grid) & state::focus);
    EXPECT_EQ(take_log(), "grid:4:0 grid:4:8001 grid:4:1");

    // Typing edits the focused element only while its table is editable.
    m_doc.key_input(key_event::character, 'x', 0);
    EXPECT_EQ(get_inner_text(cell), u"old");
    EXPECT_EQ(take_log(), "grid:2:8002 grid:2:2");
    set_attribute(grid, "editable", u"");
    EXPECT_TRUE(is_editable(cell));
    m_doc.key_input(key_event::down, key_code::backspace, 0);
    m_doc.key_input(key_event::character, 'D', 0);
    m_doc.key_input(key_event::character, 0xE9, 0);
    EXPECT_EQ(get_inner_text(cell), u"olD\u00e9");
    EXPECT_TRUE(m_doc.text_input(cell, u"new <name>"));
    EXPECT_EQ(get_inner_text(cell), u"new <name>");
    EXPECT_EQ(take_log(), "grid:2:8000 grid:2:0 grid:2:8002 grid:2:2 grid:2:8002 grid:2:2");
    EXPECT_FALSE(m_doc.text_input(by_id("elsewhere"), u"no"));
    // A character outside the BMP comes whole as a code point, or as its two UTF-16
    // units one after the other (as a page types it); half a character adds nothing.
    m_doc.key_input(key_event::character, 0xD83D, 0);
    m_doc.key_input(key_event::character, 0xDE00, 0);
    m_doc.key_input(key_event::character, 0x1F431, 0);
    m_doc.key_input(key_event::character, 0xDE00, 0);
    m_doc.key_input(key_event::character, 0xD83D, 0);
    m_doc.key_input(key_event::character, '!', 0);
    EXPECT_EQ(get_inner_text(cell), u"new <name>\U0001F600\U0001F431!");
    take_log();

    // A press on a plain element moves the focus away: the edit's focus-lost
    // passes the table in the sinking pass.
    m_doc.mouse_input(by_id("elsewhere"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(m_doc.focus(), nullptr);
    EXPECT_EQ(take_log(), "grid:4:8000 grid:4:0");
    EXPECT_FALSE(is_editable(cell));

    // Clearing the bit on the focused element moves the focus nowhere.
    set_state(grid, state::focus, 0, false);
    set_state(grid, 0, state::focus, false);
    EXPECT_EQ(m_doc.focus(), nullptr);
    EXPECT_EQ(take_log(), "grid:4:1 grid:4:0");

    // Buttons press and click, with Enter as well as the mouse.
    attach(by_id("page"), "page", event_group::behavior_event);
    m_doc.mouse_input(by_id("add"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(m_doc.focus(), by_id("add"));
    m_doc.mouse_input(by_id("add"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    m_doc.key_input(key_event::down, key_code::enter, 0);
    EXPECT_EQ(take_log(),
              "page:100:8001 page:100:1 page:100:8000 page:100:0 page:100:8001 "
              "page:100:1 page:100:8000 page:100:0");
    // A release without a press on it is no click.
    m_doc.mouse_input(by_id("add"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(take_log(), "");
    // A press released elsewhere leaves the button up, without a click.
    m_doc.mouse_input(by_id("add"), mouse_event::down, {1, 1}, mouse_button::main, 0);
    EXPECT_TRUE(get_state(by_id("add")) & state::pressed);
    m_doc.mouse_input(by_id("elsewhere"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_FALSE(get_state(by_id("add")) & state::pressed);
    m_doc.mouse_input(by_id("add"), mouse_event::up, {1, 1}, mouse_button::main, 0);
    EXPECT_EQ(take_log(), "page:100:8001 page:100:1");
}

TEST_F(events_fixture, timers_follow_the_injected_clock_and_capture_redirects_input) {
    hrd::fake::fake_clock time(1000);
    m_doc.set_clock(&time);
    m_doc.load_html("<div id=a><span id=b>x</span></div><div id=c></div>");
    int ticks = 0;
    attach(by_id("b"), "b", event_group::timer | event_group::mouse,
           [&](handle, std::uint32_t group, void*) {
               return group == event_group::timer ? ++ticks < 2 : true;
           });
    EXPECT_FALSE(m_doc.next_timer_due());
    EXPECT_TRUE(set_timer(by_id("b"), 100, 9));
    EXPECT_EQ(m_doc.next_timer_due(), 1100);
    time.now = 1099;
    m_doc.run_due_timers();
    EXPECT_EQ(take_log(), "");
    time.now = 1100;
    m_doc.run_due_timers();
    EXPECT_EQ(take_log(), "b:10:9");
    EXPECT_EQ(m_doc.next_timer_due(), 1200);
    time.now = 1250;
    m_doc.run_due_timers();  // the handler answers false: the timer stops
    EXPECT_EQ(take_log(), "b:10:9");
    EXPECT_FALSE(m_doc.next_timer_due());
    set_timer(by_id("b"), 10);
    set_timer(by_id("b"), 0);
    EXPECT_FALSE(m_doc.next_timer_due());
    set_timer(by_id("b"), 10);
    delete_element(by_id("a"));  // a timer ends with its element
    EXPECT_FALSE(m_doc.next_timer_due());

    m_doc.load_html("<div id=a><span id=b>x</span></div><div id=c></div>");
    m_log.clear();
    attach(by_id("b"), "b", event_group::mouse);
    EXPECT_TRUE(set_capture(by_id("b")));
    m_doc.mouse_input(by_id("c"), mouse_event::move, {9, 9}, 0, 0);
    EXPECT_EQ(take_log(), "b:1:2");
    m_doc.release_capture();
    m_doc.mouse_input(by_id("c"), mouse_event::move, {9, 9}, 0, 0);
    EXPECT_EQ(take_log(), "");
}

