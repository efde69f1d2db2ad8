#include "layout/markup.h"

#include "fml/text.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "layout/node.h"

namespace layout {
namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool is_ascii_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_name_char(char c) {
    return is_ascii_alpha(c) || is_ascii_digit(c) || c == '-' || c == '_' || c == ':' || c == '.';
}
bool is_blank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), is_space);
}

// A character reference's code point as UTF-8; NUL and what is not a character
// become U+FFFD.
void append_code_point(std::string& out, char32_t cp) { fml::append_utf8(out, cp == 0 ? 0xFFFD : cp); }

// Length of the well-formed UTF-8 sequence at `text[i]`, or 0 when it is not one.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if (c < 0x80 || c > 0xBF) {
            return 0;
        }
    }
    return length;
}

struct named_reference {
    std::string_view name;
    char32_t code_point;
};
constexpr named_reference named_references[] = {
    {"amp", '&'},       {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},     {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014},  {"ndash", 0x2013}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"lsquo", 0x2018},
    {"rsquo", 0x2019},  {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bull", 0x2022},  {"middot", 0xB7},
    {"deg", 0xB0},      {"plusmn", 0xB1},  {"times", 0xD7},   {"divide", 0xF7},  {"euro", 0x20AC},
    {"pound", 0xA3},    {"yen", 0xA5},     {"cent", 0xA2},    {"sect", 0xA7},    {"para", 0xB6},
    {"shy", 0xAD},      {"larr", 0x2190},  {"rarr", 0x2192},  {"uarr", 0x2191},  {"darr", 0x2193},
    {"hearts", 0x2665},
};

