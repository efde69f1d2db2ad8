#pragma once
// What the model tells the view after it changed the store: one event type per
// change, carrying the records or ids the view needs. The view never reads the store
// itself. Records are borrowed for the one call that carries them.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "layout/types.h"
#include "model/records.h"
#include "model/result_set.h"

namespace hrd {

// Finds a tag by id for the tags shown on a quote; nullptr skips that tag.
using tag_lookup = std::function<const tag*(record_id)>;

// What the quote list reads its rows from, a screenful at a time: the list itself
// is only the quotes' ids.
class quote_reader {
public:
    // The quotes with these ids, in order; an id that names no quote is left out.
    virtual std::vector<quote> read_quotes(std::span<const record_id> ids) = 0;
    // A tag's name, or nullopt when the tag is gone.
    virtual std::optional<std::string> tag_name(record_id id) = 0;
    // The same ids ordered by when the quotes were stored (quotes of the same
    // second by id), oldest or newest first; ids that name no quote are left out.
    virtual std::vector<record_id> order_by_time(std::span<const record_id> ids,
                                                 bool oldest_first) = 0;

protected:
    ~quote_reader() = default;
};

// The number beside each event is the id it has always had.
namespace view_events {
struct add_quote {  // 1
    const quote& added;
};
struct delete_quotes {  // 2: gone from the store, all at once
    std::vector<record_id> quote_ids;
};
struct add_tag_id {  // 3: the row the user typed the tag into gets its id
    record_id tag_id = 0;
};
struct delete_tag {  // 4: gone from the tag list, the menu and every quote shown
    record_id tag_id = 0;
};
struct delete_wrong_tag {};          // 5: the typed name was refused; its row goes
struct start_tag_edit {              // 6
    layout::handle entry = nullptr;  // a tag list entry
};
// A tag list entry the user typed a new name into takes no more typing; the
// controller sends it as it hands the name on, before the store is asked.
struct end_tag_edit {
    layout::handle entry = nullptr;
};
struct rename_tag {  // 7
    tag_rename rename;
};
struct add_quote_tag {  // 8
    record_id quote_id = 0;
    const tag* added = nullptr;
};
struct delete_quote_tag {  // 9
    quote_mark mark;
};
struct add_search_tag {  // 10
    const tag& added;
};
struct delete_search_tag {  // 11
    record_id tag_id = 0;
};
// 12: the quotes to show, top to bottom, and where their rows are read from (it
// stays in use until the next update).
struct update_quotes {
    std::vector<record_id> ids;
    quote_reader* reader = nullptr;
};
// The search text in force: the field shows it and the rows mark where it matches.
struct search_text {
    std::u16string text;
};
// The quotes shown are put in the order they were stored, oldest or newest first.
struct sort_quotes {
    bool oldest_first = false;
};
struct rename_search_tag {  // 14
    tag_rename rename;
};
struct update_tags {  // 15: every tag, in table order (the view shows the newest on top)
    const std::vector<tag>& tags;
};
struct refresh_quotes {};     // 17
struct clear_search_tags {};  // 20
// 21: a renamed tag takes its new name on every quote shown.
struct rename_quote_tags {
    record_id tag_id = 0;
    std::u16string name;
};
struct search_mode {  // 22
    int mode = 0;     // search_mode_and or search_mode_or
};
}  // namespace view_events

using view_event = std::variant<
    view_events::add_quote, view_events::delete_quotes, view_events::add_tag_id,
    view_events::delete_tag, view_events::delete_wrong_tag, view_events::start_tag_edit,
    view_events::end_tag_edit, view_events::rename_tag, view_events::add_quote_tag,
    view_events::delete_quote_tag, view_events::add_search_tag, view_events::delete_search_tag,
    view_events::update_quotes, view_events::rename_search_tag, view_events::update_tags,
    view_events::refresh_quotes, view_events::clear_search_tags, view_events::rename_quote_tags,
    view_events::search_mode, view_events::sort_quotes, view_events::search_text>;

// Whoever shows the collection: the view, or a test's recorder.
class view_target {
public:
    virtual ~view_target() = default;
    // Carries out one view event before returning.
    virtual void handle(const view_event& event) = 0;
};

}  // namespace hrd
