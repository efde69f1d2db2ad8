#pragma once
// Runs what the document has waiting, its posted events and element timers, from the
// Qt loop: soon after input, and when the next timer falls due. Shared by both
// renderers, which call it after each piece of input they hand the document.

#include <QObject>
#include <QTimer>
#include <functional>

#include "layout/document.h"

namespace hrd::qt {

class document_pump final : public QObject {
public:
    // `guard` runs each turn so that no exception unwinds into Qt.
    using guard_function = std::function<void(const std::function<void()>&)>;

    document_pump(layout::document& document, guard_function guard, QObject* parent = nullptr);

    // The posted events run soon, from the loop, once however often this is asked.
    void schedule_pending();
    // The timer set for the document's next due element timer, or stopped.
    void schedule_timer();

private:
    void run_pending();

    layout::document& m_document;
    guard_function m_guard;
    bool m_posted_pending = false;
    QTimer m_timer;
};

}  // namespace hrd::qt
