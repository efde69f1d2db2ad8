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

// The data rows: header rows never count.
layout::row_range data_rows(HELEMENT table) {
    return {cgrid::fixed_rows(table), layout::row_count(table)};
}

// The row one visible height from `from`, going by `step` (+1 or -1). Rows the
// list holds are measured; past them the distance left is made up with rows of
// the height the measured ones had.
std::size_t page_row(HELEMENT table, std::size_t from, std::ptrdiff_t step) {
    const layout::row_range rows = data_rows(table);
    const auto clamped = [&](std::ptrdiff_t i) {
        return std::size_t(std::clamp<std::ptrdiff_t>(i, std::ptrdiff_t(rows.first),
                                                      std::ptrdiff_t(rows.last) - 1));
    };
    // A page is the height of the view the rows scroll in: the table's own, or
    // that of the pane around it; without either, the table's height.
    int page = 0;
    for (HELEMENT e = table; e != nullptr && page <= 0; e = layout::parent(e)) {
        const auto view = layout::get_scroll_info(e);
        if (view && view->content_size.y > view->view.height()) {
            page = view->view.height();
        }
    }
    if (page <= 0) {
        page = layout::get_location(table, layout::location_origin::root).value_or(layout::rect{}).height();
    }
    const auto box_of = [&](std::size_t i) {
        return layout::get_location(layout::row_at(table, i), layout::location_origin::root)
            .value_or(layout::rect{});
    };
    const layout::rect from_box = box_of(from);
    if (page <= 0 || from_box.height() <= 0) {
        return clamped(std::ptrdiff_t(from) +
                       step * std::ptrdiff_t(rows_per_page_without_layout));
    }
    std::size_t best = from;
    int distance = 0;
    std::size_t measured = 0;
    for (auto i = std::ptrdiff_t(from) + step; rows.contains(std::size_t(i)); i += step) {
        const layout::rect row_box = box_of(std::size_t(i));
        if (row_box.height() <= 0) {
            if (measured == 0) {
                break;
            }
            const int usual = std::max(1, distance / int(measured));
            return clamped(std::ptrdiff_t(best) + step * std::ptrdiff_t((page - distance) / usual));
        }
        const int reach =
            step > 0 ? row_box.bottom - from_box.bottom : from_box.top - row_box.top;
        if (reach > page) {
            break;
        }
        distance = reach;
        ++measured;
        best = std::size_t(i);
    }
    if (best == from) {
        return clamped(std::ptrdiff_t(from) + step);  // the next row is taller than the page
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

HELEMENT cgrid::target_row(HELEMENT table, HELEMENT element) {
    for (HELEMENT e = element; e != nullptr; e = layout::parent(e)) {
        if (layout::parent(e) == table) {
            return e;
        }
    }
    return nullptr;
}

std::optional<std::size_t> cgrid::current_index(HELEMENT table) {
    return layout::current_row(table);
}

HELEMENT cgrid::current_row(HELEMENT table) {
    const auto index = layout::current_row(table);
    return index ? layout::row_at(table, *index) : nullptr;
}

std::vector<layout::row_range> cgrid::checked_ranges(HELEMENT table) {
    std::vector<layout::row_range> ranges = layout::checked_row_ranges(table);
    const std::size_t first = fixed_rows(table);
    std::erase_if(ranges, [&](layout::row_range& r) {
        r.first = std::max(r.first, first);
        return r.first >= r.last;
    });
    return ranges;
}

std::size_t cgrid::checked_count(HELEMENT table) {
    std::size_t count = 0;
    for (const layout::row_range& r : checked_ranges(table)) {
        count += r.size();
    }
    return count;
}

void cgrid::update_multiselect(HELEMENT table) {
    const bool many = checked_count(table) >= 2;
    if (many != has_attribute(table, "multiselect")) {
        many ? set_flag(table, "multiselect") : clear_flag(table, "multiselect");
        layout::update_element(table, false);
    }
}

std::size_t cgrid::anchor_index(HELEMENT table) {
    return std::max(layout::anchor_row(table).value_or(0), fixed_rows(table));
}

void cgrid::checkall(HELEMENT table, bool check) {
    if (!is_multiple(table)) {
        return;
    }
    layout::set_rows_checked(table, data_rows(table), check);
}

void cgrid::check_range(HELEMENT table, std::size_t index, bool check) {
    if (!is_multiple(table)) {
        return;
    }
    const std::size_t anchor = anchor_index(table);
    const std::size_t first = std::max(std::min(anchor, index), fixed_rows(table));
    const std::size_t last = std::max(anchor, index) + 1;
    layout::set_rows_checked(table, {first, last}, check);
}

void cgrid::set_current_row(HELEMENT table, HELEMENT row, std::uint32_t keys, bool double_click) {
    if (row == nullptr || layout::parent(row) != table) {
        return;
    }
    if (const auto index = layout::row_index(table, row)) {
        select_row(table, *index, keys, double_click);
    }
}

void cgrid::select_row(HELEMENT table, std::size_t index, std::uint32_t keys,
                       bool double_click) {
    const layout::row_range rows = data_rows(table);
    if (!rows.contains(index)) {
        return;  // header rows are never current nor selected
    }
    if (is_multiple(table)) {
        if (keys & layout::key_state::shift) {
            layout::uncheck_all_rows(table);
            check_range(table, index, true);
        } else if (keys & layout::key_state::control) {
            layout::set_rows_checked(table, {index, index + 1},
                                     !layout::is_row_checked(table, index));
            layout::set_anchor_row(table, index);
        } else {
            layout::uncheck_all_rows(table);
            layout::set_rows_checked(table, {index, index + 1}, true);
            layout::set_anchor_row(table, index);
        }
    }
    layout::set_current_row(table, index);
    // A row far from the view is built and scrolled to.
    HELEMENT row = layout::reveal_row(table, index);
    layout::update_element(row, true);
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
    const auto index = layout::row_index(table, row);
    if (!index) {
        return false;
    }
    if (*index < fixed_rows(table)) {
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
    const bool checked = layout::is_row_checked(table, *index);
    if (buttons == layout::mouse_button::secondary) {
        // A right click on a row outside the selection selects it alone: the menu
        // that follows acts on what is selected.
        if (!checked && event_type != up) {
            select_row(table, *index, 0, event_type == double_click);
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
        select_row(table, *index, keys, false);
    } else if (ctrl && event_type == up) {
        select_row(table, *index, keys, false);
    } else if (!ctrl && event_type == up && checked) {
        if (!has_attribute(table, "shift")) {
            select_row(table, *index, keys, false);
        } else {
            clear_flag(table, "shift");
        }
    }
    update_multiselect(table);
    return false;
}

bool cgrid::move_by_key(HELEMENT table, std::uint32_t key, std::uint32_t keys) {
    const layout::row_range rows = data_rows(table);
    if (rows.first >= rows.last) {
        return key == vk::down || key == vk::up || key == vk::home || key == vk::end ||
               key == vk::page_down || key == vk::page_up;
    }
    const std::optional<std::size_t> current = layout::current_row(table);
    const bool on_row = current && rows.contains(*current);
    std::optional<std::size_t> next;
    switch (key) {
        case vk::down:
            next = !on_row ? rows.first : std::min(*current + 1, rows.last - 1);
            break;
        case vk::up:
            next = !on_row ? rows.last - 1 : std::max(*current, rows.first + 1) - 1;
            break;
        case vk::home:
            next = rows.first;
            break;
        case vk::end:
            next = rows.last - 1;
            break;
        case vk::page_down:
        case vk::page_up:
            next = on_row ? page_row(table, *current, key == vk::page_down ? 1 : -1) : rows.first;
            break;
        default:
            return false;
    }
    select_row(table, *next, keys, false);
    update_multiselect(table);
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
    const std::optional<std::size_t> current = layout::current_row(table);
    const bool on_row = current && data_rows(table).contains(*current);
    if (key == layout::key_code::space && (keys & layout::key_state::control)) {
        if (on_row && is_multiple(table)) {
            select_row(table, *current, layout::key_state::control, false);
            update_multiselect(table);
            return true;
        }
        return false;
    }
    const bool menu_key = key == layout::key_code::apps ||
                          (key == layout::key_code::f10 && (keys & layout::key_state::shift));
    if (menu_key) {
        // As a right click: the current row's menu acts on the selection, which
        // is that row alone when it is not part of it. The key goes on to open
        // it, at the row, which is brought into view for it.
        if (on_row) {
            if (is_multiple(table) && !layout::is_row_checked(table, *current)) {
                select_row(table, *current, 0, false);
                update_multiselect(table);
            } else {
                layout::reveal_row(table, *current);
            }
        }
        return false;
    }
    return move_by_key(table, key, keys);
}

bool cgrid::on_focus(HELEMENT table, HELEMENT target, std::uint32_t event_type) {
    (void)target, (void)event_type;
    // The selection may look different with and without the focus.
    layout::update_element(table, false);
    return false;
}

bool cgrid::delete_checked_rows(HELEMENT table, std::uint32_t keys) {
    const std::vector<layout::row_range> checked = checked_ranges(table);
    if (checked.empty()) {
        return false;
    }
    const std::size_t index = layout::current_row(table).value_or(checked.front().first);
    dom::element keep_table(table);
    if (layout::is_long_list(table)) {
        // The list removes its checked rows at once, held or not.
        layout::send_event(table, ROWS_DELETE, table, 0);
    } else {
        std::vector<dom::element> rows;
        for (const layout::row_range& r : checked) {
            for (std::size_t i = r.first; i < r.last; ++i) {
                rows.emplace_back(layout::row_at(table, i));
            }
        }
        for (const dom::element& row : rows) {
            if (layout::parent(row) == table) {
                layout::send_event(table, ROW_DELETED, row, std::uint32_t(layout::index_of(row)));
            }
        }
    }
    const layout::row_range rows = data_rows(table);
    if (rows.first < rows.last) {
        select_row(table, std::clamp(index, rows.first, rows.last - 1),
                   keys & ~layout::key_state::shift, false);
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
// A long list holds only some of its rows: its source orders them instead.
void sort_by_key(HELEMENT table, const std::function<std::u16string(HELEMENT)>& key_of) {
    if (layout::is_long_list(table)) {
        return;
    }
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
        return csortable_grid::compare_texts(a.key, b.key) < 0;
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
        });
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
