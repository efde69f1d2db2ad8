#include "layout/render_markup.h"

#include <span>
#include <vector>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/markup.h"
#include "layout/names.h"
#include "layout/node.h"
#include "layout/page_mirror.h"

namespace layout {
namespace {

bool is_void(std::string_view tag) {
    for (const char* name : {"br", "hr", "img", "input", "wbr", "col", "area", "source"}) {
        if (tag == name) {
            return true;
        }
    }
    return false;
}

class writer {
public:
    writer(const render_markup_options& options, std::string& out)
        : m_options(options), m_out(out) {}

    void element(const element_node& e, bool in_row) {
        if (!open(e)) {
            return;
        }
        const std::string_view tag = name_text(e.m_tag);
        if (is_void(tag)) {
            return;  // no content and no end tag, which a reader would take for another
        }
        const bool long_list = e.find_extras() != nullptr &&
                               is_long_list(const_cast<element_node*>(&e));
        const bool rows = in_row || long_list;
        const std::span<node* const> children = e.m_children.items();
        for (std::size_t i = 0; i < children.size();) {
            // The children a word runs across, from i to last.
            std::size_t last = i;
            while (m_options.keep_words_whole && last + 1 < children.size() &&
                   ends_in_word(*children[last], rows) && starts_in_word(*children[last + 1], rows)) {
                ++last;
            }
            if (last == i) {
                child(*children[i++], rows);
                continue;
            }
            // The first child's last word and the last child's first word go
            // inside an unbreakable span with everything between them.
            const auto split = [](const std::string& text, bool at_last_blank) {
                const std::size_t at = at_last_blank ? text.find_last_of(blanks)
                                                     : text.find_first_of(blanks);
                return at == std::string::npos ? (at_last_blank ? 0 : text.size())
                                               : at + (at_last_blank ? 1 : 0);
            };
            std::string tail;  // after the span
            if (children[i]->is_text()) {
                const std::string text = text_of(*children[i], rows);
                const std::size_t cut = split(text, true);
                m_out += escape_text(std::string_view(text).substr(0, cut));
                m_out += "<span style=\"display:inline-block;vertical-align:top;white-space:nowrap\">";
                m_out += escape_text(std::string_view(text).substr(cut));
            } else {
                m_out += "<span style=\"display:inline-block;vertical-align:top;white-space:nowrap\">";
                child(*children[i], rows);
            }
            for (std::size_t k = i + 1; k < last; ++k) {
                child(*children[k], rows);
            }
            if (children[last]->is_text()) {
                const std::string text = text_of(*children[last], rows);
                const std::size_t cut = split(text, false);
                m_out += escape_text(std::string_view(text).substr(0, cut));
                tail = text.substr(cut);
            } else {
                child(*children[last], rows);
            }
            m_out += "</span>";
            m_out += escape_text(tail);
            i = last + 1;
        }
        close(e);
    }

    // The opening tag (with the head after the root's); false for an element left out.
    bool open(const element_node& e) {
        const std::string_view tag = name_text(e.m_tag);
        if (!is_safe_element(tag) || tag == "head" || m_options.left_out.contains(e.m_serial)) {
            return false;
        }
        m_out += '<';
        m_out += tag;
        m_out += " data-serial=\"";
        m_out += std::to_string(e.m_serial);
        m_out += '"';
        std::string style;
        e.m_attributes.for_each([&](name_id name, std::string_view value) {
            const std::string_view text = name_text(name);
            if (text == "data-serial" || !is_safe_attribute(text, value)) {
                return;
            }
            if (text == "style") {
                style += value;
                return;
            }
            attribute(text, value);
        });
        if (e.m_state != 0) {
            attribute("data-state", state_names(e.m_state));
        }
        if (const element_extras* extras = e.find_extras(); extras && !extras->style.empty()) {
            for (const auto& [name, value] : extras->style) {
                append_style(style, name_text(name), value);
            }
        }
        if (const auto it = m_options.extra_style.find(e.m_serial); it != m_options.extra_style.end()) {
            if (!style.empty()) {
                style += ';';
            }
            style += it->second;
        }
        if (!style.empty()) {
            attribute("style", style);
        }
        if (m_options.mark_empty && is_empty(e)) {
            attribute("data-empty", "");
        }
        m_out += '>';
        if (m_first) {
            m_first = false;
            m_out += m_options.head;
        }
        return true;
    }

