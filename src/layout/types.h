#pragma once
// The element handle and the plain records the engine hands to event handlers.
// Numbers are those the behaviors test: event codes, groups and state bits.

#include <cstdint>

namespace layout {

class element_node;
// An opaque element handle; nullptr is "no element", and every operation on it
// fails without effect. Keep a handle beyond one call only with use()/unuse().
using handle = element_node*;

struct point {
    int x = 0;
    int y = 0;
    friend bool operator==(const point&, const point&) = default;
};

struct rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const rect&, const rect&) = default;
};

// Element state bits.
namespace state {
enum : std::uint32_t {
    link = 0x1,
    hover = 0x2,
    active = 0x4,
    focus = 0x8,
    visited = 0x10,
    current = 0x20,
    checked = 0x40,
    disabled = 0x80,
    readonly = 0x100,
    expanded = 0x200,
    collapsed = 0x400,
    focusable = 0x2000,
    anchor = 0x4000,
    owns_popup = 0x10000,
    pressed = 0x4000000,
    popup = 0x8000000,
};
}  // namespace state

// Subscription bits of a handler, and the group passed with each event.
namespace event_group {
enum : std::uint32_t {
    initialization = 0,
    mouse = 0x1,
    key = 0x2,
    focus = 0x4,
    scroll = 0x8,
    timer = 0x10,
    size = 0x20,
    draw = 0x40,
    data_arrived = 0x80,
    behavior_event = 0x100,
    method_call = 0x200,
    all = 0x3FF,
};
}  // namespace event_group

// Added to an event's code for its copy in the sinking pass (root to target).
constexpr std::uint32_t sinking = 0x8000;

namespace mouse_event {
enum : std::uint32_t {
    enter = 0,
    leave = 1,
    move = 2,
    up = 3,
    down = 4,
    double_click = 5,
    tick = 7
};
}
namespace mouse_button {
enum : std::uint32_t { main = 1, secondary = 2, middle = 4 };
}
namespace key_state {
enum : std::uint32_t { control = 1, shift = 2, alt = 4 };
}
namespace key_event {
enum : std::uint32_t { down = 0, up = 1, character = 2 };
}
namespace focus_event {
enum : std::uint32_t { lost = 0, got = 1 };
}
namespace initialization_event {
enum : std::uint32_t { detached = 0, attached = 1 };
}
// Windows virtual-key numbers the engine's own behaviors react to.
namespace key_code {
enum : std::uint32_t {
    backspace = 8,
    tab = 9,
    enter = 13,
    escape = 27,
    space = 32,
    end = 35,
    home = 36,
    left = 37,
    up = 38,
    right = 39,
    down = 40,
    apps = 93,  // the context-menu key
    f10 = 121,
};
}
namespace behavior_event {
enum : std::uint32_t {
    button_click = 0,
    button_press = 1,
    button_state_changed = 2,
    edit_value_changed = 4,
    popup_dismissed = 9,
    menu_item_click = 11,
    table_header_click = 0x81,
    table_row_click = 0x82,
    table_row_double_click = 0x83,
    first_application_event = 0x100,
};
}

// Records passed as the `params` of an element procedure, by group.
struct initialization_params {
    std::uint32_t cmd = 0;  // initialization_event
};
struct mouse_params {
    std::uint32_t cmd = 0;  // mouse_event, | sinking in the sinking pass
    handle target = nullptr;
    point pos;           // relative to the handling element's box
    point pos_document;  // relative to the document
    std::uint32_t button_state = 0;
    std::uint32_t alt_state = 0;
};
struct key_params {
    std::uint32_t cmd = 0;  // key_event, | sinking
    handle target = nullptr;
    std::uint32_t key_code = 0;  // virtual key, or the UTF-16 unit for key_event::character
    std::uint32_t alt_state = 0;
};
struct focus_params {
    std::uint32_t cmd = 0;  // focus_event, | sinking
    handle target = nullptr;
    bool by_mouse_click = false;
};
struct scroll_params {
    std::uint32_t cmd = 0;
    handle target = nullptr;
    int pos = 0;
    bool vertical = false;
};
struct timer_params {
    std::uint32_t timer_id = 0;
};
struct behavior_event_params {
    std::uint32_t cmd = 0;    // behavior_event or an application code, | sinking
    handle source = nullptr;  // the element the event is about (a clicked item, a posted source)
    handle target = nullptr;  // the element the event was sent or posted to, or a menu's owner
    std::uint32_t reason = 0;
};

// An event handler attached to an element. `params` points to the record of
// `group`; returning true stops the delivery of that event.
using element_proc = bool (*)(void* tag, handle element, std::uint32_t group, void* params);

}  // namespace layout
