#include "shell/platform/qt/page_mirror.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>

// The tree's nodes themselves: the public element operations see elements only,
// and an insertion holds text nodes too.
#include "layout/document_impl.h"
#include "layout/node.h"
#include "layout/patch.h"

namespace hrd::qt {
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

// One node and everything below it, or nothing for a node the page must not have.
// Returns whether something was written. Recursion depth is bounded by the
// engine's nesting limit.
bool append_node(std::string& out, const layout::node& n, bool first) {
    using layout::element_node;
    if (n.is_text()) {
        out += first ? "{\"s\":" : ",{\"s\":";
        append_number(out, n.m_serial);
        append_field(out, "x", static_cast<const layout::text_node&>(n).m_text);
        out += '}';
        return true;
    }
    const auto& e = static_cast<const element_node&>(n);
    const std::string_view tag = layout::name_text(e.m_tag);
    if (!is_safe_element(tag)) {
        return false;
    }
    out += first ? "{\"s\":" : ",{\"s\":";
    append_number(out, e.m_serial);
    append_field(out, "t", tag);
    out += ",\"a\":[";
    bool first_attribute = true;
    e.m_attributes.for_each([&](layout::name_id name, std::string_view value) {
        const std::string_view text = layout::name_text(name);
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
    if (const layout::element_extras* extras = e.find_extras(); extras && !extras->style.empty()) {
        out += ",\"y\":[";
        bool first_style = true;
        for (const auto& [name, value] : extras->style) {
            out += first_style ? "[" : ",[";
            first_style = false;
            append_string(out, layout::name_text(name));
            out += ',';
            append_string(out, value);
            out += ']';
        }
        out += ']';
    }
    if (!e.m_children.empty()) {
        out += ",\"c\":[";
        bool first_child = true;
        for (const layout::node* child : e.m_children.items()) {
            if (append_node(out, *child, first_child)) {
                first_child = false;
            }
        }
        out += ']';
    }
    out += '}';
    return true;
}

const layout::node* lookup(layout::document_impl& doc, std::uint32_t serial) {
    if (serial == layout::document_serial) {
        return doc.document_node;
    }
    auto it = doc.by_serial.find(serial);
    return it == doc.by_serial.end() ? nullptr : it->second;
}

void append_insert(std::string& batch, std::uint32_t parent_serial, std::uint32_t before,
                   std::span<const layout::node* const> nodes) {
    open_record(batch, "insert");
    append_field(batch, "parent", parent_serial);
    append_field(batch, "before", before);
    batch += ",\"nodes\":[";
    bool first = true;
    for (const layout::node* n : nodes) {
        if (append_node(batch, *n, first)) {
            first = false;
        }
    }
    batch += "]}";
}

}  // namespace

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
        {layout::state::link, "link"},           {layout::state::hover, "hover"},
        {layout::state::active, "active"},       {layout::state::focus, "focus"},
        {layout::state::visited, "visited"},     {layout::state::current, "current"},
        {layout::state::checked, "checked"},     {layout::state::disabled, "disabled"},
        {layout::state::readonly, "readonly"},   {layout::state::expanded, "expanded"},
        {layout::state::collapsed, "collapsed"}, {layout::state::focusable, "focusable"},
        {layout::state::anchor, "anchor"},       {layout::state::owns_popup, "owns-popup"},
        {layout::state::pressed, "pressed"},     {layout::state::popup, "popup"},
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

void page_mirror_encoder::encode(const layout::patch& change, std::string& batch) const {
    using layout::patch_kind;
    layout::document_impl& doc = m_document.impl();
    switch (change.kind) {
        case patch_kind::insert: {
            const layout::node* parent = lookup(doc, change.node);
            const layout::node* first = lookup(doc, change.first_serial);
            if (!parent || parent->is_text() || !first || first->m_parent != parent) {
                return;  // not in the tree any more: a later patch says what became of it
            }
            const auto& children = static_cast<const layout::element_node*>(parent)->m_children;
            const auto items = children.items();
            auto begin = std::find(items.begin(), items.end(), first);
            auto end = begin;
            while (end != items.end() &&
                   (change.before == 0 || (*end)->m_serial != change.before)) {
                ++end;
            }
            append_insert(batch, change.node, change.before,
                          std::span<const layout::node* const>(
                              items.data() + (begin - items.begin()), std::size_t(end - begin)));
            return;
        }
        case patch_kind::remove:
            open_record(batch, "remove");
            append_field(batch, "node", change.node);
            batch += '}';
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
            append_field(batch, "value", change.value.value_or(""));
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
            open_record(batch, "reveal");
            append_field(batch, "node", change.node);
            append_field(batch, "top", (change.state & 1) ? 1 : 0);
            append_field(batch, "smooth", (change.state & 2) ? 1 : 0);
            batch += '}';
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

void page_mirror_encoder::encode_snapshot(std::string& batch) const {
    layout::document_impl& doc = m_document.impl();
    open_record(batch, "reset");
    batch += '}';
    const auto items = doc.document_node->m_children.items();
    append_insert(batch, layout::document_serial, 0,
                  std::span<const layout::node* const>(items.data(), items.size()));
}

std::string page_mirror_encoder::finish(std::string batch) {
    if (!batch.empty()) {
        batch += ']';
    }
    return batch;
}

}  // namespace hrd::qt
