// The quote list: a quote's drag handling and menu, the list's menu, deletion
// and copying of the selected rows, and the manage-tags pop-up.

#include <algorithm>
#include <string>
#include <vector>

#include "behaviors/dom_util.h"
#include "behaviors/grid.h"
#include "behaviors/program_behaviors.h"
#include "controller/controller.h"
#include "fml/log.h"
#include "fml/text.h"
#include "model/model.h"
#include "view/ids.h"

namespace hrd {
namespace {

namespace be = layout::behavior_event;
constexpr std::uint32_t mouse_and_events =
    layout::event_group::mouse | layout::event_group::behavior_event;

bool is_bubbling(std::uint32_t code) {
    return (code & layout::sinking) == 0;
}

// The quote block an element belongs to: the nearest div with class "quote".
HELEMENT quote_block_of(HELEMENT he) {
    return dom_util::closest_of(he, "div", u"quote");
}

std::optional<record_id> quote_id_of(HELEMENT block) {
    const auto id = layout::get_attribute(block, "id");
    record_id number = 0;
    if (!id || !ids::matches(*id, ids::quote_prefix)) {
        return std::nullopt;
    }
    number = ids::read(*id, ids::quote_prefix);
    return number;
}

// The quote list's menu items that reorder the rows shown; everything else is
// an action of the controller.
constexpr std::u16string_view sort_oldest_first = u"sort_quotes_oldest_first";
constexpr std::u16string_view sort_newest_first = u"sort_quotes_newest_first";

// The quotes the manage-tags menu was last opened for: a selection may hold a
// million of them, so they stay here rather than in an attribute of the menu.
std::vector<record_id>& menu_quotes() {
    static std::vector<record_id> quotes;
    return quotes;
}

// The manage-tags menu under `button`, for `quotes`: a tag shows ticked when every
// one of them carries it.
void open_manage_menu(HELEMENT button, std::vector<record_id> quotes) {
    HELEMENT popup = layout::find_first(layout::root_of(button), "#manage-tags");
    if (popup == nullptr || quotes.empty()) {
        return;
    }
    std::optional<std::vector<record_id>> carried;
    try {
        carried = behavior_model().tags_on_all(quotes);
    } catch (const fml::exception& e) {
        if (fml::haslog("app")) {
            fml::getlog("app") << "Error: " << e.what() << std::endl;
        }
        return;  // a quote is gone: no menu for it
    }
    if (!carried) {
        return;
    }
    layout::select_elements(popup, "li:checked", [](HELEMENT item) {
        layout::set_state(item, 0, layout::state::checked, false);
        return false;
    });
    for (record_id t : *carried) {
        HELEMENT item = layout::find_first(popup, "[id='" + ids::menu_item(t) + "']");
        layout::set_state(item, layout::state::checked, 0, true);
    }
    menu_quotes() = std::move(quotes);
    layout::show_popup(popup, button, 2);
    layout::set_state(layout::nth_child(popup, 0), layout::state::focus, 0, true);
}

}  // namespace

bool run_menu_action(HELEMENT owner, HELEMENT item) {
    const auto action = layout::get_attribute(item, "action");
    if (!action) {
        return true;  // an item that names nothing does nothing
    }
    behavior_controller().execute_safely(named_action{*action, element_pair{owner, nullptr}});
    return true;
}

HELEMENT select_for_menu(HELEMENT entry) {
    HELEMENT table = dom_util::closest_of(layout::parent(entry), "table");
    HELEMENT row = table != nullptr ? htmlayout::cgrid::target_row(table, entry) : nullptr;
    const auto index = layout::row_index(table, row);
    if (!index) {
        return nullptr;
    }
    if (!layout::is_row_checked(table, *index)) {
        htmlayout::cgrid::select_row(table, *index, 0, false);
        htmlayout::cgrid::update_multiselect(table);
    }
    return table;
}

bool run_row_menu_action(HELEMENT entry, HELEMENT item) {
    const auto action = layout::get_attribute(item, "action");
    HELEMENT table = select_for_menu(entry);
    const std::u16string_view many = action ? hdcontroller::list_form(*action) : u"";
    if (table != nullptr && htmlayout::cgrid::checked_count(table) > 1 && !many.empty()) {
        behavior_controller().execute_safely(
            named_action{std::u16string(many), element_pair{table, nullptr}});
        return true;
    }
    return run_menu_action(entry, item);
}

bool run_list_menu_action(HELEMENT block, HELEMENT item) {
    const auto action = layout::get_attribute(item, "action");
    if (!action) {
        return false;
    }
    HELEMENT table = layout::find_first(block, "table");
    // The rows checked now, header rows never: a stale "multiselect" or a
    // lone current row must not decide what a Delete removes.
    if (table != nullptr && htmlayout::cgrid::checked_count(table) > 0) {
        behavior_controller().execute_safely(named_action{*action, element_pair{table, nullptr}});
    }
    return true;
}

// ---- "quote" ---------------------------------------------------------------

class behavior_quote : public behavior {
public:
    behavior_quote() : behavior(mouse_and_events, "quote") {}

