#include "layout/style_sheet.h"

#include "layout/node.h"

namespace layout {
namespace {

std::string_view trim(std::string_view text) {
    const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string without_comments(std::string_view css) {
    std::string out;
    out.reserve(css.size());
    std::size_t pos = 0;
    while (pos < css.size()) {
        const std::size_t start = css.find("/*", pos);
        if (start == std::string_view::npos) {
            out.append(css.substr(pos));
            break;
        }
        out.append(css.substr(pos, start - pos));
        out += ' ';
        const std::size_t end = css.find("*/", start + 2);
        pos = end == std::string_view::npos ? css.size() : end + 2;
    }
    return out;
}

// Past the block that opens at css[pos] ('{'), nested blocks included.
std::size_t skip_block(std::string_view css, std::size_t pos) {
    std::size_t depth = 0;
    for (; pos < css.size(); ++pos) {
        if (css[pos] == '{') {
            ++depth;
        } else if (css[pos] == '}' && --depth == 0) {
            return pos + 1;
        }
    }
    return css.size();
}

void for_each_class(std::string_view classes, auto&& callback) {
    std::size_t pos = 0;
    while (pos < classes.size()) {
        while (pos < classes.size() && (classes[pos] == ' ' || classes[pos] == '\t')) {
            ++pos;
        }
        std::size_t end = pos;
        while (end < classes.size() && classes[end] != ' ' && classes[end] != '\t') {
            ++end;
        }
        if (end > pos) {
            callback(classes.substr(pos, end - pos));
        }
        pos = end;
    }
}

}  // namespace

std::vector<declaration> parse_declarations(std::string_view text) {
    std::vector<declaration> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view item = text.substr(pos, end - pos);
        const std::size_t colon = item.find(':');
        if (colon != std::string_view::npos) {
            const std::string_view name = trim(item.substr(0, colon));
            std::string_view value = trim(item.substr(colon + 1));
            if (const auto bang = value.find("!important"); bang != std::string_view::npos) {
                value = trim(value.substr(0, bang));
            }
            if (!name.empty()) {
                std::string lower(name);
                for (char& c : lower) {
                    c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
                }
                out.emplace_back(std::move(lower), std::string(value));
            }
        }
        pos = end + 1;
    }
    return out;
}

void style_sheets::add(std::string_view raw_css) {
    const std::string css = without_comments(raw_css);
    std::size_t pos = 0;
    while (pos < css.size()) {
        const std::size_t open = css.find('{', pos);
        const std::size_t semicolon = css.find(';', pos);
        const std::string_view head = trim(std::string_view(css).substr(
            pos, (open == std::string::npos ? css.size() : open) - pos));
        if (!head.empty() && head.front() == '@' && semicolon < open) {
            pos = semicolon + 1;  // "@import ...;" and the like
            continue;
        }
        if (open == std::string::npos) {
            break;
        }
        const std::size_t next = skip_block(css, open);
        if (head.empty() || head.front() == '@') {
            pos = next;
            continue;
        }
        const std::size_t body_end = next > open + 1 ? next - 1 : next;
        auto selector = parse_selector(head);
        if (selector) {
            m_blocks.push_back(
                parse_declarations(std::string_view(css).substr(open + 1, body_end - open - 1)));
            for (auto& alternative : selector->alternatives) {
                const auto index = std::uint32_t(m_rules.size());
                m_rules.push_back(
                    rule{std::move(alternative), std::uint32_t(m_blocks.size() - 1), index});
                index_rule(index);
            }
        }
        pos = next;
    }
}

void style_sheets::index_rule(std::uint32_t rule_index) {
    const compound_selector& last = m_rules[rule_index].selector.compounds.back();
    for (const auto& part : last.parts) {
        if (part.what == simple_selector::kind::id) {
            m_by_id[part.value].push_back(rule_index);
            return;
        }
    }
    for (const auto& part : last.parts) {
        if (part.what == simple_selector::kind::class_name) {
            m_by_class[part.value].push_back(rule_index);
            return;
        }
    }
    if (last.tag != names::none) {
        m_by_tag[last.tag].push_back(rule_index);
    } else {
        m_universal.push_back(rule_index);
    }
}

template <typename Callback>
void style_sheets::for_each_candidate(const element_node& element, Callback&& callback) const {
    auto visit = [&](const std::vector<std::uint32_t>& rules) {
        for (std::uint32_t index : rules) {
            callback(m_rules[index]);
        }
    };
    if (const auto id = element.m_attributes.get(names::id); id && !m_by_id.empty()) {
        if (auto it = m_by_id.find(std::string(*id)); it != m_by_id.end()) {
            visit(it->second);
        }
    }
    if (const auto classes = element.m_attributes.get(names::class_);
        classes && !m_by_class.empty()) {
        for_each_class(*classes, [&](std::string_view name) {
            if (auto it = m_by_class.find(std::string(name)); it != m_by_class.end()) {
                visit(it->second);
            }
        });
    }
    if (auto it = m_by_tag.find(element.m_tag); it != m_by_tag.end()) {
        visit(it->second);
    }
    visit(m_universal);
}

std::optional<std::string_view> style_sheets::property(const element_node& element,
                                                       std::string_view property) const {
    const rule* best = nullptr;
    std::string_view best_value;
    for_each_candidate(element, [&](const rule& candidate) {
        if (best && (candidate.selector.specificity < best->selector.specificity ||
                     (candidate.selector.specificity == best->selector.specificity &&
                      candidate.order < best->order))) {
            return;
        }
        const declaration* found = nullptr;
        for (const auto& item : m_blocks[candidate.block]) {
            if (item.first == property) {
                found = &item;  // the last declaration of a block wins
            }
        }
        if (found && matches(candidate.selector, element)) {
            best = &candidate;
            best_value = found->second;
        }
    });
    if (!best) {
        return std::nullopt;
    }
    return best_value;
}

}  // namespace layout
