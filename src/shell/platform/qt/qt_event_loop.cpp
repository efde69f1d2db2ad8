#include "shell/platform/qt/qt_event_loop.h"

namespace hrd::qt {

qt_event_loop::qt_event_loop(int& argc, char** argv)
    : m_app(std::make_unique<QApplication>(argc, argv)) {
    QApplication::setApplicationName("Hoardly");
    // Closing the window hides it to the tray; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
}

qt_event_loop::~qt_event_loop() {
    m_notifiers.clear();
    m_app.reset();
}

void qt_event_loop::watch(int fd, std::function<void()> on_readable) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated,
                     [this, callback = std::move(on_readable)] { guarded(callback); });
    m_notifiers.push_back(std::move(notifier));
}

void qt_event_loop::run() {
    if (!m_error) {
        QApplication::exec();
    }
    if (m_error) {
        std::rethrow_exception(std::exchange(m_error, nullptr));
    }
}

void qt_event_loop::quit() {
    // Not quit(): since Qt 6 that first asks every window to close and gives up
    // when one refuses, and the main window refuses (closing hides it to the
    // tray), so the program would go on running after Exit or SIGTERM.
    QCoreApplication::exit(0);
}

void qt_event_loop::guarded(const std::function<void()>& action) noexcept {
    try {
        action();
    } catch (...) {
        if (!m_error) {
            m_error = std::current_exception();
        }
        QCoreApplication::exit(0);
    }
}

}  // namespace hrd::qt
