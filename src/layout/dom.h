#pragma once
// The element operations. Each takes a handle and fails without effect (false,
// nullptr, nullopt, 0) when the handle is nullptr. Elements outside a document
// (detached, or created by markup set on a detached element) support every
// reading and writing operation; what needs a window (events, pop-ups, focus,
// capture, timers) fails for them. Text is UTF-16 in the wide forms and UTF-8
// in the narrow ones.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "layout/types.h"

namespace layout {

// ---- References ------------------------------------------------------------
// An element stays valid while it is in a document or referenced. Every use
// must be matched by one unuse.
void use(handle element);
void unuse(handle element);

// ---- Tree walk -------------------------------------------------------------
// The parent element; nullptr for the root and for a detached element.
handle parent(handle element);
// Walks parents until there is none.
handle root_of(handle element);
// Children are elements only; text between them does not count.
std::size_t child_count(handle element);
handle nth_child(handle element, std::size_t index);
// Calls `callback` for each child from the `first`-th on, in order, until it
// returns true; true when the callback stopped the walk. The callback must not
// add or remove children of `element`: collect them and change the tree after.
bool for_each_child(handle element, const std::function<bool(handle)>& callback,
                    std::size_t first = 0);
// Position among the parent's children, from 0 (0 without a parent).
std::size_t index_of(handle element);
handle next_sibling(handle element);
handle previous_sibling(handle element);
// Stable number of the element for the patch stream and the renderer.
std::uint32_t serial_of(handle element);

// ---- Selection -------------------------------------------------------------
// Return true from the callback to stop the walk. A callback may change states
// and attributes, not the tree: collect the elements first to delete them.
using element_callback = std::function<bool(handle)>;

// Calls `callback` for each element below `root` (root itself excluded) that
// matches `selector` (selector.h), in document order. False when the selector
// cannot be read or root is nullptr.
bool select_elements(handle root, std::string_view selector, const element_callback& callback);
// The first match in document order, or nullptr.
handle find_first(handle root, std::string_view selector);
// The nearest of `element` and its ancestors that matches `selector`: finds the
// row, table or block around an element whatever markup lies between. nullptr
// when none matches or the selector cannot be read.
handle closest(handle element, std::string_view selector);
// Calls `callback` for each element below `root` with tag `tag` (empty: any)
// and attribute `attribute` (empty: no condition) equal to `value` (nullopt:
// merely present).
bool visit_elements(handle root, std::string_view tag, std::string_view attribute,
                    std::optional<std::u16string_view> value, const element_callback& callback);

// ---- Attributes ------------------------------------------------------------
// nullopt when absent; an attribute written without value reads as "".
std::optional<std::u16string> get_attribute(handle element, std::string_view name);
std::optional<std::string> get_attribute_utf8(handle element, std::string_view name);
// nullopt removes; "" makes it present and empty. False for a name that markup
// could not carry.
bool set_attribute(handle element, std::string_view name, std::optional<std::u16string_view> value);
bool set_attribute_utf8(handle element, std::string_view name,
                        std::optional<std::string_view> value);
std::size_t attribute_count(handle element);
// Name and value of the index-th attribute in markup order.
std::optional<std::pair<std::string, std::u16string>> nth_attribute(handle element,
                                                                    std::size_t index);

// ---- Style -----------------------------------------------------------------
// A property's value: set at run time, else from the "style" attribute, else
// from the style sheets. nullopt when none gives it.
std::optional<std::u16string> get_style_attribute(handle element, std::string_view name);
// Sets (nullopt: clears) a run-time value, which wins over the sheets.
bool set_style_attribute(handle element, std::string_view name,
                         std::optional<std::u16string_view> value);

// ---- State -----------------------------------------------------------------
std::uint32_t get_state(handle element);
// Sets then clears bits (state::*). Setting state::focus moves the document's
// focus here, clearing it on the focused element moves it nowhere; both send
// focus events. With `update` the element is also reported for a redraw.
bool set_state(handle element, std::uint32_t bits_to_set, std::uint32_t bits_to_clear, bool update);

// ---- Type and text ---------------------------------------------------------
// The tag name in lower case ("" for nullptr).
std::string element_type(handle element);
// All text below the element in order; <br> reads as a line feed.
std::optional<std::u16string> get_inner_text(handle element);
std::optional<std::string> get_inner_text_utf8(handle element);
// Replaces the content with the text (no markup is read from it).
bool set_inner_text(handle element, std::u16string_view text);
bool set_inner_text_utf8(handle element, std::string_view text);

// ---- Markup ----------------------------------------------------------------
enum class html_place : std::uint32_t {
    replace_content = 0,
    insert_at_start = 1,  // before the first child
    append = 2,           // after the last child
    replace_element = 3,  // the element itself is deleted
    insert_before = 4,    // as siblings before the element
    insert_after = 5,     // as siblings after the element
};
// Reads `markup` (UTF-8, markup.h) and puts it in place. Fails for a void
// element's content and for siblings of an element without parent.
bool set_html(handle element, std::string_view markup, html_place place);
// The element's markup: its content, or the element itself with `outer`.
std::optional<std::string> get_html(handle element, bool outer);

// ---- Removal ---------------------------------------------------------------
// Both take the element out of its tree; it is freed at once unless referenced.
bool delete_element(handle element);
bool detach_element(handle element);

// ---- Display ---------------------------------------------------------------
// Reports the element for relayout; with `redraw_now`, to be painted at once.
bool update_element(handle element, bool redraw_now);
bool scroll_to_view(handle element, bool to_top, bool smooth);

enum class location_origin : std::uint8_t { root, self, container };
// The element's border box as the renderer (or a test) last reported it, in
// root coordinates, its own, or its parent's; an empty box before that.
std::optional<rect> get_location(handle element, location_origin origin);
bool set_location(handle element, rect root_relative);

struct scroll_info {
    point pos;           // scroll position
    rect view;           // visible part, in the element's content coordinates
    point content_size;  // width and height of the whole content
};
std::optional<scroll_info> get_scroll_info(handle element);
bool set_scroll_info(handle element, const scroll_info& info);  // from the renderer
bool set_scroll_pos(handle element, point pos, bool smooth);

// ---- Events ----------------------------------------------------------------
// Delivers a behavior event to `target` now: a sinking pass from the root down
// to its parent (code | sinking), then a bubbling pass from it up to the root,
// stopping at the first handler that handles it. Returns whether one did.
bool send_event(handle target, std::uint32_t code, handle source, std::uint32_t reason);
// The same, later: after the input being handled, in the order posted.
bool post_event(handle target, std::uint32_t code, handle source, std::uint32_t reason);

// Attaches a handler; it gets initialization_event::attached at once and
// ::detached when removed or when the element leaves its document.
bool attach_event_handler(handle element, element_proc proc, void* tag, std::uint32_t subscription);
bool detach_event_handler(handle element, element_proc proc, void* tag);

// ---- Pop-ups, capture, timers ----------------------------------------------
// Shows `popup` next to `anchor` (which becomes its owner: menu item clicks are
// sent to it). `placement` is passed to the renderer as it is.
bool show_popup(handle popup, handle anchor, std::uint32_t placement);
// Shows `popup` at a document position; `owner` gets its item clicks.
bool show_popup_at(handle popup, handle owner, point pos, std::uint32_t placement);
bool hide_popup(handle popup);

// Mouse input goes to the element until released (document::release_capture).
bool set_capture(handle element);
// Ends the capture when `element` holds it (a behavior has no document to ask).
bool release_capture(handle element);

// Calls the element's handlers (event_group::timer) every `milliseconds`
// while one of them returns true; 0 stops the timer.
bool set_timer(handle element, std::uint32_t milliseconds, std::uint32_t timer_id = 0);

// ---- Sorting ---------------------------------------------------------------
// Sorts the children with index in [first, last) by `compare` (negative: a
// before b), keeping equal ones in order.
bool sort_elements(handle parent, std::size_t first, std::size_t last,
                   const std::function<int(handle, handle)>& compare);

// ---- Memory ----------------------------------------------------------------
// Node memory the engine holds for reuse: freed nodes not yet handed out again.
// Heap measurements subtract it to see what a tree really takes.
std::size_t reusable_node_bytes();
// Nodes alive in every document and every detached element still in use: once
// the documents and references are gone it is back where it started.
std::size_t live_node_count();

// ---- Editing ---------------------------------------------------------------
// Whether typing goes into the element: it has the focus, and it carries
// "editable" itself (a text field) or the nearest table around it does. Typing
// and pasted text change its text and post edit_value_changed to it.
bool is_editable(handle element);

}  // namespace layout
