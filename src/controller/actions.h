#pragma once
// How the user interface tells the controller what happened: a raw happening (a
// mouse event for drag and drop, a new clip text) as a vcaction, or a named action
// with its data. Both are built by the sender and borrowed for one call.

#include <cstdint>
#include <string>

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
    enum kind_type : std::int32_t { undefined = 0, init = 1, mouse = 1024, quote_text = 1025 };

    std::int32_t kind = undefined;
    layout::handle element = nullptr;  // the element whose behavior reports it, or none
    std::u16string cls;                // its "class", or ""
    std::u16string id;                 // its "id", or ""
    // mouse: const mouse_record*; quote_text: const std::u16string*.
    const void* params = nullptr;
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

struct named_action {
    std::u16string name;
    // element_pair*, rename_record*, std::u16string* (text or path), or nullptr.
    const void* data = nullptr;
};

}  // namespace hrd
