// Event delivery, the engine's own behaviors, focus, pop-ups, posted events
// and timers.

#include <algorithm>

#include "layout/document_impl.h"
#include "layout/dom.h"
#include "layout/selector.h"

namespace layout {
namespace {

// Posted events run in one go; a handler that keeps reposting must not hang
// the program, so a run stops after this many and asks the host for another.
constexpr std::size_t max_posted_per_run = 100000;

// The elements from the root down to a target, each held with a use reference
// so that handlers may delete them while the event travels.
class event_path {
public:
    explicit event_path(element_node& target) {
        for (node* n = &target; n && n->is_element(); n = n->m_parent) {
            m_elements.push_back(static_cast<element_node*>(n));
            ++n->m_refs;
        }
        std::reverse(m_elements.begin(), m_elements.end());
    }
    ~event_path() {
        for (element_node* e : m_elements) {
            unuse(e);
        }
    }
    event_path(const event_path&) = delete;
    event_path& operator=(const event_path&) = delete;

    std::span<element_node* const> ancestors() const {
        return std::span(m_elements).first(m_elements.size() - 1);
    }
    std::span<element_node* const> all() const { return m_elements; }

private:
    std::vector<element_node*> m_elements;
};

bool call_handlers(element_node& e, std::uint32_t group, void* params) {
    if (!e.find_extras() || e.find_extras()->handlers.empty()) {
        return false;
    }
    // A copy: a handler may attach or detach handlers while it runs.
    const std::vector<handler_entry> handlers = e.find_extras()->handlers;
    for (const auto& entry : handlers) {
        if ((entry.subscription & group) && entry.proc(entry.tag, &e, group, params)) {
            return true;
        }
    }
    return false;
}

point relative_to(const element_node& e, point pos) {
    if (e.find_extras() && e.find_extras()->location) {
        return {pos.x - e.find_extras()->location->left, pos.y - e.find_extras()->location->top};
    }
    return pos;
}

bool has_key_or_focus_handler(const element_node& e) {
    if (!e.find_extras()) {
        return false;
    }
    return std::any_of(
        e.find_extras()->handlers.begin(), e.find_extras()->handlers.end(),
        [](auto& h) { return (h.subscription & (event_group::key | event_group::focus)) != 0; });
}

// Elements that take the focus when pressed: controls, links, elements with a
// tabindex, and elements whose behaviors listen to keys or focus (grids).
bool is_focusable(const element_node& e) {
    switch (e.m_tag) {
        case names::button:
        case names::input:
        case names::select:
        case names::textarea:
            return true;
        case names::a:
            return e.m_attributes.has(names::href);
        default:
            return e.m_attributes.has(names::tabindex) || has_key_or_focus_handler(e);
    }
}

element_node* focusable_ancestor(element_node& target) {
    for (node* n = &target; n && n->is_element(); n = n->m_parent) {
        if (is_focusable(*static_cast<element_node*>(n))) {
            return static_cast<element_node*>(n);
        }
    }
    return nullptr;
}

const document_impl::open_popup* popup_containing(const document_impl& doc, const node& n) {
    for (auto it = doc.popups.rbegin(); it != doc.popups.rend(); ++it) {
        if (is_inclusive_ancestor(*it->popup, n)) {
            return &*it;
        }
    }
    return nullptr;
}

bool deliver_focus(element_node& target, std::uint32_t cmd, bool by_mouse) {
    event_path path(target);
    focus_params params{cmd | sinking, &target, by_mouse};
    for (element_node* e : path.ancestors()) {
        if (call_handlers(*e, event_group::focus, &params)) {
            return true;
        }
    }
    params.cmd = cmd;
    for (auto it = path.all().rbegin(); it != path.all().rend(); ++it) {
        if (call_handlers(**it, event_group::focus, &params)) {
            return true;
        }
    }
    return false;
}

// A click on an item of an open pop-up menu: the owner hears of it, with the
// item as source, and the menu closes. A pop-up shown without owner hears of
// it itself.
void click_menu_item(document_impl& doc, element_node& item,
                     const document_impl::open_popup& open) {
    element_node* popup = open.popup;
    element_node* owner = open.owner ? open.owner : popup;
    ++owner->m_refs;
    ++popup->m_refs;
    close_popup(doc, *popup);
    deliver_behavior_event(doc, *owner, behavior_event::menu_item_click, &item, 0);
    unuse(popup);
    unuse(owner);
}

std::string_view menu_target_id(std::string_view value) {
    return !value.empty() && value.front() == '#' ? value.substr(1) : value;
}

// A check item flips its checked state and tells its owners.
void toggle_check(document_impl& doc, element_node& e) {
    const std::uint32_t checked = e.m_state & state::checked;
    change_state(e, state::checked & ~checked, checked);
    deliver_behavior_event(doc, e, behavior_event::button_state_changed, &e, 0);
}

// The element sibling after (or before) `e`, or nullptr.
element_node* item_sibling(element_node& e, bool forward) {
    handle sibling = forward ? next_sibling(&e) : previous_sibling(&e);
    return static_cast<element_node*>(sibling);
}

// The engine's own handling of a mouse event at `e`, after e's handlers.
bool builtin_mouse(document_impl& doc, element_node& e, const mouse_params& params) {
    const bool main = params.button_state == mouse_button::main;
    if (params.cmd == mouse_event::down && main) {
        if (const auto menu = e.m_attributes.get(names::menu)) {
            if (element_node* popup = find_by_id(doc, menu_target_id(*menu), *doc.document_node)) {
                open_popup(doc, *popup, &e, &e, params.pos_document, 2);
                return true;
            }
        }
    }
    switch (e.builtin()) {
        case builtin_behavior::button:
            if (!main) {
                return false;
            }
            if (params.cmd == mouse_event::down) {
                change_state(e, state::pressed, 0);
                ++e.m_refs;
                unuse(std::exchange(doc.pressed, &e));
                deliver_behavior_event(doc, e, behavior_event::button_press, &e, 0);
                return true;
            }
            if (params.cmd == mouse_event::up) {
                const bool pressed = e.m_state & state::pressed;
                change_state(e, 0, state::pressed);
                if (pressed) {
                    deliver_behavior_event(doc, e, behavior_event::button_click, &e, 0);
                }
                return true;
            }
            return false;
        case builtin_behavior::check:
            if (!main) {
                return false;
            }
            if (params.cmd == mouse_event::up) {
                toggle_check(doc, e);
            }
            return params.cmd == mouse_event::down || params.cmd == mouse_event::up;
        case builtin_behavior::none:
            break;
    }
    if (e.m_tag == names::li && main) {
        if (const auto* open = popup_containing(doc, e)) {
            if (params.cmd == mouse_event::up) {
                const auto copy = *open;
                click_menu_item(doc, e, copy);
            }
            return params.cmd == mouse_event::down || params.cmd == mouse_event::up;
        }
    }
    return false;
}

bool deliver_mouse(document_impl& doc, element_node& target, std::uint32_t cmd, point pos,
                   std::uint32_t buttons, std::uint32_t alt_state) {
    event_path path(target);
    mouse_params params{cmd | sinking, &target, pos, pos, buttons, alt_state};
    for (element_node* e : path.ancestors()) {
        params.pos = relative_to(*e, pos);
        if (call_handlers(*e, event_group::mouse, &params)) {
            return true;
        }
    }
    params.cmd = cmd;
    for (auto it = path.all().rbegin(); it != path.all().rend(); ++it) {
        params.pos = relative_to(**it, pos);
        if (call_handlers(**it, event_group::mouse, &params) || builtin_mouse(doc, **it, params)) {
            return true;
        }
    }
    return false;
}

// Up and Down move the focus between the items of an open pop-up menu, so a menu
// works from the keyboard as well as with the mouse.
bool move_in_menu(document_impl& doc, element_node& item, std::uint32_t key) {
    if (key != key_code::up && key != key_code::down) {
        return false;
    }
    for (element_node* next = item_sibling(item, key == key_code::down); next != nullptr;
         next = item_sibling(*next, key == key_code::down)) {
        if (next->m_tag == names::li) {
            move_focus(doc, next, false);
            return true;
        }
    }
    return true;  // at the end of the menu: the key is still the menu's
}

bool builtin_key(document_impl& doc, element_node& e, const key_params& params) {
    if (params.cmd != key_event::down) {
        return false;
    }
    const bool activate = params.key_code == key_code::enter || params.key_code == key_code::space;
    const auto* open = e.m_tag == names::li ? popup_containing(doc, e) : nullptr;
    switch (e.builtin()) {
        case builtin_behavior::button:
            if (activate) {
                deliver_behavior_event(doc, e, behavior_event::button_press, &e, 0);
                deliver_behavior_event(doc, e, behavior_event::button_click, &e, 0);
                return true;
            }
            return false;
        case builtin_behavior::check:
            if (activate) {
                toggle_check(doc, e);
                return true;
            }
            return open != nullptr && move_in_menu(doc, e, params.key_code);
        case builtin_behavior::none:
            if (open == nullptr) {
                return false;
            }
            if (activate) {
                const auto copy = *open;
                click_menu_item(doc, e, copy);
                return true;
            }
            return move_in_menu(doc, e, params.key_code);
    }
    unreachable_case();
}

bool deliver_key(document_impl& doc, element_node& target, std::uint32_t cmd, std::uint32_t key,
                 std::uint32_t alt_state) {
    event_path path(target);
    key_params params{cmd | sinking, &target, key, alt_state};
    for (element_node* e : path.ancestors()) {
        if (call_handlers(*e, event_group::key, &params)) {
            return true;
        }
    }
    params.cmd = cmd;
    for (auto it = path.all().rbegin(); it != path.all().rend(); ++it) {
        if (call_handlers(**it, event_group::key, &params) || builtin_key(doc, **it, params)) {
            return true;
        }
    }
    return false;
}

// In-place editing: typed characters go to the end of the edited text. An
// element marked "all-selected" holds text the user sees selected, as a rename
// starts: the first character typed replaces it, Backspace empties it, and an
// arrow, Home or End keeps it and puts the caret at its end.
// A typed character comes as a code point or as UTF-16 units (a character outside
// the BMP in two calls); `high` holds a first half until its second comes.
bool edit_text(element_node& e, std::uint32_t cmd, std::uint32_t key, char16_t& high) {
    static const name_id all_selected = intern_name("all-selected");
    const bool selected = e.m_attributes.has(all_selected);
    const auto keep_text = [&] {
        if (selected) {
            set_attribute(&e, "all-selected", std::nullopt);
        }
    };
    if (cmd == key_event::character && key >= 0xD800 && key <= 0xDBFF) {
        high = char16_t(key);
        return true;
    }
    if (cmd == key_event::character && key >= 0x20) {
        std::u16string typed;
        if (key >= 0xDC00 && key <= 0xDFFF) {
            if (high == 0) {
                return true;  // half a character: nothing to add
            }
            typed = {high, char16_t(key)};
        } else if (key > 0xFFFF && key <= 0x10FFFF) {
            typed = {char16_t(0xD800 + ((key - 0x10000) >> 10)),
                     char16_t(0xDC00 + ((key - 0x10000) & 0x3FF))};
        } else if (key <= 0xFFFF) {
            typed = {char16_t(key)};
        }
        high = 0;
        if (typed.empty()) {
            return true;
        }
        auto text = selected ? std::u16string() : get_inner_text(&e).value_or(u"");
        keep_text();
        text += typed;
        return set_inner_text(&e, text);
    }
    if (cmd == key_event::down && selected &&
        (key == key_code::left || key == key_code::right || key == key_code::home ||
         key == key_code::end)) {
        keep_text();
        return true;
    }
    if (cmd == key_event::down && key == key_code::backspace) {
        if (selected) {
            keep_text();
            set_inner_text(&e, u"");
            return true;
        }
        auto text = get_inner_text(&e).value_or(u"");
        if (!text.empty()) {
            const bool pair = text.size() >= 2 && text.back() >= 0xDC00 && text.back() <= 0xDFFF;
            text.resize(text.size() - (pair ? 2 : 1));
            set_inner_text(&e, text);
        }
        return true;
    }
    return false;
}

// The context menu named by the "context-menu" style of the target or an
// ancestor: "selector(#id)" or a bare selector.
bool show_context_menu(document_impl& doc, element_node& target, point pos) {
    for (node* n = &target; n && n->is_element(); n = n->m_parent) {
        auto& owner = static_cast<element_node&>(*n);
        const auto value = get_style_attribute(&owner, "context-menu");
        if (!value) {
            continue;
        }
        std::string selector;
        for (char16_t c : *value) {
            selector += c < 0x80 ? char(c) : '?';
        }
        if (selector.starts_with("selector(") && selector.ends_with(")")) {
            selector = selector.substr(9, selector.size() - 10);
        }
        handle popup = find_first(doc.document_node ? root_of(&owner) : nullptr, selector);
        if (!popup) {
            return false;
        }
        return open_popup(doc, *popup, &owner, nullptr, pos, 0);
    }
    return false;
}

// The places Tab visits, in document order: focusable elements, without looking
// inside one (a list is one stop, not one per button in its rows) or inside a menu.
// The html and body elements hold the whole page: even when their behaviors take
// keys (the document's own keys), they are looked into, never a stop themselves.
void collect_tab_stops(element_node& e, std::vector<element_node*>& stops) {
    for (node* child : e.m_children.items()) {
        if (!child->is_element()) {
            continue;
        }
        auto& element = static_cast<element_node&>(*child);
        if (element.m_tag == names::menu) {
            continue;
        }
        const bool page = element.m_tag == names::html || element.m_tag == names::body;
        if (is_focusable(element) && !page) {
            // tabindex="-1": the mouse may focus it, Tab passes it by.
            if (element.m_attributes.get(names::tabindex) != "-1") {
                stops.push_back(&element);
            }
        } else {
            collect_tab_stops(element, stops);
        }
    }
}

// Tab and Shift+Tab move the focus to the next or previous stop, round the end.
bool tab_to_next_stop(document_impl& doc, bool backwards) {
    std::vector<element_node*> stops;
    collect_tab_stops(*doc.document_node, stops);
    if (stops.empty()) {
        return false;
    }
    std::size_t at = stops.size();
    for (std::size_t i = 0; i < stops.size() && doc.focus; ++i) {
        if (is_inclusive_ancestor(*stops[i], *doc.focus)) {
            at = i;
            break;
        }
    }
    std::size_t next = 0;
    if (at == stops.size()) {
        next = backwards ? stops.size() - 1 : 0;
    } else {
        next = backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
    }
    move_focus(doc, stops[next], false);
    return true;
}

// The context-menu key (or Shift+F10): the menu of the focused element, or of the
// current row's entry when the focus is on a list, opened at that element with its
// first item focused, as a right click would open it.
bool context_menu_from_keyboard(document_impl& doc, element_node& focused) {
    element_node* at = &focused;
    if (focused.m_tag == names::table) {
        if (handle row = find_first(&focused, "tr:current")) {
            if (handle entry = find_first(row, "div")) {
                at = entry;
            }
        }
    }
    const rect box = get_location(at, location_origin::root).value_or(rect{});
    if (!show_context_menu(doc, *at, point{box.left, box.bottom})) {
        return false;
    }
    element_node* menu = doc.popups.back().popup;
    for (std::size_t i = 0; i < child_count(menu); ++i) {
        handle item = nth_child(menu, i);
        if (element_type(item) == "li") {
            move_focus(doc, item, false);
            break;
        }
    }
    return true;
}

}  // namespace

// ---- shared with the rest of the engine ------------------------------------

bool deliver_behavior_event(document_impl& doc, element_node& target, std::uint32_t code,
                            element_node* source, std::uint32_t reason) {
    input_scope scope(doc);
    event_path path(target);
    behavior_event_params params{code | sinking, source, &target, reason};
    for (element_node* e : path.ancestors()) {
        if (call_handlers(*e, event_group::behavior_event, &params)) {
            return true;
        }
    }
    params.cmd = code;
    for (auto it = path.all().rbegin(); it != path.all().rend(); ++it) {
        if (call_handlers(**it, event_group::behavior_event, &params)) {
            return true;
        }
    }
    return false;
}

void move_focus(document_impl& doc, element_node* element, bool by_mouse) {
    element_node* old = doc.focus;
    if (old == element) {
        return;
    }
    doc.focus = element;
    if (element) {
        ++element->m_refs;
        change_state(*element, state::focus, 0);
    }
    if (old) {
        change_state(*old, 0, state::focus);
        if (document_of(*old) == &doc) {
            deliver_focus(*old, focus_event::lost, by_mouse);
        }
        unuse(old);
    }
    if (element && doc.focus == element) {
        deliver_focus(*element, focus_event::got, by_mouse);
    }
}

void run_posted(document_impl& doc) {
    if (doc.input_depth > 0) {
        return;  // the outermost input runs them when it ends
    }
    // Counted as input, so that events they post wait in the queue; but not an
    // input_scope, whose end would start another run.
    ++doc.input_depth;
    for (std::size_t count = 0; !doc.posted.empty() && count < max_posted_per_run; ++count) {
        const auto event = doc.posted.front();
        doc.posted.pop_front();
        if (document_of(*event.target) == &doc) {
            deliver_behavior_event(doc, *event.target, event.code, event.source, event.reason);
        }
        unuse(event.target);
        unuse(event.source);
    }
    --doc.input_depth;
    if (!doc.posted.empty() && doc.the_host) {
        doc.the_host->posted_events_pending();
    }
}

namespace {

// Drops focus, capture, the pressed element, pop-ups and timers on the nodes
// for which `inside` holds.
template <typename Inside>
void forget_where(document_impl& doc, Inside&& inside) {
    for (std::size_t i = doc.popups.size(); i-- > 0;) {
        const auto open = doc.popups[i];
        if (inside(*open.popup)) {
            doc.popups.erase(doc.popups.begin() + std::ptrdiff_t(i));
            if (open.owner && !inside(*open.owner)) {
                change_state(*open.owner, 0, state::owns_popup);  // its pop-up is gone
            }
            unuse(open.popup);
            unuse(open.owner);
            unuse(open.return_focus);
        } else if (open.owner && inside(*open.owner)) {
            close_popup(doc, *open.popup);
        }
    }
    std::erase_if(doc.timers, [&](const document_impl::timer& t) {
        if (!inside(*t.element)) {
            return false;
        }
        unuse(t.element);
        return true;
    });
    // Last: closing a pop-up above gives the focus back to where it was before the
    // pop-up opened, which may be among the nodes going too.
    if (doc.focus && inside(*doc.focus)) {
        unuse(std::exchange(doc.focus, nullptr));
    }
    if (doc.capture && inside(*doc.capture)) {
        unuse(std::exchange(doc.capture, nullptr));
    }
    if (doc.pressed && inside(*doc.pressed)) {
        unuse(std::exchange(doc.pressed, nullptr));
    }
}

}  // namespace

void forget_subtree(document_impl& doc, const node& root) {
    forget_where(doc, [&](const node& n) { return is_inclusive_ancestor(root, n); });
}

void forget_children(document_impl& doc, const element_node& parent) {
    // All at once: forgetting one child can hand the focus to a sibling that
    // goes with it.
    forget_where(doc, [&](const node& n) { return &n != &parent && is_inclusive_ancestor(parent, n); });
}

void notify_detached(element_node& e) {
    if (!e.find_extras()) {
        return;
    }
    const auto handlers = std::move(e.find_extras()->handlers);
    e.find_extras()->handlers.clear();
    for (const auto& entry : handlers) {
        initialization_params params{initialization_event::detached};
        entry.proc(entry.tag, &e, event_group::initialization, &params);
    }
}

bool open_popup(document_impl& doc, element_node& popup, element_node* owner, element_node* anchor,
                point pos, std::uint32_t placement) {
    if (document_of(popup) != &doc) {
        return false;
    }
    close_popup(doc, popup);
    ++popup.m_refs;
    if (owner) {
        ++owner->m_refs;
        change_state(*owner, state::owns_popup, 0);
    }
    element_node* return_focus = doc.focus;
    if (return_focus) {
        ++return_focus->m_refs;
    }
    doc.popups.push_back({&popup, owner, return_focus});
    change_state(popup, state::popup, 0);
    patch change = make_patch(patch_kind::show_popup, popup.m_serial, placement);
    change.before = anchor ? anchor->m_serial : 0;
    change.pos = pos;
    emit(doc, std::move(change));
    return true;
}

bool close_popup(document_impl& doc, element_node& popup) {
    auto it = std::find_if(doc.popups.begin(), doc.popups.end(),
                           [&](auto& open) { return open.popup == &popup; });
    if (it == doc.popups.end()) {
        return false;
    }
    const auto open = *it;
    doc.popups.erase(it);
    change_state(popup, 0, state::popup);
    if (open.owner) {
        change_state(*open.owner, 0, state::owns_popup);
    }
    emit(doc, make_patch(patch_kind::hide_popup, popup.m_serial));
    if (doc.focus && is_inclusive_ancestor(popup, *doc.focus)) {
        element_node* back = open.return_focus;
        move_focus(doc, back && document_of(*back) == &doc ? back : nullptr, false);
    }
    unuse(open.popup);
    unuse(open.owner);
    unuse(open.return_focus);
    return true;
}

void bind_behaviors(document_impl& doc, std::span<element_node* const> elements) {
    // First decide, touching nothing; then call out, since the host may change
    // the tree while it attaches.
    struct binding {
        element_node* element;
        std::string names;
        bool control;
    };
    std::vector<binding> bindings;
    for (element_node* e : elements) {
        std::optional<std::string_view> names_value;
        std::vector<declaration> inline_style;
        if (const auto style = e->m_attributes.get(names::style)) {
            inline_style = parse_declarations(*style);
            for (const auto& [property, value] : inline_style) {
                if (property == "behavior") {
                    names_value = value;
                }
            }
        }
        if (!names_value) {
            names_value = doc.sheets.property(*e, "behavior");
        }
        const bool control = e->m_attributes.has(names::message) || e->m_tag == names::button ||
                             e->m_tag == names::input || e->m_tag == names::select ||
                             e->m_tag == names::textarea;
        if (names_value || control) {
            ++e->m_refs;
            bindings.push_back({e, std::string(names_value.value_or("")), control});
        }
    }
    for (const auto& [e, names_text, control] : bindings) {
        std::string_view rest = names_text;
        while (!rest.empty() && document_of(*e) == &doc) {
            const std::size_t start = rest.find_first_not_of(" \t,");
            if (start == std::string_view::npos) {
                break;
            }
            const std::size_t end = std::min(rest.find_first_of(" \t,", start), rest.size());
            const std::string_view name = rest.substr(start, end - start);
            rest = rest.substr(end);
            if (name == "button") {
                e->set_builtin(builtin_behavior::button);
            } else if (name == "check" || name == "checkbox") {
                e->set_builtin(builtin_behavior::check);
            } else if (name != "none" && doc.the_host) {
                doc.the_host->attach_behavior(e, name);
            }
        }
        if (control && doc.the_host && document_of(*e) == &doc) {
            doc.the_host->create_control(e);
        }
    }
    for (const auto& item : bindings) {
        unuse(item.element);
    }
}

// ---- document input --------------------------------------------------------

bool document::mouse_input(handle target, std::uint32_t cmd, point pos, std::uint32_t buttons,
                           std::uint32_t alt_state) {
    document_impl& doc = *m_impl;
    if (!target || document_of(*target) != &doc) {
        target = root();
    }
    if (doc.capture && target && !is_inclusive_ancestor(*doc.capture, *target)) {
        target = doc.capture;
    }
    if (!target) {
        return false;
    }
    input_scope scope(doc);
    use(target);
    if (cmd == mouse_event::down) {
        // A press outside a pop-up closes it; a press inside keeps the focus where it is.
        const std::vector<document_impl::open_popup> open = doc.popups;
        for (const auto& item : open) {
            if (!is_inclusive_ancestor(*item.popup, *target)) {
                close_popup(doc, *item.popup);
            }
        }
        if (!popup_containing(doc, *target)) {
            move_focus(doc, focusable_ancestor(*target), true);
        }
    }
    bool handled =
        document_of(*target) == &doc && deliver_mouse(doc, *target, cmd, pos, buttons, alt_state);
    if (!handled && cmd == mouse_event::up && buttons == mouse_button::secondary &&
        document_of(*target) == &doc) {
        handled = show_context_menu(doc, *target, pos);
    }
    if (cmd == mouse_event::up && doc.pressed) {
        // Released elsewhere: the button pops up without a click.
        element_node* pressed = std::exchange(doc.pressed, nullptr);
        change_state(*pressed, 0, state::pressed);
        unuse(pressed);
    }
    unuse(target);
    return handled;
}

bool document::key_input(std::uint32_t cmd, std::uint32_t key, std::uint32_t alt_state) {
    document_impl& doc = *m_impl;
    element_node* target = doc.focus ? doc.focus : root();
    if (!target) {
        return false;
    }
    input_scope scope(doc);
    // Escape belongs to an open pop-up first: it must not reach the document's
    // own Escape handling (which may hide the window) while a menu is open.
    if (cmd == key_event::down && key == key_code::escape && !doc.popups.empty()) {
        return close_popup(doc, *doc.popups.back().popup);
    }
    use(target);
    bool handled = deliver_key(doc, *target, cmd, key, alt_state);
    if (!handled && doc.focus && is_editable(doc.focus)) {
        element_node& edited = *doc.focus;
        const auto before = get_inner_text(&edited);
        handled = edit_text(edited, cmd, key, doc.typed_high_surrogate);
        if (get_inner_text(&edited) != before) {
            post_event(&edited, behavior_event::edit_value_changed, &edited, 0);
        }
    }
    if (!handled && cmd == key_event::down && doc.focus &&
        (key == key_code::apps || (key == key_code::f10 && (alt_state & key_state::shift)))) {
        handled = context_menu_from_keyboard(doc, *doc.focus);
    }
    if (!handled && cmd == key_event::down && key == key_code::tab && doc.popups.empty()) {
        handled = tab_to_next_stop(doc, (alt_state & key_state::shift) != 0);
    }
    unuse(target);
    return handled;
}

bool document::text_input(handle element, std::u16string_view text) {
    if (!element || document_of(*element) != m_impl.get() || !is_editable(element)) {
        return false;
    }
    input_scope scope(*m_impl);
    set_attribute(element, "all-selected", std::nullopt);  // the page sent the whole text
    if (!set_inner_text(element, text)) {
        return false;
    }
    post_event(element, behavior_event::edit_value_changed, element, 0);
    return true;
}

void document::run_due_timers() {
    document_impl& doc = *m_impl;
    input_scope scope(doc);
    const std::int64_t now = now_ms(doc);
    std::vector<document_impl::timer> due;
    for (const auto& t : doc.timers) {
        if (t.due <= now) {
            due.push_back(t);
        }
    }
    std::stable_sort(due.begin(), due.end(), [](auto& a, auto& b) { return a.due < b.due; });
    for (const auto& t : due) {
        auto it = std::find_if(doc.timers.begin(), doc.timers.end(), [&](auto& live) {
            return live.element == t.element && live.id == t.id;
        });
        if (it == doc.timers.end() || it->due > now) {
            continue;  // stopped or reset by an earlier timer's handler
        }
        element_node* e = it->element;
        ++e->m_refs;
        timer_params params{t.id};
        const bool keep = call_handlers(*e, event_group::timer, &params);
        it = std::find_if(doc.timers.begin(), doc.timers.end(),
                          [&](auto& live) { return live.element == t.element && live.id == t.id; });
        if (it != doc.timers.end() && it->due <= now) {
            if (keep) {
                it->due = now + it->period;
            } else {
                unuse(it->element);
                doc.timers.erase(it);
            }
        }
        unuse(e);
    }
}

std::optional<std::int64_t> document::next_timer_due() const {
    std::optional<std::int64_t> next;
    for (const auto& t : m_impl->timers) {
        next = next ? std::min(*next, t.due) : t.due;
    }
    return next;
}

}  // namespace layout
