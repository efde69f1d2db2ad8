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
// A long list is shown through a window: an element with the attribute
// "virtual-rows" gets only the children near the page's view (the page asks for
// them by index as it scrolls) and a "span" record telling how many rows stand
// before and after them, which the page turns into room. The document keeps the
// whole list; changes to rows outside the window are not sent at all, so a list
// of a hundred thousand quotes costs the page what a screenful does.
//
// Plain C++ like the rest of the engine, so its rules are tested (and sanitized)
// without a display.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
    // Rows a windowed list shows before the page has said how many it wants.
    static constexpr std::uint32_t default_window_rows = 40;
    // The most rows the page may ask for at once.
    static constexpr std::uint32_t max_window_rows = 400;

    explicit page_mirror_encoder(document& document) : m_document(document) {}

    // Appends the record for `change` to `batch`, a JSON array being built ("[" is
    // written before the first record). Call it from the document's observer, right
    // after the change: an insertion is described from the tree as it is then.
    void encode(const patch& change, std::string& batch);
    // Appends a record that empties the page and rebuilds it from the whole tree.
    void encode_snapshot(std::string& batch);
    // The page wants rows [first, first + count) of the windowed list `list`.
    // Unknown lists are ignored; the rows go out with the next finish().
    void request_window(std::uint32_t list, std::uint32_t first, std::uint32_t count);

    // Appends what the windowed lists need (rows coming into or leaving the
    // window, the room for the rows left out, reveals held back until their row
    // is shown) and closes `batch`; returns "" when it holds no record.
    std::string finish(std::string batch);

    // The rows of `list` the page holds, in order (for tests).
    std::vector<std::uint32_t> shown_rows(std::uint32_t list) const;

private:
    struct windowed_list {
        std::uint32_t first = 0;
        std::uint32_t count = default_window_rows;
        std::vector<std::uint32_t> shown;  // serials of the rows in the page, in order
        bool dirty = true;                 // the page may hold the wrong rows or room
        bool moved = false;                // rows came or went: find the window again
        bool emptied = false;              // rebuilt from nothing: the page starts at its top
        std::uint32_t reveal_row = 0;      // a row to bring into the window
    };

    // `in_row`: the node is inside a row of a windowed list, where long texts are
    // shortened (see shown_text).
    bool append_node(std::string& out, const node& n, bool first, bool in_row);
    void append_insert(std::string& batch, std::uint32_t parent_serial, std::uint32_t before,
                       const node* const* nodes, std::size_t count, bool in_row);
    // Whether the page holds `n`: no windowed list above it leaves its row out.
    bool page_has(const node* n) const;
    // The windowed list whose row holds `n` (innermost), with that row.
    std::pair<windowed_list*, const node*> row_of(const node* n);
    void reconcile(std::uint32_t serial, windowed_list& list, std::string& batch);

    document& m_document;
    std::unordered_map<std::uint32_t, windowed_list> m_lists;  // by the list's serial
    std::vector<patch> m_reveals;  // held until their rows are in the page
};

}  // namespace layout
