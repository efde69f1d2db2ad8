#pragma once
// Element ids of the records shown in the document: a prefix, "-" and the record's
// id in decimal ("q-7", "vt-12"; a tag on a quote is "qt-7-12"). The controller, the
// drag manager and the behaviors read them back; an id is accepted only when it has
// the expected prefix and a plain 32-bit decimal number, so no id typed into the
// document by hand can name some other record.

#include <string>
#include <string_view>
#include <utility>

#include "fml/exception.h"
#include "model/records.h"

namespace hrd::detail {
// The id that could not be read, in UTF-8.
FML_DECLARE_EXCEPTION(wrong_id_format, fml::exception);
}  // namespace hrd::detail

namespace hrd::ids {

// The prefixes, without their "-".
inline constexpr std::u16string_view quote_prefix = u"q";
inline constexpr std::u16string_view quote_tag_prefix = u"qt";
inline constexpr std::u16string_view tag_entry_prefix = u"vt";
inline constexpr std::u16string_view search_tag_prefix = u"st";
inline constexpr std::u16string_view menu_item_prefix = u"mtmcheck";

std::string quote(record_id q);
std::string quote_tag(record_id q, record_id t);
std::string tag_entry(record_id t);
std::string search_tag(record_id t);
std::string menu_item(record_id t);

// A non-empty run of decimal digits, without leading zeros, that fits a non-negative
// 32-bit id; false otherwise.
bool parse_number(std::u16string_view digits, record_id& number) noexcept;

// The number of `id` when it is `prefix` + "-" + number; raises wrong_id_format.
record_id read(std::u16string_view id, std::u16string_view prefix);
// Whether `id` has that form, without raising.
bool matches(std::u16string_view id, std::u16string_view prefix) noexcept;
// The quote and tag numbers of a quote tag's id, "qt-Q-T"; raises wrong_id_format.
std::pair<record_id, record_id> read_quote_tag(std::u16string_view id);
// The number after the last "-" of any record id of the document (the prefix before
// it must be one of the five); raises wrong_id_format.
record_id read_any(std::u16string_view id);

}  // namespace hrd::ids
