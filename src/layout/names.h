#pragma once
// Interned tag and attribute names. Markup names are ASCII and compared without
// case, so each distinct lower-case name gets one small number and elements
// store that number instead of a string. The table belongs to the engine's one
// UI thread, like the rest of the tree.

#include <cstdint>
#include <string_view>

namespace layout {

using name_id = std::uint32_t;

// Names the engine itself looks at; their ids are fixed at start.
namespace names {
enum : name_id {
    none = 0,
    id,
    class_,
    style,
    type,
    message,
    menu,
    tabindex,
    href,
    rel,
    editable,
    html,
    head,
    body,
    table,
    thead,
    tbody,
    tfoot,
    tr,
    td,
    th,
    colgroup,
    ul,
    ol,
    li,
    select,
    option,
    button,
    input,
    textarea,
    a,
    link,
    script,
    br,
    first_dynamic
};
}  // namespace names

// The id of `name` (any case), adding it when new.
name_id intern_name(std::string_view name);
// The id of `name` (any case) when it is known, else names::none. Never adds:
// selectors and lookups must not grow the table.
name_id find_name(std::string_view name);
// The lower-case text of an id; empty for names::none or an unknown id.
std::string_view name_text(name_id id);

}  // namespace layout
