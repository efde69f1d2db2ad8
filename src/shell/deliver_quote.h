#pragma once
// The one way new quote text enters the program from the desktop: the double copy
// and text dropped on the window both end here.

#include <string>

namespace hrd {

// Takes text captured from the clipboard or dropped on the window. For now it
// records the length in the "app" log; the controller will store it as a quote.
void deliver_quote_text(std::u16string text);

}  // namespace hrd