// Decodes the character reference at `in[pos]` ('&') into `out` and returns
// the position after it; a '&' that starts no reference stays as it is.
std::size_t decode_reference(std::string_view in, std::size_t pos, std::string& out) {
    std::size_t i = pos + 1;
    if (i < in.size() && in[i] == '#') {
        ++i;
        const bool hex = i < in.size() && (in[i] == 'x' || in[i] == 'X');
        i += hex ? 1 : 0;
        const std::size_t digits_start = i;
        char32_t value = 0;
        bool too_big = false;
        for (; i < in.size(); ++i) {
            const char c = in[i];
            int digit;
            if (is_ascii_digit(c)) {
                digit = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (hex && c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                break;
            }
            value = value * (hex ? 16 : 10) + char32_t(digit);
            if (value > 0x10FFFF) {
                too_big = true;
                value = 0x10FFFF;  // keep reading the digits without overflow
            }
        }
        if (i == digits_start) {
            out += '&';
            return pos + 1;
        }
        append_code_point(out, too_big ? 0xFFFD : value);
        return (i < in.size() && in[i] == ';') ? i + 1 : i;
    }
    std::size_t end = i;
    while (end < in.size() && end - i < 8 && (is_ascii_alpha(in[end]) || is_ascii_digit(in[end]))) {
        ++end;
    }
    if (end < in.size() && in[end] == ';') {
        const std::string_view name = in.substr(i, end - i);
        for (const auto& reference : named_references) {
            if (reference.name == name) {
                append_code_point(out, reference.code_point);
                return end + 1;
            }
        }
    }
    out += '&';
    return pos + 1;
}

// Appends `raw` with its character references decoded and made valid UTF-8.
void append_decoded(std::string& out, std::string_view raw) {
    std::size_t start = 0;
    for (std::size_t i = raw.find('&'); i != std::string_view::npos; i = raw.find('&', start)) {
        append_valid_utf8(out, raw.substr(start, i - start));
        start = decode_reference(raw, i, out);
    }
    append_valid_utf8(out, raw.substr(start));
}

// Elements whose blank text children carry no meaning.
bool drops_blank_text(name_id tag) {
    static const name_id menu = intern_name("menu");
    static const name_id dl = intern_name("dl");
    switch (tag) {
        case names::html:
        case names::head:
        case names::table:
        case names::thead:
        case names::tbody:
        case names::tfoot:
        case names::tr:
        case names::colgroup:
        case names::ul:
        case names::ol:
        case names::select:
            return true;
        default:
            return tag == menu || tag == dl;
    }
}

class markup_reader {
public:
    markup_reader(std::string_view in, name_id context, std::uint32_t& next_serial,
                  std::vector<node*>& out)
        : m_in(in), m_context(context), m_next_serial(next_serial), m_out(out) {}

    void run() {
        if (is_raw_text_element(m_context)) {
            // Markup set into a script or style is its text, as it would be read there.
            std::string content;
            append_valid_utf8(content, m_in);
            make_raw_text_safe(content, m_context);
            if (!content.empty()) {
                m_out.push_back(new text_node(m_next_serial++, std::move(content)));
            }
            return;
        }
        while (m_pos < m_in.size()) {
            const std::size_t lt = m_in.find('<', m_pos);
            if (lt == std::string_view::npos) {
                m_text.append(m_in.substr(m_pos));
                m_pos = m_in.size();
                break;
            }
            m_text.append(m_in.substr(m_pos, lt - m_pos));
            m_pos = lt;
            read_markup();
        }
        flush_text();
        for (element_node* open : m_open) {
            open->m_children.shrink_short_list();
        }
    }

private:
    name_id current_tag() const { return m_open.empty() ? m_context : m_open.back()->m_tag; }

    void add(node* n) {
        if (m_open.empty()) {
            m_out.push_back(n);
        } else {
            node* one[] = {n};
            insert_nodes(*m_open.back(), m_open.back()->m_children.size(), one);
        }
    }

    void flush_text() {
        if (m_text.empty()) {
            return;
        }
        std::string decoded;
        decoded.reserve(m_text.size());
        append_decoded(decoded, m_text);
        // Blank is judged after decoding: "&#9;" is as blank as a tab.
        if (!(drops_blank_text(current_tag()) && is_blank(decoded))) {
            add(new text_node(m_next_serial++, std::move(decoded)));
        }
        m_text.clear();
    }

    bool at(std::string_view s) const { return m_in.substr(m_pos, s.size()) == s; }

    void skip_past(std::string_view terminator) {
        const std::size_t end = m_in.find(terminator, m_pos);
        m_pos = end == std::string_view::npos ? m_in.size() : end + terminator.size();
    }

    // At '<': a tag, a comment, a declaration, or plain text.
    void read_markup() {
        const char next = m_pos + 1 < m_in.size() ? m_in[m_pos + 1] : '\0';
        if (is_ascii_alpha(next)) {
            read_start_tag();
        } else if (next == '/') {
            read_end_tag();
        } else if (at("<!--")) {
            m_pos += 4;
            skip_past("-->");
        } else if (next == '!' || next == '?') {
            skip_past(">");
        } else {
            m_text += '<';
            ++m_pos;
        }
    }

    std::string_view read_name() {
        const std::size_t start = m_pos;
        while (m_pos < m_in.size() && is_name_char(m_in[m_pos])) {
            ++m_pos;
        }
        return m_in.substr(start, m_pos - start);
    }

    void skip_spaces() {
        while (m_pos < m_in.size() && is_space(m_in[m_pos])) {
            ++m_pos;
        }
    }

    void read_start_tag() {
        flush_text();
        ++m_pos;  // '<'
        const name_id tag = intern_name(read_name());
        auto* element = new element_node(node_kind::element, m_next_serial++, tag);
        const bool self_closing = read_attributes(*element);
        add(element);
        if (is_raw_text_element(tag) && !self_closing) {
            read_raw_text(*element);
        } else if (!self_closing && !is_void_element(tag) && m_open.size() + 1 < max_markup_depth) {
            m_open.push_back(element);
            ++m_open_count[tag];
        }
    }

    // Reads attributes up to the tag's end; returns whether it ended with "/>".
    bool read_attributes(element_node& element) {
        m_attributes.clear();
        m_attribute_names.clear();
        const bool self_closing = read_attribute_list();
        element.m_attributes.assign(m_attributes);
        return self_closing;
    }

    bool read_attribute_list() {
        while (true) {
            skip_spaces();
            if (m_pos >= m_in.size()) {
                return false;
            }
            const char c = m_in[m_pos];
            if (c == '>') {
                ++m_pos;
                return false;
            }
            if (c == '/') {
                ++m_pos;
                if (m_pos < m_in.size() && m_in[m_pos] == '>') {
                    ++m_pos;
                    return true;
                }
                continue;
            }
            // The name runs to a blank, '/', '>' or '='; at least one character.
            const std::size_t name_start = m_pos++;
            while (m_pos < m_in.size() && !is_space(m_in[m_pos]) && m_in[m_pos] != '/' &&
                   m_in[m_pos] != '>' && m_in[m_pos] != '=') {
                ++m_pos;
            }
            const std::string_view name = m_in.substr(name_start, m_pos - name_start);
            skip_spaces();
            std::string value;
            if (m_pos < m_in.size() && m_in[m_pos] == '=') {
                ++m_pos;
                skip_spaces();
                append_decoded(value, read_attribute_value());
            }
            if (is_valid_markup_name(name)) {
                add_attribute(intern_name(name), std::move(value));
            }
        }
    }

    // The first of duplicate attributes wins; a set keeps long lists linear.
    void add_attribute(name_id name, std::string value) {
        constexpr std::size_t linear_limit = 8;
        if (m_attributes.size() < linear_limit) {
            for (const auto& [existing, unused] : m_attributes) {
                if (existing == name) {
                    return;
                }
            }
        } else {
            if (m_attribute_names.empty()) {
                for (const auto& [existing, unused] : m_attributes) {
                    m_attribute_names.insert(existing);
                }
            }
            if (!m_attribute_names.insert(name).second) {
                return;
            }
        }
        m_attributes.emplace_back(name, std::move(value));
    }

    std::string_view read_attribute_value() {
        if (m_pos >= m_in.size()) {
            return {};
        }
        const char quote = m_in[m_pos];
        if (quote == '"' || quote == '\'') {
            const std::size_t start = m_pos + 1;
            const std::size_t end = m_in.find(quote, start);
            m_pos = end == std::string_view::npos ? m_in.size() : end + 1;
            return m_in.substr(start, (end == std::string_view::npos ? m_in.size() : end) - start);
        }
        const std::size_t start = m_pos;
        while (m_pos < m_in.size() && !is_space(m_in[m_pos]) && m_in[m_pos] != '>') {
            ++m_pos;
        }
        return m_in.substr(start, m_pos - start);
    }

    // Script and style content is kept as it is, up to the matching end tag.
    void read_raw_text(element_node& element) {
        const std::string_view tag = name_text(element.m_tag);
        std::size_t end = m_pos;
        while (true) {
            end = m_in.find("</", end);
            if (end == std::string_view::npos) {
                end = m_in.size();
                break;
            }
            const std::string_view candidate = m_in.substr(end + 2, tag.size());
            if (candidate.size() == tag.size() &&
                std::equal(candidate.begin(), candidate.end(), tag.begin(),
                           [](char a, char b) { return (a | 0x20) == b; })) {
                break;
            }
            end += 2;
        }
        if (end > m_pos) {
            std::string content;
            append_valid_utf8(content, m_in.substr(m_pos, end - m_pos));
            node* text[] = {new text_node(m_next_serial++, std::move(content))};
            insert_nodes(element, 0, text);
        }
        m_pos = end;
        if (m_pos < m_in.size()) {
            skip_past(">");
        }
    }

    void read_end_tag() {
        m_pos += 2;  // "</"
        if (m_pos >= m_in.size() || !is_ascii_alpha(m_in[m_pos])) {
            skip_past(">");  // "</>" or "</ ...": a bogus comment
            return;
        }
        const name_id tag = find_name(read_name());
        skip_past(">");
        auto open = m_open_count.find(tag);
        if (tag == names::none || open == m_open_count.end() || open->second == 0) {
            return;  // nothing of that name is open: the end tag is ignored
        }
        flush_text();
        while (!m_open.empty()) {
            element_node* closed = m_open.back();
            m_open.pop_back();
            closed->m_children.shrink_short_list();
            --m_open_count[closed->m_tag];
            if (closed->m_tag == tag) {
                break;
            }
        }
    }

    std::string_view m_in;
    std::size_t m_pos = 0;
    name_id m_context;
    std::uint32_t& m_next_serial;
    std::vector<node*>& m_out;
    std::vector<element_node*> m_open;
    // How many elements of each name are open, so that an unmatched end tag
    // costs nothing however deep the stack is.
    std::unordered_map<name_id, std::size_t> m_open_count;
    std::string m_text;  // raw text not yet turned into a node
    std::vector<std::pair<name_id, std::string>> m_attributes;  // of the tag being read
    std::unordered_set<name_id> m_attribute_names;
};

void append_escaped(std::string& out, std::string_view text, bool attribute) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* replacement = nullptr;
        switch (text[i]) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = attribute ? "&quot;" : nullptr;
                break;
            default:
                break;
        }
        if (replacement) {
            out.append(text.substr(start, i - start));
            out += replacement;
            start = i + 1;
        }
    }
    out.append(text.substr(start));
}

