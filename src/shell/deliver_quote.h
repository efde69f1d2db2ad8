#pragma once
// The one way new quote text enters the program from the desktop: the double copy
// and text dropped on the window both end here.

#include <cstddef>
#include <string>

namespace hrd {

class hdcontroller;
class user_notice;

// Takes text captured from the clipboard or dropped on the window and has the
// program's controller store it as a new quote, shown at the top of the list.
// Returns why the text was not kept; empty when it was.
std::string deliver_quote_text(std::u16string text);

// Has `controller` store the text. Once it is stored, "Captured text: N characters"
// goes to the "app" log; when it is refused (a text longer than max_quote_units is
// refused before the store sees it), the log says so instead and `notice` (if any)
// tells the user the text was not kept, and why. Returns that reason; empty when
// the text was kept.
std::string deliver_quote_text(hdcontroller& controller, user_notice* notice, std::u16string text);

// What the user is told when `length` UTF-16 units of captured text were not kept
// because of `error`: the cause in plain words, and what to do about it.
std::u16string not_kept_message(std::size_t length, const std::string& error);

}  // namespace hrd
