#include "behaviors/grid.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "behaviors/dom_util.h"
#include "behaviors/program_behaviors.h"

namespace htmlayout {
namespace {

namespace st = layout::state;
using hrd::dom_util::clear_flag;
using hrd::dom_util::has_attribute;
using hrd::dom_util::has_state;
using hrd::dom_util::set_flag;

bool is_multiple(HELEMENT table) {
    return has_attribute(table, "multiple");
}

// Rows a page key moves over when the renderer has not reported any sizes.
constexpr std::size_t rows_per_page_without_layout = 10;

void uncheck_all(HELEMENT table) {
    layout::for_each_child(table, [](HELEMENT row) {
        if (has_state(row, st::checked)) {
            layout::set_state(row, 0, st::checked, false);
        }
        return false;  // every row
    });
}

// The first shown data row from `index` stepping by `step`, or nullptr.
HELEMENT shown_row_from(HELEMENT table, std::ptrdiff_t index, std::ptrdiff_t step) {
    const auto first = std::ptrdiff_t(cgrid::fixed_rows(table));
    const auto count = std::ptrdiff_t(layout::child_count(table));
    for (; index >= first && index < count; index += step) {
        HELEMENT row = layout::nth_child(table, std::size_t(index));
        if (cgrid::is_shown(row)) {
            return row;
        }
    }
    return nullptr;
}

// The farthest shown row within one visible height of `from`, going by `step`.
HELEMENT page_row(HELEMENT table, HELEMENT from, std::ptrdiff_t step) {
    const auto view = layout::get_scroll_info(table);
    const auto box = layout::get_location(table, layout::location_origin::root);
    int page = view && view->view.height() > 0 ? view->view.height() : 0;
    if (page <= 0 && box) {
        page = box->height();
    }
    const auto from_box = layout::get_location(from, layout::location_origin::root);
    HELEMENT best = from;
    std::size_t passed = 0;
    for (HELEMENT row = shown_row_from(table, std::ptrdiff_t(layout::index_of(from)) + step, step);
         row != nullptr;
         row = shown_row_from(table, std::ptrdiff_t(layout::index_of(row)) + step, step)) {
        const auto row_box = layout::get_location(row, layout::location_origin::root);
        if (page > 0 && from_box && row_box) {
            const int distance =
                step > 0 ? row_box->bottom - from_box->bottom : from_box->top - row_box->top;
            if (distance > page) {
                break;
            }
        } else if (++passed > rows_per_page_without_layout) {
            break;
        }
        best = row;
    }
    if (best == from) {
        // The next row is taller than the page: step to it all the same.
        if (HELEMENT next =
                shown_row_from(table, std::ptrdiff_t(layout::index_of(from)) + step, step)) {
            return next;
        }
    }
    return best;
}

}  // namespace

// ---- cgrid -----------------------------------------------------------------

cgrid::cgrid() : cgrid(grid_groups, "cgrid") {}

cgrid::cgrid(std::uint32_t subscription, const char* name) : behavior(subscription, name) {}

std::size_t cgrid::fixed_rows(HELEMENT table) {
    const auto value = layout::get_attribute_utf8(table, "fixedrows");
    std::size_t count = 0;
    if (value) {
        std::from_chars(value->data(), value->data() + value->size(), count);
    }
    return count;
}

bool cgrid::is_shown(HELEMENT row) {
    return layout::get_style_attribute(row, "display").value_or(u"") != u"none";
}

HELEMENT cgrid::target_row(HELEMENT table, HELEMENT element) {
    for (HELEMENT e = element; e != nullptr; e = layout::parent(e)) {
        if (layout::parent(e) == table) {
            return e;
        }
    }
    return nullptr;
}

HELEMENT cgrid::current_row(HELEMENT table) {
    // The last one marked, should more than one be.
    HELEMENT current = nullptr;
    layout::for_each_child(table, [&](HELEMENT row) {
        if (has_state(row, st::current)) {
            current = row;
        }
        return false;  // every row
    });
    return current;
}

std::vector<dom::element> cgrid::checked_rows(HELEMENT table) {
    std::vector<dom::element> rows;
    layout::for_each_child(
        table,
        [&](HELEMENT row) {
            if (has_state(row, st::checked)) {
                rows.emplace_back(row);
            }
            return false;  // every data row
        },
        fixed_rows(table));
    return rows;
}

void cgrid::update_multiselect(HELEMENT table) {
    int checked = 0;
    layout::for_each_child(table, [&](HELEMENT row) {
        checked += has_state(row, st::checked) ? 1 : 0;
        return checked >= 2;  // two are enough to know
    });
    const bool many = checked >= 2;
    if (many != has_attribute(table, "multiselect")) {
        many ? set_flag(table, "multiselect") : clear_flag(table, "multiselect");
        layout::update_element(table, false);
    }
}

std::size_t cgrid::anchor_index(HELEMENT table) {
    const std::size_t count = layout::child_count(table);
    for (std::size_t i = 0; i < count; ++i) {
        if (has_state(layout::nth_child(table, i), st::anchor)) {
            return i;
        }
    }
    return fixed_rows(table);
}

void cgrid::set_anchor(HELEMENT table, std::size_t index) {
    const std::size_t count = layout::child_count(table);
    for (std::size_t i = 0; i < count; ++i) {
        HELEMENT row = layout::nth_child(table, i);
        if (has_state(row, st::anchor) && i != index) {
            layout::set_state(row, 0, st::anchor, false);
        }
    }
    layout::set_state(layout::nth_child(table, index), st::anchor, 0, false);
}

void cgrid::checkall(HELEMENT table, bool check) {
    if (!is_multiple(table)) {
        return;
    }
    layout::for_each_child(
        table,
        [&](HELEMENT row) {
            if (check && is_shown(row)) {
                layout::set_state(row, st::checked, 0, false);
            } else if (!check) {
                layout::set_state(row, 0, st::checked, false);
            }
            return false;  // every data row
        },
        fixed_rows(table));
}

void cgrid::check_range(HELEMENT table, std::size_t index, bool check) {
    if (!is_multiple(table)) {
        return;
    }
    const std::size_t anchor = anchor_index(table);
    const std::size_t first = std::max(std::min(anchor, index), fixed_rows(table));
    const std::size_t last = std::min(std::max(anchor, index), layout::child_count(table) - 1);
    for (std::size_t i = first; i <= last && i < layout::child_count(table); ++i) {
        HELEMENT row = layout::nth_child(table, i);
        if (is_shown(row)) {
            const std::uint32_t bit = st::checked;
            layout::set_state(row, check ? bit : 0, check ? 0 : bit, false);
        }
    }
}

void cgrid::set_current_row(HELEMENT table, HELEMENT row, std::uint32_t keys, bool double_click) {
    if (row == nullptr || layout::parent(row) != table) {
        return;
    }
    const std::size_t index = layout::index_of(row);
    if (index < fixed_rows(table)) {
        return;  // header rows are never current nor selected
    }
    if (is_multiple(table)) {
        if (keys & layout::key_state::shift) {
            uncheck_all(table);
            check_range(table, index, true);
        } else if (keys & layout::key_state::control) {
            const std::uint32_t bit = st::checked;
            const bool checked = has_state(row, bit);
            layout::set_state(row, checked ? 0 : bit, checked ? bit : 0, false);
            set_anchor(table, index);
        } else {
            uncheck_all(table);
            layout::set_state(row, st::checked, 0, false);
            set_anchor(table, index);
        }
    }
    HELEMENT old = current_row(table);
    if (old != nullptr && old != row) {
        layout::set_state(old, 0, st::current, false);
    }
    layout::set_state(row, st::current, 0, true);
    layout::scroll_to_view(row, false, true);
    layout::update_element(table, true);
    layout::post_event(table,
                       double_click ? layout::behavior_event::table_row_double_click
                                    : layout::behavior_event::table_row_click,
                       row, std::uint32_t(index));
}

void cgrid::on_column_click(HELEMENT table, HELEMENT header_cell) {
    layout::post_event(table, layout::behavior_event::table_header_click, header_cell,
                       std::uint32_t(layout::index_of(header_cell)));
}

bool cgrid::on_mouse(HELEMENT table, HELEMENT target, std::uint32_t event_type, point pt,
                     std::uint32_t buttons, std::uint32_t keys) {
    (void)pt;
    using namespace layout::mouse_event;
    if (event_type != down && event_type != up && event_type != double_click) {
        return false;
    }
    HELEMENT row = target_row(table, target);
    if (row == nullptr) {
        return false;
    }
    if (layout::index_of(row) < fixed_rows(table)) {
        // A header row: its cells sort, and it is never selected.
        if (event_type == up && buttons == layout::mouse_button::main) {
            for (HELEMENT cell = target; cell != nullptr && cell != row;
                 cell = layout::parent(cell)) {
                if (layout::parent(cell) == row) {
                    on_column_click(table, cell);
                    break;
                }
            }
        }
        return false;
    }
    const bool checked = has_state(row, st::checked);
    if (buttons == layout::mouse_button::secondary) {
        // A right click on a row outside the selection selects it alone: the menu
        // that follows acts on what is selected.
        if (!checked && event_type != up) {
            set_current_row(table, row, 0, event_type == double_click);
            update_multiselect(table);
        }
        return false;
    }
    if (buttons != layout::mouse_button::main) {
        return false;
    }
    const bool ctrl = keys & layout::key_state::control;
    if (event_type == down) {
        // A stale mark of an earlier press (its release was a drop) must not
        // keep this release from collapsing the selection.
        clear_flag(table, "shift");
    }
    if (!ctrl && event_type == down && !checked) {
        set_flag(table, "shift");
        set_current_row(table, row, keys, false);
    } else if (ctrl && event_type == up) {
        set_current_row(table, row, keys, false);
    } else if (!ctrl && event_type == up && checked) {
        if (!has_attribute(table, "shift")) {
            set_current_row(table, row, keys, false);
        } else {
            clear_flag(table, "shift");
        }
    }
    update_multiselect(table);
    return false;
}

bool cgrid::move_by_key(HELEMENT table, std::uint32_t key, std::uint32_t keys) {
    HELEMENT current = current_row(table);
    const std::ptrdiff_t index = current ? std::ptrdiff_t(layout::index_of(current)) : -1;
    const auto count = std::ptrdiff_t(layout::child_count(table));
    HELEMENT next = nullptr;
    switch (key) {
        case vk::down:
            next =
                shown_row_from(table, current ? index + 1 : std::ptrdiff_t(fixed_rows(table)), 1);
            break;
        case vk::up:
            next = shown_row_from(table, current ? index - 1 : count - 1, -1);
            break;
        case vk::home:
            next = shown_row_from(table, std::ptrdiff_t(fixed_rows(table)), 1);
            break;
        case vk::end:
            next = shown_row_from(table, count - 1, -1);
            break;
        case vk::page_down:
        case vk::page_up:
            next = current ? page_row(table, current, key == vk::page_down ? 1 : -1)
                           : shown_row_from(table, std::ptrdiff_t(fixed_rows(table)), 1);
            break;
        default:
            return false;
    }
    if (next != nullptr) {
        set_current_row(table, next, keys, false);
        update_multiselect(table);
    }
    return true;
}

bool cgrid::on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                   std::uint32_t keys) {
    (void)target;
    if (event_type != layout::key_event::down) {
        return false;
    }
    if (key == vk::a && (keys & layout::key_state::control)) {
        if (!is_multiple(table)) {
            return false;
        }
        checkall(table, true);
        update_multiselect(table);
        layout::update_element(table, true);
        return true;
    }
    if (key == layout::key_code::space && (keys & layout::key_state::control)) {
        if (HELEMENT current = current_row(table); current && is_multiple(table)) {
            set_current_row(table, current, layout::key_state::control, false);
            update_multiselect(table);
            return true;
        }
        return false;
    }
    const bool menu_key = key == layout::key_code::apps ||
                          (key == layout::key_code::f10 && (keys & layout::key_state::shift));
    if (menu_key) {
        // As a right click: the current row's menu acts on the selection, which
        // is that row alone when it is not part of it. The key goes on to open it.
        HELEMENT current = current_row(table);
        if (current != nullptr && is_multiple(table) && !has_state(current, st::checked)) {
            set_current_row(table, current, 0, false);
            update_multiselect(table);
        }
        return false;
    }
    return move_by_key(table, key, keys);
}

