#pragma once
// The main window: a top-level Qt window titled "Hoardly" that shows the document
// in a web view. The view loads the fixed renderer page from our own URL scheme;
// the page mirrors the document and sends the user's input back (page_bridge.h).
// Closing or minimising only hides the window, unless the desktop has no tray.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "layout/document.h"
#include "platform/services.h"
#include "shell/command_line.h"

namespace hrd::qt {

class page_bridge;
class native_view;
class window_reader;
class web_view;
class document_host;
class window_widget;

class qt_main_window final : public main_window {
public:
    using guard_function = std::function<void(const std::function<void()>&)>;

    // Loads res/mainform.htm into the document and starts loading the page.
    // `behaviors` (may be null) binds the behaviors the document names as its
    // elements join, from this load on; it must outlive the window.
    // Raises resource_not_found_error when the document is missing; a page that
    // fails to load raises later, through `guard`. `shows_with`: the web page, or
    // the program's own painter (native_view.h), which loads no web engine. The
    // web page needs its module loaded first (web_module_loader.h).
    qt_main_window(guard_function guard, layout::host* behaviors,
                   renderer shows_with = renderer::native);
    ~qt_main_window() override;

    layout::document& document() override { return m_document; }
    void show() override;
    void hide() override;
    bool is_shown() const override { return m_shown; }

    QWidget* widget() const;
    page_bridge& bridge() { return *m_bridge; }  // the web renderer's
    native_view* native() const { return m_native; }  // the native renderer, or null

    // What a close request does (hide to the tray, or end the program when there is
    // no tray); with `minimise_hides`, minimising hides the window to the tray too.
    void set_close_action(std::function<void()> on_close, bool minimise_hides);
    // Text dropped from other programs goes to `on_text`; nullptr refuses drops.
    void set_drop_action(std::function<void(std::u16string)> on_text);

private:
    guard_function m_guard;
    layout::document m_document;
    std::unique_ptr<document_host> m_host;
    bool m_shown = false;
    std::unique_ptr<window_widget> m_widget;
    std::unique_ptr<page_bridge> m_bridge;
    std::unique_ptr<web_view> m_web;  // its widget is a child of m_widget
    native_view* m_native = nullptr;  // owned by m_widget
    std::unique_ptr<window_reader> m_reader;  // for tests, when asked for
};

}  // namespace hrd::qt
