#include "view/view.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>
#include <ostream>
#include <variant>
#include <vector>

#include "fml/log.h"
#include "fml/overloaded.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "model/collection_store.h"
#include "model/text_fold.h"
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
    layout::set_row_source(m_quote_list, &m_rows);
}

hdview::~hdview() {
    // The list reads its rows from here: it lets go before the rows do.
    layout::set_row_source(m_quote_list, nullptr);
}

void hdview::handle(const view_event& event) {
    namespace vev = view_events;
    std::visit(fml::overloaded{
                   [this](const vev::add_quote& e) { add_quote(e.added); },
                   [this](const vev::delete_quotes& e) { delete_quotes(e.quote_ids); },
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
                   [this](const vev::sort_quotes& e) { sort_quotes(e.oldest_first); },
                   [this](const vev::search_text& e) { show_search_text(e.text); },
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
    // A new quote goes on top; its row is built only when the list shows the top.
    m_rows.bottom_up.push_back(q.m_id);
    layout::rows_inserted(m_quote_list, 0, 1);
    layout::update_element(m_quote_list, true);
}

void hdview::delete_quotes(const std::vector<record_id>& ids) {
    // One pass over the list whatever the number gone: a selection of thousands
    // goes as fast as one quote.
    std::vector<record_id> gone(ids);
    std::sort(gone.begin(), gone.end());
    std::vector<std::size_t> removed;  // rows, top to bottom
    std::vector<record_id>& shown = m_rows.bottom_up;
    const std::size_t count = shown.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::binary_search(gone.begin(), gone.end(), shown[i])) {
            removed.push_back(count - 1 - i);  // a quote the search hides has no row
        } else {
            shown[kept++] = shown[i];
        }
    }
    shown.resize(kept);
    std::reverse(removed.begin(), removed.end());
    layout::rows_removed(m_quote_list, removed);
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
    for (const htmlayout::dom::element& shown : quote_tags_shown(id)) {
        element cell = layout::parent(shown);
        layout::delete_element(shown);
        layout::update_element(layout::child_count(cell) > 0 ? cell : layout::closest(cell, ".quote"),
                               true);
    }
}

std::vector<htmlayout::dom::element> hdview::quote_tags_shown(record_id tag_id) const {
    // Only the rows in view are built: the others are built with the store's tags.
    std::vector<htmlayout::dom::element> found;
    layout::select_elements(m_quote_list, "div.qtag", [&](element e) {
        try {
            if (ids::read_quote_tag(layout::get_attribute(e, "id").value_or(u"")).second ==
                tag_id) {
                found.emplace_back(e);
            }
        } catch (const fml::exception&) {
            // not one of ours: left alone
        }
        return false;
    });
    return found;
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

void hdview::quote_rows::append_rows(std::size_t first, std::size_t last, std::string& markup) {
    if (reader == nullptr) {
        return;
    }
    std::vector<record_id> wanted;
    for (std::size_t i = first; i < last; ++i) {
        wanted.push_back(id_at(i));
    }
    const std::vector<quote> found = reader->read_quotes(wanted);
    // The names of the tags on these rows, each read once.
    std::unordered_map<record_id, std::optional<tag>> names;
    const tag_lookup name_of = [&](record_id id) -> const tag* {
        auto it = names.find(id);
        if (it == names.end()) {
            std::optional<tag> named;
            if (auto name = reader->tag_name(id)) {
                named.emplace();
                named->m_id = id;
                named->m_utfname = std::move(*name);
            }
            it = names.emplace(id, std::move(named)).first;
        }
        return it->second ? &*it->second : nullptr;
    };
    std::size_t next = 0;
    for (record_id id : wanted) {
        // A quote gone from under the list still takes its row, empty, so that the
        // rows stay where the list counts them.
        quote missing;
        missing.m_id = id;
        const bool present = next < found.size() && found[next].m_id == id;
        markup += "<tr><td>";
        fragments::append_quote_block(markup, present ? found[next] : missing, name_of, words);
        markup += "</td></tr>";
        next += present ? 1 : 0;
    }
}

void hdview::update_quotes(const view_events::update_quotes& quotes) {
    fml::app_line("vupdate_quotes");
    // A fresh vector: the memory of a longer list before goes.
    std::vector<record_id>(quotes.ids.rbegin(), quotes.ids.rend()).swap(m_rows.bottom_up);
    m_rows.reader = quotes.reader;
    layout::rows_reset(m_quote_list);
    layout::update_element(m_quote_list, true);
    fml::app_line("vupdate_quotes complete");
}

void hdview::show_search_text(const std::u16string& text) {
    m_rows.words = search_words(text);
    // The field shows what the search holds; while the user types, that is what
    // is in it already, and it is left alone.
    if (element field = find_id(m_root, "find-text");
        field != nullptr && layout::get_inner_text(field).value_or(u"") != text) {
        layout::set_inner_text(field, text);
        layout::update_element(field, true);
    }
}

void hdview::sort_quotes(bool oldest_first) {
    if (m_rows.reader == nullptr) {
        return;
    }
    std::vector<record_id> shown(m_rows.bottom_up.rbegin(), m_rows.bottom_up.rend());
    std::vector<record_id> order = m_rows.reader->order_by_time(shown, oldest_first);
    // Where each id stood, to carry the rows' marks along.
    std::vector<std::pair<record_id, std::size_t>> was(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        was[i] = {shown[i], i};
    }
    std::sort(was.begin(), was.end());
    std::vector<bool> placed(shown.size());
    std::vector<std::size_t> old_index;
    old_index.reserve(shown.size());
    for (record_id id : order) {
        auto it = std::lower_bound(was.begin(), was.end(), std::make_pair(id, std::size_t(0)));
        if (it != was.end() && it->first == id && !placed[it->second]) {
            placed[it->second] = true;
            old_index.push_back(it->second);
        }
    }
    // Quotes the store no longer knows keep their order, after the others.
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (!placed[i]) {
            old_index.push_back(i);
        }
    }
    std::vector<record_id>& sorted = m_rows.bottom_up;
    for (std::size_t i = 0; i < old_index.size(); ++i) {
        sorted[sorted.size() - 1 - i] = shown[old_index[i]];
    }
    layout::rows_reordered(m_quote_list, old_index);
    layout::update_element(m_quote_list, true);
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
    for (const htmlayout::dom::element& shown : quote_tags_shown(renamed.tag_id)) {
        layout::set_inner_text(shown, renamed.name);
        layout::update_element(shown, true);
    }
}

void hdview::update_tags(const std::vector<tag>& tags) {
    fml::app_line("vupdate_tags");
    // The newest tag on top.
    std::string row_markup;
    std::string item_markup;
    for (auto it = tags.rbegin(); it != tags.rend(); ++it) {
        row_markup += fragments::table_row(fragments::tag_entry(*it));
        item_markup += fragments::menu_item(*it);
    }
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
