#include "layout/selector.h"

#include "layout/node.h"
#include "layout/types.h"

namespace layout {
namespace {

// Long selectors are no use to anyone and would only slow matching down.
constexpr std::size_t max_compounds = 32;

bool is_ident_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

struct state_name {
    std::string_view name;
    std::uint32_t bits;
};
constexpr state_name state_names[] = {
    {"current", state::current},   {"checked", state::checked},   {"focus", state::focus},
    {"anchor", state::anchor},     {"hover", state::hover},       {"active", state::active},
    {"disabled", state::disabled}, {"expanded", state::expanded}, {"collapsed", state::collapsed},
    {"popup", state::popup},       {"visited", state::visited},   {"link", state::link},
};

class selector_reader {
public:
    explicit selector_reader(std::string_view text) : m_text(text) {}

    std::optional<selector_list> read() {
        selector_list list;
        while (true) {
            skip_spaces();
            auto complex = read_complex();
            if (!complex) {
                return std::nullopt;
            }
            list.alternatives.push_back(std::move(*complex));
            skip_spaces();
            if (m_pos == m_text.size()) {
                return list;
            }
            if (m_text[m_pos] != ',') {
                return std::nullopt;
            }
            ++m_pos;
        }
    }

private:
    bool at_end() const { return m_pos >= m_text.size(); }
    char peek() const { return at_end() ? '\0' : m_text[m_pos]; }

    bool skip_spaces() {
        const std::size_t start = m_pos;
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++m_pos;
        }
        return m_pos != start;
    }

    // An identifier, with backslash escapes taken literally.
    std::optional<std::string> read_ident() {
        std::string out;
        while (!at_end()) {
            const char c = peek();
            if (c == '\\' && m_pos + 1 < m_text.size()) {
                out += m_text[m_pos + 1];
                m_pos += 2;
            } else if (is_ident_char(c)) {
                out += c;
                ++m_pos;
            } else {
                break;
            }
        }
        if (out.empty()) {
            return std::nullopt;
        }
        return out;
    }

    std::optional<std::string> read_value() {
        const char quote = peek();
        if (quote != '\'' && quote != '"') {
            return read_ident();
        }
        ++m_pos;
        std::string out;
        while (!at_end() && peek() != quote) {
            if (peek() == '\\' && m_pos + 1 < m_text.size()) {
                ++m_pos;
            }
            out += m_text[m_pos++];
        }
        if (at_end()) {
            return std::nullopt;
        }
        ++m_pos;
        return out;
    }

    std::optional<complex_selector> read_complex() {
        complex_selector complex;
        while (true) {
            auto compound = read_compound();
            if (!compound || complex.compounds.size() == max_compounds) {
                return std::nullopt;
            }
            complex.compounds.push_back(std::move(*compound));
            const bool spaced = skip_spaces();
            if (peek() == '>') {
                ++m_pos;
                skip_spaces();
                complex.combinators.push_back(combinator::child);
            } else if (spaced && !at_end() && peek() != ',') {
                complex.combinators.push_back(combinator::descendant);
            } else {
                break;
            }
        }
        for (const auto& compound : complex.compounds) {
            complex.specificity += compound.tag != names::none ? 1 : 0;
            for (const auto& part : compound.parts) {
                complex.specificity += part.what == simple_selector::kind::id ? 0x10000 : 0x100;
            }
        }
        return complex;
    }

    std::optional<compound_selector> read_compound() {
        compound_selector compound;
        bool any = false;
        if (peek() == '*') {
            ++m_pos;
            any = true;
        } else if (!at_end() && is_ident_char(peek())) {
            auto tag = read_ident();
            compound.tag = find_name(*tag);
            compound.never_matches = compound.tag == names::none;
            any = true;
        }
        while (!at_end()) {
            const char c = peek();
            simple_selector part;
            if (c == '#' || c == '.') {
                ++m_pos;
                auto name = read_ident();
                if (!name) {
                    return std::nullopt;
                }
                part.what =
                    c == '#' ? simple_selector::kind::id : simple_selector::kind::class_name;
                part.value = std::move(*name);
            } else if (c == '[') {
                if (!read_attribute(part, compound)) {
                    return std::nullopt;
                }
            } else if (c == ':') {
                ++m_pos;
                auto name = read_ident();
                if (!name) {
                    return std::nullopt;
                }
                part.what = simple_selector::kind::state;
                for (const auto& known : state_names) {
                    if (known.name == *name) {
                        part.state_bits = known.bits;
                    }
                }
                if (part.state_bits == 0) {
                    return std::nullopt;
                }
            } else {
                break;
            }
            compound.parts.push_back(std::move(part));
            any = true;
        }
        if (!any) {
            return std::nullopt;
        }
        return compound;
    }

