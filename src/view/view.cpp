#include "view/view.h"

#include <algorithm>
#include <memory>
#include <ostream>
#include <variant>
#include <vector>

#include "fml/log.h"
#include "fml/overloaded.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "model/collection_store.h"
#include "platform/services.h"
#include "view/ids.h"

namespace hrd {
namespace {

using element = layout::handle;
using layout::html_place;

// The element with this id below `scope`, through the document's id index.
element find_id(element scope, const std::string& id) {
    return layout::find_first(scope, "[id='" + id + "']");
}

layout::document& main_document() {
    main_window* window = services().window;
    if (window == nullptr) {
        throw view_init_error("The view has no main window to show the collection in");
    }
    return window->document();
}

}  // namespace

hdview::hdview() : hdview(main_document()) {}

hdview::hdview(layout::document& doc) : m_document(doc), m_root(doc.root()) {
    // A list that is missing would make every later update do nothing without a
    // word, so a document without one is refused at once.
    auto find_list = [this](const char* what, const char* id) {
        fml::app_line(std::string(what) + "::init ");
        element found = find_id(m_root, id);
        if (found == nullptr) {
            fml::app_line(std::string("failed: the document has no element with id \"") + id +
                          "\".");
            throw view_init_error(std::string("The main document has no \"") + id + "\" element");
        }
        fml::app_line("successfull.");
        return found;
    };
    m_tag_list = find_list("taglist", "taglist");
    m_quote_list = find_list("thequotelist", "thequotelist");
    m_search_bar = find_list("searchbar", "p-searchbar");
    m_manage_menu = find_list("manage-tags", "manage-tags");
}

hdview::~hdview() {
    // The work fills this view's list: it stops before the lists are let go.
    m_document.cancel_background_work();
}

void hdview::handle(const view_event& event) {
    namespace vev = view_events;
    if (!std::holds_alternative<vev::update_quotes>(event)) {
        m_document.finish_background_work();  // every change meets the whole list
    }
    std::visit(fml::overloaded{
                   [this](const vev::add_quote& e) { add_quote(e.added); },
                   [this](const vev::delete_quote& e) { delete_quote(e.quote_id); },
                   [this](const vev::add_tag_id& e) { add_tag_id(e.tag_id); },
                   [this](const vev::delete_tag& e) { delete_tag(e.tag_id); },
                   [this](const vev::delete_wrong_tag&) { delete_wrong_tag(); },
                   [this](const vev::start_tag_edit& e) { start_tag_edit(e.entry); },
                   [this](const vev::end_tag_edit& e) { end_tag_edit(e.entry); },
                   [this](const vev::rename_tag& e) { rename_tag(e.rename); },
                   [this](const vev::add_quote_tag& e) { add_quote_tag(e); },
                   [this](const vev::delete_quote_tag& e) { delete_quote_tag(e.mark); },
                   [this](const vev::add_search_tag& e) { add_search_tag(e.added); },
                   [this](const vev::delete_search_tag& e) { delete_search_tag(e.tag_id); },
                   [this](const vev::update_quotes& e) { update_quotes(e); },
                   [this](const vev::rename_search_tag& e) { rename_search_tag(e.rename); },
                   [this](const vev::update_tags& e) { update_tags(e.tags); },
                   [this](const vev::refresh_quotes&) { refresh_quotes(); },
                   [this](const vev::clear_search_tags&) { clear_search_tags(); },
                   [this](const vev::rename_quote_tags& e) { rename_quote_tags(e); },
                   [this](const vev::search_mode& e) { show_search_mode(e.mode); },
               },
               event);
}

element hdview::find_quote_block(record_id id) const {
    return find_id(m_quote_list, ids::quote(id));
}

// The cell of the block that shows the quote's tags.
element hdview::links_cell(element block) const {
    return layout::find_first(block, "td.links");
}

element hdview::fresh_tag_row(const char* for_event) const {
    element row = layout::find_first(m_tag_list, "tr[new_tr]");
    if (row == nullptr) {
        throw cannot_find_fresh_tr(for_event);
    }
    return row;
}

void hdview::add_quote(const quote& q) {
    // One parse of one row, put before the first: the list itself is not walked.
    layout::set_html(m_quote_list, fragments::table_row(fragments::quote_block(q, nullptr)),
                     html_place::insert_at_start);
    layout::update_element(m_quote_list, true);
}

void hdview::delete_quote(record_id id) {
    element found = find_quote_block(id);
    if (found == nullptr) {
        return;  // filtered out by the search: nothing shown to remove
    }
    if (layout::element_type(found) == "div") {
        found = layout::closest(found, "tr");  // the list's row holding the block
    }
    layout::delete_element(found);
}

void hdview::add_tag_id(record_id id) {
    element row = fresh_tag_row("vadd_tag_id");
    element entry = layout::find_first(row, "div");
    layout::set_attribute_utf8(entry, "id", ids::tag_entry(id));
    layout::update_element(entry, false);
    const tag added(id, layout::get_inner_text(entry).value_or(u""));
    layout::set_html(m_manage_menu, fragments::menu_item(added), html_place::insert_at_start);
}

void hdview::delete_tag(record_id id) {
    if (element entry = find_id(m_tag_list, ids::tag_entry(id))) {
        layout::delete_element(layout::closest(entry, "tr"));
        layout::update_element(m_tag_list, true);
    }
    if (element item = find_id(m_manage_menu, ids::menu_item(id))) {
        layout::delete_element(item);
    }
}

void hdview::delete_wrong_tag() {
    layout::delete_element(fresh_tag_row("vdelete_wrong_tag"));
    layout::update_element(m_tag_list, true);
}

void hdview::start_tag_edit(element entry) {
    element row = layout::closest(entry, "tr");
    element table = layout::closest(row, "table");
    if (table == nullptr) {
        return;
    }
    layout::set_attribute_utf8(table, "editable", "");
    layout::set_attribute_utf8(table, "action", "edit");
    layout::set_attribute_utf8(table, "start_editing", "");
    if (layout::get_state(table) & layout::state::focus) {
        layout::set_state(table, 0, layout::state::focus, false);
        layout::update_element(table, false);
    }
    // The entry that was asked for is edited, whichever row was current before.
    if (element current = layout::find_first(table, "tr:current");
        current != nullptr && current != row) {
        layout::set_state(current, 0, layout::state::current, false);
    }
    layout::set_state(row, layout::state::current, 0, true);
    // The old name shows selected with no caret after it: typing replaces it,
    // End or an arrow keeps it (the table's editor reads these marks).
    layout::set_attribute_utf8(entry, "editing", "");
    layout::set_attribute_utf8(entry, "all-selected", "");
    layout::set_state(entry, layout::state::focus, 0, true);
    layout::set_attribute(entry, "old_value", layout::get_inner_text(entry).value_or(u""));
    layout::update_element(entry, true);
    layout::update_element(table, true);
}

void hdview::end_tag_edit(element entry) {
    layout::set_attribute(entry, "editable", std::nullopt);
    layout::update_element(entry, true);
}

void hdview::rename_tag(const tag_rename& rename) {
    if (element entry = find_id(m_tag_list, ids::tag_entry(rename.id))) {
        layout::set_inner_text(entry, rename.name);
        layout::update_element(entry, true);
    }
    if (element item = find_id(m_manage_menu, ids::menu_item(rename.id))) {
        layout::set_inner_text(item, rename.name);
    }
}

void hdview::add_quote_tag(const view_events::add_quote_tag& added) {
    element cell = links_cell(find_quote_block(added.quote_id));
    if (cell == nullptr || added.added == nullptr) {
        return;
    }
    layout::set_html(cell, fragments::quote_tag(*added.added, added.quote_id), html_place::append);
    layout::update_element(cell, true);
}

void hdview::delete_quote_tag(const quote_mark& mark) {
    element block = find_quote_block(mark.quote_id);
    element cell = links_cell(block);
    if (cell == nullptr) {
        return;
    }
    if (element shown = find_id(cell, ids::quote_tag(mark.quote_id, mark.tag_id))) {
        layout::delete_element(shown);
    }
    layout::update_element(layout::child_count(cell) > 0 ? cell : block, true);
}

void hdview::add_search_tag(const tag& t) {
    if (layout::get_attribute(m_search_bar, "is_empty")) {
        layout::set_inner_text(m_search_bar, u"");
        layout::set_attribute(m_search_bar, "is_empty", std::nullopt);
    }
    layout::set_html(m_search_bar, fragments::search_tag(t), html_place::append);
    layout::update_element(m_search_bar, true);
}

void hdview::delete_search_tag(record_id id) {
    element shown = nullptr;
    layout::for_each_child(m_search_bar, [&](element child) {
        const std::u16string child_id = layout::get_attribute(child, "id").value_or(u"");
        // The caption has no id; only search tags are read.
        if (!ids::matches(child_id, ids::search_tag_prefix) ||
            ids::read(child_id, ids::search_tag_prefix) != id) {
            return false;  // next child
        }
        shown = child;
        return true;  // found: the tree changes after the walk
    });
    if (shown == nullptr) {
        return;
    }
    layout::delete_element(shown);
    if (layout::child_count(m_search_bar) == 0) {
        set_search_empty();
    }
    layout::update_element(m_search_bar, true);
}

// Rows put in at once when a list is built: more than any screen shows, so the
// window is full at once; the rest follows in slices between other work.
namespace {
constexpr std::size_t first_screen_rows = 1000;
constexpr std::size_t rows_per_slice = 2000;

void append_row(std::string& out, const quote& q, const tag_lookup& tags) {
    out += "<tr><td>";
    fragments::append_quote_block(out, q, tags);
    out += "</td></tr>";
}
}  // namespace

void hdview::update_quotes(const view_events::update_quotes& quotes) {
    fml::app_line("vupdate_quotes");
    m_document.cancel_background_work();  // a list still filling is replaced whole
    // The last record ends on top, as if each had been inserted at the start in turn.
    auto pending = std::make_shared<pending_rows>();
    std::vector<quote>& all = pending->quotes;
    if (quotes.quotes != nullptr) {
        for (bool more = !quotes.quotes->empty(); more; more = quotes.quotes->next()) {
            all.push_back(quotes.quotes->current());
        }
    }
    std::reverse(all.begin(), all.end());
    // The first screen replaces the list in one piece; a long list's far end is
    // appended in slices, and finished before anything else touches the view.
    const std::size_t first = std::min(all.size(), first_screen_rows);
    std::string markup;
    for (std::size_t i = 0; i < first; ++i) {
        append_row(markup, all[i], quotes.tags);
    }
    pending->next = first;
    layout::set_html(m_quote_list, markup, html_place::replace_content);
    layout::update_element(m_quote_list, true);
    if (first == all.size()) {
        fml::app_line("vupdate_quotes complete");
        return;
    }
    for (std::size_t i = first; i < all.size(); ++i) {
        for (record_id t : all[i].m_tags) {
            if (pending->tags.count(t) == 0) {
                if (const tag* found = quotes.tags ? quotes.tags(t) : nullptr) {
                    pending->tags.emplace(t, *found);
                }
            }
        }
    }
    m_document.set_background_work([this, pending] { return fill_quote_rows(*pending); });
}

bool hdview::fill_quote_rows(pending_rows& pending) {
    const tag_lookup names = [&pending](record_id id) -> const tag* {
        auto it = pending.tags.find(id);
        return it == pending.tags.end() ? nullptr : &it->second;
    };
    std::string markup;
    const std::size_t end = std::min(pending.quotes.size(), pending.next + rows_per_slice);
    for (; pending.next < end; ++pending.next) {
        append_row(markup, pending.quotes[pending.next], names);
        std::string().swap(pending.quotes[pending.next].m_utftext);  // done with it
    }
    layout::set_html(m_quote_list, markup, html_place::append);
    if (pending.next < pending.quotes.size()) {
        return true;
    }
    fml::app_line("vupdate_quotes complete");
    return false;
}

void hdview::show_search_mode(int mode) {
    // The buttons are the document's to have or not: without them nothing shows it.
    const auto mark = [this](const char* id, bool on) {
        if (element button = find_id(m_root, id)) {
            const std::uint32_t checked = layout::state::checked;
            layout::set_state(button, on ? checked : 0, on ? 0 : checked, false);
            layout::set_attribute_utf8(button, "aria-pressed", on ? "true" : "false");
        }
    };
    mark("mode-and", mode == search_mode_and);
    mark("mode-or", mode == search_mode_or);
}

void hdview::rename_search_tag(const tag_rename& rename) {
    if (element shown = find_id(m_search_bar, ids::search_tag(rename.id))) {
        layout::set_inner_text(shown, rename.name);
        layout::update_element(shown, true);
    }
}

void hdview::rename_quote_tags(const view_events::rename_quote_tags& renamed) {
    for (record_id q : renamed.quotes) {
        if (element shown = find_id(m_quote_list, ids::quote_tag(q, renamed.tag_id))) {
            layout::set_inner_text(shown, renamed.name);
            layout::update_element(shown, true);
        }
    }
}

void hdview::update_tags(tag_cursor& tags) {
    fml::app_line("vupdate_tags");
    std::vector<std::string> rows;
    std::vector<std::string> items;
    for (bool more = !tags.empty(); more; more = tags.next()) {
        rows.push_back(fragments::table_row(fragments::tag_entry(tags.current())));
        items.push_back(fragments::menu_item(tags.current()));
    }
    std::string row_markup;
    std::string item_markup;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        row_markup += *it;
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        item_markup += *it;
    layout::set_html(m_tag_list, row_markup, html_place::replace_content);
    layout::set_html(m_manage_menu, item_markup, html_place::replace_content);
    layout::update_element(m_tag_list, true);
    fml::app_line("vupdate_tags complete");
}

void hdview::refresh_quotes() {
    fml::app_line("vrefresh_quotes");
    layout::update_element(m_quote_list, true);
    fml::app_line("vrefresh_quotes complete");
}

void hdview::clear_search_tags() {
    layout::set_inner_text(m_search_bar, u"");
    set_search_empty();
    layout::update_element(m_search_bar, true);
}

void hdview::set_search_empty() {
    layout::set_attribute(m_search_bar, "is_empty", u"");
    layout::set_html(m_search_bar, fragments::search_caption, html_place::replace_content);
}

}  // namespace hrd
