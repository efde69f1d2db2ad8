#include "layout/element_id.h"

namespace layout {

std::optional<std::int32_t> read_record_id(std::string_view id, std::string_view prefix) {
    if (!id.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string_view digits = id.substr(prefix.size());
    // Ids are written without leading zeros, so one is a sign of a foreign id.
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return std::int32_t(value);
}

std::optional<std::int32_t> read_last_record_id(std::string_view id) {
    const std::size_t dash = id.rfind('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    return read_record_id(id, id.substr(0, dash + 1));
}

}  // namespace layout
