#pragma once
// The desktop services the core asks for, on Qt: clipboard, the export dialog and
// the opener for links and the help document.

#include <QPointer>
#include <QWidget>

#include "view/platform.h"

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

// Whether open_url accepts this address.
bool is_openable_url(std::u16string_view url);

}  // namespace hrd::qt
