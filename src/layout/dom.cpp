#include "layout/dom.h"

#include <algorithm>

#include "fml/text.h"
#include "layout/document_impl.h"
#include "layout/markup.h"
#include "layout/selector.h"

namespace layout {
namespace {

std::u16string wide(std::string_view utf8) {
    return fml::utf82wchar(utf8);
}

std::string narrow(std::u16string_view text) {
    return fml::wchar2utf8(text);
}

element_node* parent_element(const element_node& e) {
    element_node* p = e.m_parent;
    return p && p->is_element() ? p : nullptr;
}

// The element, when it is in a document; events and pop-ups need one.
document_impl* connected(handle element) {
    return element ? document_of(*element) : nullptr;
}

}  // namespace

// ---- References ------------------------------------------------------------

void use(handle element) {
    if (element) {
        ++element->m_refs;
    }
}

void unuse(handle element) {
    if (!element || element->m_refs == 0) {
        return;
    }
    if (--element->m_refs == 0 && !element->m_parent) {
        destroy_subtree(element);
    }
}

// ---- Tree walk -------------------------------------------------------------

handle parent(handle element) {
    return element ? parent_element(*element) : nullptr;
}

handle root_of(handle element) {
    if (!element) {
        return nullptr;
    }
    while (element_node* p = parent_element(*element)) {
        element = p;
    }
    return element;
}

std::size_t child_count(handle element) {
    return element ? element_child_count(*element) : 0;
}

handle nth_child(handle element, std::size_t index) {
    return element ? nth_element_child(*element, index) : nullptr;
}

bool for_each_child(handle element, const std::function<bool(handle)>& callback,
                    std::size_t first) {
    if (!element) {
        return false;
    }
    for (node* child : element->m_children.items()) {
        if (!child->is_element()) {
            continue;
        }
        if (first > 0) {
            --first;
            continue;
        }
        if (callback(static_cast<element_node*>(child))) {
            return true;
        }
    }
    return false;
}

std::size_t index_of(handle element) {
    return element && parent_element(*element) ? element_index(*element) : 0;
}

handle next_sibling(handle element) {
    element_node* p = element ? parent_element(*element) : nullptr;
    return p ? nth_element_child(*p, element_index(*element) + 1) : nullptr;
}

handle previous_sibling(handle element) {
    element_node* p = element ? parent_element(*element) : nullptr;
    if (!p) {
        return nullptr;
    }
    const std::size_t index = element_index(*element);
    return index > 0 ? nth_element_child(*p, index - 1) : nullptr;
}

std::uint32_t serial_of(handle element) {
    return element ? element->m_serial : 0;
}

// ---- Selection -------------------------------------------------------------

bool select_elements(handle root, std::string_view selector_text,
                     const element_callback& callback) {
    if (!root) {
        return false;
    }
    const auto selector = parse_selector(selector_text);
    if (!selector) {
        return false;
    }
    // An id selector goes through the index instead of walking the tree; only
    // an id that several elements share needs the walk.
    if (const auto id = pinned_id(*selector)) {
        if (document_impl* doc = document_of(*root)) {
            std::size_t carriers = 0;
            doc->ids.for_each_match(*id, [&](element_node&) { ++carriers; });
            if (carriers <= 1) {
                element_node* found = find_by_id(*doc, *id, *root);
                if (found && matches(*selector, *found)) {
                    callback(found);
                }
                return true;
            }
        }
    }
    const element_node* scope = root;
    for_each_element_in_subtree(*root, [&](element_node& e) {
        if (&e == scope || !matches(*selector, e)) {
            return walk::next;
        }
        return callback(&e) ? walk::stop : walk::next;
    });
    return true;
}

handle find_first(handle root, std::string_view selector) {
    handle found = nullptr;
    select_elements(root, selector, [&](handle e) {
        found = e;
        return true;
    });
    return found;
}

handle closest(handle element, std::string_view selector_text) {
    if (!element) {
        return nullptr;
    }
    const auto selector = parse_selector(selector_text);
    if (!selector) {
        return nullptr;
    }
    for (handle e = element; e; e = parent_element(*e)) {
        if (matches(*selector, *e)) {
            return e;
        }
    }
    return nullptr;
}

bool visit_elements(handle root, std::string_view tag, std::string_view attribute,
                    std::optional<std::u16string_view> value, const element_callback& callback) {
    if (!root) {
        return false;
    }
    const name_id tag_id = tag.empty() ? names::none : find_name(tag);
    const name_id attribute_id = attribute.empty() ? names::none : find_name(attribute);
    if ((!tag.empty() && tag_id == names::none) ||
        (!attribute.empty() && attribute_id == names::none)) {
        return true;  // a name no element has
    }
    const std::string wanted = value ? narrow(*value) : std::string();
    for_each_element_in_subtree(*root, [&](element_node& e) {
        if (&e == root || (tag_id != names::none && e.m_tag != tag_id)) {
            return walk::next;
        }
        if (attribute_id != names::none) {
            const auto actual = e.m_attributes.get(attribute_id);
            if (!actual || (value && *actual != wanted)) {
                return walk::next;
            }
        }
        return callback(&e) ? walk::stop : walk::next;
    });
    return true;
}

// ---- Attributes ------------------------------------------------------------

std::optional<std::string> get_attribute_utf8(handle element, std::string_view name) {
    if (!element) {
        return std::nullopt;
    }
    const name_id id = find_name(name);
    if (id == names::none) {
        return std::nullopt;
    }
    const auto value = element->m_attributes.get(id);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::u16string> get_attribute(handle element, std::string_view name) {
    const auto value = get_attribute_utf8(element, name);
    return value ? std::optional<std::u16string>(wide(*value)) : std::nullopt;
}

bool set_attribute_utf8(handle element, std::string_view name,
                        std::optional<std::string_view> value) {
    if (!element || !is_valid_markup_name(name)) {
        return false;
    }
    set_attribute_value(*element, intern_name(name), value);
    return true;
}

bool set_attribute(handle element, std::string_view name,
                   std::optional<std::u16string_view> value) {
    if (!value) {
        return set_attribute_utf8(element, name, std::nullopt);
    }
    return set_attribute_utf8(element, name, narrow(*value));
}

std::size_t attribute_count(handle element) {
    return element ? element->m_attributes.size() : 0;
}

std::optional<std::pair<std::string, std::u16string>> nth_attribute(handle element,
                                                                    std::size_t index) {
    std::optional<std::pair<std::string, std::u16string>> found;
    if (!element) {
        return found;
    }
    std::size_t i = 0;
    element->m_attributes.for_each([&](name_id name, std::string_view value) {
        if (i++ == index) {
            found.emplace(std::string(name_text(name)), wide(value));
        }
    });
    return found;
}

// ---- Style -----------------------------------------------------------------

std::optional<std::u16string> get_style_attribute(handle element, std::string_view name) {
    if (!element) {
        return std::nullopt;
    }
    std::string property(name);
    std::transform(property.begin(), property.end(), property.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    if (element->find_extras()) {
        const name_id id = find_name(property);
        for (const auto& [key, value] : element->find_extras()->style) {
            if (key == id) {
                return wide(value);
            }
        }
    }
    if (const auto style = element->m_attributes.get(names::style)) {
        std::optional<std::u16string> found;
        for (const auto& [key, value] : parse_declarations(*style)) {
            if (key == property) {
                found = wide(value);
            }
        }
        if (found) {
            return found;
        }
    }
    if (document_impl* doc = document_of(*element)) {
        if (const auto value = doc->sheets.property(*element, property)) {
            return wide(*value);
        }
    }
    return std::nullopt;
}

bool set_style_attribute(handle element, std::string_view name,
                         std::optional<std::u16string_view> value) {
    if (!element || !is_valid_markup_name(name)) {
        return false;
    }
    if (value) {
        set_style_value(*element, intern_name(name), narrow(*value));
    } else {
        set_style_value(*element, intern_name(name), std::nullopt);
    }
    return true;
}

// ---- State -----------------------------------------------------------------

std::uint32_t get_state(handle element) {
    return element ? element->m_state : 0;
}

bool set_state(handle element, std::uint32_t bits_to_set, std::uint32_t bits_to_clear,
               bool update) {
    if (!element) {
        return false;
    }
    document_impl* doc = connected(element);
    // The focus bit is the document's focus: moving it sends the focus events.
    if (doc && (bits_to_set & state::focus)) {
        input_scope scope(*doc);
        move_focus(*doc, element, false);
    } else if (doc && (bits_to_clear & state::focus) && doc->focus == element) {
        input_scope scope(*doc);
        move_focus(*doc, nullptr, false);
    }
    change_state(*element, bits_to_set & ~(doc ? state::focus : 0u),
                 bits_to_clear & ~(doc ? state::focus : 0u));
    if (update) {
        update_element(element, true);
    }
    return true;
}

// ---- Type and text ---------------------------------------------------------

std::string element_type(handle element) {
    return element ? std::string(name_text(element->m_tag)) : std::string();
}

std::optional<std::string> get_inner_text_utf8(handle element) {
    if (!element) {
        return std::nullopt;
    }
    std::string text;
    append_inner_text(*element, text);
    return text;
}

std::optional<std::u16string> get_inner_text(handle element) {
    const auto text = get_inner_text_utf8(element);
    return text ? std::optional<std::u16string>(wide(*text)) : std::nullopt;
}

bool set_inner_text_utf8(handle element, std::string_view text) {
    if (!element || is_void_element(element->m_tag)) {
        return false;
    }
    replace_text(*element, text);
    return true;
}

bool set_inner_text(handle element, std::u16string_view text) {
    return set_inner_text_utf8(element, narrow(text));
}

// ---- Markup ----------------------------------------------------------------

bool set_html(handle element, std::string_view markup, html_place place) {
    if (!element) {
        return false;
    }
    element_node* p = element->m_parent;
    switch (place) {
        case html_place::replace_content:
            if (is_void_element(element->m_tag)) {
                return false;
            }
            remove_children(*element);
            insert_markup(*element, 0, markup);
            return true;
        case html_place::insert_at_start:
            if (is_void_element(element->m_tag)) {
                return false;
            }
            insert_markup(*element, 0, markup);
            return true;
        case html_place::append:
            if (is_void_element(element->m_tag)) {
                return false;
            }
            insert_markup(*element, element->m_children.size(), markup);
            return true;
        case html_place::replace_element:
            if (!p) {
                return false;
            }
            insert_markup(*p, p->m_children.index_of(element), markup);
            remove_node(*element);
            return true;
        case html_place::insert_before:
            if (!p) {
                return false;
            }
            insert_markup(*p, p->m_children.index_of(element), markup);
            return true;
        case html_place::insert_after:
            if (!p) {
                return false;
            }
            insert_markup(*p, p->m_children.index_of(element) + 1, markup);
            return true;
    }
    unreachable_case();
}

std::optional<std::string> get_html(handle element, bool outer) {
    if (!element) {
        return std::nullopt;
    }
    std::string out;
    if (outer) {
        serialize_outer(*element, out);
    } else {
        serialize_inner(*element, out);
    }
    return out;
}

// ---- Removal ---------------------------------------------------------------

bool delete_element(handle element) {
    if (!element || !element->m_parent) {
        return false;
    }
    remove_node(*element);
    return true;
}

bool detach_element(handle element) {
    return delete_element(element);
}

// ---- Display ---------------------------------------------------------------

bool update_element(handle element, bool redraw_now) {
    if (!element) {
        return false;
    }
    if (document_impl* doc = connected(element)) {
        emit(*doc, make_patch(patch_kind::update, element->m_serial, redraw_now ? 1u : 0u));
    }
    return true;
}

bool scroll_to_view(handle element, bool to_top, bool smooth) {
    document_impl* doc = connected(element);
    if (!doc) {
        return false;
    }
    emit(*doc, make_patch(patch_kind::scroll_to_view, element->m_serial,
                          (to_top ? 1u : 0u) | (smooth ? 2u : 0u)));
    return true;
}

std::optional<rect> get_location(handle element, location_origin origin) {
    if (!element) {
        return std::nullopt;
    }
    const auto box_of = [](const element_node& e) {
        return e.find_extras() && e.find_extras()->location ? *e.find_extras()->location : rect{};
    };
    const rect box = box_of(*element);
    switch (origin) {
        case location_origin::root:
            return box;
        case location_origin::self:
            return rect{0, 0, box.width(), box.height()};
        case location_origin::container: {
            const element_node* p = parent_element(*element);
            const rect outer = p ? box_of(*p) : rect{};
            return rect{box.left - outer.left, box.top - outer.top, box.right - outer.left,
                        box.bottom - outer.top};
        }
    }
    unreachable_case();
}

bool set_location(handle element, rect root_relative) {
    if (!element) {
        return false;
    }
    element->extras().location = root_relative;
    return true;
}

std::optional<scroll_info> get_scroll_info(handle element) {
    if (!element) {
        return std::nullopt;
    }
    scroll_info info;
    if (element->find_extras()) {
        const auto& extras = *element->find_extras();
        info.pos = extras.scroll_pos.value_or(point{});
        info.view = extras.scroll_view.value_or(extras.location.value_or(rect{}));
        info.content_size =
            extras.scroll_size.value_or(point{info.view.width(), info.view.height()});
    }
    return info;
}

bool set_scroll_info(handle element, const scroll_info& info) {
    if (!element) {
        return false;
    }
    auto& extras = element->extras();
    extras.scroll_pos = info.pos;
    extras.scroll_view = info.view;
    extras.scroll_size = info.content_size;
    return true;
}

bool set_scroll_pos(handle element, point pos, bool smooth) {
    if (!element) {
        return false;
    }
    element->extras().scroll_pos = pos;
    if (document_impl* doc = connected(element)) {
        patch change = make_patch(patch_kind::set_scroll_pos, element->m_serial, smooth ? 1u : 0u);
        change.pos = pos;
        emit(*doc, std::move(change));
    }
    return true;
}

// ---- Events ----------------------------------------------------------------

bool send_event(handle target, std::uint32_t code, handle source, std::uint32_t reason) {
    document_impl* doc = connected(target);
    return doc && deliver_behavior_event(*doc, *target, code, source, reason);
}

bool post_event(handle target, std::uint32_t code, handle source, std::uint32_t reason) {
    document_impl* doc = connected(target);
    if (!doc) {
        return false;
    }
    use(target);
    use(source);
    doc->posted.push_back({target, source, code, reason});
    if (doc->input_depth == 0 && doc->posted.size() == 1 && doc->the_host) {
        doc->the_host->posted_events_pending();
    }
    return true;
}

bool attach_event_handler(handle element, element_proc proc, void* tag,
                          std::uint32_t subscription) {
    if (!element || !proc) {
        return false;
    }
    element->extras().handlers.push_back({proc, tag, subscription});
    initialization_params params{initialization_event::attached};
    proc(tag, element, event_group::initialization, &params);
    return true;
}

bool detach_event_handler(handle element, element_proc proc, void* tag) {
    if (!element || !element->find_extras()) {
        return false;
    }
    auto& handlers = element->find_extras()->handlers;
    auto it = std::find_if(handlers.begin(), handlers.end(),
                           [&](auto& entry) { return entry.proc == proc && entry.tag == tag; });
    if (it == handlers.end()) {
        return false;
    }
    handlers.erase(it);
    initialization_params params{initialization_event::detached};
    proc(tag, element, event_group::initialization, &params);
    return true;
}

// ---- Pop-ups, capture, timers ----------------------------------------------

bool show_popup(handle popup, handle anchor, std::uint32_t placement) {
    document_impl* doc = connected(popup);
    if (!doc || (anchor && document_of(*anchor) != doc)) {
        return false;
    }
    const rect box = anchor ? *get_location(anchor, location_origin::root) : rect{};
    return open_popup(*doc, *popup, anchor, anchor, point{box.left, box.bottom}, placement);
}

bool show_popup_at(handle popup, handle owner, point pos, std::uint32_t placement) {
    document_impl* doc = connected(popup);
    if (!doc || (owner && document_of(*owner) != doc)) {
        return false;
    }
    return open_popup(*doc, *popup, owner, nullptr, pos, placement);
}

bool hide_popup(handle popup) {
    document_impl* doc = connected(popup);
    return doc && close_popup(*doc, *popup);
}

bool set_capture(handle element) {
    document_impl* doc = connected(element);
    if (!doc) {
        return false;
    }
    use(element);
    unuse(std::exchange(doc->capture, element));
    return true;
}

bool release_capture(handle element) {
    document_impl* doc = connected(element);
    if (!doc || doc->capture != element) {
        return false;
    }
    unuse(std::exchange(doc->capture, nullptr));
    return true;
}

bool set_timer(handle element, std::uint32_t milliseconds, std::uint32_t timer_id) {
    document_impl* doc = connected(element);
    if (!doc) {
        return false;
    }
    auto it = std::find_if(doc->timers.begin(), doc->timers.end(),
                           [&](auto& t) { return t.element == element && t.id == timer_id; });
    if (milliseconds == 0) {
        if (it != doc->timers.end()) {
            unuse(it->element);
            doc->timers.erase(it);
        }
        return true;
    }
    const std::int64_t due = now_ms(*doc) + milliseconds;
    if (it != doc->timers.end()) {
        it->period = milliseconds;
        it->due = due;
    } else {
        use(element);
        doc->timers.push_back({element, timer_id, milliseconds, due});
    }
    return true;
}

// ---- Sorting ---------------------------------------------------------------

bool sort_elements(handle parent_element_handle, std::size_t first, std::size_t last,
                   const std::function<int(handle, handle)>& compare) {
    if (!parent_element_handle || !compare) {
        return false;
    }
    const std::size_t count = element_child_count(*parent_element_handle);
    last = std::min(last, count);
    if (first >= last) {
        return first <= count;
    }
    std::vector<node*> range;
    for (std::size_t i = first; i < last; ++i) {
        range.push_back(nth_element_child(*parent_element_handle, i));
    }
    std::stable_sort(range.begin(), range.end(), [&](node* a, node* b) {
        return compare(static_cast<element_node*>(a), static_cast<element_node*>(b)) < 0;
    });
    reorder_children(*parent_element_handle, range);
    return true;
}

// ---- Memory ----------------------------------------------------------------

std::size_t reusable_node_bytes() {
    return pooled_free_bytes();
}

std::size_t live_node_count() {
    return live_nodes();
}

// ---- Editing ---------------------------------------------------------------

bool is_editable(handle element) {
    document_impl* doc = connected(element);
    if (!doc || doc->focus != element) {
        return false;
    }
    if (element->m_attributes.has(names::editable)) {
        return true;  // a text field of its own
    }
    for (element_node* p = parent_element(*element); p; p = parent_element(*p)) {
        if (p->m_tag == names::table) {
            return p->m_attributes.has(names::editable);
        }
    }
    return false;
}

}  // namespace layout
