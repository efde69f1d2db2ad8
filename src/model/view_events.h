#pragma once
// What the model tells the view after it changed the store: an event id and the
// records or ids the view needs. The view never reads the store itself.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/records.h"
#include "model/result_set.h"

namespace hrd {

enum view_event_id : std::int32_t {
    vadd_quote = 1,           // param: const quote*
    vdelete_quote = 2,        // param: const record_id* (quote)
    vadd_tag_id = 3,          // param: const record_id* (tag)
    vdelete_tag = 4,          // param: const record_id* (tag)
    vdelete_wrong_tag = 5,    // param: none
    vstart_tag_edit = 6,      // param: const layout::handle* (a tag list entry)
    vrename_tag = 7,          // param: const view_rename*
    vadd_quote_tag = 8,       // param: const view_quote_tag*
    vdelete_quote_tag = 9,    // param: const view_mark*
    vadd_search_tag = 10,     // param: const tag*
    vdelete_search_tag = 11,  // param: const record_id* (tag)
    vupdate_quotes = 12,      // param: const view_quotes*
    vrename_search_tag = 14,  // param: const view_rename*
    vupdate_tags = 15,        // param: tag_cursor*
    vrefresh_quotes = 17,     // param: none
    vclear_search_tags = 20,  // param: none
    vrename_quote_tags = 21,  // param: const view_tag_on_quotes* (new name of a tag on quotes)
    vsearch_mode = 22,        // param: const int* (search_mode_and or search_mode_or)
};

struct view_event {
    std::int32_t id = 0;
    const void* param = nullptr;
};

struct view_rename {
    record_id id = 0;
    std::u16string name;
};

struct view_quote_tag {
    record_id quote_id = 0;
    const tag* added = nullptr;
};

struct view_mark {
    record_id quote_id = 0;
    record_id tag_id = 0;
};

// A tag shown on some quotes: renaming it patches just those blocks.
struct view_tag_on_quotes {
    record_id tag_id = 0;
    std::u16string name;
    std::vector<record_id> quotes;
};

// Finds a tag by id for the tags shown on a quote; nullptr skips that tag.
using tag_lookup = std::function<const tag*(record_id)>;

// The quotes to show, in the order the list is to show them bottom-up (the last
// record ends on top), and how to name the tags on them.
struct view_quotes {
    quote_cursor* quotes = nullptr;
    tag_lookup tags;
};

// Whoever shows the collection: the view, or a test's recorder.
class view_target {
public:
    virtual ~view_target() = default;
    // Carries out one view event before returning; ids it does not know do nothing.
    virtual void handle(const view_event& event) = 0;
};

}  // namespace hrd
