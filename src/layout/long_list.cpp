#include "layout/long_list.h"

#include <algorithm>

#include "layout/document_impl.h"
#include "layout/dom.h"
#include "layout/node.h"

namespace layout {

struct long_list_state {
    row_source* source = nullptr;
    std::size_t first = 0;                     // index of the first held row
    std::size_t wanted = default_held_rows;    // rows the window holds when there are enough
    std::optional<std::size_t> current;
    std::optional<std::size_t> anchor;
    std::vector<row_range> checked;  // ascending, apart: touching ranges are merged
};

void long_list_deleter::operator()(long_list_state* state) const {
    delete state;
}

namespace {

constexpr std::uint32_t mark_bits = state::current | state::anchor | state::checked;

long_list_state* state_of(handle list) {
    if (list == nullptr) {
        return nullptr;
    }
    element_extras* extras = list->find_extras();
    return extras != nullptr ? extras->long_list.get() : nullptr;
}

std::size_t held_count(handle list) {
    return element_child_count(*list);
}

// Whether `index` lies in one of the ascending ranges.
bool in_ranges(const std::vector<row_range>& ranges, std::size_t index) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), index,
                               [](std::size_t i, const row_range& r) { return i < r.first; });
    return it != ranges.begin() && std::prev(it)->contains(index);
}

// Adds `rows` to the ascending ranges, or takes them out.
void change_ranges(std::vector<row_range>& ranges, row_range rows, bool on) {
    if (rows.first >= rows.last) {
        return;
    }
    std::vector<row_range> out;
    out.reserve(ranges.size() + 2);
    bool placed = false;
    for (const row_range& r : ranges) {
        if (r.last < rows.first || (!on && r.last == rows.first)) {
            out.push_back(r);  // wholly before
        } else if (r.first > rows.last || (!on && r.first == rows.last)) {
            if (on && !placed) {
                out.push_back(rows);
                placed = true;
            }
            out.push_back(r);  // wholly after
        } else if (on) {
            rows = {std::min(rows.first, r.first), std::max(rows.last, r.last)};  // touching or overlapping
        } else {
            if (r.first < rows.first) {
                out.push_back({r.first, rows.first});
            }
            if (r.last > rows.last) {
                out.push_back({rows.last, r.last});
            }
        }
    }
    if (on && !placed) {
        out.push_back(rows);
    }
    ranges = std::move(out);
}

void emit_rows(handle list, bool fresh) {
    if (document_impl* doc = document_of(*list)) {
        emit(*doc, make_patch(patch_kind::rows, list->m_serial, fresh ? 1u : 0u));
    }
}

std::uint32_t marks_of(const long_list_state& st, std::size_t index) {
    std::uint32_t bits = 0;
    if (st.current == index) {
        bits |= state::current;
    }
    if (st.anchor == index) {
        bits |= state::anchor;
    }
    if (in_ranges(st.checked, index)) {
        bits |= state::checked;
    }
    return bits;
}

// The node position of the element child `position` (the end for one past the last).
std::size_t node_position(handle list, std::size_t position) {
    if (position >= held_count(list)) {
        return list->m_children.size();
    }
    return list->m_children.index_of(nth_element_child(*list, position));
}

// Builds rows [from, to) from the source and puts them at element position
// `position`, showing their marks.
void build(handle list, long_list_state& st, std::size_t position, std::size_t from,
           std::size_t to) {
    if (from >= to) {
        return;
    }
    std::string markup;
    st.source->append_rows(from, to, markup);
    const std::size_t before = held_count(list);
    insert_markup(*list, node_position(list, position), markup);
    const std::size_t built = held_count(list) - before;
    for (std::size_t k = 0; k < built; ++k) {
        const std::uint32_t bits = marks_of(st, from + k);
        if (bits != 0) {
            change_state(*nth_element_child(*list, position + k), bits, 0);
        }
    }
}

// Drops `count` held rows from element position `position` on.
void drop(handle list, std::size_t position, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (position == 0 && count >= held_count(list)) {
        remove_children(*list);
        return;
    }
    std::vector<element_node*> rows;
    for (std::size_t i = 0; i < count; ++i) {
        rows.push_back(nth_element_child(*list, position + i));
    }
    for (element_node* row : rows) {
        remove_node(*row);
    }
}

