#pragma once
// Lists too long to hold as elements. A list element given a row source holds
// only a window of its rows (the ones the renderer shows, asked for by index as
// the page scrolls); the rest exist as indices. The marks a list box keeps on
// its rows (the current row, the anchor of a Shift range, the checked rows) are
// kept by index beside them, so a selection may reach rows that were never
// built, and a row built later shows the marks it has.
//
// The same row and mark operations work on an ordinary list, whose rows are its
// element children: code that walks a list by index needs no second path.
//
// The renderer hears of a long list through the patch stream: held rows come and
// go as ordinary inserts and removals, and a `rows` patch tells it that the rows
// before or after the window changed in number (page_mirror.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "layout/types.h"

namespace layout {

// Where a long list's rows come from. The list asks for markup only for the rows
// it holds; everything else stays with the source.
class row_source {
public:
    virtual std::size_t row_count() const = 0;
    // Appends the markup of rows [first, last), one element per row, in order.
    virtual void append_rows(std::size_t first, std::size_t last, std::string& markup) = 0;
    // The number of the record row `index` stands for: what an action on it reads.
    virtual std::int64_t row_key(std::size_t index) const = 0;

protected:
    ~row_source() = default;
};

// Rows [first, last).
struct row_range {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t size() const { return last - first; }
    bool contains(std::size_t index) const { return index >= first && index < last; }
    friend bool operator==(const row_range&, const row_range&) = default;
};

// Rows a long list holds before anyone says how many are wanted.
inline constexpr std::size_t default_held_rows = 40;
// The most rows a long list holds at once, whatever is asked.
inline constexpr std::size_t max_held_rows = 400;

// ---- The source ------------------------------------------------------------
// Makes `list` a long list showing `source` (nullptr: an ordinary element again,
// emptied). Starts afresh: no marks, the window at the top. The source must stay
// alive while the list uses it.
void set_row_source(handle list, row_source* source);
bool is_long_list(handle list);
// The source changed as a whole (a new result): marks cleared, the window back at
// the top, its rows built again.
void rows_reset(handle list);
// `count` rows were put in before row `at` (the source has them already). Marks
// move with their rows; the window stays on the rows it shows, except that a
// window at the very top takes rows put in at the top.
void rows_inserted(handle list, std::size_t at, std::size_t count);
// The rows at these indices (ascending, as they were before) are gone from the
// source. Their marks go; the window keeps its other rows and fills up.
void rows_removed(handle list, std::span<const std::size_t> indices);
// The source put its rows in a new order: new row i is old row `old_index[i]`.
// Marks follow their rows; the window keeps its place with the rows now there.
void rows_reordered(handle list, std::span<const std::size_t> old_index);

// ---- Rows by index ---------------------------------------------------------
std::size_t row_count(handle list);
// The element of row `index`, or nullptr when the list does not hold it.
handle row_at(handle list, std::size_t index);
// The record number of row `index` of a long list (row_source::row_key); nullopt for
// an ordinary list, whose rows carry their own ids, or for no such row.
std::optional<std::int64_t> row_key(handle list, std::size_t index);
// The index of `row`, a child of `list`.
std::optional<std::size_t> row_index(handle list, handle row);
// The rows held as elements (an ordinary list: all of them).
row_range held_rows(handle list);
// Makes a long list hold rows [first, first + count), as far as there are rows:
// rows it lacks are built, the others dropped. Nothing for an ordinary list.
void hold_rows(handle list, std::size_t first, std::size_t count);
// Builds row `index` when it is not held (the window moves to it) and asks the
// renderer to show it. Returns its element, or nullptr for no such row.
handle reveal_row(handle list, std::size_t index);

// ---- Marks -----------------------------------------------------------------
// Shown on held rows as the states current, anchor and checked.
std::optional<std::size_t> current_row(handle list);
void set_current_row(handle list, std::optional<std::size_t> index);
std::optional<std::size_t> anchor_row(handle list);
void set_anchor_row(handle list, std::size_t index);
bool is_row_checked(handle list, std::size_t index);
void set_rows_checked(handle list, row_range rows, bool checked);
void uncheck_all_rows(handle list);
std::size_t checked_row_count(handle list);
// The checked rows as ascending, separate ranges.
std::vector<row_range> checked_row_ranges(handle list);

}  // namespace layout
