#pragma once
// The help document and the addresses a link may open.

#include <string>
#include <string_view>

namespace hrd {

// The help document, installed beside the program.
inline constexpr std::u16string_view help_file_name = u"Hoardly Help.html";

// The help document's path: the program's folder joined with its name.
std::u16string help_path();
// Opens the help document through the desktop opener; false when there is none
// or it failed.
bool open_help();
// Whether a link may be opened: an http, https or mailto address without blanks.
bool is_openable_address(std::u16string_view link);

}  // namespace hrd