// Shows a changed mark on a held row.
void show_marks(handle list, long_list_state& st, std::optional<std::size_t> index) {
    if (!index || *index < st.first || *index >= st.first + held_count(list)) {
        return;
    }
    element_node& row = *nth_element_child(*list, *index - st.first);
    const std::uint32_t bits = marks_of(st, *index);
    change_state(row, bits, mark_bits & ~bits);
}

void restart(handle list, long_list_state& st) {
    st.current.reset();
    st.anchor.reset();
    st.checked.clear();
    st.first = 0;
    remove_children(*list);
    if (st.source != nullptr) {
        build(list, st, 0, 0, std::min(st.source->row_count(), st.wanted));
    }
    emit_rows(list, true);
}

// Where an index stands once the sorted `removed` indices are gone.
std::size_t after_removal(std::span<const std::size_t> removed, std::size_t index) {
    return index - std::size_t(std::lower_bound(removed.begin(), removed.end(), index) -
                               removed.begin());
}

bool is_removed(std::span<const std::size_t> removed, std::size_t index) {
    return std::binary_search(removed.begin(), removed.end(), index);
}

// The children of an ordinary list with a state bit, by index.
std::optional<std::size_t> child_with(handle list, std::uint32_t bit, bool last) {
    std::optional<std::size_t> found;
    const std::size_t n = held_count(list);
    for (std::size_t i = 0; i < n; ++i) {
        if (nth_element_child(*list, i)->m_state & bit) {
            found = i;
            if (!last) {
                break;
            }
        }
    }
    return found;
}

void mark_only(handle list, std::uint32_t bit, std::optional<std::size_t> index) {
    const std::size_t n = held_count(list);
    for (std::size_t i = 0; i < n; ++i) {
        element_node& row = *nth_element_child(*list, i);
        if (i == index) {
            change_state(row, bit, 0);
        } else if (row.m_state & bit) {
            change_state(row, 0, bit);
        }
    }
}

// Moves a mark only one row carries (the current row, the anchor) to `index`.
void set_single_mark(handle list, std::optional<std::size_t> long_list_state::*mark,
                     std::uint32_t bit, std::optional<std::size_t> index) {
    if (list == nullptr) {
        return;
    }
    long_list_state* st = state_of(list);
    if (st == nullptr) {
        mark_only(list, bit, index);
        return;
    }
    const std::optional<std::size_t> old = std::exchange(st->*mark, index);
    show_marks(list, *st, old);
    show_marks(list, *st, index);
}

}  // namespace

// ---- The source ------------------------------------------------------------

void set_row_source(handle list, row_source* source) {
    if (list == nullptr) {
        return;
    }
    if (source == nullptr) {
        if (element_extras* extras = list->find_extras(); extras && extras->long_list) {
            extras->long_list.reset();
            remove_children(*list);
        }
        return;
    }
    auto& slot = list->extras().long_list;
    if (!slot) {
        slot.reset(new long_list_state);
    }
    slot->source = source;
    restart(list, *slot);
}

bool is_long_list(handle list) {
    return state_of(list) != nullptr;
}

void rows_reset(handle list) {
    if (long_list_state* st = state_of(list)) {
        restart(list, *st);
    }
}

void rows_inserted(handle list, std::size_t at, std::size_t count) {
    long_list_state* st = state_of(list);
    if (st == nullptr || count == 0) {
        return;
    }
    const auto moved = [&](std::optional<std::size_t>& mark) {
        if (mark && *mark >= at) {
            *mark += count;
        }
    };
    moved(st->current);
    moved(st->anchor);
    std::vector<row_range> checked;
    for (const row_range& r : st->checked) {
        if (r.first >= at) {
            checked.push_back({r.first + count, r.last + count});
        } else if (r.last > at) {
            checked.push_back({r.first, at});
            checked.push_back({at + count, r.last + count});
        } else {
            checked.push_back(r);
        }
    }
    st->checked = std::move(checked);

    const row_range held = held_rows(list);
    if (at < held.first || (at == held.first && held.first > 0)) {
        st->first += count;  // above the window: the same rows stay in it
    } else if (at < held.last || (at == held.last && held.size() < st->wanted)) {
        const std::size_t room = held.first + st->wanted - at;
        build(list, *st, at - held.first, at, at + std::min(count, room));
        const std::size_t n = held_count(list);
        if (n > st->wanted) {
            drop(list, st->wanted, n - st->wanted);
        }
    }
    emit_rows(list, false);
}

