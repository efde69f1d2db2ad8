#pragma once
// Shared pieces of the program's behaviors, and the hooks that keep every file
// of static behavior objects in the program (a static library drops files that
// nothing refers to, and with them their registrations).

#include <vector>

#include "behaviors/behavior.h"

namespace hrd {

// A menu item of an element's own context menu was clicked: runs the item's
// "action" on `owner`. An item without "action" does nothing. Always handled.
bool run_menu_action(HELEMENT owner, HELEMENT item);
// A menu item of the menu of a list row's entry (a quote, a tag): the menu acts on
// what is selected, as in a file manager. Opened on a row outside the selection,
// that row is selected alone first; on a row of a multi-selection, an item with a
// list form runs it once on all the checked rows; anything else runs on `entry`.
bool run_row_menu_action(HELEMENT entry, HELEMENT item);
// Applies the rule above to `entry`'s row and returns its list (nullptr outside a
// list): the menu then acts on the list's checked rows.
HELEMENT select_for_menu(HELEMENT entry);
// A menu item of a list's context menu: runs the item's "action" on the rows of
// the block's first table that are checked now (handed the table). Nothing
// checked: nothing runs. False for an item without "action".
bool run_list_menu_action(HELEMENT block, HELEMENT item);

void link_quote_behaviors();
void link_tag_behaviors();
void link_small_behaviors();
void link_grid_behaviors();

}  // namespace hrd
