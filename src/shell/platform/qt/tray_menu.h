#pragma once
// The tray icon's menu: Show Hoardly, Start at login, Help, Exit Hoardly.

#include <QMenu>
#include <functional>
#include <memory>
#include <string>

namespace hrd::qt {

struct tray_menu_actions {
    std::function<void()> show;
    std::function<void()> help;
    std::function<void()> exit;
    // Runs each item's action (the loop's guard); items run directly without it.
    std::function<void(const std::function<void()>&)> guard;
    // Told what went wrong when the login entry cannot be written or removed.
    std::function<void(const std::string&)> warn;
    std::string program;  // what the login entry starts
};

// The menu; "Start at login" is ticked when the login entry is there, and writes or
// removes it when chosen.
std::unique_ptr<QMenu> make_tray_menu(tray_menu_actions actions);

}  // namespace hrd::qt
