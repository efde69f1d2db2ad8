#pragma once
// The main window as the core sees it.

namespace layout {
class document;
}

namespace hrd {

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

}  // namespace hrd
