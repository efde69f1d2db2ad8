#pragma once
// Small element questions the behaviors ask again and again.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "layout/dom.h"

namespace hrd::dom_util {

using layout::handle;

inline bool has_attribute(handle he, std::string_view name) {
    return layout::get_attribute(he, name).has_value();
}
inline void set_flag(handle he, std::string_view name) {
    layout::set_attribute(he, name, std::u16string_view());
}
inline void clear_flag(handle he, std::string_view name) {
    layout::set_attribute(he, name, std::nullopt);
}
inline bool has_state(handle he, std::uint32_t bits) {
    return (layout::get_state(he) & bits) != 0;
}

// The nearest inclusive ancestor of `he` for which `test` holds, or nullptr.
template <class Test>
handle closest(handle he, Test&& test) {
    for (; he != nullptr; he = layout::parent(he)) {
        if (test(he)) {
            return he;
        }
    }
    return nullptr;
}

// The nearest inclusive ancestor with this tag and, when given, this class.
inline handle closest_of(handle he, std::string_view tag, std::u16string_view cls = {}) {
    return closest(he, [&](handle e) {
        return layout::element_type(e) == tag &&
               (cls.empty() || layout::get_attribute(e, "class").value_or(u"") == cls);
    });
}

}  // namespace hrd::dom_util
