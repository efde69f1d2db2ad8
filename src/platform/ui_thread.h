#pragma once
// The program's one user-interface thread, as work done on other threads reaches
// it: a task posted from any thread runs on the UI thread, later, in the order
// posted. The desktop shell posts through Qt's event loop; tests run the tasks
// when they choose (fake/fake_ui_thread.h).

#include <chrono>
#include <functional>

namespace hrd {

class ui_thread {
public:
    virtual ~ui_thread() = default;
    // Safe to call from any thread. A task that raises is the poster's fault: the
    // desktop reports it as any failing callback of the event loop.
    virtual void post(std::function<void()> task) = 0;
    // Runs `task` on the UI thread once `delay` has passed. Called on the UI thread.
    virtual void post_after(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

}  // namespace hrd
