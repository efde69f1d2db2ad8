#include "layout/names.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace layout {
namespace {

// The fixed names, in the order of the names:: enumeration.
constexpr std::string_view fixed_names[] = {
    "",       "id",       "class",    "style",    "type", "message", "menu",  "tabindex", "href",
    "rel",    "editable", "html",     "head",     "body", "table",   "thead", "tbody",    "tfoot",
    "tr",     "td",       "th",       "colgroup", "ul",   "ol",      "li",    "select",   "option",
    "button", "input",    "textarea", "a",        "link", "script",  "br"};
static_assert(std::size(fixed_names) == names::first_dynamic);

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

class name_table {
public:
    name_table() {
        for (std::string_view name : fixed_names) {
            add(std::string(name));
        }
    }

    name_id find(std::string_view name) const {
        if (is_lower(name)) {
            auto it = m_ids.find(name);
            return it == m_ids.end() ? names::none : it->second;
        }
        auto it = m_ids.find(lowered(name));
        return it == m_ids.end() ? names::none : it->second;
    }

    name_id intern(std::string_view name) {
        // Markup is mostly lower case already: look up without copying.
        if (is_lower(name)) {
            if (auto it = m_ids.find(name); it != m_ids.end()) {
                return it->second;
            }
        }
        std::string lower = lowered(name);
        auto it = m_ids.find(lower);
        if (it != m_ids.end()) {
            return it->second;
        }
        return add(std::move(lower));
    }

    std::string_view text(name_id id) const {
        return id < m_texts.size() ? std::string_view(*m_texts[id]) : std::string_view();
    }

private:
    static bool is_lower(std::string_view name) {
        for (char c : name) {
            if (c >= 'A' && c <= 'Z') {
                return false;
            }
        }
        return true;
    }

    static std::string lowered(std::string_view name) {
        std::string lower(name);
        for (char& c : lower) {
            c = ascii_lower(c);
        }
        return lower;
    }

    name_id add(std::string lower) {
        const auto id = name_id(m_texts.size());
        // Texts live in their own allocations so the views handed out stay valid.
        m_texts.push_back(std::make_unique<std::string>(std::move(lower)));
        m_ids.emplace(*m_texts.back(), id);
        return id;
    }

    std::vector<std::unique_ptr<std::string>> m_texts;
    struct text_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, name_id, text_hash, std::equal_to<>> m_ids;
};

name_table& table() {
    static name_table instance;
    return instance;
}

}  // namespace

name_id intern_name(std::string_view name) {
    return table().intern(name);
}

name_id find_name(std::string_view name) {
    return table().find(name);
}

std::string_view name_text(name_id id) {
    return table().text(id);
}

}  // namespace layout