// Raw text stays raw; only a run that would end its element early is broken up.
void append_raw_text(std::string& out, std::string_view text, std::string_view tag) {
    std::size_t start = 0;
    for (std::size_t i = text.find("</"); i != std::string_view::npos; i = text.find("</", i + 2)) {
        const std::string_view candidate = text.substr(i + 2, tag.size());
        if (candidate.size() == tag.size() &&
            std::equal(candidate.begin(), candidate.end(), tag.begin(),
                       [](char a, char b) { return (a | 0x20) == b; })) {
            out.append(text.substr(start, i + 1 - start));
            out += '\\';
            start = i + 1;
        }
    }
    out.append(text.substr(start));
}

void write_start_tag(const element_node& e, std::string& out) {
    out += '<';
    out += name_text(e.m_tag);
    e.m_attributes.for_each([&](name_id name, std::string_view value) {
        out += ' ';
        out += name_text(name);
        out += "=\"";
        append_escaped(out, value, true);
        out += '"';
    });
    out += '>';
}

void write_end_tag(const element_node& e, std::string& out) {
    out += "</";
    out += name_text(e.m_tag);
    out += '>';
}

// Writes the children of `root` (and `root` itself when `outer`), without recursion.
void serialize(const node& root, bool outer, std::string& out) {
    if (root.is_text()) {
        const element_node* parent = root.m_parent;
        const auto& text = static_cast<const text_node&>(root).m_text;
        if (parent && is_raw_text_element(parent->m_tag)) {
            append_raw_text(out, text, name_text(parent->m_tag));
        } else {
            append_escaped(out, text, false);
        }
        return;
    }
    const auto& top = static_cast<const element_node&>(root);
    if (outer) {
        write_start_tag(top, out);
        if (is_void_element(top.m_tag)) {
            return;
        }
    }
    std::vector<std::pair<const element_node*, std::size_t>> stack{{&top, 0}};
    while (!stack.empty()) {
        auto& [parent, index] = stack.back();
        if (index == parent->m_children.size()) {
            if (stack.size() > 1 || outer) {
                write_end_tag(*parent, out);
            }
            stack.pop_back();
            continue;
        }
        const node* child = parent->m_children.at(index++);
        if (child->is_text()) {
            const auto& text = static_cast<const text_node&>(*child).m_text;
            if (is_raw_text_element(parent->m_tag)) {
                append_raw_text(out, text, name_text(parent->m_tag));
            } else {
                append_escaped(out, text, false);
            }
            continue;
        }
        const auto* element = static_cast<const element_node*>(child);
        write_start_tag(*element, out);
        if (!is_void_element(element->m_tag)) {
            stack.emplace_back(element, 0);
        }
    }
}

}  // namespace

