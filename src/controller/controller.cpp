#include "controller/controller.h"

#include <array>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>
#include <variant>

#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/overloaded.h"
#include "fml/text.h"
#include "layout/dom.h"
#include "layout/element.h"
#include "layout/long_list.h"
#include "model/model.h"
#include "tinyfilesystem/filesystem.h"
#include "view/ids.h"

namespace hrd {
namespace {

using layout::handle;

std::ostream& cntrl() {
    return fml::getlog("cntrl");
}

std::u16string id_of(handle element) {
    return layout::get_attribute(element, "id").value_or(u"");
}

// What a record element's id must look like for the action reading it.
record_id quote_id_of(handle element) {
    return ids::read(id_of(element), ids::quote_prefix);
}
record_id tag_id_of(handle element) {
    return ids::read(id_of(element), ids::tag_entry_prefix);
}
record_id search_tag_id_of(handle element) {
    return ids::read(id_of(element), ids::search_tag_prefix);
}

// Every action execute() knows; each case of the switch there says what it sends.
enum class act {
    add_quote,
    add_tag,
    delete_quote,
    delete_quotes,
    delete_vtag,
    delete_vtags,
    rename_vtag,
    rename_tag,
    mark_quote_with_tag,
    mark_tag_with_quote,
    delete_quote_mark,
    add_search_tag,
    add_search_tags,
    delete_search_tag,
    clear_search_tags,
    clear_search_text,
    set_search_mode_and,
    set_search_mode_or,
    copy_quote,
    copy_quotes,
    copy_quote_with_data,
    copy_quotes_with_data,
    export_data
};

struct action_entry {
    std::u16string_view name;
    act what;
    // It acts on one row's element: handed the whole list, it takes the current row.
    bool one_row;
};

namespace ev = model_events;

constexpr std::array<action_entry, 23> action_table{{
    {u"add_quote", act::add_quote, false},
    {u"add_tag", act::add_tag, false},
    {u"delete_quote", act::delete_quote, true},
    {u"delete_quotes", act::delete_quotes, false},
    {u"delete_vtag", act::delete_vtag, true},
    {u"delete_vtags", act::delete_vtags, false},
    {u"rename_vtag", act::rename_vtag, true},
    {u"rename_tag", act::rename_tag, false},
    {u"mark_quote_with_tag", act::mark_quote_with_tag, true},
    {u"mark_tag_with_quote", act::mark_tag_with_quote, true},
    {u"delete_quote_mark", act::delete_quote_mark, true},
    {u"add_search_tag", act::add_search_tag, true},
    {u"add_search_tags", act::add_search_tags, false},
    {u"delete_search_tag", act::delete_search_tag, true},
    {u"clear_search_tags", act::clear_search_tags, false},
    {u"clear_search_text", act::clear_search_text, false},
    {u"set_search_mode_and", act::set_search_mode_and, false},
    {u"set_search_mode_or", act::set_search_mode_or, false},
    {u"copy_quote", act::copy_quote, true},
    {u"copy_quotes", act::copy_quotes, false},
    {u"copy_quote_with_data", act::copy_quote_with_data, true},
    {u"copy_quotes_with_data", act::copy_quotes_with_data, false},
    {u"export_data", act::export_data, false},
}};

const action_entry* find_entry(std::u16string_view name) {
    for (const auto& entry : action_table) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

// The list form of a single-element action, for a drag that carries several rows
// and for a row's menu opened on a multi-selection.
std::u16string_view list_form_of(std::u16string_view single) {
    if (single == u"delete_quote")
        return u"delete_quotes";
    if (single == u"delete_vtag")
        return u"delete_vtags";
    if (single == u"add_search_tag")
        return u"add_search_tags";
    if (single == u"copy_quote")
        return u"copy_quotes";
    if (single == u"copy_quote_with_data")
        return u"copy_quotes_with_data";
    return {};
}

bool is_table(handle element) {
    return layout::element_type(element) == "table";
}

// The first div of the table's current row: what a single-row action acts on when it
// is handed the whole list. nullptr when no row is current. A long list builds the
// row when it is out of view.
handle current_row_entry(handle table) {
    const auto index = layout::current_row(table);
    if (!index) {
        return nullptr;
    }
    handle row = layout::row_at(table, *index);
    if (row == nullptr && layout::is_long_list(table)) {
        row = layout::reveal_row(table, *index);
    }
    return layout::find_first(row, "div");
}

// The ids of the checked data rows of `table`, in row order. Rows without a record
// element (header rows) never count. A long list names its rows itself, held or not.
id_list checked_ids(handle table, record_id (*read)(handle)) {
    if (!is_table(table)) {
        throw wrong_he_type(layout::element_type(table));
    }
    id_list ids;
    const bool long_list = layout::is_long_list(table);
    for (const layout::row_range& rows : layout::checked_row_ranges(table)) {
        for (std::size_t i = rows.first; i < rows.last; ++i) {
            if (long_list) {
                ids.push_back(static_cast<record_id>(layout::row_key(table, i).value_or(0)));
            } else if (handle entry = layout::find_first(layout::row_at(table, i), "div")) {
                ids.push_back(read(entry));
            }
        }
    }
    return ids;
}

// A list action takes the checked rows of a table, or one row's element.
id_list list_ids(handle element, record_id (*read)(handle)) {
    if (element == nullptr) {
        return {};
    }
    if (is_table(element)) {
        return checked_ids(element, read);
    }
    return {read(element)};
}

// How a list action reads its rows, and the command it sends for their ids.
struct list_action {
    record_id (*read)(handle);
    model_event (*command)(id_list ids);
};

template <class Command>
model_event command_for(id_list ids) {
    return Command{std::move(ids)};
}

std::optional<list_action> as_list(act what) {
    switch (what) {
        case act::delete_quotes:
            return list_action{quote_id_of, command_for<ev::delete_quotes>};
        case act::copy_quotes:
            return list_action{quote_id_of, command_for<ev::copy_quotes>};
        case act::copy_quotes_with_data:
            return list_action{quote_id_of, command_for<ev::copy_quotes_with_data>};
        case act::delete_vtags:
            return list_action{tag_id_of, command_for<ev::delete_tags>};
        case act::add_search_tags:
            return list_action{tag_id_of, command_for<ev::add_search_tags>};
        default:
            return std::nullopt;  // a single-row action
    }
}

std::string utf8_id(handle element) {
    return layout::get_attribute_utf8(element, "id").value_or("");
}

}  // namespace

hdcontroller::hdcontroller()
    : hdcontroller(hrdModel::instance(),
                   tinyfilesystem::join_path(app_dirs::get(app_dirs::HoardlyDir), u"DragMgr.xml")) {
}

hdcontroller::hdcontroller(hrdModel& model, const std::u16string& drag_table_path)
    : m_model(model),
      m_drag(std::make_unique<DragMgr>(drag_table_path, &hdcontroller::is_action_name)) {}

hdcontroller::~hdcontroller() = default;

bool hdcontroller::is_action_name(const std::u16string& name) {
    return find_entry(name) != nullptr;
}

std::u16string_view hdcontroller::list_form(std::u16string_view single) {
    return list_form_of(single);
}

id_list hdcontroller::checked_quotes(layout::handle table) {
    return checked_ids(table, quote_id_of);
}

void hdcontroller::forward(const model_event& event) {
    m_model.handle(event);
}

bool hdcontroller::send(const vcaction& action) {
    return std::visit(
        fml::overloaded{
            [](const vcaction::undefined&) -> bool { throw wrong_vcaction("hdcontroller::send"); },
            [](const vcaction::init&) -> bool {
                throw fml::deprecated("hdcontroller::send vcaction::init");
            },
            [&](const mouse_record& mouse) { return handle_mouse(action, mouse); },
            [&](const vcaction::quote_text& quote) {
                execute(named_action{u"add_quote", quote.text});
                return true;
            },
        },
        action.what);
}

bool hdcontroller::handle_mouse(const vcaction& action, const mouse_record& mouse) {
    const bool main = (mouse.buttons & layout::mouse_button::main) != 0;
    switch (mouse.event) {
        case layout::mouse_event::down:
            if (!main) {
                return false;
            }
            // Every press starts afresh: nothing of an earlier press or drag survives it.
            m_drag->reset();
            cntrl() << "dnd ready: " << utf8_id(action.element) << std::endl;
            m_drag->ready(action.element, mouse.x, mouse.y);
            return false;
        case layout::mouse_event::up: {
            if (!main || m_drag->dragged() == nullptr) {
                m_drag->reset();
                return false;
            }
            cntrl() << "dnd stop: " << utf8_id(m_drag->dragged()) << std::endl;
            // Ends the drag whatever the target: a later click never runs a stale drop.
            return m_drag->drop(action.element,
                                [this](const std::u16string& name, handle dragged, handle target) {
                                    run_drop(name, dragged, target);
                                });
        }
        case layout::mouse_event::move:
            if (main && !m_drag->active() && m_drag->moved(mouse.x, mouse.y)) {
                cntrl() << "dnd start: " << utf8_id(m_drag->dragged()) << std::endl;
                m_drag->start();
                return true;
            }
            return false;
        default:
            return false;
    }
}

void hdcontroller::run_drop(const std::u16string& action, handle dragged, handle target) {
    // An entry of a selected row carries the whole selection of its list.
    handle table = layout::closest(layout::closest(layout::closest(dragged, "td"), "tr"), "table");
    const auto index = layout::row_index(table, layout::closest(dragged, "tr"));
    const bool selection = index && layout::get_attribute(table, "multiple") &&
                           layout::is_row_checked(table, *index) &&
                           layout::checked_row_ranges(table) !=
                               std::vector<layout::row_range>{{*index, *index + 1}};
    if (!selection) {
        execute(named_action{action, element_pair{dragged, target}});
        return;
    }
    if (const std::u16string_view many = list_form_of(action); !many.empty()) {
        // Several rows carried to one single-row action run as its list form, once.
        const list_action list = *as_list(find_entry(many)->what);
        forward(list.command(checked_ids(table, list.read)));
        return;
    }
    if (layout::is_long_list(table)) {
        // Quotes dropped on a tag all get it, in one step; they need not be in view.
        const record_id t = tag_id_of(target);
        id_list quotes = checked_ids(table, quote_id_of);
        cntrl() << fml::wchar2utf8(action) << "; quotes: " << quotes.size() << "; tag: " << t
                << std::endl;
        forward(ev::mark_quotes{std::move(quotes), t});
        return;
    }
    std::vector<htmlayout::dom::element> entries;
    for (const layout::row_range& rows : layout::checked_row_ranges(table)) {
        for (std::size_t i = rows.first; i < rows.last; ++i) {
            if (handle entry = layout::find_first(layout::row_at(table, i), "div")) {
                entries.emplace_back(entry);
            }
        }
    }
    for (const auto& entry : entries) {
        execute(named_action{action, element_pair{entry, target}});
    }
}

void hdcontroller::execute(const named_action& action) {
    const action_entry* entry = find_entry(action.name);
    if (entry == nullptr) {
        throw unknown_vcaction("hdcontroller::execute: unknown action \"" +
                               fml::wchar2utf8(action.name) + "\"");
    }
    const auto* pair = std::get_if<element_pair>(&action.data);
    handle first = pair != nullptr ? pair->first : nullptr;
    if (entry->one_row && is_table(first)) {
        // A single-row action handed the whole list acts on its current row, if any.
        first = current_row_entry(first);
        if (first == nullptr) {
            return;
        }
    }
    if (entry->one_row && first == nullptr) {
        return;
    }
    const auto text = [&action] {
        const auto* given = std::get_if<std::u16string>(&action.data);
        return given != nullptr ? *given : std::u16string();
    };
    // A drop of a tag on a quote or of a quote on a tag.
    const auto mark = [&](bool tag_first) {
        handle second = pair->second;
        const record_id t = tag_id_of(tag_first ? first : second);
        const record_id q = quote_id_of(tag_first ? second : first);
        cntrl() << fml::wchar2utf8(action.name) << "; quote: " << q << "; tag: " << t << std::endl;
        forward(ev::mark_quote{{q, t}});
    };

    switch (entry->what) {
        case act::clear_search_tags:
            cntrl() << "clear_search_tags" << std::endl;
            forward(ev::clear_search_tags{});
            return;
        case act::clear_search_text:
            cntrl() << "clear_search_text" << std::endl;
            forward(ev::set_search_text{});
            return;
        case act::set_search_mode_and:
            forward(ev::set_search_mode_and{});
            return;
        case act::set_search_mode_or:
            forward(ev::set_search_mode_or{});
            return;
        case act::add_quote:
            cntrl() << "add_quote; " << std::endl;
            forward(ev::add_quote{text()});
            return;
        case act::add_tag: {
            std::u16string name = text();
            cntrl() << "add_tag; id: " << fml::wchar2utf8(name) << std::endl;
            forward(ev::add_tag{std::move(name)});
            return;
        }
        case act::export_data:
            forward(ev::export_data{text()});
            return;
        case act::delete_quote: {
            const record_id q = quote_id_of(first);
            cntrl() << "delete_quote; quote: " << q << std::endl;
            forward(ev::delete_quote{q});
            return;
        }
        case act::copy_quote:
            forward(ev::copy_quote{quote_id_of(first)});
            return;
        case act::copy_quote_with_data:
            forward(ev::copy_quote_with_data{quote_id_of(first)});
            return;
        case act::rename_vtag:
            tag_id_of(first);  // only a tag list entry is edited
            if (view_target* view = m_model.view()) {
                view->handle(view_events::start_tag_edit{first});
            }
            return;
        case act::delete_vtag: {
            const record_id t = tag_id_of(first);
            cntrl() << "delete_vtag; tag: " << t << std::endl;
            forward(ev::delete_tag{t});
            return;
        }
        case act::add_search_tag: {
            const record_id t = tag_id_of(first);
            cntrl() << "add_search_tag; id: " << t << std::endl;
            forward(ev::add_search_tag{t});
            return;
        }
        case act::delete_search_tag: {
            const record_id t = search_tag_id_of(first);
            cntrl() << "delete_search_tag; id: " << t << std::endl;
            forward(ev::delete_search_tag{t});
            return;
        }
        case act::delete_quote_mark: {
            const auto [q, t] = ids::read_quote_tag(id_of(first));
            // The id names the quote; it must be the block the tag is shown in.
            handle block = layout::closest(first, ".quote");
            const std::u16string block_id = id_of(block);
            if (!ids::matches(block_id, ids::quote_prefix) ||
                ids::read(block_id, ids::quote_prefix) != q) {
                throw detail::wrong_id_format(fml::wchar2utf8(id_of(first)) +
                                              " is not inside its quote");
            }
            cntrl() << "delete_quote_mark; quote: " << q << "; tag: " << t << std::endl;
            forward(ev::delete_mark{{q, t}});
            return;
        }
        case act::mark_quote_with_tag:
            mark(true);
            return;
        case act::mark_tag_with_quote:
            mark(false);
            return;
        case act::delete_quotes:
        case act::copy_quotes:
        case act::copy_quotes_with_data:
        case act::delete_vtags:
        case act::add_search_tags: {
            const list_action list = *as_list(entry->what);
            forward(list.command(list_ids(first, list.read)));
            return;
        }
        case act::rename_tag: {
            const auto* rename = std::get_if<rename_record>(&action.data);
            if (rename == nullptr || rename->element == nullptr) {
                return;
            }
            const tag_rename renamed{tag_id_of(rename->element), rename->name};
            if (view_target* view = m_model.view()) {
                view->handle(view_events::end_tag_edit{rename->element});
            }
            cntrl() << "rename_tag; id: " << renamed.id << std::endl;
            forward(ev::rename_tag{renamed});
            return;
        }
    }
}

template <class Action>
bool hdcontroller::refuse_errors(Action&& action, std::string* refusal) {
    try {
        return action();
    } catch (const fml::exception& e) {
        if (refusal != nullptr) {
            *refusal = e.what();
        }
        if (fml::haslog("app")) {
            fml::getlog("app") << "Error: " << e.what() << std::endl;
        }
        m_drag->reset();
        try {
            m_model.refresh_view();
        } catch (const fml::exception& again) {
            if (fml::haslog("app")) {
                fml::getlog("app") << "Error: " << again.what() << std::endl;
            }
        }
        return false;
    }
}

bool hdcontroller::send_safely(const vcaction& action) {
    return refuse_errors([&] { return send(action); });
}

bool hdcontroller::send_safely(const vcaction& action, std::string& refusal) {
    return refuse_errors([&] { return send(action); }, &refusal);
}

bool hdcontroller::execute_safely(const named_action& action) {
    return refuse_errors([&] {
        execute(action);
        return true;
    });
}

}  // namespace hrd
