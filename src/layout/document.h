#pragma once
// A document: the tree of one window, with the state the engine keeps for it
// (focus, capture, open pop-ups, posted events, timers), its style sheets, and
// the two parties it talks to: the host, which attaches behaviors and supplies
// resources, and the patch observer, which mirrors the tree on screen.
//
// Everything runs on one thread. Input comes in through the *_input functions
// (from a renderer, or from tests); every event posted while it is handled runs
// when the outermost input returns, in the order posted.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layout/types.h"
#include "platform/clock.h"

namespace layout {

class patch_observer;
struct document_impl;

// What the program supplies to a document. Every function has a harmless default.
class host {
public:
    virtual ~host() = default;
    // An element joining the document has `name` in its style's behavior
    // list and the engine has no behavior of that name: attach a handler, or not.
    virtual void attach_behavior(handle element, std::string_view name) {
        (void)element;
        (void)name;
    }
    // A control (button, input, select, textarea) or an element carrying a
    // "message" attribute joined the document.
    virtual void create_control(handle element) { (void)element; }
    // The content of a file the document refers to (style sheets), or nullopt.
    virtual std::optional<std::string> load_resource(std::string_view uri) {
        (void)uri;
        return std::nullopt;
    }
    // An event was posted while no input was being handled: call
    // document::run_posted_events soon, from the event loop.
    virtual void posted_events_pending() {}
};

// Time for element timers, in milliseconds from any fixed start.
using clock = hrd::clock;

class document {
public:
    document();
    ~document();
    document(const document&) = delete;
    document& operator=(const document&) = delete;

    // Parties; none is owned, each must outlive the document or be reset first.
    void set_host(host* new_host);
    void set_observer(patch_observer* observer);
    void set_clock(const clock* new_clock);  // nullptr: the steady clock

    // Replaces the whole tree with `markup` (UTF-8). Style sheets come from its
    // <style> elements and <link rel="stylesheet" href> (through the host), and
    // behaviors are bound as the elements join.
    void load_html(std::string_view markup);

    // The first element of the document (normally <html>), or nullptr.
    handle root() const;
    // The element with this serial (see patch.h), when it is in the document.
    handle element_by_serial(std::uint32_t serial) const;

    // Input. `target` is the element under the pointer; while an element has
    // the capture, input outside it goes to that element instead. Each returns
    // whether some handler or the engine handled the input.
    bool mouse_input(handle target, std::uint32_t cmd, point pos, std::uint32_t buttons,
                     std::uint32_t alt_state);
    // Goes to the focused element (or the root). For key_event::character the
    // key code is one UTF-16 unit.
    bool key_input(std::uint32_t cmd, std::uint32_t key_code, std::uint32_t alt_state);
    // The renderer reports the text a user typed into `element` in place.
    // Taken only while that element is editable (see dom.h, is_editable).
    bool text_input(handle element, std::u16string_view text);

    // Moves the focus (nullptr: nowhere), sending focus-lost and focus-got events.
    void set_focus(handle element);
    handle focus() const;
    handle capture() const;
    void release_capture();
    // Open pop-ups, most recent last.
    std::vector<handle> open_popups() const;

    // Runs the posted events, in order, including those they post.
    void run_posted_events();
    std::size_t posted_event_count() const;

    // Fires every timer that is due by the clock.
    void run_due_timers();
    // When the next timer is due, if any runs.
    std::optional<std::int64_t> next_timer_due() const;

    document_impl& impl() { return *m_impl; }

private:
    std::unique_ptr<document_impl> m_impl;
};

}  // namespace layout
