#pragma once
// The two kinds of record the collection holds, as the rest of the program sees them.
// Both sides of the quote-tag relation are plain lists of ids: the id is the reference.
// Records are values: a reader that keeps one after the call that handed it out copies it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fml/text.h"

namespace hrd {

using record_id = std::int32_t;
// Seconds since 1970-01-01 00:00 UTC, signed 32 bits.
using time_stamp = std::int32_t;
// The stamp of a quote that has no date.
inline constexpr time_stamp no_stamp = -1;

// A label the user puts on quotes.
struct tag {
    tag() = default;
    tag(record_id id, std::u16string_view name) : m_id(id), m_utfname(fml::wchar2utf8(name)) {}

    record_id m_id = 0;
    // The name as shown to the user, UTF-8. Unique, compared byte for byte.
    std::string m_utfname;
    // The quotes marked with this tag, in table order.
    std::vector<record_id> m_quotes;
};

// A stored text clip.
struct quote {
    quote() = default;
    quote(record_id id, std::u16string_view text, time_stamp stamp)
        : m_id(id), m_utftext(fml::wchar2utf8(text)), m_stamp(stamp) {}

    record_id m_id = 0;
    // The clip exactly as captured (line breaks kept), UTF-8.
    std::string m_utftext;
    time_stamp m_stamp = no_stamp;
    // The tags of this quote in the order they were put on it.
    std::vector<record_id> m_tags;
};

// A tag on a quote, as a command names it and as the view is told of it.
struct quote_mark {
    record_id quote_id = 0;
    record_id tag_id = 0;
};

// A tag's new name, as a command asks for it and as the view is told of it.
struct tag_rename {
    record_id id = 0;
    std::u16string name;
};

// The current time as a stamp.
time_stamp current_stamp();

// A stamp as local calendar time for display, "2007-3-5  9:4:7": no leading zeros and
// two blanks between date and time. A quote without a date (no_stamp) shows "".
std::string formatStamp(time_stamp stamp);

}  // namespace hrd
