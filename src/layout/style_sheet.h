#pragma once
// Style sheets, read only as far as the engine needs them: which rules apply to
// an element and what they declare. Nothing is laid out; the renderer does that.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "layout/selector.h"

namespace layout {

using declaration = std::pair<std::string, std::string>;  // property (lower case), value

// Reads "name: value; ..." as found in a rule or a style attribute.
std::vector<declaration> parse_declarations(std::string_view text);

class style_sheets {
public:
    // Adds the rules of one sheet after those already read. Rules whose selector
    // cannot be read are skipped, as are at-rules.
    void add(std::string_view css);

    // The value the rules give `property` for `element`: the most specific rule
    // wins, and of equals the later one.
    std::optional<std::string_view> property(const element_node& element,
                                             std::string_view property) const;

    std::size_t rule_count() const { return m_rules.size(); }

private:
    struct rule {
        complex_selector selector;
        std::uint32_t block;  // index into m_blocks
        std::uint32_t order;
    };

    void index_rule(std::uint32_t rule_index);
    template <typename Callback>
    void for_each_candidate(const element_node& element, Callback&& callback) const;

    std::vector<rule> m_rules;
    std::vector<std::vector<declaration>> m_blocks;
    // Rules filed by what their last compound requires, so that an element only
    // tries the rules that could match it.
    std::unordered_map<std::string, std::vector<std::uint32_t>> m_by_id;
    std::unordered_map<std::string, std::vector<std::uint32_t>> m_by_class;
    std::unordered_map<name_id, std::vector<std::uint32_t>> m_by_tag;
    std::vector<std::uint32_t> m_universal;
};

}  // namespace layout
