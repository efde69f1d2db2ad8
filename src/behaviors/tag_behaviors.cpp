// Tags in the tag list ("vtag"), on quotes ("qtag") and in the search bar
// ("stag"), the tag list block ("taglist": new, renamed and deleted tags) and
// the search bar itself ("searchbar").

#include <string>

#include "behaviors/dom_util.h"
#include "behaviors/grid.h"
#include "behaviors/program_behaviors.h"
#include "controller/controller.h"
#include "model/model.h"
#include "view/ids.h"

namespace hrd {
namespace {

namespace be = layout::behavior_event;
constexpr std::uint32_t mouse_and_events =
    layout::event_group::mouse | layout::event_group::behavior_event;

bool is_main_double_click(std::uint32_t event_type, std::uint32_t buttons) {
    return event_type == layout::mouse_event::double_click && buttons == layout::mouse_button::main;
}

void execute_on(const char16_t* action, HELEMENT element) {
    behavior_controller().execute_safely(named_action{action, element_pair{element, nullptr}});
}

// The id of a stored tag's entry; nullopt for a row still being typed.
std::optional<record_id> tag_id_of(HELEMENT entry) {
    const auto id = layout::get_attribute(entry, "id");
    if (!id || !ids::matches(*id, ids::tag_entry_prefix)) {
        return std::nullopt;
    }
    return ids::read(*id, ids::tag_entry_prefix);
}

bool is_blank(std::u16string_view text) {
    return text.find_first_not_of(u" \t\r\n\u00A0") == std::u16string_view::npos;
}

}  // namespace

// ---- "vtag" ----------------------------------------------------------------

class behavior_vtag : public behavior {
public:
    behavior_vtag() : behavior(mouse_and_events, "vtag") {}

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        if (dom_util::has_attribute(he, "editing") || dom_util::has_attribute(he, "old_value")) {
            return false;  // a name being typed: the pointer selects text, it drags nothing
        }
        if (drag_hook(he, target, event_type, pt, buttons, keys)) {
            return true;
        }
        if (is_main_double_click(event_type, buttons) && tag_id_of(he)) {
            execute_on(u"add_search_tag", he);
            return true;
        }
        return false;
    }

    bool handle_event(HELEMENT he, const layout::behavior_event_params& p) override {
        if (p.cmd != be::menu_item_click) {
            return false;
        }
        return run_row_menu_action(p.target != nullptr ? p.target : he, p.source);
    }
};

// ---- "qtag" ----------------------------------------------------------------

class behavior_qtag : public behavior {
public:
    behavior_qtag() : behavior(layout::event_group::mouse, "qtag") {}
};

// ---- "taglist" -------------------------------------------------------------

class addtag : public behavior {
public:
    // Mouse too: the block is a drop target (a search tag dragged back to it).
    addtag() : behavior(mouse_and_events, "taglist") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        switch (code) {
            case be::button_click:
                if (layout::element_type(source) != "button") {
                    return false;
                }
                htmlayout::ceditable_grid::start_new_row(layout::find_first(he, "table"));
                return true;
            case be::menu_item_click:
                return run_list_menu_action(he, source);
            case htmlayout::ROW_ADDED:
                return row_added(source);
            case htmlayout::ROW_EDITED:
                return row_edited(source);
            case htmlayout::ROW_DELETED:
                return row_deleted(source);
            default:
                return false;
        }
    }

private:
    static bool row_added(HELEMENT row) {
        if (layout::parent(row) == nullptr) {
            return true;  // the row went away before its name was stored
        }
        HELEMENT entry = layout::find_first(row, "div");
        const std::u16string name = layout::get_inner_text(entry).value_or(u"");
        if (entry == nullptr || is_blank(name) || tag_id_of(entry)) {
            HELEMENT table = layout::parent(row);
            if (!tag_id_of(entry)) {
                layout::delete_element(row);
            }
            layout::update_element(table, false);
            return false;
        }
        // The view gives the row its id once the store has the tag (or drops the
        // row when the name is taken).
        layout::set_attribute(row, "new_tr", std::u16string_view());
        behavior_model().handle_safely(model_events::add_tag{name});
        return true;
    }

    static bool row_edited(HELEMENT row) {
        HELEMENT entry = layout::find_first(row, "div");
        const auto id = tag_id_of(entry);
        if (!id || layout::parent(row) == nullptr) {
            return true;
        }
        const tag_rename rename{*id, layout::get_inner_text(entry).value_or(u"")};
        // A name another tag has is refused by the store; the view then shows
        // the name the tag kept.
        behavior_model().handle_safely(model_events::rename_tag{rename});
        return true;
    }

    static bool row_deleted(HELEMENT row) {
        HELEMENT entry = layout::find_first(row, "div");
        if (const auto id = tag_id_of(entry)) {
            behavior_model().handle_safely(model_events::delete_tag{*id});
        } else {
            layout::delete_element(row);
        }
        return true;
    }
};

// ---- "searchbar" and "stag" ------------------------------------------------

class behavior_searchbar : public behavior {
public:
    behavior_searchbar() : behavior(mouse_and_events, "searchbar") {}

    bool handle_event(HELEMENT he, const layout::behavior_event_params& p) override {
        if (p.cmd != be::menu_item_click) {
            return false;
        }
        return run_menu_action(he, p.source);
    }
};

class behavior_stag : public behavior {
public:
    behavior_stag() : behavior(layout::event_group::mouse, "stag") {}

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        if (drag_hook(he, target, event_type, pt, buttons, keys)) {
            return true;
        }
        if (is_main_double_click(event_type, buttons)) {
            execute_on(u"delete_search_tag", he);
            return true;
        }
        return false;
    }
};

namespace {
behavior_vtag vtag_instance;
behavior_qtag qtag_instance;
addtag addtag_instance;
behavior_searchbar searchbar_instance;
behavior_stag stag_instance;
}  // namespace

void link_tag_behaviors() {}

}  // namespace hrd
