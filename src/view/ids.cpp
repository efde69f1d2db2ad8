#include "view/ids.h"

#include "fml/text.h"
#include "layout/element_id.h"

namespace hrd::ids {
namespace {

std::string make(std::string_view prefix, record_id number) {
    std::string id(prefix);
    id += '-';
    id += std::to_string(number);
    return id;
}

[[noreturn]] void refuse(std::u16string_view id) {
    throw detail::wrong_id_format(fml::wchar2utf8(id));
}

bool split(std::u16string_view id, std::u16string_view prefix, std::u16string_view& rest) noexcept {
    if (id.size() <= prefix.size() || id.substr(0, prefix.size()) != prefix ||
        id[prefix.size()] != u'-') {
        return false;
    }
    rest = id.substr(prefix.size() + 1);
    return true;
}

}  // namespace

std::string quote(record_id q) {
    return make("q", q);
}
std::string quote_tag(record_id q, record_id t) {
    return make("qt", q) + "-" + std::to_string(t);
}
std::string tag_entry(record_id t) {
    return make("vt", t);
}
std::string search_tag(record_id t) {
    return make("st", t);
}
std::string menu_item(record_id t) {
    return make("mtmcheck", t);
}

bool parse_number(std::u16string_view digits, record_id& number) noexcept {
    std::string narrow;
    narrow.reserve(digits.size());
    for (char16_t c : digits) {
        if (c > 0x7F) {
            return false;
        }
        narrow += char(c);
    }
    const auto value = layout::read_record_id(narrow, "");
    if (value) {
        number = *value;
    }
    return value.has_value();
}

bool matches(std::u16string_view id, std::u16string_view prefix) noexcept {
    std::u16string_view rest;
    record_id number = 0;
    return split(id, prefix, rest) && parse_number(rest, number);
}

record_id read(std::u16string_view id, std::u16string_view prefix) {
    std::u16string_view rest;
    record_id number = 0;
    if (!split(id, prefix, rest) || !parse_number(rest, number)) {
        refuse(id);
    }
    return number;
}

std::pair<record_id, record_id> read_quote_tag(std::u16string_view id) {
    std::u16string_view rest;
    if (!split(id, quote_tag_prefix, rest)) {
        refuse(id);
    }
    const size_t dash = rest.find(u'-');
    record_id q = 0;
    record_id t = 0;
    if (dash == std::u16string_view::npos || !parse_number(rest.substr(0, dash), q) ||
        !parse_number(rest.substr(dash + 1), t)) {
        refuse(id);
    }
    return {q, t};
}

record_id read_any(std::u16string_view id) {
    for (std::u16string_view prefix :
         {quote_prefix, tag_entry_prefix, search_tag_prefix, menu_item_prefix}) {
        if (matches(id, prefix)) {
            return read(id, prefix);
        }
    }
    return read_quote_tag(id).second;
}

}  // namespace hrd::ids
