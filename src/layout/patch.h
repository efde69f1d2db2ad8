#pragma once
// The patch stream: every change to a document's tree, reported in order as
// small records, so that a renderer can mirror the tree exactly. Nodes are
// named by their serial number; the nodes of one insertion have consecutive
// serials in document order, starting at `first_serial`, so that whoever
// rebuilds them from the markup can number them the same way.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "layout/types.h"

namespace layout {

class document;

enum class patch_kind : std::uint8_t {
    insert,          // node: parent; before: sibling or 0 to append; value: markup (see wants_markup)
    remove,          // node: the node taken out of the tree
    clear,           // node: the element whose children all go
    set_attribute,   // node, name, value (nullopt: removed)
    set_state,       // node, state: the new bits
    set_text,        // node: its content becomes value, one text node numbered first_serial
    set_style,       // node, name, value (nullopt: removed)
    reorder,         // node: parent; order: these children now stand in this order
    show_popup,      // node: popup; before: anchor or 0; pos; state: placement
    hide_popup,      // node: popup
    update,          // node; state: 1 when it must be redrawn at once
    scroll_to_view,  // node; state: 1 to put it at the top, | 2 for smooth scrolling
    set_scroll_pos,  // node; pos; state: 1 for smooth scrolling
    rows,            // node: a long list whose rows before or after the held ones changed in
                     // number (long_list.h); state: 1 when it starts afresh at its top
};

struct patch {
    patch_kind kind = patch_kind::update;
    std::uint32_t node = 0;
    std::uint32_t before = 0;
    std::uint32_t first_serial = 0;
    std::string name;
    std::optional<std::string> value;  // UTF-8
    std::uint32_t state = 0;
    point pos;
    std::vector<std::uint32_t> order;
};

class patch_observer {
public:
    virtual ~patch_observer() = default;
    // Called synchronously right after each change.
    virtual void on_patch(const patch& change) = 0;
    // Whether insert patches carry the markup of what they insert. An observer
    // that describes insertions from the tree right away can do without it, and
    // spares the document writing out every long list it builds.
    virtual bool wants_markup() const { return true; }
};

// A patch of `kind` about `node`; other fields are set by whoever makes it.
inline patch make_patch(patch_kind kind, std::uint32_t node, std::uint32_t state = 0) {
    patch change;
    change.kind = kind;
    change.node = node;
    change.state = state;
    return change;
}

// One node an insert patch adds, as a renderer builds it.
struct inserted_node {
    std::uint32_t serial = 0;
    std::uint32_t parent = 0;  // the patch's node for the top-level ones
    bool is_text = false;
    std::string_view tag;  // lower case; empty for text
    std::vector<std::pair<std::string_view, std::string_view>> attributes;  // in markup order
    std::string_view text;                                                  // UTF-8, for text
};

// Reads the nodes an insert patch adds, in document order (parents before
// their children), numbered as the document numbered them. Works from the
// patch alone, so a renderer that encodes patches later never sees a tree
// that has moved on. The views are valid during the callback only.
void read_inserted_nodes(const patch& insert,
                         const std::function<void(const inserted_node&)>& callback);

// Applies one patch to `target`, a document that mirrors the one that emitted
// the stream (it starts empty, as every document does). Returns false for a
// patch that names nodes the mirror does not have.
bool apply_patch(document& target, const patch& change);

// Serial of the document node itself: the parent named by a load's patches.
constexpr std::uint32_t document_serial = 1;

}  // namespace layout