void append_valid_utf8(std::string& out, std::string_view text) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x01 && c < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = c == 0 ? 0 : utf8_sequence_length(text, i);
        if (length) {
            i += length;
            continue;
        }
        out.append(text.substr(start, i - start));
        out += "\xEF\xBF\xBD";
        start = ++i;
    }
    out.append(text.substr(start));
}

void parse_fragment(std::string_view markup, name_id context, std::uint32_t& next_serial,
                    std::vector<node*>& out) {
    markup_reader(markup, context, next_serial, out).run();
}

void serialize_outer(const node& n, std::string& out) {
    serialize(n, true, out);
}

void serialize_inner(const element_node& e, std::string& out) {
    serialize(e, false, out);
}

std::string escape_text(std::string_view text) {
    std::string valid;
    append_valid_utf8(valid, text);
    std::string out;
    append_escaped(out, valid, false);
    return out;
}

std::string escape_attribute(std::string_view value) {
    std::string valid;
    append_valid_utf8(valid, value);
    std::string out;
    append_escaped(out, valid, true);
    return out;
}

bool is_void_element(name_id tag) {
    static const std::array<name_id, 14> void_tags = {
        intern_name("area"),  intern_name("base"),  names::br,
        intern_name("col"),   intern_name("embed"), intern_name("hr"),
        intern_name("img"),   names::input,         names::link,
        intern_name("meta"),  intern_name("param"), intern_name("source"),
        intern_name("track"), intern_name("wbr")};
    return std::find(void_tags.begin(), void_tags.end(), tag) != void_tags.end();
}

bool is_raw_text_element(name_id tag) {
    static const name_id style = intern_name("style");
    return tag == names::script || tag == style;
}

void make_raw_text_safe(std::string& text, name_id tag) {
    const std::string_view name = name_text(tag);
    for (std::size_t i = text.find("</"); i != std::string::npos; i = text.find("</", i + 2)) {
        const std::string_view candidate = std::string_view(text).substr(i + 2, name.size());
        if (candidate.size() == name.size() &&
            std::equal(candidate.begin(), candidate.end(), name.begin(),
                       [](char a, char b) { return (a | 0x20) == b; })) {
            text.insert(i + 1, 1, '\\');
        }
    }
}

bool is_valid_markup_name(std::string_view name) {
    if (name.empty() || !(is_ascii_alpha(name[0]) || name[0] == '_' || name[0] == ':')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), is_name_char);
}

}  // namespace layout
