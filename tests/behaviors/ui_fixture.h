#pragma once
// The whole program without a window, its behaviors bound, driven the way a
// user drives it: mouse and key input into the element tree. The desktop's
// window, clipboard, dialog and opener are fakes that record what they were
// asked.

#include <optional>
#include <string>
#include <vector>

#include "behaviors/behavior.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "layout/element.h"
#include "layout/long_list.h"
#include "platform/clipboard.h"
#include "platform/fake/fake_opener.h"
#include "platform/fake/fake_save_dialog.h"
#include "platform/fake/fake_window.h"
#include "platform/services.h"
#include "support/app_fixture.h"
#include "view/ids.h"

namespace hrd::test {

using fake::fake_dialog;
using fake::fake_opener;
using fake::fake_window;

// Puts the fakes into services() for one test and the old ones back after.
class services_scope {
public:
    explicit services_scope(const platform_services& fakes) : m_saved(services()) {
        services() = fakes;
    }
    ~services_scope() { services() = m_saved; }
    services_scope(const services_scope&) = delete;
    services_scope& operator=(const services_scope&) = delete;

private:
    platform_services m_saved;
};

struct ui_fixture {
    ui_fixture()
        : app(true, &binder),
          core(*app.controller, *app.model),
          window(app.document.doc),
          fakes(platform_services{&window, clip, &dialog, &opener}) {
        auto owned = std::make_unique<memory_clipboard>();
        clip = owned.get();
        app.model->set_clipboard(std::move(owned));
        services().clip = clip;
    }

    layout::document& doc() { return app.document.doc; }
    layout::handle by_id(const std::string& id) const { return app.by_id(id); }
    // A shown quote's block, its row built and scrolled to first (the list holds
    // only the rows in view), as a user scrolls to a quote before acting on it.
    layout::handle quote(record_id q) const {
        layout::handle list = quote_list();
        for (std::size_t i = 0; i < layout::row_count(list); ++i) {
            if (layout::row_key(list, i) == q) {
                layout::reveal_row(list, i);
                break;
            }
        }
        return by_id(ids::quote(q));
    }
    layout::handle quote_text(record_id q) const { return layout::find_first(quote(q), "td.text"); }
    layout::handle tag(record_id t) const { return by_id(ids::tag_entry(t)); }
    layout::handle quote_list() const { return app.view->quote_list(); }
    layout::handle tag_list() const { return app.view->tag_list(); }

