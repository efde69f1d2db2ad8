#include "controller/controller.h"

#include <array>
#include <ostream>
#include <string_view>

#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "layout/dom.h"
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

enum class reads {
    nothing,
    text,
    path,
    quote,
    tag,
    search_tag,
    quote_tag,
    quote_table,
    tag_table,
    tag_then_quote,
    quote_then_tag,
    rename
};

struct action_entry {
    std::u16string_view name;
    reads data;
    std::int32_t event;  // the model event it forwards as (0: settled with the view)
};

namespace ev = model_events;

constexpr std::array<action_entry, 22> action_table{{
    {u"add_quote", reads::text, ev::add_quote},
    {u"add_tag", reads::text, ev::add_tag},
    {u"delete_quote", reads::quote, ev::delete_quote},
    {u"delete_quotes", reads::quote_table, ev::delete_quotes},
    {u"delete_vtag", reads::tag, ev::delete_tag},
    {u"delete_vtags", reads::tag_table, ev::delete_tags},
    {u"rename_vtag", reads::tag, 0},
    {u"rename_tag", reads::rename, ev::rename_tag},
    {u"mark_quote_with_tag", reads::tag_then_quote, ev::mark_quote},
    {u"mark_tag_with_quote", reads::quote_then_tag, ev::mark_quote},
    {u"delete_quote_mark", reads::quote_tag, ev::delete_mark},
    {u"add_search_tag", reads::tag, ev::add_search_tag},
    {u"add_search_tags", reads::tag_table, ev::add_search_tags},
    {u"delete_search_tag", reads::search_tag, ev::delete_search_tag},
    {u"clear_search_tags", reads::nothing, ev::clear_search_tags},
    {u"set_search_mode_and", reads::nothing, ev::set_search_mode_and},
    {u"set_search_mode_or", reads::nothing, ev::set_search_mode_or},
    {u"copy_quote", reads::quote, ev::copy_quote},
    {u"copy_quotes", reads::quote_table, ev::copy_quotes},
    {u"copy_quote_with_data", reads::quote, ev::copy_quote_with_data},
    {u"copy_quotes_with_data", reads::quote_table, ev::copy_quotes_with_data},
    {u"export_data", reads::path, ev::export_data},
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
// is handed the whole list. nullptr when no row is current.
handle current_row_entry(handle table) {
    return layout::find_first(layout::find_first(table, "tr:current"), "div");
}

// The ids of the checked data rows of `table`, in row order. Rows without a record
// element (header rows) never count.
id_list checked_ids(handle table, record_id (*read)(handle)) {
    if (!is_table(table)) {
        throw wrong_he_type(layout::element_type(table));
    }
    id_list ids;
    for (std::size_t i = 0; i < layout::child_count(table); ++i) {
        handle row = layout::nth_child(table, i);
        if (!(layout::get_state(row) & layout::state::checked)) {
            continue;
        }
        if (handle entry = layout::find_first(row, "div")) {
            ids.push_back(read(entry));
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

void hdcontroller::forward(std::int32_t event, const void* param) {
    m_model.handle(model_event{event, param});
}

bool hdcontroller::send(const vcaction& action) {
    switch (action.kind) {
        case vcaction::mouse:
            return handle_mouse(action, *static_cast<const mouse_record*>(action.params));
        case vcaction::quote_text:
            execute(named_action{u"add_quote", action.params});
            return true;
        case vcaction::undefined:
            throw wrong_vcaction("hdcontroller::send");
        case vcaction::init:
            throw fml::deprecated("hdcontroller::send vcaction::init");
        default:
            throw unknown_vcaction("hdcontroller::send");
    }
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
                                [this](const std::u16string& name, const std::vector<handle>& items,
                                       handle target) { run_drop(name, items, target); });
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

void hdcontroller::run_drop(const std::u16string& action, const std::vector<handle>& items,
                            handle target) {
    const std::u16string_view many = list_form_of(action);
    if (items.size() > 1 && !many.empty()) {
        // Several rows carried to one single-row action run as its list form, once.
        const action_entry* entry = find_entry(many);
        id_list ids;
        for (handle item : items) {
            ids.push_back(entry->data == reads::quote_table ? quote_id_of(item) : tag_id_of(item));
        }
        forward(entry->event, &ids);
        return;
    }
    for (handle item : items) {
        const element_pair pair{item, target};
        execute(named_action{action, &pair});
    }
}

void hdcontroller::execute(const named_action& action) {
    const action_entry* entry = find_entry(action.name);
    if (entry == nullptr) {
        throw unknown_vcaction("hdcontroller::execute: unknown action \"" +
                               fml::wchar2utf8(action.name) + "\"");
    }
    const auto* pair = static_cast<const element_pair*>(action.data);
    handle first = pair != nullptr ? pair->first : nullptr;
    const bool element_data = entry->data == reads::quote || entry->data == reads::tag ||
                              entry->data == reads::search_tag || entry->data == reads::quote_tag ||
                              entry->data == reads::tag_then_quote ||
                              entry->data == reads::quote_then_tag;
    if (element_data && is_table(first)) {
        // A single-row action handed the whole list acts on its current row, if any.
        first = current_row_entry(first);
        if (first == nullptr) {
            return;
        }
    }
    if (element_data && first == nullptr) {
        return;
    }

    switch (entry->data) {
        case reads::nothing:
            if (entry->event == ev::clear_search_tags) {
                cntrl() << "clear_search_tags" << std::endl;
            }
            forward(entry->event, nullptr);
            return;
        case reads::text: {
            const std::u16string text =
                action.data ? *static_cast<const std::u16string*>(action.data) : u"";
            if (entry->event == ev::add_quote) {
                cntrl() << "add_quote; " << std::endl;
            } else {
                cntrl() << "add_tag; id: " << fml::wchar2utf8(text) << std::endl;
            }
            forward(entry->event, &text);
            return;
        }
        case reads::path: {
            const std::u16string path =
                action.data ? *static_cast<const std::u16string*>(action.data) : u"";
            forward(entry->event, &path);
            return;
        }
        case reads::quote: {
            const record_id q = quote_id_of(first);
            if (entry->event == ev::delete_quote) {
                cntrl() << "delete_quote; quote: " << q << std::endl;
            }
            forward(entry->event, &q);
            return;
        }
        case reads::tag: {
            const record_id t = tag_id_of(first);
            if (entry->event == 0) {  // rename_vtag: the view starts the in-place edit
                if (view_target* view = m_model.view()) {
                    view->handle(view_event{vstart_tag_edit, &first});
                }
                return;
            }
            cntrl() << fml::wchar2utf8(action.name)
                    << (entry->event == ev::delete_tag ? "; tag: " : "; id: ") << t << std::endl;
            forward(entry->event, &t);
            return;
        }
        case reads::search_tag: {
            const record_id t = search_tag_id_of(first);
            cntrl() << "delete_search_tag; id: " << t << std::endl;
            forward(entry->event, &t);
            return;
        }
        case reads::quote_tag: {
            const auto [q, t] = ids::read_quote_tag(id_of(first));
            // The id names the quote; it must be the block the tag is shown in.
            handle block = layout::parent(layout::parent(layout::parent(layout::parent(first))));
            const std::u16string block_id = id_of(block);
            if (!ids::matches(block_id, ids::quote_prefix) ||
                ids::read(block_id, ids::quote_prefix) != q) {
                throw detail::wrong_id_format(fml::wchar2utf8(id_of(first)) +
                                              " is not inside its quote");
            }
            cntrl() << "delete_quote_mark; quote: " << q << "; tag: " << t << std::endl;
            const model_mark mark{q, t};
            forward(entry->event, &mark);
            return;
        }
        case reads::tag_then_quote:
        case reads::quote_then_tag: {
            handle second = pair->second;
            const bool tag_first = entry->data == reads::tag_then_quote;
            const record_id t = tag_id_of(tag_first ? first : second);
            const record_id q = quote_id_of(tag_first ? second : first);
            cntrl() << fml::wchar2utf8(action.name) << "; quote: " << q << "; tag: " << t
                    << std::endl;
            const model_mark mark{q, t};
            forward(entry->event, &mark);
            return;
        }
        case reads::quote_table:
        case reads::tag_table: {
            const id_list ids =
                list_ids(first, entry->data == reads::quote_table ? quote_id_of : tag_id_of);
            forward(entry->event, &ids);
            return;
        }
        case reads::rename: {
            const auto* rename = static_cast<const rename_record*>(action.data);
            if (rename == nullptr || rename->element == nullptr) {
                return;
            }
            const model_rename renamed{tag_id_of(rename->element), rename->name};
            layout::set_attribute(rename->element, "editable", std::nullopt);
            cntrl() << "rename_tag; id: " << renamed.id << std::endl;
            layout::update_element(rename->element, true);
            forward(entry->event, &renamed);
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