bool cgrid::on_focus(HELEMENT table, HELEMENT target, std::uint32_t event_type) {
    (void)target, (void)event_type;
    // The selection may look different with and without the focus.
    for (const dom::element& row : checked_rows(table)) {
        layout::update_element(row, false);
    }
    return false;
}

bool cgrid::delete_checked_rows(HELEMENT table, std::uint32_t keys) {
    const std::vector<dom::element> rows = checked_rows(table);
    if (rows.empty()) {
        return false;
    }
    HELEMENT current = current_row(table);
    std::size_t index = current ? layout::index_of(current) : layout::index_of(rows.front());
    dom::element keep_table(table);
    for (const dom::element& row : rows) {
        if (layout::parent(row) == table) {
            layout::send_event(table, ROW_DELETED, row, std::uint32_t(layout::index_of(row)));
        }
    }
    const std::size_t count = layout::child_count(table);
    if (count <= fixed_rows(table)) {
        update_multiselect(table);
        return true;
    }
    index = std::clamp(index, fixed_rows(table), count - 1);
    HELEMENT next = shown_row_from(table, std::ptrdiff_t(index), 1);
    if (next == nullptr) {
        next = shown_row_from(table, std::ptrdiff_t(index), -1);
    }
    if (next != nullptr) {
        set_current_row(table, next, keys & ~layout::key_state::shift, false);
    }
    update_multiselect(table);
    return true;
}

