#pragma once
// The desktop services the core asks for, on Qt: clipboard, the export dialog,
// the opener for links and the help document, and warnings to the user.

#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>

#include "platform/services.h"

namespace hrd::qt {

// The system clipboard's text, UTF-16 both ways: a QString holds UTF-16 code
// units as they are, so characters outside the BMP travel as surrogate pairs.
class qt_clipboard final : public hrd::clipboard {
public:
    std::u16string read_text() override;
    void write_text(std::u16string_view text) override;
};

class qt_save_dialog final : public save_dialog {
public:
    explicit qt_save_dialog(QWidget* owner) : m_owner(owner) {}
    std::optional<std::u16string> ask_export_path() override;
    void tell_failure(std::u16string_view message) override;

private:
    QPointer<QWidget> m_owner;
};

class qt_desktop_opener final : public desktop_opener {
public:
    // Only http(s) and mailto addresses: a document must not start programs or
    // open local files through a link.
    bool open_url(std::u16string_view url) override;
    bool open_file(std::u16string_view path) override;
};

// Warnings as a tray notification when there is a tray that shows them, otherwise
// as a message box over the window that does not stop the user.
class qt_user_notice final : public user_notice {
public:
    qt_user_notice(QSystemTrayIcon* tray, QWidget* window) : m_tray(tray), m_window(window) {}
    void warn(std::u16string_view title, std::u16string_view message) override;

private:
    QPointer<QSystemTrayIcon> m_tray;
    QPointer<QWidget> m_window;
};

// Tasks from other threads, run on Qt's event loop in the order posted, each
// through `guard` so that nothing it raises unwinds into Qt.
class qt_ui_thread final : public ui_thread {
public:
    using guard_function = std::function<void(const std::function<void()>&)>;
    explicit qt_ui_thread(guard_function guard) : m_guard(std::move(guard)) {}
    void post(std::function<void()> task) override;
    void post_after(std::chrono::milliseconds delay, std::function<void()> task) override;

private:
    guard_function m_guard;
};

// Whether open_url accepts this address.
bool is_openable_url(std::u16string_view url);

}  // namespace hrd::qt
