#pragma once
// The model's commands: what the controller (and a few list behaviors) ask of it.
// Each command is its own type carrying its data; a model_event holds one of them.
// The number beside each is the id the command has always had.

#include <string>
#include <variant>
#include <vector>

#include "model/records.h"

namespace hrd {

// Ids in row order.
using id_list = std::vector<record_id>;

namespace model_events {
struct add_quote {  // 1
    std::u16string text;
};
struct delete_quote {  // 2
    record_id quote_id = 0;
};
struct add_tag {  // 3
    std::u16string name;
};
struct delete_tag {  // 4
    record_id tag_id = 0;
};
struct rename_tag {  // 5
    tag_rename rename;
};
struct mark_quote {  // 6
    quote_mark mark;
};
struct delete_mark {  // 7
    quote_mark mark;
};
struct add_search_tag {  // 8
    record_id tag_id = 0;
};
struct delete_search_tag {  // 9
    record_id tag_id = 0;
};
struct export_data {  // 10
    std::u16string path;
};
struct load_all {};             // 11
struct set_search_mode_and {};  // 12
struct set_search_mode_or {};   // 13
struct clear_search_tags {};    // 20
struct copy_quote {             // 30
    record_id quote_id = 0;
};
struct copy_quote_with_data {  // 31
    record_id quote_id = 0;
};
struct copy_quotes {  // 32
    id_list quotes;
};
struct copy_quotes_with_data {  // 33
    id_list quotes;
};
struct add_search_tags {  // 40
    id_list tags;
};
struct delete_tags {  // 41
    id_list tags;
};
struct delete_quotes {  // 42
    id_list quotes;
};
// The text the quotes shown must hold ("" for none), as typed into the search field.
struct set_search_text {
    std::u16string text;
};
// The quotes shown go in the order they were stored, oldest or newest first.
struct sort_quotes {
    bool oldest_first = false;
};
// One tag put on, or taken off, a selection of quotes in one step.
struct mark_quotes {
    id_list quotes;
    record_id tag_id = 0;
};
struct delete_marks {
    id_list quotes;
    record_id tag_id = 0;
};
}  // namespace model_events

using model_event =
    std::variant<model_events::add_quote, model_events::delete_quote, model_events::add_tag,
                 model_events::delete_tag, model_events::rename_tag, model_events::mark_quote,
                 model_events::delete_mark, model_events::add_search_tag,
                 model_events::delete_search_tag, model_events::export_data, model_events::load_all,
                 model_events::set_search_mode_and, model_events::set_search_mode_or,
                 model_events::clear_search_tags, model_events::copy_quote,
                 model_events::copy_quote_with_data, model_events::copy_quotes,
                 model_events::copy_quotes_with_data, model_events::add_search_tags,
                 model_events::delete_tags, model_events::delete_quotes,
                 model_events::sort_quotes, model_events::set_search_text, model_events::mark_quotes,
                 model_events::delete_marks>;

}  // namespace hrd
