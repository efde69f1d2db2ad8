#include "layout/page_mirror.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <unordered_set>

// The tree's nodes themselves: the public element operations see elements only,
// and an insertion holds text nodes too.
#include "layout/document_impl.h"
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

bool contains(const std::vector<std::uint32_t>& serials, std::uint32_t serial) {
    return std::find(serials.begin(), serials.end(), serial) != serials.end();
}

const element_node* as_element(const node* n) {
    return n && !n->is_text() ? static_cast<const element_node*>(n) : nullptr;
}

bool is_windowed(const element_node& e) {
    static const name_id marker = intern_name("virtual-rows");
    return e.m_attributes.has(marker);
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
        std::span<node* const> children = e.m_children.items();
        windowed_list* list = nullptr;
        if (is_windowed(e)) {
            // Newly in the page: its window starts at the top, and finish() says
            // how much room the rows after it take.
            list = &m_lists[e.m_serial];
            *list = windowed_list{};
            const std::size_t end = std::min<std::size_t>(children.size(), list->count);
            children = children.first(end);
        }
        out += ",\"c\":[";
        bool first_child = true;
        for (const node* child : children) {
            if (append_node(out, *child, first_child, in_row || list != nullptr)) {
                first_child = false;
            }
            if (list) {
                list->shown.push_back(child->m_serial);
            }
        }
        out += ']';
    } else if (is_windowed(e)) {
        m_lists[e.m_serial] = windowed_list{};
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

bool page_mirror_encoder::page_has(const node* n) const {
    if (m_lists.empty()) {
        return true;
    }
    for (; n && n->m_parent; n = n->m_parent) {
        auto it = m_lists.find(n->m_parent->m_serial);
        if (it != m_lists.end() && !contains(it->second.shown, n->m_serial)) {
            return false;
        }
    }
    return true;
}

std::pair<page_mirror_encoder::windowed_list*, const node*> page_mirror_encoder::row_of(
    const node* n) {
    for (; n && n->m_parent; n = n->m_parent) {
        auto it = m_lists.find(n->m_parent->m_serial);
        if (it != m_lists.end()) {
            return {&it->second, n};
        }
    }
    return {nullptr, nullptr};
}

void page_mirror_encoder::encode(const patch& change, std::string& batch) {
    document_impl& doc = m_document.impl();
    const node* target = lookup(doc, change.node);
    if (change.kind != patch_kind::remove && change.kind != patch_kind::insert &&
        change.kind != patch_kind::scroll_to_view && target && !page_has(target)) {
        return;  // inside a row the page does not hold: it is described when shown
    }
    switch (change.kind) {
        case patch_kind::insert: {
            const node* first = lookup(doc, change.first_serial);
            if (!as_element(target) || !first || first->m_parent != target) {
                return;  // not in the tree any more: a later patch says what became of it
            }
            if (auto it = m_lists.find(change.node); it != m_lists.end()) {
                it->second.dirty = it->second.moved = true;  // finish() sends what the window needs
                return;
            }
            if (!page_has(target)) {
                return;
            }
            const auto items = as_element(target)->m_children.items();
            auto begin = std::find(items.begin(), items.end(), first);
            auto end = begin;
            while (end != items.end() &&
                   (change.before == 0 || (*end)->m_serial != change.before)) {
                ++end;
            }
            append_insert(batch, change.node, change.before, items.data() + (begin - items.begin()),
                          std::size_t(end - begin), row_of(target).first != nullptr);
            return;
        }
        case patch_kind::remove: {
            // Called before the node leaves the tree, so its row can still be found.
            if (target) {
                if (auto [list, row] = row_of(target); list && row == target) {
                    list->dirty = list->moved = true;
                    auto at = std::find(list->shown.begin(), list->shown.end(), change.node);
                    if (at == list->shown.end()) {
                        return;  // a row the page never got
                    }
                    list->shown.erase(at);
                } else if (!page_has(target)) {
                    return;
                }
            }
            m_lists.erase(change.node);
            append_remove(batch, change.node);
            return;
        }
        case patch_kind::clear:
            if (auto it = m_lists.find(change.node); it != m_lists.end()) {
                windowed_list& list = it->second;
                list.shown.clear();
                list.first = 0;
                list.dirty = list.emptied = true;
                list.moved = false;
                list.reveal_row = 0;
            }
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
            // A list that becomes one text is a list no more.
            m_lists.erase(change.node);
            open_record(batch, "text");
            append_field(batch, "node", change.node);
            append_field(batch, "serial", change.first_serial);
            if (change.value && change.value->size() > max_row_text_bytes &&
                row_of(target).first != nullptr) {
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
            if (auto it = m_lists.find(change.node); it != m_lists.end()) {
                it->second.dirty = true;  // the window keeps its place, with other rows in it
                return;
            }
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
            if (auto [list, row] = row_of(target); list) {
                // Sent after the window has moved to the row, with the rows it needs.
                list->reveal_row = row->m_serial;
                list->dirty = true;
                m_reveals.push_back(change);
                return;
            }
            if (target && !page_has(target)) {
                return;
            }
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
    }
}

void page_mirror_encoder::encode_snapshot(std::string& batch) {
    document_impl& doc = m_document.impl();
    m_lists.clear();
    m_reveals.clear();
    open_record(batch, "reset");
    batch += '}';
    const auto items = doc.document_node->m_children.items();
    append_insert(batch, document_serial, 0, items.data(), items.size(), false);
}

void page_mirror_encoder::request_window(std::uint32_t list, std::uint32_t first,
                                         std::uint32_t count) {
    auto it = m_lists.find(list);
    if (it == m_lists.end()) {
        return;
    }
    windowed_list& w = it->second;
    count = std::clamp<std::uint32_t>(count, 1, max_window_rows);
    if (w.first != first || w.count != count) {
        w.first = first;
        w.count = count;
        w.dirty = true;
    }
}

void page_mirror_encoder::reconcile(std::uint32_t serial, windowed_list& w, std::string& batch) {
    document_impl& doc = m_document.impl();
    const auto* e = as_element(lookup(doc, serial));
    const std::span<node* const> children =
        e ? e->m_children.items() : std::span<node* const>();
    const auto n = std::uint32_t(children.size());

    if (w.moved && w.first > 0 && !w.shown.empty()) {
        // Rows came or went: the window stays on the rows the page shows, wherever
        // they now stand. A window at the very top stays there, so a new quote on
        // top comes into view.
        const std::unordered_set<std::uint32_t> shown(w.shown.begin(), w.shown.end());
        for (std::uint32_t i = 0; i < n; ++i) {
            if (shown.count(children[i]->m_serial) != 0) {
                w.first = i;
                break;
            }
        }
    }
    if (w.reveal_row != 0) {
        const auto* row = lookup(doc, w.reveal_row);
        const std::size_t at = row && row->m_parent == e ? e->m_children.index_of(row) : n;
        if (at < n && (at < w.first || at >= std::size_t(w.first) + w.count)) {
            w.first = std::uint32_t(at) - std::min(std::uint32_t(at), w.count / 3);
        }
    }
    w.first = std::min(w.first, n - std::min(n, w.count));
    const std::uint32_t end = std::min(n, w.first + w.count);
    const std::span<node* const> wanted = children.subspan(w.first, end - w.first);

    // Rows that leave the window go; rows that stay keep their place when they are
    // still in order (a sort moves them: then they go too and come back in order).
    std::vector<std::uint32_t> kept;
    for (std::uint32_t row : w.shown) {
        const bool stays = std::any_of(wanted.begin(), wanted.end(),
                                       [&](const node* c) { return c->m_serial == row; });
        if (stays) {
            kept.push_back(row);
        }
    }
    std::size_t next_kept = 0;
    bool in_order = true;
    for (const node* c : wanted) {
        if (next_kept < kept.size() && c->m_serial == kept[next_kept]) {
            ++next_kept;
        } else if (contains(kept, c->m_serial)) {
            in_order = false;
            break;
        }
    }
    if (!in_order) {
        kept.clear();
    }
    for (std::uint32_t row : w.shown) {
        if (!contains(kept, row)) {
            append_remove(batch, row);
        }
    }
    // The missing rows go in as runs, each before the next row the page keeps.
    std::size_t i = 0;
    while (i < wanted.size()) {
        if (contains(kept, wanted[i]->m_serial)) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < wanted.size() && !contains(kept, wanted[j]->m_serial)) {
            ++j;
        }
        const std::uint32_t before = j < wanted.size() ? wanted[j]->m_serial : 0;
        append_insert(batch, serial, before, wanted.data() + i, j - i, true);
        i = j;
    }
    w.shown.clear();
    for (const node* c : wanted) {
        w.shown.push_back(c->m_serial);
    }
    open_record(batch, "span");
    append_field(batch, "node", serial);
    append_field(batch, "above", w.first);
    append_field(batch, "below", n - end);
    append_field(batch, "top", w.emptied ? 1 : 0);
    batch += '}';
    w.dirty = w.moved = w.emptied = false;
    w.reveal_row = 0;
}

std::string page_mirror_encoder::finish(std::string batch) {
    document_impl& doc = m_document.impl();
    // Rows put into the page may hold windowed lists of their own, which then need
    // their room too: a few rounds cover any nesting a document has.
    for (int round = 0; round < 8; ++round) {
        std::vector<std::uint32_t> dirty;
        for (auto it = m_lists.begin(); it != m_lists.end();) {
            if (!as_element(lookup(doc, it->first))) {
                it = m_lists.erase(it);  // gone with something above it
                continue;
            }
            if (it->second.dirty) {
                dirty.push_back(it->first);
            }
            ++it;
        }
        if (dirty.empty()) {
            break;
        }
        for (std::uint32_t serial : dirty) {
            // Looked up each time: reconciling one list may add others.
            reconcile(serial, m_lists.at(serial), batch);
        }
    }
    for (const patch& reveal : std::exchange(m_reveals, {})) {
        const node* target = lookup(doc, reveal.node);
        if (target && page_has(target)) {
            append_reveal(batch, reveal);
        }
    }
    if (!batch.empty()) {
        batch += ']';
    }
    return batch;
}

std::vector<std::uint32_t> page_mirror_encoder::shown_rows(std::uint32_t list) const {
    auto it = m_lists.find(list);
    return it == m_lists.end() ? std::vector<std::uint32_t>{} : it->second.shown;
}

}  // namespace layout