    bool handle_event(HELEMENT he, const layout::behavior_event_params& p) override {
        if (p.cmd != be::menu_item_click) {
            return false;
        }
        HELEMENT block = p.target != nullptr ? p.target : he;
        // "Tags..." opens the manage-tags menu under the quote's button, for the
        // selected quotes, so tags can be ticked from the keyboard too.
        if (layout::get_attribute(p.source, "action") ==
            std::optional<std::u16string>(u"manage_tags")) {
            HELEMENT table = select_for_menu(block);
            HELEMENT button = layout::find_first(block, "button.managetags");
            if (table != nullptr && button != nullptr) {
                open_manage_menu(button, hdcontroller::checked_quotes(table));
            }
            return true;
        }
        return run_row_menu_action(block, p.source);
    }
};

// ---- "quotelist" -----------------------------------------------------------

class behavior_quotelist : public behavior {
public:
    // The list block takes drops itself (a quote's tag dragged off onto it).
    behavior_quotelist() : behavior(mouse_and_events, "quotelist") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (!is_bubbling(code)) {
            return false;
        }
        switch (code) {
            case be::menu_item_click:
                return menu_item(he, source);
            case htmlayout::ROWS_DELETE:
                return delete_rows(source);
            case htmlayout::ROWS_COPY:
                return copy_rows(source);
            default:
                return false;
        }
    }

private:
    static bool menu_item(HELEMENT he, HELEMENT item) {
        const auto action = layout::get_attribute(item, "action");
        if (action == sort_oldest_first || action == sort_newest_first) {
            behavior_model().handle_safely(
                model_events::sort_quotes{action == sort_oldest_first});
            return true;
        }
        return run_list_menu_action(he, item);
    }

    // All at once, in one commit: a selection of thousands goes as one.
    static bool delete_rows(HELEMENT table) {
        id_list quotes = hdcontroller::checked_quotes(table);
        if (!quotes.empty()) {
            behavior_model().handle_safely(model_events::delete_quotes{std::move(quotes)});
        }
        return true;
    }

    static bool copy_rows(HELEMENT table) {
        id_list quotes = hdcontroller::checked_quotes(table);
        if (quotes.empty()) {
            return false;
        }
        behavior_model().handle_safely(model_events::copy_quotes{std::move(quotes)});
        return true;
    }
};

// ---- "managetags" and "manage-menu" ----------------------------------------

class behavior_managetags : public behavior {
public:
    behavior_managetags() : behavior(mouse_and_events, "managetags") {}

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        (void)target, (void)pt, (void)buttons, (void)keys;
        switch (event_type) {
            case layout::mouse_event::up:
                return true;
            case layout::mouse_event::down:
                open_popup(he);
                return true;
            default:
                return false;
        }
    }

    // Keyboard users open it like a button: Enter or Space.
    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (code == be::button_click && source == he) {
            open_popup(he);
            return true;
        }
        return false;
    }

private:
    static void open_popup(HELEMENT button) {
        if (const auto quote_id = quote_id_of(quote_block_of(button))) {
            open_manage_menu(button, {*quote_id});
        }
    }
};

class behavior_mmenu : public behavior {
public:
    behavior_mmenu() : behavior(layout::event_group::behavior_event, "manage-menu") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (code != be::button_state_changed) {
            return false;
        }
        (void)he;
        const std::vector<record_id>& quotes = menu_quotes();
        const auto item_id = layout::get_attribute(source, "id");
        if (quotes.empty() || !item_id || !ids::matches(*item_id, ids::menu_item_prefix)) {
            return true;  // not opened for a quote, or not one of its items
        }
        const record_id tag_id = ids::read(*item_id, ids::menu_item_prefix);
        // Every quote gets what the tick says, in one step; those already so are
        // left alone.
        if (dom_util::has_state(source, layout::state::checked)) {
            behavior_model().handle_safely(model_events::mark_quotes{quotes, tag_id});
        } else {
            behavior_model().handle_safely(model_events::delete_marks{quotes, tag_id});
        }
        return true;
    }
};

// ---- "recycled" ------------------------------------------------------------

class behavior_recycled : public behavior {
public:
    behavior_recycled() : behavior(layout::event_group::mouse, "recycled") {}
};

namespace {
behavior_quote quote_instance;
behavior_quotelist quotelist_instance;
behavior_managetags managetags_instance;
behavior_mmenu mmenu_instance;
behavior_recycled recycled_instance;
}  // namespace

void link_quote_behaviors() {}

}  // namespace hrd