    // A press and release of the main button, as a user's click.
    // Each helper holds its elements while it runs: the first event may take
    // them out of the document (a double click removing a search tag), and the
    // rest must then go wherever the engine sends input for a removed element.
    void click(layout::handle element, std::uint32_t keys = 0) {
        const htmlayout::dom::element target(element);
        doc().mouse_input(target, layout::mouse_event::down, m_pos, layout::mouse_button::main,
                          keys);
        doc().mouse_input(target, layout::mouse_event::up, m_pos, layout::mouse_button::main, keys);
    }
    void double_click(layout::handle element, std::uint32_t buttons = layout::mouse_button::main) {
        const htmlayout::dom::element target(element);
        click(target);
        doc().mouse_input(target, layout::mouse_event::double_click, m_pos, buttons, 0);
        doc().mouse_input(target, layout::mouse_event::up, m_pos, buttons, 0);
    }
    void right_click(layout::handle element) {
        const htmlayout::dom::element target(element);
        doc().mouse_input(target, layout::mouse_event::down, m_pos, layout::mouse_button::secondary,
                          0);
        doc().mouse_input(target, layout::mouse_event::up, m_pos, layout::mouse_button::secondary,
                          0);
    }
    // Press on `from`, pull well past the drag threshold, release on `to`.
    void drag(layout::handle from_element, layout::handle to_element) {
        const htmlayout::dom::element from(from_element);
        const htmlayout::dom::element to(to_element);
        const layout::point start{100, 100};
        doc().mouse_input(from, layout::mouse_event::down, start, layout::mouse_button::main, 0);
        doc().mouse_input(from, layout::mouse_event::move, {start.x + 8, start.y + 8},
                          layout::mouse_button::main, 0);
        doc().mouse_input(to, layout::mouse_event::move, {start.x + 60, start.y + 90},
                          layout::mouse_button::main, 0);
        doc().mouse_input(to, layout::mouse_event::up, {start.x + 60, start.y + 90},
                          layout::mouse_button::main, 0);
    }
    // Clicks the item of the open pop-up whose "action" is `action`.
    bool click_menu_item(const std::string& action) {
        for (layout::handle popup : doc().open_popups()) {
            if (layout::handle item = layout::find_first(popup, "[action='" + action + "']")) {
                click(item);
                return true;
            }
        }
        return false;
    }
    void key(std::uint32_t code, std::uint32_t keys = 0) {
        doc().key_input(layout::key_event::down, code, keys);
        doc().key_input(layout::key_event::up, code, keys);
    }
    void type(std::u16string_view text) {
        for (char16_t c : text) {
            doc().key_input(layout::key_event::character, c, 0);
        }
    }
    // The text of a tag shown in the tag list, by its id.
    std::u16string shown_text(layout::handle element) const {
        return layout::get_inner_text(element).value_or(u"<none>");
    }
    // The ids of the quotes the list shows, top to bottom, built or not.
    std::vector<record_id> shown_quotes() const {
        std::vector<record_id> shown;
        for (std::size_t i = 0; i < layout::row_count(quote_list()); ++i) {
            shown.push_back(record_id(layout::row_key(quote_list(), i).value_or(-1)));
        }
        return shown;
    }
    // The ids of the quote blocks the list holds now, top to bottom.
    std::vector<record_id> held_quotes() const {
        std::vector<record_id> held;
        layout::select_elements(quote_list(), "div.quote", [&](layout::handle e) {
            held.push_back(ids::read(layout::get_attribute(e, "id").value_or(u""), u"q"));
            return false;
        });
        return held;
    }
    std::vector<record_id> search_tags() const {
        std::vector<record_id> bar;
        layout::select_elements(app.view->search_bar(), "div.stag", [&](layout::handle e) {
            bar.push_back(ids::read(layout::get_attribute(e, "id").value_or(u""), u"st"));
            return false;
        });
        return bar;
    }
    std::vector<record_id> marks_of(record_id q) {
        return app.model->store().getQuote(q)->current().m_tags;
    }
    record_id tag_named(std::u16string_view name) {
        auto tags = app.model->store().tags();
        for (bool more = !tags->empty(); more; more = tags->next()) {
            if (fml::utf82wchar(tags->current().m_utfname) == name) {
                return tags->current().m_id;
            }
        }
        return -1;
    }
    record_id add_quote(const std::u16string& text) {
        vcaction action;
        action.what = vcaction::quote_text{text};
        app.controller->send_safely(action);
        return app.model->store().max_quote_id();
    }

    // Takes every quote and tag out of the shipped collection.
    void empty_collection() {
        id_list quotes;
        id_list tags;
        auto q = app.model->store().quotes();
        for (bool more = !q->empty(); more; more = q->next()) {
            quotes.push_back(q->current().m_id);
        }
        auto t = app.model->store().tags();
        for (bool more = !t->empty(); more; more = t->next()) {
            tags.push_back(t->current().m_id);
        }
        app.model->handle(model_events::delete_quotes{quotes});
        app.model->handle(model_events::delete_tags{tags});
    }

    behavior_binder binder;
    app_fixture app;
    behavior_core_scope core;
    memory_clipboard* clip = nullptr;
    fake_window window;
    fake_dialog dialog;
    fake_opener opener;
    services_scope fakes;
    layout::point m_pos{10, 10};
};

}  // namespace hrd::test
