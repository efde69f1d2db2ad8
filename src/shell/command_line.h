#pragma once
// What the program is asked to do on its command line, and the text an --add
// brings. No desktop here: the running instance is reached through instance.h.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hrd {

// The longest text kept as one quote, in UTF-16 units, whether it comes from the
// clipboard, a drop or the command line.
inline constexpr std::size_t max_quote_units = 16u * 1024 * 1024;
// The most bytes an --add reads: UTF-8 never takes fewer bytes than UTF-16 units,
// and four bytes a unit is more than any text needs.
inline constexpr std::size_t max_add_bytes = 4 * max_quote_units;

// What a command asks of the running instance.
enum class command { show, hide, toggle, capture, add, quit };

// What shows the window: the web page (the default) or the program's own painter.
enum class renderer { web, native };
const char* renderer_name(renderer which);
std::optional<renderer> renderer_from_name(std::string_view name);

const char* command_name(command what);
std::optional<command> command_from_name(std::string_view name);

struct command_line {
    enum class kind {
        start,    // no option: start, or show the running instance's window
        hidden,   // start to the tray with the window hidden
        request,  // ask the running instance (`what`)
        help,
        version,
        error,    // `message` says what is wrong
    };
    kind what = kind::start;
    command request = command::show;
    std::optional<std::string> text;  // --add's TEXT as given; none: standard input
    std::string message;
    renderer shows_with = renderer::native;
    bool renderer_given = false;  // --renderer was on the command line
};

// Reads the arguments after the program's name.
command_line parse_command_line(const std::vector<std::string>& args);

// Applies the HOARDLY_RENDERER variable's value (nullptr: unset) to a line that
// did not name a renderer itself: the option wins. An unknown value makes the
// line an error, as a wrong option does.
void apply_renderer_variable(command_line& line, const char* value);

// The usage text --help prints.
std::string usage_text();

// Bytes of text in the encoding of the user's locale, as UTF-8. A UTF-8 locale,
// or one that names no more than ASCII (the "C" locale), passes the bytes on as
// they are; any other is converted. Returns nothing and sets `error` when the
// locale's encoding cannot be converted from or the bytes are not in it.
std::optional<std::string> locale_text_to_utf8(std::string bytes, std::string& error);

// Reads all of `fd` up to `limit` bytes. Returns nothing and sets `error` when
// there is more than `limit` (reading stops there) or reading fails.
std::optional<std::string> read_all_limited(int fd, std::size_t limit, std::string& error);

}  // namespace hrd
