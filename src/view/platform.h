#pragma once
// What the core asks of the desktop: the window with its document, the clipboard,
// the save dialog, the desktop's opener and a way to warn the user. The desktop
// shell fills these in at start-up; tests put fakes in. Nothing here knows Qt or X11.

#include <optional>
#include <string>
#include <string_view>

#include "model/clipboard.h"

namespace layout {
class document;
}

namespace hrd {

// The main window.
class main_window {
public:
    virtual ~main_window() = default;
    // The document shown in the window (loaded from res/mainform.htm).
    virtual layout::document& document() = 0;
    // Shows the window (restored from the tray or from minimised) and raises it.
    virtual void show() = 0;
    // Hides the window to the tray.
    virtual void hide() = 0;
    virtual bool is_shown() const = 0;
};

// The "Export to file" save dialog.
class save_dialog {
public:
    virtual ~save_dialog() = default;
    // The path the user chose, or nullopt when they cancelled.
    virtual std::optional<std::u16string> ask_export_path() = 0;
    // Tells the user in a message box that the export failed; `message` names the
    // file and says why in plain words.
    virtual void tell_failure(std::u16string_view message) = 0;
};

// The desktop's opener for links and the help document.
class desktop_opener {
public:
    virtual ~desktop_opener() = default;
    // Opens an http(s) or mailto address in the user's program for it.
    virtual bool open_url(std::u16string_view url) = 0;
    // Opens a local document (the help) in the user's program for it.
    virtual bool open_file(std::u16string_view path) = 0;
};

// Tells the user what they would otherwise never see, such as a capture that could
// not be kept while they were busy in another program.
class user_notice {
public:
    virtual ~user_notice() = default;
    // Shows `message` under `title` without stopping the user's work.
    virtual void warn(std::u16string_view title, std::u16string_view message) = 0;
};

// The process-wide set. Each pointer is null until the shell (or a test) sets it;
// callers treat a missing service as "not available here".
struct platform_services {
    main_window* window = nullptr;
    hrd::clipboard* clip = nullptr;
    save_dialog* dialog = nullptr;
    desktop_opener* opener = nullptr;
    user_notice* notice = nullptr;
};

platform_services& services();

}  // namespace hrd
