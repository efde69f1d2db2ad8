// In-place editing of the tag table. The edit lives in attributes:
//   table "editable"  while a cell is being edited (the engine then takes typing);
//   table "action"    "add-new" for a typed new tag, "edit" for a rename;
//   entry "editing"   on the edited tag element, so the commit reaches the row
//                     the edit started on whatever row is current by then;
//   entry "old_value" the name before a rename, put back by a cancel;
//   entry "all-selected" while the old name shows selected (typing replaces it).
// A rename is started by the view (the tag menu's "Rename" and F2 both ask the
// controller for it); a new tag row is started here.

#include <string>

#include "behaviors/dom_util.h"
#include "behaviors/grid.h"
#include "controller/controller.h"
#include "model/model.h"
#include "view/fragments.h"
#include "view/ids.h"

namespace htmlayout {
namespace {

namespace st = layout::state;
using hrd::dom_util::clear_flag;
using hrd::dom_util::has_attribute;
using hrd::dom_util::set_flag;

// Ends the edit state of the table, whatever it was.
void clear_edit_state(HELEMENT table) {
    clear_flag(table, "editable");
    clear_flag(table, "start_editing");
    clear_flag(table, "action");
}

// Gives the keyboard back to the table once the editor closes.
void focus_table(HELEMENT table) {
    layout::set_state(table, st::focus, 0, true);
}

bool is_blank(std::u16string_view text) {
    return text.find_first_not_of(u" \t\r\n\u00A0") == std::u16string_view::npos;
}

// The words beside a name the list will not take, or nothing when it would take
// it: a name is needed, and no other tag may have it already.
std::optional<std::u16string> refusal_of(HELEMENT entry, std::u16string_view name) {
    if (is_blank(name)) {
        return u"A tag needs a name";
    }
    const auto id = layout::get_attribute(entry, "id");
    const hrd::record_id own = id && hrd::ids::matches(*id, hrd::ids::tag_entry_prefix)
                                   ? hrd::ids::read(*id, hrd::ids::tag_entry_prefix)
                                   : -1;
    if (hrd::behavior_model().tag_name_taken(name, own)) {
        return u"A tag named \"" + std::u16string(name) + u"\" already exists";
    }
    return std::nullopt;
}

// The refusal shown beside the edited name, if any.
HELEMENT refusal_shown(HELEMENT table) {
    return layout::find_first(table, "div.refusal");
}

void clear_refusal(HELEMENT table) {
    if (HELEMENT shown = refusal_shown(table)) {
        HELEMENT cell = layout::parent(shown);
        layout::delete_element(shown);
        layout::update_element(cell, true);
    }
}

void show_refusal(HELEMENT table, HELEMENT entry, const std::u16string& words) {
    clear_refusal(table);
    HELEMENT cell = layout::parent(entry);
    layout::set_html(cell, "<div class=\"refusal\" role=\"alert\"></div>",
                     layout::html_place::append);
    layout::set_inner_text(refusal_shown(table), words);
    layout::update_element(cell, true);
}

}  // namespace

ceditable_grid::ceditable_grid() : cgrid(grid_groups, "ceditable_grid") {}

HELEMENT ceditable_grid::edited_entry(HELEMENT table) {
    if (!has_attribute(table, "editable")) {
        return nullptr;
    }
    return layout::find_first(table, "div[editing]");
}

void ceditable_grid::start_new_row(HELEMENT table) {
    if (edited_entry(table) != nullptr) {
        commit(table, false);
    }
    layout::uncheck_all_rows(table);
    layout::set_current_row(table, std::nullopt);
    layout::set_html(table, hrd::fragments::fresh_tag_row, layout::html_place::insert_at_start);
    HELEMENT row = layout::nth_child(table, 0);
    HELEMENT entry = layout::find_first(row, "div");
    set_flag(entry, "editing");
    set_flag(table, "editable");
    layout::set_attribute_utf8(table, "action", "add-new");
    layout::set_state(row, st::current, 0, true);
    layout::set_state(entry, st::focus, 0, true);
    layout::scroll_to_view(row, true, false);
    layout::update_element(table, true);
}

bool ceditable_grid::start_rename(HELEMENT table, HELEMENT row) {
    (void)table;
    HELEMENT entry = layout::find_first(row, "div");
    if (entry == nullptr || !layout::get_attribute(entry, "id")) {
        return false;  // no tag here, or one not yet stored
    }
    // The same way in as the tag menu's "Rename": whatever starts a rename,
    // the user meets the same editor.
    hrd::behavior_controller().execute_safely(
        hrd::named_action{u"rename_vtag", hrd::element_pair{entry, nullptr}});
    return true;
}

bool ceditable_grid::commit_typed(HELEMENT table) {
    HELEMENT entry = edited_entry(table);
    if (entry == nullptr) {
        return false;
    }
    const std::u16string text = layout::get_inner_text(entry).value_or(u"");
    const auto old_value = layout::get_attribute(entry, "old_value");
    // A rename left as it was is no rename, whatever the name.
    if (!(old_value && text == *old_value)) {
        if (const auto refusal = refusal_of(entry, text)) {
            show_refusal(table, entry, *refusal);
            return false;  // the editor stays open: the user fixes the name or leaves
        }
    }
    commit(table, true);
    return true;
}

void ceditable_grid::commit(HELEMENT table, bool refocus) {
    clear_refusal(table);
    dom::element entry(edited_entry(table));
    const std::string action = layout::get_attribute_utf8(table, "action").value_or("");
    clear_edit_state(table);
    if (!entry.is_valid()) {
        return;
    }
    dom::element row(target_row(table, entry));
    const auto old_value = layout::get_attribute(entry, "old_value");
    clear_flag(entry, "editing");
    clear_flag(entry, "all-selected");
    clear_flag(entry, "old_value");
    if (refocus) {
        layout::set_state(entry, 0, st::focus, true);
        focus_table(table);
    }
    const std::u16string text = layout::get_inner_text(entry).value_or(u"");
    if (action == "add-new" || !old_value) {
        // The list adds the tag, or drops the row when nothing was typed.
        layout::post_event(table, ROW_ADDED, row, std::uint32_t(layout::index_of(row)));
    } else if (is_blank(text)) {
        // An emptied name is no name: the rename is cancelled.
        layout::set_inner_text(entry, *old_value);
    } else if (text != *old_value) {
        layout::post_event(table, ROW_EDITED, row, std::uint32_t(layout::index_of(row)));
    }
    layout::update_element(table, true);
}

void ceditable_grid::cancel(HELEMENT table) {
    clear_refusal(table);
    dom::element entry(edited_entry(table));
    clear_edit_state(table);
    if (!entry.is_valid()) {
        return;
    }
    const auto old_value = layout::get_attribute(entry, "old_value");
    clear_flag(entry, "editing");
    clear_flag(entry, "all-selected");
    clear_flag(entry, "old_value");
    if (old_value) {
        layout::set_inner_text(entry, *old_value);
        layout::set_state(entry, 0, st::focus, false);
        focus_table(table);
        layout::update_element(entry, true);
    } else {
        layout::delete_element(target_row(table, entry));
        focus_table(table);
        layout::update_element(table, true);
    }
}

bool ceditable_grid::on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type,
                            std::uint32_t key, std::uint32_t keys) {
    // Editing the refused name takes its refusal away.
    const bool edits =
        event_type == layout::key_event::character ||
        (event_type == layout::key_event::down && key == layout::key_code::backspace);
    if (edits && has_attribute(table, "editable")) {
        clear_refusal(table);
    }
    if (event_type != layout::key_event::down) {
        return false;
    }
    if (has_attribute(table, "editable")) {
        if (edited_entry(table) == nullptr) {
            // The edited row went away (its tag was deleted meanwhile).
            clear_edit_state(table);
        } else {
            // While a row is edited every key belongs to the editor: Delete, the
            // arrows and F2 must not act on the rows around it.
            switch (key) {
                case layout::key_code::enter:
                    commit_typed(table);
                    return true;
                case layout::key_code::escape:
                    cancel(table);
                    return true;
                case vk::f2:
                case vk::del:
                    return true;
                default:
                    return false;  // typing goes to the engine's in-place editor
            }
        }
    }
    switch (key) {
        case vk::f2:
            if (HELEMENT row = current_row(table)) {
                return start_rename(table, row);
            }
            return false;
        case vk::del:
            if ((keys & (layout::key_state::control | layout::key_state::alt)) != 0) {
                return false;
            }
            return delete_checked_rows(table, keys);
        default:
            return cgrid::on_key(table, target, event_type, key, keys);
    }
}

bool ceditable_grid::on_focus(HELEMENT table, HELEMENT target, std::uint32_t event_type) {
    // The editor losing the focus (a click elsewhere) commits what was typed.
    // The sinking copy reaches the table before anything below it reacts.
    if (event_type == (layout::focus_event::lost | layout::sinking)) {
        HELEMENT entry = edited_entry(table);
        if (entry != nullptr && target == entry) {
            commit(table, false);  // the focus goes where the user sent it
            return false;
        }
    }
    if ((event_type & layout::sinking) == 0) {
        cgrid::on_focus(table, target, event_type);
    }
    return false;
}

}  // namespace htmlayout
