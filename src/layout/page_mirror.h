#pragma once
// Turns the document's patch stream into the JSON records a web page applies to
// mirror the document (the desktop window's renderer page). Each
// inserted subtree is described from the tree itself, node by node (tag,
// attributes, text, serial), so the page builds it with createElement and
// setAttribute and never parses markup. Whatever could run script in the page is
// left out here: script-like elements with everything inside them, event-handler
// attributes, links other than http(s), mailto or our own, and anything the page
// would load from outside the program.
//
// A long list (long_list.h) holds only the rows near the page's view, and the page
// gets exactly those: the page asks for rows by index as it scrolls, the list
// builds them, and a "span" record tells how many rows stand before and after
// them, which the page turns into room. A list of a million quotes costs the page
// and the document what a screenful does.
//
// Plain C++ like the rest of the engine, so its rules are tested (and sanitized)
// without a display.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace layout {

class document;
struct patch;
struct node;

// What the page shows of a text inside a row of a windowed list: the text itself,
// or for a huge clip its first max_row_text_bytes (whole characters) and a line
// telling how many characters follow. The document keeps the whole text (copies
// and exports take it from there); the page lays out no more than a screenful
// needs, so one enormous clip cannot slow the list or fill the memory.
inline constexpr std::size_t max_row_text_bytes = 64 * 1024;
std::string shown_text(std::string_view text);

// Whether an element of this tag (any case) may appear in the page.
bool is_safe_element(std::string_view tag);
// Whether an attribute may appear in the page with this value.
bool is_safe_attribute(std::string_view name, std::string_view value);

// The state bits as the page's style sheets match them: a space-separated list of
// names for the data-state attribute, e.g. "focus current".
std::string state_names(std::uint32_t state);

class page_mirror_encoder {
public:
    explicit page_mirror_encoder(document& document) : m_document(document) {}

    // Appends the record for `change` to `batch`, a JSON array being built ("[" is
    // written before the first record). Call it from the document's observer, right
    // after the change: an insertion is described from the tree as it is then.
    void encode(const patch& change, std::string& batch);
    // Appends a record that empties the page and rebuilds it from the whole tree.
    void encode_snapshot(std::string& batch);
    // The page wants rows [first, first + count) of the long list `list` (a serial).
    // The list builds them now, so their records join the batch being built;
    // anything else is ignored.
    void request_window(std::uint32_t list, std::uint32_t first, std::uint32_t count);

    // Appends the room records of the long lists whose rows changed and closes
    // `batch`; returns "" when it holds no record.
    std::string finish(std::string batch);

private:
    // A long list the page holds, and whether its room must be sent again.
    struct list_room {
        bool dirty = true;
        bool top = false;  // it starts afresh: the page goes back to its top
    };

    // `in_row`: the node is inside a row of a long list, where long texts are
    // shortened (see shown_text).
    bool append_node(std::string& out, const node& n, bool first, bool in_row);
    void append_insert(std::string& batch, std::uint32_t parent_serial, std::uint32_t before,
                       const node* const* nodes, std::size_t count, bool in_row);
    // Whether `n` is inside a row of a long list.
    bool in_row(const node* n) const;

    document& m_document;
    std::unordered_map<std::uint32_t, list_room> m_lists;  // by the list's serial
};

}  // namespace layout
