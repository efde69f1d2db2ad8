#pragma once
// Shared pieces of the program's behaviors, and the hooks that keep every file
// of static behavior objects in the program (a static library drops files that
// nothing refers to, and with them their registrations).

#include "behaviors/behavior.h"

namespace hrd {

// A menu item of an element's own context menu was clicked: runs the item's
// "action" on `owner`. An item without "action" does nothing. Always handled.
bool run_menu_action(HELEMENT owner, HELEMENT item);
// A menu item of a list's context menu: runs the item's "action" on the rows of
// the block's first table that are checked now (one row's element, or the table
// for several). Nothing checked: nothing runs. False for an item without "action".
bool run_list_menu_action(HELEMENT block, HELEMENT item);

void link_quote_behaviors();
void link_tag_behaviors();
void link_small_behaviors();
void link_grid_behaviors();

}  // namespace hrd
