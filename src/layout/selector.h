#pragma once
// Selectors: the subset the program's code and style sheets use.
//
//   list      := complex (',' complex)*
//   complex   := compound ((' ' | '>') compound)*
//   compound  := [type | '*'] ('#'id | '.'class | '['attr']' | '['attr'='value']' | ':'state)*
//
// Values may be quoted with ' or " or bare. States: :current :checked :focus
// :anchor, and :hover :active :disabled :expanded :collapsed :popup. Type and
// attribute names ignore case; values and classes do not.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layout/names.h"

namespace layout {

class element_node;

struct simple_selector {
    enum class kind : std::uint8_t { id, class_name, attribute_present, attribute_equals, state };
    kind what = kind::id;
    name_id attribute = names::none;  // for the attribute kinds
    std::string value;                // id, class or attribute value
    std::uint32_t state_bits = 0;
};

struct compound_selector {
    name_id tag = names::none;   // none: any element
    bool never_matches = false;  // names no element can have (an unknown tag or attribute)
    std::vector<simple_selector> parts;
};

enum class combinator : std::uint8_t { descendant, child };

struct complex_selector {
    std::vector<compound_selector> compounds;  // left to right
    std::vector<combinator> combinators;       // between neighbouring compounds
    // Specificity as (ids, classes/attributes/states, types) packed for comparison.
    std::uint32_t specificity = 0;
};

struct selector_list {
    std::vector<complex_selector> alternatives;
};

// Reads a selector list; nullopt when it is not one.
std::optional<selector_list> parse_selector(std::string_view text);

bool matches(const complex_selector& selector, const element_node& element);
bool matches(const selector_list& selector, const element_node& element);

// The id a selector pins its match to, when its only alternative's last compound
// names one ("#x" or "[id='x']"); lets lookups go through the id index.
std::optional<std::string_view> pinned_id(const selector_list& selector);

}  // namespace layout