void rows_removed(handle list, std::span<const std::size_t> indices) {
    long_list_state* st = state_of(list);
    if (st == nullptr || indices.empty()) {
        return;
    }
    const auto moved = [&](std::optional<std::size_t>& mark) {
        if (mark) {
            mark = is_removed(indices, *mark) ? std::nullopt
                                               : std::optional(after_removal(indices, *mark));
        }
    };
    moved(st->current);
    moved(st->anchor);
    // A range with some of its rows gone is still one range: its other rows close up.
    std::vector<row_range> checked;
    for (const row_range& r : st->checked) {
        const row_range now{after_removal(indices, r.first), after_removal(indices, r.last)};
        if (now.first == now.last) {
            continue;
        }
        if (!checked.empty() && checked.back().last == now.first) {
            checked.back().last = now.last;
        } else {
            checked.push_back(now);
        }
    }
    st->checked = std::move(checked);

    const row_range held = held_rows(list);
    std::vector<element_node*> gone;
    for (std::size_t i : indices) {
        if (held.contains(i)) {
            gone.push_back(nth_element_child(*list, i - held.first));
        }
    }
    if (!gone.empty() && gone.size() == held.size()) {
        remove_children(*list);
    } else {
        for (element_node* row : gone) {
            remove_node(*row);
        }
    }
    st->first = after_removal(indices, held.first);
    // The window fills up from below, then from above.
    const std::size_t n = st->source->row_count();
    std::size_t have = held_count(list);
    if (have < st->wanted && st->first + have < n) {
        build(list, *st, have, st->first + have, std::min(n, st->first + st->wanted));
        have = held_count(list);
    }
    if (have < st->wanted && st->first > 0) {
        const std::size_t more = std::min(st->first, st->wanted - have);
        build(list, *st, 0, st->first - more, st->first);
        st->first -= more;
    }
    emit_rows(list, false);
}

void rows_reordered(handle list, std::span<const std::size_t> old_index) {
    long_list_state* st = state_of(list);
    if (st == nullptr) {
        return;
    }
    std::vector<std::size_t> new_index(old_index.size());
    std::vector<bool> was_checked(old_index.size());
    for (const row_range& r : st->checked) {
        for (std::size_t i = r.first; i < r.last && i < was_checked.size(); ++i) {
            was_checked[i] = true;
        }
    }
    for (std::size_t i = 0; i < old_index.size(); ++i) {
        new_index[old_index[i]] = i;
    }
    const auto moved = [&](std::optional<std::size_t>& mark) {
        if (mark && *mark < new_index.size()) {
            mark = new_index[*mark];
        }
    };
    moved(st->current);
    moved(st->anchor);
    st->checked.clear();
    for (std::size_t i = 0; i < old_index.size(); ++i) {
        if (!was_checked[old_index[i]]) {
            continue;
        }
        if (!st->checked.empty() && st->checked.back().last == i) {
            ++st->checked.back().last;
        } else {
            st->checked.push_back({i, i + 1});
        }
    }
    const row_range held = held_rows(list);
    remove_children(*list);
    build(list, *st, 0, held.first, held.last);
    emit_rows(list, false);
}

// ---- Rows by index ---------------------------------------------------------

std::size_t row_count(handle list) {
    if (list == nullptr) {
        return 0;
    }
    const long_list_state* st = state_of(list);
    return st != nullptr ? st->source->row_count() : held_count(list);
}

handle row_at(handle list, std::size_t index) {
    if (list == nullptr) {
        return nullptr;
    }
    const row_range held = held_rows(list);
    return held.contains(index) ? nth_element_child(*list, index - held.first) : nullptr;
}

std::optional<std::int64_t> row_key(handle list, std::size_t index) {
    const long_list_state* st = state_of(list);
    if (st == nullptr || index >= st->source->row_count()) {
        return std::nullopt;
    }
    return st->source->row_key(index);
}

std::optional<std::size_t> row_index(handle list, handle row) {
    if (list == nullptr || row == nullptr || row->m_parent != list) {
        return std::nullopt;
    }
    return held_rows(list).first + element_index(*row);
}

row_range held_rows(handle list) {
    if (list == nullptr) {
        return {};
    }
    const long_list_state* st = state_of(list);
    const std::size_t first = st != nullptr ? st->first : 0;
    return {first, first + held_count(list)};
}

