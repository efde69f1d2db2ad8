#pragma once
// Starting at login: the freedesktop autostart entry that starts Hoardly to the
// tray with the user's session.

#include <string>

namespace hrd {

// $XDG_CONFIG_HOME/autostart/hoardly.desktop ($HOME/.config when it is unset or not
// absolute); empty when neither is known.
std::string autostart_entry_path();

// What the entry holds: a start of `program` with its window hidden.
std::string autostart_entry(const std::string& program);

// How the entry names the `hoardly` command beside this program: "hoardly" when
// that command on the PATH is this one, else its full path.
std::string login_command();

// Whether the entry is there.
bool starts_at_login();

// Writes the entry (creating the folders) or removes it. Raises std::runtime_error
// with the path and the reason when it cannot.
void set_start_at_login(bool enabled, const std::string& program);

}  // namespace hrd
