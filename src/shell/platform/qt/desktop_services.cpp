#include "shell/platform/qt/desktop_services.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QMetaObject>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "fml/exception.h"

namespace hrd::qt {
namespace {

QString to_qstring(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}

FML_DECLARE_EXCEPTION(clipboard_read_error, fml::exception);

}  // namespace

std::u16string qt_clipboard::read_text() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data) {
        throw clipboard_read_error("The clipboard cannot be read");
    }
    return data->hasText() ? data->text().toStdU16String() : std::u16string();
}

void qt_clipboard::write_text(std::u16string_view text) {
    QGuiApplication::clipboard()->setText(to_qstring(text), QClipboard::Clipboard);
}

std::optional<std::u16string> qt_save_dialog::ask_export_path() {
    QFileDialog dialog(m_owner, "Export to file");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({"HTML files (*.html)", "All files (*.*)"});
    dialog.selectNameFilter("HTML files (*.html)");
    dialog.selectFile("collection.html");
    // The name is used as typed: no suffix is added. Overwriting asks first (the
    // default, kept on purpose).
    dialog.setDefaultSuffix(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdU16String();
}

void qt_user_notice::warn(std::u16string_view title, std::u16string_view message) {
    if (m_tray && m_tray->isVisible() && QSystemTrayIcon::supportsMessages()) {
        m_tray->showMessage(to_qstring(title), to_qstring(message), QSystemTrayIcon::Warning,
                            30'000);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, to_qstring(title), to_qstring(message),
                                QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void qt_save_dialog::tell_failure(std::u16string_view message) {
    QMessageBox box(QMessageBox::Warning, "Export failed", to_qstring(message), QMessageBox::Ok,
                    m_owner);
    // The path can be selected and copied, from the keyboard too (Tab, Ctrl+A, Ctrl+C).
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

bool is_openable_url(std::u16string_view url) {
    const QUrl parsed(to_qstring(url).trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid()) {
        return false;
    }
    if (scheme == "mailto") {
        return !parsed.path().isEmpty();
    }
    return (scheme == "http" || scheme == "https") && !parsed.host().isEmpty();
}

bool qt_desktop_opener::open_url(std::u16string_view url) {
    if (!is_openable_url(url)) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl(to_qstring(url).trimmed(), QUrl::StrictMode));
}

bool qt_desktop_opener::open_file(std::u16string_view path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(to_qstring(path)));
}

void qt_ui_thread::post(std::function<void()> task) {
    // Queued on the application object, which lives on the UI thread: safe from
    // any thread, and run by the loop there.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard = m_guard, task = std::move(task)] { guard(task); }, Qt::QueuedConnection);
}

void qt_ui_thread::post_after(std::chrono::milliseconds delay, std::function<void()> task) {
    QTimer::singleShot(delay, QCoreApplication::instance(),
                       [guard = m_guard, task = std::move(task)] { guard(task); });
}

}  // namespace hrd::qt