void hold_rows(handle list, std::size_t first, std::size_t count) {
    long_list_state* st = state_of(list);
    if (st == nullptr) {
        return;
    }
    const std::size_t n = st->source->row_count();
    st->wanted = std::clamp<std::size_t>(count, 1, max_held_rows);
    first = std::min(first, n - std::min(n, st->wanted));  // a window at the end stays full
    const row_range want{first, std::min(n, first + st->wanted)};
    const row_range held = held_rows(list);
    if (want == held) {
        return;
    }
    if (held.size() == 0 || want.last <= held.first || want.first >= held.last) {
        remove_children(*list);
        build(list, *st, 0, want.first, want.last);
    } else {
        // The rows both hold stay; the bottom goes first so positions above hold.
        if (held.last > want.last) {
            drop(list, want.last - held.first, held.last - want.last);
        }
        if (held.first < want.first) {
            drop(list, 0, want.first - held.first);
        }
        const std::size_t kept_first = std::max(held.first, want.first);
        const std::size_t kept_last = std::min(held.last, want.last);
        build(list, *st, 0, want.first, kept_first);
        build(list, *st, kept_last - want.first, kept_last, want.last);
    }
    st->first = want.first;
    emit_rows(list, false);
}

handle reveal_row(handle list, std::size_t index) {
    if (index >= row_count(list)) {
        return nullptr;
    }
    handle row = row_at(list, index);
    const bool near = row != nullptr;
    if (!near) {
        // The window moves so the row stands a third of the way down it.
        long_list_state* st = state_of(list);
        hold_rows(list, index - std::min(index, st->wanted / 3), st->wanted);
        row = row_at(list, index);
    }
    scroll_to_view(row, false, near);
    return row;
}

// ---- Marks -----------------------------------------------------------------

std::optional<std::size_t> current_row(handle list) {
    if (list == nullptr) {
        return std::nullopt;
    }
    const long_list_state* st = state_of(list);
    // An ordinary list takes the last row marked, should several be.
    return st != nullptr ? st->current : child_with(list, state::current, true);
}

void set_current_row(handle list, std::optional<std::size_t> index) {
    set_single_mark(list, &long_list_state::current, state::current, index);
}

std::optional<std::size_t> anchor_row(handle list) {
    if (list == nullptr) {
        return std::nullopt;
    }
    const long_list_state* st = state_of(list);
    return st != nullptr ? st->anchor : child_with(list, state::anchor, false);
}

void set_anchor_row(handle list, std::size_t index) {
    set_single_mark(list, &long_list_state::anchor, state::anchor, index);
}

bool is_row_checked(handle list, std::size_t index) {
    if (list == nullptr) {
        return false;
    }
    if (const long_list_state* st = state_of(list)) {
        return in_ranges(st->checked, index);
    }
    const handle row = row_at(list, index);
    return row != nullptr && (row->m_state & state::checked);
}

void set_rows_checked(handle list, row_range rows, bool checked) {
    if (list == nullptr) {
        return;
    }
    rows.last = std::min(rows.last, row_count(list));
    long_list_state* st = state_of(list);
    if (st != nullptr) {
        change_ranges(st->checked, rows, checked);
    }
    const row_range held = held_rows(list);
    for (std::size_t i = std::max(rows.first, held.first); i < std::min(rows.last, held.last);
         ++i) {
        element_node& row = *nth_element_child(*list, i - held.first);
        checked ? change_state(row, state::checked, 0) : change_state(row, 0, state::checked);
    }
}

void uncheck_all_rows(handle list) {
    if (list == nullptr) {
        return;
    }
    if (long_list_state* st = state_of(list)) {
        st->checked.clear();
    }
    const std::size_t n = held_count(list);
    for (std::size_t i = 0; i < n; ++i) {
        element_node& row = *nth_element_child(*list, i);
        if (row.m_state & state::checked) {
            change_state(row, 0, state::checked);
        }
    }
}

std::vector<row_range> checked_row_ranges(handle list) {
    if (list == nullptr) {
        return {};
    }
    if (const long_list_state* st = state_of(list)) {
        return st->checked;
    }
    std::vector<row_range> ranges;
    const std::size_t n = held_count(list);
    for (std::size_t i = 0; i < n; ++i) {
        if (nth_element_child(*list, i)->m_state & state::checked) {
            if (!ranges.empty() && ranges.back().last == i) {
                ++ranges.back().last;
            } else {
                ranges.push_back({i, i + 1});
            }
        }
    }
    return ranges;
}

std::size_t checked_row_count(handle list) {
    std::size_t count = 0;
    for (const row_range& r : checked_row_ranges(list)) {
        count += r.size();
    }
    return count;
}

}  // namespace layout
