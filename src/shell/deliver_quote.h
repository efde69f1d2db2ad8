#pragma once
// The one way new quote text enters the program from the desktop: the double copy
// and text dropped on the window both end here.

#include <string>

namespace hrd {

// Takes text captured from the clipboard or dropped on the window and has the
// controller store it as a new quote, shown at the top of the list.
void deliver_quote_text(std::u16string text);

}  // namespace hrd
