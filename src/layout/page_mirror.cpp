#include "layout/page_mirror.h"

#include <algorithm>
#include <array>
#include <cctype>

// The tree's nodes themselves: the public element operations see elements only,
// and an insertion holds text nodes too.
#include "layout/document_impl.h"
#include "layout/long_list.h"
#include "layout/names.h"
#include "layout/node.h"
#include "layout/patch.h"

namespace layout {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// Attributes that name something to follow when the user asks (a link), and
// attributes that make the page load something at once (an image, a sheet).
bool is_link_attribute(std::string_view name) {
    static constexpr std::array<std::string_view, 4> names = {"href", "cite", "action",
                                                              "formaction"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool is_load_attribute(std::string_view name) {
    static constexpr std::array<std::string_view, 11> names = {
        "src",  "srcset",   "xlink:href", "background", "poster",  "data",
        "ping", "codebase", "lowsrc",     "dynsrc",     "manifest"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The scheme of `url`, lower case, or "" for a relative URL (which resolves
// against our own scheme). Browsers ignore whitespace and control characters
// inside a scheme ("java\tscript:"), so they are ignored here too.
std::string scheme_of(std::string_view url) {
    std::string scheme;
    for (char c : url) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20) {
            continue;
        }
        if (c == ':') {
            return scheme.empty() ? ":" : lower(scheme);
        }
        if (c == '/' || c == '?' || c == '#') {
            return "";  // the colon, if any, is not a scheme's
        }
        scheme += c;
    }
    return "";
}

// A link may lead to the web or to mail (the program decides what it opens); what
// the page loads by itself comes from the program's own files only.
bool is_safe_url(std::string_view url, bool loads) {
    const std::string scheme = scheme_of(url);
    if (scheme.empty() || scheme == "hoardly") {
        return true;
    }
    return !loads && (scheme == "http" || scheme == "https" || scheme == "mailto");
}

void append_string(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    static constexpr char hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += hex[u >> 4];
                    out += hex[u & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void append_number(std::string& out, std::int64_t value) {
    out += std::to_string(value);
}

void open_record(std::string& batch, std::string_view op) {
    batch += batch.empty() ? "[" : ",";
    batch += "{\"op\":";
    append_string(batch, op);
}

void append_field(std::string& batch, std::string_view name, std::int64_t value) {
    batch += ",\"";
    batch += name;
    batch += "\":";
    append_number(batch, value);
}

void append_field(std::string& batch, std::string_view name, std::string_view value) {
    batch += ",\"";
    batch += name;
    batch += "\":";
    append_string(batch, value);
}

void append_optional(std::string& batch, std::string_view name,
                     const std::optional<std::string>& value) {
    if (value) {
        append_field(batch, name, *value);
    } else {
        batch += ",\"";
        batch += name;
        batch += "\":null";
    }
}

const node* lookup(document_impl& doc, std::uint32_t serial) {
    if (serial == document_serial) {
        return doc.document_node;
    }
    return doc.by_serial.find(serial);
}

void append_remove(std::string& batch, std::uint32_t serial) {
    open_record(batch, "remove");
    append_field(batch, "node", serial);
    batch += '}';
}

void append_reveal(std::string& batch, const patch& change) {
    open_record(batch, "reveal");
    append_field(batch, "node", change.node);
    append_field(batch, "top", (change.state & 1) ? 1 : 0);
    append_field(batch, "smooth", (change.state & 2) ? 1 : 0);
    batch += '}';
}

const element_node* as_element(const node* n) {
    return n && !n->is_text() ? static_cast<const element_node*>(n) : nullptr;
}

// Whether `n` is a long list: an element holding a window of its rows.
bool is_long(const node* n) {
    const element_node* e = as_element(n);
    return e != nullptr && e->find_extras() != nullptr && is_long_list(const_cast<element_node*>(e));
}

}  // namespace

std::string shown_text(std::string_view text) {
    if (text.size() <= max_row_text_bytes) {
        return std::string(text);
    }
    std::size_t cut = max_row_text_bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a character
    }
    std::size_t more = 0;
    for (std::size_t i = cut; i < text.size(); ++i) {
        more += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    }
    std::string out(text.substr(0, cut));
    out += "\n\u2026 and " + std::to_string(more) + " more characters (copy the quote for all of it)";
    return out;
}

bool is_safe_element(std::string_view tag) {
    static constexpr std::array<std::string_view, 12> refused = {
        "script", "iframe", "frame", "frameset", "object",      "embed",
        "applet", "base",   "meta",  "portal",   "fencedframe", "noscript"};
    return !tag.empty() && std::find(refused.begin(), refused.end(), lower(tag)) == refused.end();
}

bool is_safe_attribute(std::string_view name, std::string_view value) {
    const std::string key = lower(name);
    if (key.empty() || key.starts_with("on") || key == "srcdoc" || key == "data-state") {
        return false;  // data-state carries the element states; the tree may not fake them
    }
    if (is_link_attribute(key)) {
        return is_safe_url(value, false);
    }
    return !is_load_attribute(key) || is_safe_url(value, true);
}

std::string state_names(std::uint32_t state) {
    struct named_bit {
        std::uint32_t bit;
        std::string_view name;
    };
    static constexpr named_bit bits[] = {
        {state::link, "link"},           {state::hover, "hover"},
        {state::active, "active"},       {state::focus, "focus"},
        {state::visited, "visited"},     {state::current, "current"},
        {state::checked, "checked"},     {state::disabled, "disabled"},
        {state::readonly, "readonly"},   {state::expanded, "expanded"},
        {state::collapsed, "collapsed"}, {state::focusable, "focusable"},
        {state::anchor, "anchor"},       {state::owns_popup, "owns-popup"},
        {state::pressed, "pressed"},     {state::popup, "popup"},
    };
    std::string out;
    for (const named_bit& b : bits) {
        if (state & b.bit) {
            if (!out.empty()) {
                out += ' ';
            }
            out += b.name;
        }
    }
    return out;
}

// One node and everything below it, or nothing for a node the page must not have.
// Returns whether something was written. Recursion depth is bounded by the
// engine's nesting limit.
bool page_mirror_encoder::append_node(std::string& out, const node& n, bool first,
                                      bool in_row) {
    if (n.is_text()) {
        out += first ? "{\"s\":" : ",{\"s\":";
        append_number(out, n.m_serial);
        const std::string& text = static_cast<const text_node&>(n).m_text;
        append_field(out, "x", in_row && text.size() > max_row_text_bytes ? shown_text(text) : text);
        out += '}';
        return true;
    }
    const auto& e = static_cast<const element_node&>(n);
    const std::string_view tag = name_text(e.m_tag);
    if (!is_safe_element(tag)) {
        return false;
    }
    out += first ? "{\"s\":" : ",{\"s\":";
    append_number(out, e.m_serial);
    append_field(out, "t", tag);
    out += ",\"a\":[";
    bool first_attribute = true;
    e.m_attributes.for_each([&](name_id name, std::string_view value) {
        const std::string_view text = name_text(name);
        if (!is_safe_attribute(text, value)) {
            return;
        }
        out += first_attribute ? "[" : ",[";
        first_attribute = false;
        append_string(out, text);
        out += ',';
        append_string(out, value);
        out += ']';
    });
    out += ']';
    if (e.m_state != 0) {
        append_field(out, "st", state_names(e.m_state));
    }
    if (const element_extras* extras = e.find_extras(); extras && !extras->style.empty()) {
        out += ",\"y\":[";
        bool first_style = true;
        for (const auto& [name, value] : extras->style) {
            out += first_style ? "[" : ",[";
            first_style = false;
            append_string(out, name_text(name));
            out += ',';
            append_string(out, value);
            out += ']';
        }
        out += ']';
    }
    if (!e.m_children.empty()) {
        const bool long_list = is_long(&e);
        if (long_list) {
            m_lists[e.m_serial].dirty = true;  // finish() says how much room it needs
        }
        out += ",\"c\":[";
        bool first_child = true;
        for (const node* child : e.m_children.items()) {
            if (append_node(out, *child, first_child, in_row || long_list)) {
                first_child = false;
            }
        }
        out += ']';
    } else if (is_long(&e)) {
        m_lists[e.m_serial].dirty = true;
    }
    out += '}';
    return true;
}

void page_mirror_encoder::append_insert(std::string& batch, std::uint32_t parent_serial,
                                        std::uint32_t before, const node* const* nodes,
                                        std::size_t count, bool in_row) {
    open_record(batch, "insert");
    append_field(batch, "parent", parent_serial);
    append_field(batch, "before", before);
    batch += ",\"nodes\":[";
    bool first = true;
    for (std::size_t i = 0; i < count; ++i) {
        if (append_node(batch, *nodes[i], first, in_row)) {
            first = false;
        }
    }
    batch += "]}";
}

bool page_mirror_encoder::in_row(const node* n) const {
    for (; n && n->m_parent; n = n->m_parent) {
        if (is_long(n->m_parent)) {
            return true;
        }
    }
    return false;
}

void page_mirror_encoder::encode(const patch& change, std::string& batch) {
    document_impl& doc = m_document.impl();
    const node* target = lookup(doc, change.node);
    switch (change.kind) {
        case patch_kind::insert: {
            const node* first = lookup(doc, change.first_serial);
            if (!as_element(target) || !first || first->m_parent != target) {
                return;  // not in the tree any more: a later patch says what became of it
            }
            const auto items = as_element(target)->m_children.items();
            auto begin = std::find(items.begin(), items.end(), first);
            auto end = begin;
            while (end != items.end() &&
                   (change.before == 0 || (*end)->m_serial != change.before)) {
                ++end;
            }
            append_insert(batch, change.node, change.before, items.data() + (begin - items.begin()),
                          std::size_t(end - begin),
                          is_long(target) || in_row(target));
            return;
        }
        case patch_kind::remove:
            m_lists.erase(change.node);
            append_remove(batch, change.node);
            return;
        case patch_kind::clear:
            open_record(batch, "clear");
            append_field(batch, "node", change.node);
            batch += '}';
            return;
        case patch_kind::set_attribute: {
            if (lower(change.name) == "data-state") {
                return;  // the page keeps the element states there
            }
            open_record(batch, "attr");
            append_field(batch, "node", change.node);
            append_field(batch, "name", change.name);
            // An unsafe value removes the attribute, so no earlier safe value lingers.
            const bool safe = is_safe_attribute(change.name, change.value.value_or(""));
            append_optional(batch, "value", safe ? change.value : std::nullopt);
            batch += '}';
            return;
        }
        case patch_kind::set_state:
            open_record(batch, "state");
            append_field(batch, "node", change.node);
            append_field(batch, "state", state_names(change.state));
            batch += '}';
            return;
        case patch_kind::set_text:
            open_record(batch, "text");
            append_field(batch, "node", change.node);
            append_field(batch, "serial", change.first_serial);
            if (change.value && change.value->size() > max_row_text_bytes && in_row(target)) {
                append_field(batch, "value", shown_text(*change.value));
            } else {
                append_field(batch, "value", change.value.value_or(""));
            }
            batch += '}';
            return;
        case patch_kind::set_style:
            open_record(batch, "style");
            append_field(batch, "node", change.node);
            append_field(batch, "name", change.name);
            append_optional(batch, "value", change.value);
            batch += '}';
            return;
        case patch_kind::reorder:
            open_record(batch, "reorder");
            append_field(batch, "node", change.node);
            batch += ",\"order\":[";
            for (std::size_t i = 0; i < change.order.size(); ++i) {
                if (i) {
                    batch += ',';
                }
                append_number(batch, change.order[i]);
            }
            batch += "]}";
            return;
        case patch_kind::show_popup:
            open_record(batch, "popup");
            append_field(batch, "node", change.node);
            append_field(batch, "anchor", change.before);
            append_field(batch, "x", change.pos.x);
            append_field(batch, "y", change.pos.y);
            append_field(batch, "placement", change.state);
            batch += '}';
            return;
        case patch_kind::hide_popup:
            open_record(batch, "unpopup");
            append_field(batch, "node", change.node);
            batch += '}';
            return;
        case patch_kind::update:
            return;  // the page redraws by itself
        case patch_kind::scroll_to_view:
            // The page lays out the room of its lists before it scrolls.
            append_reveal(batch, change);
            return;
        case patch_kind::set_scroll_pos:
            open_record(batch, "scroll");
            append_field(batch, "node", change.node);
            append_field(batch, "x", change.pos.x);
            append_field(batch, "y", change.pos.y);
            append_field(batch, "smooth", (change.state & 1) ? 1 : 0);
            batch += '}';
            return;
        case patch_kind::rows:
            if (is_long(target)) {
                list_room& room = m_lists[change.node];
                room.dirty = true;
                room.top = room.top || (change.state & 1) != 0;
            }
            return;
    }
}

void page_mirror_encoder::encode_snapshot(std::string& batch) {
    document_impl& doc = m_document.impl();
    m_lists.clear();
    open_record(batch, "reset");
    batch += '}';
    const auto items = doc.document_node->m_children.items();
    append_insert(batch, document_serial, 0, items.data(), items.size(), false);
}

void page_mirror_encoder::request_window(std::uint32_t list, std::uint32_t first,
                                         std::uint32_t count) {
    if (m_lists.count(list) != 0) {
        hold_rows(m_document.element_by_serial(list), first, count);
    }
}

std::string page_mirror_encoder::finish(std::string batch) {
    document_impl& doc = m_document.impl();
    for (auto it = m_lists.begin(); it != m_lists.end();) {
        const node* list = lookup(doc, it->first);
        if (!is_long(list)) {
            it = m_lists.erase(it);  // gone, or an ordinary element again
            continue;
        }
        if (it->second.dirty) {
            auto* e = const_cast<element_node*>(as_element(list));
            const row_range held = held_rows(e);
            const std::size_t count = row_count(e);
            open_record(batch, "span");
            append_field(batch, "node", it->first);
            append_field(batch, "above", std::int64_t(held.first));
            append_field(batch, "below", std::int64_t(count - std::min(count, held.last)));
            append_field(batch, "top", it->second.top ? 1 : 0);
            batch += '}';
            it->second = list_room{false, false};
        }
        ++it;
    }
    if (!batch.empty()) {
        batch += ']';
    }
    return batch;
}

}  // namespace layout