    bool read_attribute(simple_selector& part, compound_selector& compound) {
        ++m_pos;  // '['
        skip_spaces();
        auto name = read_ident();
        if (!name) {
            return false;
        }
        part.attribute = find_name(*name);
        compound.never_matches |= part.attribute == names::none;
        skip_spaces();
        part.what = simple_selector::kind::attribute_present;
        if (peek() == '=') {
            ++m_pos;
            skip_spaces();
            auto value = read_value();
            if (!value) {
                return false;
            }
            part.what = simple_selector::kind::attribute_equals;
            part.value = std::move(*value);
            skip_spaces();
        }
        if (peek() != ']') {
            return false;
        }
        ++m_pos;
        return true;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool class_list_contains(std::string_view classes, std::string_view wanted) {
    std::size_t pos = 0;
    while (pos < classes.size()) {
        while (pos < classes.size() && (classes[pos] == ' ' || classes[pos] == '\t' ||
                                        classes[pos] == '\n' || classes[pos] == '\r')) {
            ++pos;
        }
        std::size_t end = pos;
        while (end < classes.size() && classes[end] != ' ' && classes[end] != '\t' &&
               classes[end] != '\n' && classes[end] != '\r') {
            ++end;
        }
        if (end > pos && classes.substr(pos, end - pos) == wanted) {
            return true;
        }
        pos = end;
    }
    return false;
}

bool matches_simple(const simple_selector& part, const element_node& element) {
    switch (part.what) {
        case simple_selector::kind::id:
            return element.m_attributes.get(names::id) == std::string_view(part.value);
        case simple_selector::kind::class_name: {
            const auto classes = element.m_attributes.get(names::class_);
            return classes && class_list_contains(*classes, part.value);
        }
        case simple_selector::kind::attribute_present:
            return element.m_attributes.has(part.attribute);
        case simple_selector::kind::attribute_equals:
            return element.m_attributes.get(part.attribute) == std::string_view(part.value);
        case simple_selector::kind::state:
            return (element.m_state & part.state_bits) != 0;
    }
    unreachable_case();
}

bool matches_compound(const compound_selector& compound, const element_node& element) {
    if (compound.never_matches || (compound.tag != names::none && compound.tag != element.m_tag)) {
        return false;
    }
    for (const auto& part : compound.parts) {
        if (!matches_simple(part, element)) {
            return false;
        }
    }
    return true;
}

const element_node* parent_element(const element_node& element) {
    const element_node* parent = element.m_parent;
    return parent && parent->is_element() ? parent : nullptr;
}

// A failure that says no ancestor further up can help lets descendant matching
// stay linear in the depth instead of backtracking through every ancestor.
enum class match_result { matches, fails_here, fails_completely };

match_result match_from(const complex_selector& selector, std::size_t index,
                        const element_node& element) {
    if (!matches_compound(selector.compounds[index], element)) {
        return match_result::fails_here;
    }
    if (index == 0) {
        return match_result::matches;
    }
    switch (selector.combinators[index - 1]) {
        case combinator::child: {
            const element_node* parent = parent_element(element);
            return parent ? match_from(selector, index - 1, *parent)
                          : match_result::fails_completely;
        }
        case combinator::descendant:
            for (const element_node* ancestor = parent_element(element); ancestor;
                 ancestor = parent_element(*ancestor)) {
                const match_result result = match_from(selector, index - 1, *ancestor);
                if (result != match_result::fails_here) {
                    return result;
                }
            }
            return match_result::fails_completely;
    }
    unreachable_case();
}

}  // namespace

std::optional<selector_list> parse_selector(std::string_view text) {
    return selector_reader(text).read();
}

bool matches(const complex_selector& selector, const element_node& element) {
    return !selector.compounds.empty() &&
           match_from(selector, selector.compounds.size() - 1, element) == match_result::matches;
}

bool matches(const selector_list& selector, const element_node& element) {
    for (const auto& alternative : selector.alternatives) {
        if (matches(alternative, element)) {
            return true;
        }
    }
    return false;
}

std::optional<std::string_view> pinned_id(const selector_list& selector) {
    if (selector.alternatives.size() != 1) {
        return std::nullopt;
    }
    for (const auto& part : selector.alternatives[0].compounds.back().parts) {
        if (part.what == simple_selector::kind::id ||
            (part.what == simple_selector::kind::attribute_equals && part.attribute == names::id)) {
            return std::string_view(part.value);
        }
    }
    return std::nullopt;
}

}  // namespace layout
