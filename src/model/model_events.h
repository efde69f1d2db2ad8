#pragma once
// The model's commands: what the controller (and a few list behaviors) ask of it.
// Each is an id and a pointer to its data, valid for the duration of the call.

#include <cstdint>
#include <string>
#include <vector>

#include "model/records.h"

namespace hrd {

namespace model_events {
enum : std::int32_t {
    add_quote = 1,               // param: const std::u16string* (the text)
    delete_quote = 2,            // param: const record_id*
    add_tag = 3,                 // param: const std::u16string* (the name)
    delete_tag = 4,              // param: const record_id*
    rename_tag = 5,              // param: const model_rename*
    mark_quote = 6,              // param: const model_mark*
    delete_mark = 7,             // param: const model_mark*
    add_search_tag = 8,          // param: const record_id*
    delete_search_tag = 9,       // param: const record_id*
    export_data = 10,            // param: const std::u16string* (the path)
    load_all = 11,               // param: none
    set_search_mode_and = 12,    // param: none
    set_search_mode_or = 13,     // param: none
    clear_search_tags = 20,      // param: none
    copy_quote = 30,             // param: const record_id*
    copy_quote_with_data = 31,   // param: const record_id*
    copy_quotes = 32,            // param: const id_list*
    copy_quotes_with_data = 33,  // param: const id_list*
    add_search_tags = 40,        // param: const id_list*
    delete_tags = 41,            // param: const id_list*
    delete_quotes = 42,          // param: const id_list*
};
}  // namespace model_events

struct model_event {
    std::int32_t id = 0;
    const void* param = nullptr;
};

struct model_rename {
    record_id id = 0;
    std::u16string name;
};

struct model_mark {
    record_id quote_id = 0;
    record_id tag_id = 0;
};

// Ids in row order.
using id_list = std::vector<record_id>;

}  // namespace hrd