    void close(const element_node& e) {
        m_out += "</";
        m_out += name_text(e.m_tag);
        m_out += '>';
    }

    // The root's head is written only when the root is written.
    void not_at_root() { m_first = false; }

private:
    static constexpr const char* blanks = " \t\n\r";

    void child(const node& n, bool in_row) {
        if (n.is_text()) {
            m_out += escape_text(text_of(n, in_row));
        } else {
            element(static_cast<const element_node&>(n), in_row);
        }
    }
    static std::string text_of(const node& n, bool in_row) {
        const std::string& text = static_cast<const text_node&>(n).m_text;
        return in_row && text.size() > max_row_text_bytes ? shown_text(text) : text;
    }
    // Whether a node's text ends (starts) with a character of a word: text nodes
    // and inline elements only; blocks and rows break lines anyway.
    static bool inline_text(const node& n, bool in_row, std::string& text) {
        if (n.is_text()) {
            text = text_of(n, in_row);
            return true;
        }
        const auto& e = static_cast<const element_node&>(n);
        const std::string_view tag = name_text(e.m_tag);
        if (tag != "mark" && tag != "span" && tag != "b" && tag != "i" && tag != "em" &&
            tag != "strong" && tag != "a" && tag != "code") {
            return false;
        }
        text = get_inner_text_utf8(const_cast<element_node*>(&e)).value_or("");
        return true;
    }
    static bool ends_in_word(const node& n, bool in_row) {
        std::string text;
        return inline_text(n, in_row, text) && !text.empty() &&
               std::string_view(blanks).find(text.back()) == std::string_view::npos;
    }
    static bool starts_in_word(const node& n, bool in_row) {
        std::string text;
        return inline_text(n, in_row, text) && !text.empty() &&
               std::string_view(blanks).find(text.front()) == std::string_view::npos;
    }
    static bool is_empty(const element_node& e) {
        if (e.find_extras() != nullptr && is_long_list(const_cast<element_node*>(&e)) &&
            row_count(const_cast<element_node*>(&e)) > 0) {
            return false;
        }
        for (const node* child : e.m_children.items()) {
            if (!child->is_text() || !static_cast<const text_node*>(child)->m_text.empty()) {
                return false;
            }
        }
        return true;
    }
    void attribute(std::string_view name, std::string_view value) {
        m_out += ' ';
        m_out += name;
        m_out += "=\"";
        m_out += escape_attribute(value);
        m_out += '"';
    }
    static void append_style(std::string& style, std::string_view name, std::string_view value) {
        if (!style.empty()) {
            style += ';';
        }
        style += name;
        style += ':';
        style += value;
    }

    const render_markup_options& m_options;
    std::string& m_out;
    bool m_first = true;  // the root, which gets the head
};

}  // namespace

std::string render_markup(const document& doc, const render_markup_options& options) {
    std::string out;
    const handle root = doc.root();
    if (!root) {
        return out;
    }
    writer(options, out).element(*root, false);
    return out;
}

std::string render_element_markup(const document& doc, handle element,
                                  const render_markup_options& options) {
    std::string out;
    if (!element || !doc.root()) {
        return out;
    }
    // Texts are shortened below a long list, as in the whole document.
    bool in_row = false;
    for (handle up = parent(element); up && !in_row; up = parent(up)) {
        in_row = up->find_extras() != nullptr && is_long_list(up);
    }
    writer write(options, out);
    if (element != doc.root()) {
        write.not_at_root();
    }
    write.element(*element, in_row);
    return out;
}

markup_frame render_ancestors_markup(const document& doc, handle element,
                                     const render_markup_options& options) {
    markup_frame frame;
    std::vector<handle> chain;
    for (handle up = element ? parent(element) : nullptr; up; up = parent(up)) {
        chain.push_back(up);
    }
    if (chain.empty() || chain.back() != doc.root()) {
        return frame;  // not in the document
    }
    writer opening(options, frame.opening);
    for (auto up = chain.rbegin(); up != chain.rend(); ++up) {
        if (!opening.open(**up)) {
            return {};
        }
    }
    writer closing(options, frame.closing);
    for (const handle up : chain) {
        closing.close(*up);
    }
    return frame;
}

}  // namespace layout
