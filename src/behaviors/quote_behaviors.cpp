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

// A quote row's place in time: its stamp as shown ("2026-12-6  9:05:03", which
// sorts by number value), then its id, since quotes stored in the same second
// were stored in the order of their ids.
std::u16string time_key(HELEMENT row) {
    HELEMENT block = layout::nth_child(layout::nth_child(row, 0), 0);
    // The stamp is the last cell of the block's last row; walked to directly, as
    // a selector read for each of many rows costs more than the sort.
    HELEMENT table = layout::nth_child(block, 0);
    HELEMENT cells = layout::nth_child(table, layout::child_count(table) - 1);
    HELEMENT stamp = layout::nth_child(cells, layout::child_count(cells) - 1);
    if (layout::get_attribute(stamp, "class") != std::optional<std::u16string>(u"timestamp")) {
        block = layout::find_first(row, "div.quote");
        stamp = layout::find_first(block, "td.timestamp");
    }
    std::u16string key = layout::get_inner_text(stamp).value_or(u"");
    key += u' ';
    key += layout::get_attribute(block, "id").value_or(u"");
    return key;
}

// The manage-tags menu under `button`, for `quotes`: a tag shows ticked when every
// one of them carries it. The menu keeps the quotes' ids in "qid", space-separated.
void open_manage_menu(HELEMENT button, const std::vector<record_id>& quotes) {
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
    std::string qids;
    for (record_id q : quotes) {
        qids += (qids.empty() ? "" : " ") + std::to_string(q);
    }
    layout::set_attribute_utf8(popup, "qid", qids);
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

std::vector<htmlayout::dom::element> rows_for_menu(HELEMENT entry) {
    HELEMENT table = dom_util::closest_of(layout::parent(entry), "table");
    HELEMENT row = table != nullptr ? htmlayout::cgrid::target_row(table, entry) : nullptr;
    if (row == nullptr) {
        return {};
    }
    if (!dom_util::has_state(row, layout::state::checked)) {
        htmlayout::cgrid::set_current_row(table, row, 0, false);
        htmlayout::cgrid::update_multiselect(table);
    }
    return htmlayout::cgrid::checked_rows(table);
}

bool run_row_menu_action(HELEMENT entry, HELEMENT item) {
    const auto action = layout::get_attribute(item, "action");
    const auto rows = rows_for_menu(entry);
    const std::u16string_view many = action ? hdcontroller::list_form(*action) : u"";
    if (rows.size() > 1 && !many.empty()) {
        behavior_controller().execute_safely(named_action{
            std::u16string(many), element_pair{layout::parent(rows.front()), nullptr}});
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
    const auto rows = htmlayout::cgrid::checked_rows(table);
    if (rows.empty()) {
        return true;
    }
    const element_pair pair{rows.size() == 1 ? layout::find_first(rows.front(), "div") : table,
                            nullptr};
    if (pair.first != nullptr) {
        behavior_controller().execute_safely(named_action{*action, pair});
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
            std::vector<record_id> quotes;
            for (const auto& row : rows_for_menu(block)) {
                if (const auto id = quote_id_of(layout::find_first(row, "div.quote"))) {
                    quotes.push_back(*id);
                }
            }
            HELEMENT button = layout::find_first(block, "button.managetags");
            if (button != nullptr && !quotes.empty()) {
                open_manage_menu(button, quotes);
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
            case htmlayout::ROW_DELETED:
                return delete_row(source);
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
            htmlayout::csortable_grid::sort_rows_by(layout::find_first(he, "table"), time_key,
                                                    action == sort_oldest_first);
            return true;
        }
        return run_list_menu_action(he, item);
    }

    static bool delete_row(HELEMENT row) {
        const auto id = quote_id_of(layout::find_first(row, "div.quote"));
        if (!id) {
            return true;
        }
        // The view takes the row out as the store lets the quote go.
        behavior_model().handle_safely(model_events::delete_quote{*id});
        return true;
    }

    static bool copy_rows(HELEMENT table) {
        id_list quotes;
        for (const auto& row : htmlayout::cgrid::checked_rows(table)) {
            if (const auto id = quote_id_of(layout::find_first(row, "div.quote"))) {
                quotes.push_back(*id);
            }
        }
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
        const std::string qids = layout::get_attribute_utf8(he, "qid").value_or("");
        const auto item_id = layout::get_attribute(source, "id");
        if (qids.empty() || !item_id || !ids::matches(*item_id, ids::menu_item_prefix)) {
            return true;  // not opened for a quote, or not one of its items
        }
        const record_id tag_id = ids::read(*item_id, ids::menu_item_prefix);
        const bool checked = dom_util::has_state(source, layout::state::checked);
        std::size_t start = 0;
        while (start < qids.size()) {
            const std::size_t end = std::min(qids.find(' ', start), qids.size());
            quote_mark mark;
            mark.tag_id = tag_id;
            if (!ids::parse_number(fml::utf82wchar(qids.substr(start, end - start)),
                                   mark.quote_id)) {
                return true;
            }
            start = end + 1;
            // Each quote gets what the tick says; one that is already so is left alone.
            bool carries = false;
            try {
                carries = behavior_model().is_quote_marked(mark.quote_id, mark.tag_id);
            } catch (const fml::exception&) {
                continue;  // the quote or the tag went meanwhile
            }
            if (carries != checked) {
                behavior_model().handle_safely(checked
                                                   ? model_event{model_events::mark_quote{mark}}
                                                   : model_event{model_events::delete_mark{mark}});
            }
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
