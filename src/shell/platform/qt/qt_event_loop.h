#pragma once

#include <QApplication>
#include <QSocketNotifier>
#include <exception>
#include <memory>
#include <vector>

#include "platform/event_loop.h"

namespace hrd::qt {

// The message loop on Qt's event loop. Owns the QApplication, so it must be created
// before, and destroyed after, every Qt object of the program.
class qt_event_loop final : public event_loop {
public:
    qt_event_loop(int& argc, char** argv);
    ~qt_event_loop() override;

    void watch(int fd, std::function<void()> on_readable) override;
    void run() override;
    void quit() override;

    // Runs `action` at a boundary with Qt: an exception never unwinds through Qt's
    // frames; it ends the loop and run() raises it.
    void guarded(const std::function<void()>& action) noexcept;

private:
    std::unique_ptr<QApplication> m_app;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
    std::exception_ptr m_error;
};

}  // namespace hrd::qt