// ---- csortable_grid --------------------------------------------------------

csortable_grid::csortable_grid() : csortable_grid(grid_groups, "csortable-grid") {}

csortable_grid::csortable_grid(std::uint32_t subscription, const char* name)
    : cgrid(subscription, name) {}

int csortable_grid::compare_texts(std::u16string_view a, std::u16string_view b) {
    auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Compare the two runs of digits by value: skip leading zeros, then
            // the longer run is larger, else the first differing digit decides.
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            std::size_t si = i;
            std::size_t sj = j;
            while (si + 1 < ei && a[si] == u'0')
                ++si;
            while (sj + 1 < ej && b[sj] == u'0')
                ++sj;
            if (ei - si != ej - sj) {
                return ei - si < ej - sj ? -1 : 1;
            }
            for (; si < ei; ++si, ++sj) {
                if (a[si] != b[sj]) {
                    return a[si] < b[sj] ? -1 : 1;
                }
            }
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

namespace {

// Sorts the data rows by a text read once per row, keeping equal rows in order.
void sort_by_key(HELEMENT table, const std::function<std::u16string(HELEMENT)>& key_of,
                 bool ascending) {
    const std::size_t first = cgrid::fixed_rows(table);
    const std::size_t count = layout::child_count(table);
    if (first >= count) {
        return;
    }
    struct keyed {
        HELEMENT row;
        std::u16string key;
    };
    std::vector<keyed> rows;
    rows.reserve(count - first);
    layout::for_each_child(
        table,
        [&](HELEMENT row) {
            rows.push_back({row, key_of(row)});
            return false;  // every data row
        },
        first);
    std::stable_sort(rows.begin(), rows.end(), [&](const keyed& a, const keyed& b) {
        const int order = csortable_grid::compare_texts(a.key, b.key);
        return ascending ? order < 0 : order > 0;
    });
    // The engine sorts by a comparison of elements; hand it each row's rank.
    std::vector<std::pair<HELEMENT, std::size_t>> rank;
    rank.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rank.emplace_back(rows[i].row, i);
    }
    std::sort(rank.begin(), rank.end());
    auto rank_of = [&](HELEMENT row) {
        return std::lower_bound(rank.begin(), rank.end(), std::make_pair(row, std::size_t(0)))
            ->second;
    };
    layout::sort_elements(table, first, count, [&](HELEMENT a, HELEMENT b) {
        const std::size_t ra = rank_of(a);
        const std::size_t rb = rank_of(b);
        return ra < rb ? -1 : (ra > rb ? 1 : 0);
    });
    layout::update_element(table, true);
}

}  // namespace

