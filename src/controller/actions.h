#pragma once
// How the user interface tells the controller what happened: a raw happening (a
// mouse event for drag and drop, a new clip text) as a vcaction, or a named action
// with its data. Both are built by the sender and borrowed for one call.

#include <cstdint>
#include <string>
#include <variant>

#include "fml/exception.h"
#include "layout/types.h"

namespace hrd {

FML_DECLARE_EXCEPTION(wrong_vcaction, fml::exception);
FML_DECLARE_EXCEPTION(unknown_vcaction, fml::exception);
FML_DECLARE_EXCEPTION(wrong_he_type, fml::exception);

// A mouse event on an element that takes part in drag and drop. Positions are in
// document coordinates, so a press and a move on different elements compare.
struct mouse_record {
    layout::handle target = nullptr;  // the element under the pointer
    std::uint32_t event = 0;          // as delivered, flag bits included: 2 move, 3 up, 4 down
    int x = 0;
    int y = 0;
    std::uint32_t buttons = 0;  // bit 0: the main button
    std::uint32_t keys = 0;
};

struct vcaction {
    // The numbers are the kinds' ids as they have always been.
    struct undefined {};  // 0: nothing filled in; refused
    struct init {};       // 1: retired; refused
    // mouse_record         1024
    struct quote_text {  // 1025: a new clip
        std::u16string text;
    };
    using happening = std::variant<undefined, init, mouse_record, quote_text>;

    happening what;
    layout::handle element = nullptr;  // the element whose behavior reports it, or none
    std::u16string cls;                // its "class", or ""
    std::u16string id;                 // its "id", or ""
};

// The data of most actions: the element acted on, and for a drop the target.
struct element_pair {
    layout::handle first = nullptr;
    layout::handle second = nullptr;
};

// The data of "rename_tag": the edited tag element and its new name.
struct rename_record {
    layout::handle element = nullptr;
    std::u16string name;
};

// Nothing, the elements acted on, a rename, or a text (a clip, a tag name or a path).
// An action handed data of another kind than it reads acts as if handed none.
using action_data = std::variant<std::monostate, element_pair, rename_record, std::u16string>;

struct named_action {
    std::u16string name;
    action_data data;
};

}  // namespace hrd
