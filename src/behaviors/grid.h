#pragma once
// Tables that select rows like a list box: one current row, any number of
// checked (selected) rows, an anchor for Shift ranges, keyboard movement, and
// leading header rows ("fixedrows") that never take part. Rows are worked on by
// index and the marks are the list's (long_list.h), so a long list that holds
// only the rows in view selects across all of its rows.
//
// Table attributes: "multiple" (set by the document: rows may be checked),
// "fixedrows" (count of header rows), "multiselect" (kept here: two or more
// rows are checked), "shift" (kept here: a press selected the row it hit).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "behaviors/behavior.h"
#include "layout/long_list.h"

namespace htmlayout {

// What every grid hears: mouse, keys and focus.
inline constexpr std::uint32_t grid_groups =
    layout::event_group::mouse | layout::event_group::key | layout::event_group::focus;

// The program's own behavior events between grids and the lists around them.
inline constexpr std::uint32_t ROW_ADDED = 0x101;    // source: the row of a typed new tag
inline constexpr std::uint32_t ROW_EDITED = 0x102;   // source: the row of a renamed tag
inline constexpr std::uint32_t ROW_DELETED = 0x103;  // source: a row the user deleted
inline constexpr std::uint32_t ROWS_COPY = 0x104;    // source: the table; copy checked rows
inline constexpr std::uint32_t ROWS_DELETE = 0x105;  // source: the table; remove checked rows

// Windows virtual-key numbers the grids react to.
namespace vk {
inline constexpr std::uint32_t page_up = 33, page_down = 34, end = 35, home = 36, up = 38,
                               down = 40, del = 46, a = 65, c = 67, f = 70, f1 = 112, f2 = 113;
}

class cgrid : public behavior {
public:
    cgrid();

    bool on_mouse(HELEMENT table, HELEMENT target, std::uint32_t event_type, point pt,
                  std::uint32_t buttons, std::uint32_t keys) override;
    bool on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                std::uint32_t keys) override;
    bool on_focus(HELEMENT table, HELEMENT target, std::uint32_t event_type) override;
    // A click on a header cell. Tells the table (0x81, the cell, its index).
    virtual void on_column_click(HELEMENT table, HELEMENT header_cell);

    // Makes row `index` current and selects as the keys say: Shift checks the
    // range from the anchor, Ctrl toggles the row, neither selects the row alone.
    // The row is built and brought into view when it is far away. Header rows
    // are never made current. Posts 0x82 (0x83 for a double click).
    static void select_row(HELEMENT table, std::size_t index, std::uint32_t keys,
                           bool double_click);
    // The same for `row`, a child of the table.
    static void set_current_row(HELEMENT table, HELEMENT row, std::uint32_t keys,
                                bool double_click);
    static void update_multiselect(HELEMENT table);
    static std::size_t anchor_index(HELEMENT table);
    // Checks (or unchecks) every data row; only in a "multiple" table.
    static void checkall(HELEMENT table, bool check);
    // Checks (or unchecks) the data rows from the anchor to `index`.
    static void check_range(HELEMENT table, std::size_t index, bool check);
    // The table's child row that holds `element`, or nullptr.
    static HELEMENT target_row(HELEMENT table, HELEMENT element);
    static std::optional<std::size_t> current_index(HELEMENT table);
    // The current row's element, when the list holds it.
    static HELEMENT current_row(HELEMENT table);
    static std::size_t fixed_rows(HELEMENT table);
    // The checked rows below the header rows, as ascending ranges of indices.
    static std::vector<layout::row_range> checked_ranges(HELEMENT table);
    static std::size_t checked_count(HELEMENT table);

protected:
    cgrid(std::uint32_t subscription, const char* name);
    // Moves the current row for a navigation key; false for other keys.
    static bool move_by_key(HELEMENT table, std::uint32_t key, std::uint32_t keys);
    // Removes the checked rows through the list around the table (a long list:
    // ROWS_DELETE once; otherwise ROW_DELETED, sent at once for each) and makes
    // the row now at the old current index current. False when no data row is
    // checked.
    static bool delete_checked_rows(HELEMENT table, std::uint32_t keys);
};

// A grid whose header cells sort the rows by their column.
class csortable_grid : public cgrid {
public:
    csortable_grid();
    void on_column_click(HELEMENT table, HELEMENT header_cell) override;

    // Sorts the data rows, ascending, by the text of each row's cell number
    // `column`. Runs of digits compare by value, so dates and counts sort as
    // numbers; everything else by UTF-16 code unit, no case folding.
    static void sort_rows(HELEMENT table, std::size_t column);
    // Negative, zero or positive as `a` sorts before, with or after `b`.
    static int compare_texts(std::u16string_view a, std::u16string_view b);

protected:
    csortable_grid(std::uint32_t subscription, const char* name);
};

// The tag table: in-place rename and the typed new tag. While a row is being
// edited every key goes to the editor: Enter commits, Escape cancels.
class ceditable_grid : public cgrid {
public:
    ceditable_grid();
    bool on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                std::uint32_t keys) override;
    bool on_focus(HELEMENT table, HELEMENT target, std::uint32_t event_type) override;

    // Starts a new tag row at the top, empty, with the typing focus.
    static void start_new_row(HELEMENT table);
    // Starts renaming the tag of `row`.
    static bool start_rename(HELEMENT table, HELEMENT row);
    // The element being edited, or nullptr when none is.
    static HELEMENT edited_entry(HELEMENT table);
    // Enter in the editor: a name the list would refuse (none, or another tag's)
    // is not taken; the words why show beside it and the editor stays open.
    // Otherwise as commit(table, true). True when the edit ended.
    static bool commit_typed(HELEMENT table);
    // Ends the edit and hands the result to the list; with `refocus` the keyboard
    // goes back to the table. What the user leaves behind with a click elsewhere.
    static void commit(HELEMENT table, bool refocus);
    static void cancel(HELEMENT table);
};

// The quote table: Delete removes the checked quotes, Ctrl+C copies them.
class cquote_grid : public csortable_grid {
public:
    cquote_grid();
    bool on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                std::uint32_t keys) override;
};

}  // namespace htmlayout