void csortable_grid::sort_rows(HELEMENT table, std::size_t column) {
    sort_by_key(
        table,
        [column](HELEMENT row) {
            return layout::get_inner_text(layout::nth_child(row, column)).value_or(u"");
        },
        true);
}

void csortable_grid::sort_rows_by(HELEMENT table,
                                  const std::function<std::u16string(HELEMENT)>& key_of,
                                  bool ascending) {
    sort_by_key(table, key_of, ascending);
}

void csortable_grid::on_column_click(HELEMENT table, HELEMENT header_cell) {
    cgrid::on_column_click(table, header_cell);
    HELEMENT old = nullptr;
    layout::select_elements(table, "th:checked", [&](HELEMENT th) {
        old = th;
        return true;
    });
    if (old == header_cell) {
        return;  // already sorted by this column
    }
    if (old != nullptr) {
        layout::set_state(old, 0, layout::state::checked, true);
    }
    layout::set_state(header_cell, layout::state::checked, 0, true);
    dom::element current(current_row(table));
    sort_rows(table, layout::index_of(header_cell));
    if (current.is_valid()) {
        current.scroll_to_view();
    }
}

// ---- cquote_grid -----------------------------------------------------------

cquote_grid::cquote_grid() : csortable_grid(grid_groups, "cquote_grid") {}

bool cquote_grid::on_key(HELEMENT table, HELEMENT target, std::uint32_t event_type,
                         std::uint32_t key, std::uint32_t keys) {
    if (event_type != layout::key_event::down) {
        return false;
    }
    if (key == vk::del && (keys & (layout::key_state::control | layout::key_state::alt)) == 0) {
        return delete_checked_rows(table, keys);
    }
    if (key == vk::c && (keys & layout::key_state::control)) {
        // Copied now, not later: a copy the user makes right after must win.
        // With no row selected the key goes on and the clipboard stays as it is.
        return layout::send_event(table, ROWS_COPY, table, 0);
    }
    return cgrid::on_key(table, target, event_type, key, keys);
}

}  // namespace htmlayout

namespace hrd {
namespace {
htmlayout::cgrid cgrid_instance;
htmlayout::csortable_grid csortable_grid_instance;
htmlayout::cquote_grid cquote_grid_instance;
htmlayout::ceditable_grid ceditable_grid_instance;
}  // namespace

void link_grid_behaviors() {}

}  // namespace hrd
